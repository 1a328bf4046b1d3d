// The LV2 editor module on a real X display: loaded through its export,
// instantiated in a window of this host (ui:parent), driven by its idle
// interface, read back and clicked at; edits come back through the write
// function and ui:touch.

#include <dlfcn.h>
#include <gtest/gtest.h>
#include <lv2/atom/atom.h>
#include <lv2/options/options.h>
#include <lv2/ui/ui.h>
#include <lv2/urid/urid.h>

#include <cmath>
#include <cstdlib>
#include <string>

#include "graphics/IGraphicsX11.h"
#include "lv2/LV2Uris.h"
#include "tests/x11/X11TestHost.h"

using namespace x11test;

namespace {

const LV2UI_Descriptor* Descriptor(uint32_t index = 0)
{
  static void* module = dlopen(TALVOR_LV2_UI_PATH, RTLD_NOW | RTLD_LOCAL);
  using Entry = const LV2UI_Descriptor* (*)(uint32_t);
  auto entry = module ? reinterpret_cast<Entry>(dlsym(module, "lv2ui_descriptor")) : nullptr;
  return entry ? entry(index) : nullptr;
}

// The host's side of one UI: its port values (real values, by port), the
// edits it heard, and, like Ardour, every write echoed back as a port event.
struct Ui
{
  explicit Ui(bool offerTouch = true) : offerTouch(offerTouch)
  {
    TALVOR plug{IPlugInstanceInfo()};
    for (int i = 0; i < kNumParams; ++i) ports[(size_t)i] = (float)plug.ParamAt(i)->Value();
  }
  ~Ui() { Close(); }

  // Instantiates the UI in `parent` with the usual features; false when refused.
  bool Open(::Window parent)
  {
    LV2_Feature parentFeature{LV2_UI__parent, reinterpret_cast<void*>(parent)};
    LV2_Feature idleFeature{LV2_UI__idleInterface, nullptr};
    LV2_Feature touchFeature{LV2_UI__touch, &touch};
    LV2_Feature resizeFeature{LV2_UI__resize, &resize};
    const LV2_Feature* features[] = {&parentFeature, &idleFeature, &resizeFeature,
                                     offerTouch ? &touchFeature : nullptr, nullptr};
    return OpenWith(features);
  }
  bool OpenWith(const LV2_Feature* const* features)
  {
    const LV2UI_Descriptor* d = Descriptor();
    handle = d->instantiate(d, TALVOR_LV2_STEREO_URI, TALVOR_LV2_BUNDLE_PATH, Write, this, &widget, features);
    EXPECT_EQ(handle == nullptr, widget == nullptr);
    return handle != nullptr;
  }
  void Close()
  {
    if (handle) Descriptor()->cleanup(handle);
    handle = nullptr;
  }
  int Idle()
  {
    static const auto* idle = static_cast<const LV2UI_Idle_Interface*>(Descriptor()->extension_data(LV2_UI__idleInterface));
    return idle->idle(handle);
  }
  void Pump()
  {
    Idle();
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  void Event(uint32_t port, float value)
  {
    ports[port] = value;
    Descriptor()->port_event(handle, port, sizeof value, 0, &value);
  }
  Values Norms()
  {
    TALVOR plug{IPlugInstanceInfo()};
    Values v{};
    for (int i = 0; i < kNumParams; ++i) v[(size_t)i] = plug.ParamAt(i)->ToNormalized(ports[(size_t)i]);
    return v;
  }
  int Picture(XClient& x) { return WaitForPicture(x, (::Window)(uintptr_t)widget, ExpectedPicture(Norms()), [this] { Pump(); }); }

  static void Write(LV2UI_Controller c, uint32_t port, uint32_t size, uint32_t format, const void* buffer)
  {
    auto* self = static_cast<Ui*>(c);
    ASSERT_TRUE(port < kNumParams && size == sizeof(float) && format == 0);
    const float v = *static_cast<const float*>(buffer);
    self->edits[port] += 'p';
    self->written[port].push_back(v);
    self->Event(port, v);
  }
  static void Touch(LV2UI_Feature_Handle h, uint32_t port, bool grabbed)
  {
    static_cast<Ui*>(h)->edits[port] += grabbed ? 'b' : 'e';
  }
  static int Resize(LV2UI_Feature_Handle h, int w, int hgt)
  {
    static_cast<Ui*>(h)->size = {w, hgt};
    return 0;
  }

  bool offerTouch;
  LV2UI_Touch touch{this, Touch};
  LV2UI_Resize resize{this, Resize};
  LV2UI_Handle handle = nullptr;
  LV2UI_Widget widget = nullptr;
  std::array<float, kNumParams> ports{};
  std::array<std::string, kNumParams> edits;
  std::array<std::vector<float>, kNumParams> written;
  std::pair<int, int> size{0, 0};
};

}  // namespace

TEST(X11Lv2Editor, RefusesWhatCannotWork)
{
  XClient x;
  REQUIRE_DISPLAY(x);
  ASSERT_NE(Descriptor(), nullptr) << dlerror();
  EXPECT_STREQ(TALVOR_LV2_UI_URI, Descriptor()->URI);
  EXPECT_EQ(nullptr, Descriptor(1));
  EXPECT_EQ(nullptr, Descriptor()->extension_data("http://lv2plug.in/ns/extensions/ui#showInterface"));

  const ::Window parent = x.Parent(0, 0);
  Ui ui;
  const LV2_Feature noParent{LV2_UI__parent, nullptr};
  const LV2_Feature* none[] = {nullptr};
  const LV2_Feature* nullParent[] = {&noParent, nullptr};
  EXPECT_FALSE(ui.OpenWith(nullptr)) << "no features at all";
  EXPECT_FALSE(ui.OpenWith(none));
  EXPECT_FALSE(ui.OpenWith(nullParent));
  EXPECT_FALSE(ui.Open(0x7FFFFFF)) << "an id that names no window";
  const std::string display = std::getenv("DISPLAY");
  unsetenv("DISPLAY");
  EXPECT_FALSE(ui.Open(parent)) << "no display";
  setenv("DISPLAY", display.c_str(), 1);
  EXPECT_TRUE(x.Children(parent).empty());
}

TEST(X11Lv2Editor, PaintsThePortValuesAndTurnsRealInputIntoWritesAndTouches)
{
  XClient x;
  REQUIRE_DISPLAY(x);
  const ::Window parent = x.Parent(0, 0);
  Ui ui;
  ASSERT_TRUE(ui.Open(parent));
  const ::Window w = x.Editor(parent);
  ASSERT_EQ((::Window)(uintptr_t)ui.widget, w) << "the widget is the editor's window in the parent";
  EXPECT_EQ(std::make_pair(kW, kH), ui.size);
  EXPECT_EQ(0, ui.Picture(x)) << "default values";

  // The host's values show; what is not a parameter's float is ignored.
  ui.Event(kMidGain, 8);
  ui.Event(kFilter, 1);
  ui.Event(kInput, -6.5f);
  const float junk = 3;
  Descriptor()->port_event(ui.handle, kNumParams, sizeof junk, 0, &junk);  // an audio port
  Descriptor()->port_event(ui.handle, kLowGain, 2, 0, &junk);              // short
  Descriptor()->port_event(ui.handle, kLowGain, sizeof junk, 17, &junk);   // another format
  Descriptor()->port_event(ui.handle, kLowGain, sizeof junk, 0, nullptr);
  EXPECT_EQ(0, ui.Picture(x));
  // With "Link" on, the "Output" knob mirrors "Input", which the host's port cannot show.
  ui.Event(kLink, 1);
  Values linked = ui.Norms();
  linked[kOutput] = (6.5 + 12) / 24;
  EXPECT_EQ(0, WaitForPicture(x, w, ExpectedPicture(linked), [&] { ui.Pump(); }));
  ui.Event(kLink, 0);
  ui.Event(kOutput, 0);

  // A drag on "Low Gain", 54 pixels up in moves of 9 that the editor takes one
  // by one, every write echoed back at once: one gesture, whole positions, two
  // steps (an echo that moved the knob would hold it at its first position).
  const Box lg = ControlBox(kLowGain);
  x.MoveTo(w, lg.cx(), lg.y + 10);
  x.Button(Button1, true);
  for (int step = 1; step <= 6; ++step)
  {
    x.MoveTo(w, lg.cx(), lg.y + 10 - 9 * step);
    for (int i = 0; i < 4; ++i) ui.Pump();
  }
  x.Button(Button1, false);
  ASSERT_TRUE(PumpUntil([&] { ui.Pump(); }, [&] { return ui.edits[kLowGain].find('e') != std::string::npos; }));
  EXPECT_TRUE(IsOneGesture(ui.edits[kLowGain])) << ui.edits[kLowGain];
  for (float v : ui.written[kLowGain]) EXPECT_EQ(std::floor(v), v);
  EXPECT_EQ(7.0f, ui.ports[kLowGain]);
  EXPECT_EQ(0, ui.Picture(x)) << "the knob repaints";

  // A double click resets, the wheel steps "Input" by 0.24 dB a notch.
  ui.edits = {};
  x.Click(w, lg.cx(), lg.cy());
  x.Click(w, lg.cx(), lg.cy());
  const Box in = ControlBox(kInput);
  x.Click(w, in.cx(), in.cy(), Button4);
  ASSERT_TRUE(PumpUntil([&] { ui.Pump(); }, [&] { return ui.edits[kInput] == "bpe"; }));
  EXPECT_EQ("bebpe", ui.edits[kLowGain]);
  EXPECT_EQ(5.0f, ui.ports[kLowGain]);
  EXPECT_NEAR(-6.26, ui.ports[kInput], 1e-5);

  // A key the editor does not take reaches the host's window.
  EXPECT_TRUE(KeyReachesHost(x, w, parent, [&] { ui.Pump(); }));

  // Without ui:touch, edits are writes alone.
  const ::Window other = x.Parent(420, 0);
  Ui plain(false);
  ASSERT_TRUE(plain.Open(other));
  const Box fl = ControlBox(kFilter);
  x.Click(x.Editor(other), fl.cx(), fl.cy());
  ASSERT_TRUE(PumpUntil([&] { plain.Pump(); }, [&] { return plain.edits[kFilter] == "p"; }));
  EXPECT_EQ(1.0f, plain.ports[kFilter]);
  EXPECT_EQ(0, plain.Picture(x));
  EXPECT_EQ(0, ui.Picture(x)) << "the first editor kept its own values";
}

TEST(X11Lv2Editor, ClosesCleanlyAndTellsTheHostWhenItsWindowIsGone)
{
  XClient x;
  REQUIRE_DISPLAY(x);
  const ::Window parent = x.Parent(0, 0);
  Ui ui;
  for (int round = 0; round < 20; ++round)
  {
    ASSERT_TRUE(ui.Open(parent)) << "round " << round;
    EXPECT_EQ(0, ui.Idle());
    ui.Close();
    EXPECT_TRUE(x.Children(parent).empty()) << "round " << round;
  }
  ASSERT_TRUE(ui.Open(parent));
  EXPECT_EQ(0, ui.Picture(x));
  // A press held while the host destroys its window ends its gesture.
  const Box mg = ControlBox(kMidGain);
  x.MoveTo(x.Editor(parent), mg.cx(), mg.cy());
  x.Button(Button1, true);
  ASSERT_TRUE(PumpUntil([&] { ui.Pump(); }, [&] { return ui.edits[kMidGain] == "b"; }));
  XDestroyWindow(x.d, parent);
  XSync(x.d, False);
  EXPECT_TRUE(PumpUntil([&] { ui.Pump(); }, [&] { return ui.Idle() == 1; })) << "the window is gone";
  x.Button(Button1, false);
  EXPECT_EQ("be", ui.edits[kMidGain]);
  ui.Close();
}

namespace {

// A host's URID map: one id per URI, from 1.
struct UridMap
{
  static LV2_URID Map(LV2_URID_Map_Handle h, const char* uri)
  {
    auto* uris = static_cast<std::vector<std::string>*>(h);
    for (size_t i = 0; i < uris->size(); ++i)
      if ((*uris)[i] == uri) return (LV2_URID)(i + 1);
    uris->push_back(uri);
    return (LV2_URID)uris->size();
  }
  std::vector<std::string> uris;
  LV2_URID_Map map{&uris, Map};
};

}  // namespace

TEST(X11Lv2Editor, TakesTheHostsScaleFactorOrTheDisplays)
{
  XClient x;
  REQUIRE_DISPLAY(x);
  UridMap urids;
  // The display's scale through GDK_SCALE, which this process owns (Xft.dpi
  // belongs to the whole display, which other tests share).
  struct Case { const char* type; float factor; const char* gdkScale; int w, h; };
  const Case cases[] = {
    {LV2_ATOM__Float, 2.0f, nullptr, 692, 1132},
    {LV2_ATOM__Float, 1.5f, "3", 519, 849},     // the host's factor wins over the display's
    {LV2_ATOM__Int, 2.0f, nullptr, 346, 566},   // not a float: no factor
    {LV2_ATOM__Float, 5.0f, "3", 1038, 1698},   // out of range: the display's
    {nullptr, 0.0f, "2", 692, 1132},            // no options: the display's
  };
  for (const Case& c : cases)
  {
    SCOPED_TRACE(c.w);
    if (c.gdkScale)
      setenv("GDK_SCALE", c.gdkScale, 1);
    else
      unsetenv("GDK_SCALE");
    const ::Window parent = x.Parent(0, 0, 1100, 1200);
    Ui ui;
    LV2_Feature parentFeature{LV2_UI__parent, reinterpret_cast<void*>(parent)};
    LV2_Feature resizeFeature{LV2_UI__resize, &ui.resize};
    LV2_Feature mapFeature{LV2_URID__map, &urids.map};
    const LV2_Options_Option options[] = {
      {LV2_OPTIONS_INSTANCE, 0, urids.map.map(&urids.uris, LV2_UI__scaleFactor), sizeof(float),
       c.type ? urids.map.map(&urids.uris, c.type) : 0, &c.factor},
      {LV2_OPTIONS_INSTANCE, 0, 0, 0, 0, nullptr},
    };
    LV2_Feature optionsFeature{LV2_OPTIONS__options, const_cast<LV2_Options_Option*>(options)};
    const LV2_Feature* features[] = {&parentFeature, &resizeFeature, &mapFeature,
                                     c.type ? &optionsFeature : nullptr, nullptr};
    ASSERT_TRUE(ui.OpenWith(features));
    const ::Window w = (::Window)(uintptr_t)ui.widget;
    EXPECT_EQ(std::make_pair(c.w, c.h), x.Size(w));
    EXPECT_EQ(std::make_pair(c.w, c.h), ui.size);
    if (c.w == 692)
    {
      EXPECT_EQ(0, WaitForPicture(x, w, ExpectedPicture(ui.Norms(), 2.0), [&] { ui.Pump(); }, 692, 1132));
    }
    ui.Close();
  }
  unsetenv("GDK_SCALE");
}

TEST(X11DisplayScale, XftDpiThenGdkScaleRoundedToAQuarter)
{
  struct Case { const char* resources; const char* gdk; double scale; };
  const Case cases[] = {
    {nullptr, nullptr, 1.0},        {"Xft.dpi:\t96\n", nullptr, 1.0},  {"Xft.dpi: 192\n", "3", 2.0},
    {"Xft.dpi:\t144.0\n", nullptr, 1.5}, {"Xft.dpi: 130\n", nullptr, 1.25},  {"Xft.dpi: 72\n", nullptr, 1.0},
    {"Xft.dpi: 600\n", nullptr, 3.0},     {"Xft.dpi: lots\n", "2", 2.0},  {"Xcursor.size: 48\n", "2", 2.0},
    {nullptr, "0", 1.0},            {nullptr, "2x", 1.0},               {nullptr, "4", 3.0},
  };
  for (const Case& c : cases)
    EXPECT_EQ(c.scale, IGraphicsX11::ScaleFromDisplaySettings(c.resources, c.gdk))
      << (c.resources ? c.resources : "-") << " / " << (c.gdk ? c.gdk : "-");
}
