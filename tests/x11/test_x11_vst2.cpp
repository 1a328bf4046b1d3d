// The VST 2.4 module's editor on a real X display: opened with effEditOpen in a
// window of this host, driven by effEditIdle, read back and clicked at.

#include <dlfcn.h>
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <limits>
#include <utility>
#include <string>

#include "tests/vst2/Vst2TestHost.h"
#include "tests/x11/X11TestHost.h"

using namespace x11test;

namespace {

AEffect* NewEffect()
{
  static void* module = dlopen(TALVOR_VST2_MODULE_PATH, RTLD_NOW | RTLD_LOCAL);
  using EntryProc = AEffect* (*)(audioMasterCallback);
  auto entry = module ? reinterpret_cast<EntryProc>(dlsym(module, "VSTPluginMain")) : nullptr;
  return entry ? entry(TestHost::Callback) : nullptr;
}

struct Editor
{
  Editor() { fx.Start(); }
  VstIntPtr Open(::Window parent) { return fx.Dispatch(effEditOpen, 0, 0, reinterpret_cast<void*>(parent)); }
  void Pump()
  {
    fx.Dispatch(effEditIdle);
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  Values Norms()
  {
    Values v{};
    for (int i = 0; i < kNumParams; ++i) v[(size_t)i] = fx.effect->getParameter(fx.effect, i);
    return v;
  }
  // The edit calls for one parameter: 'b' begin (43), 'p' automate (0), 'e' end (44).
  std::string Edits(int index)
  {
    std::string s;
    for (const RecordedCall& c : host.calls)
      if (c.index == index && (c.opcode == 43 || c.opcode == 0 || c.opcode == 44))
        s += c.opcode == 43 ? 'b' : c.opcode == 0 ? 'p' : 'e';
    return s;
  }
  int Picture(XClient& x, ::Window w) { return WaitForPicture(x, w, ExpectedPicture(Norms()), [this] { Pump(); }); }

  TestHost host;
  HostedEffect fx{NewEffect(), &host};
};

}  // namespace

TEST(X11Vst2Editor, OpensInTheHostWindowPaintsAndAutomates)
{
  XClient x;
  REQUIRE_DISPLAY(x);
  const ::Window parent = x.Parent(0, 0);
  Editor e;
  ASSERT_NE(e.fx.effect, nullptr);
  ERect* rect = nullptr;
  ASSERT_EQ(1, e.fx.Dispatch(effEditGetRect, 0, 0, &rect));
  EXPECT_EQ(kW, rect->right - rect->left);
  EXPECT_EQ(kH, rect->bottom - rect->top);

  EXPECT_EQ(0, e.Open(0));
  EXPECT_EQ(0, e.Open(0x7FFFFFF)) << "an id that names no window";
  const std::string display = std::getenv("DISPLAY");
  unsetenv("DISPLAY");
  EXPECT_EQ(0, e.Open(parent)) << "no display";
  setenv("DISPLAY", display.c_str(), 1);
  e.Pump();  // idle with the editor closed does nothing
  EXPECT_TRUE(x.Children(parent).empty());

  ASSERT_EQ(1, e.Open(parent));
  const ::Window w = x.Editor(parent);
  ASSERT_NE(0u, w);
  EXPECT_EQ(0, e.Picture(x, w));

  const Box mg = ControlBox(kMidGain);
  x.Drag(w, mg.cx(), mg.y + 10, 6, -9);
  ASSERT_TRUE(PumpUntil([&] { e.Pump(); }, [&] { return e.Edits(kMidGain).find('e') != std::string::npos; }));
  EXPECT_TRUE(IsOneGesture(e.Edits(kMidGain))) << e.Edits(kMidGain);
  EXPECT_NEAR(0.7, e.fx.effect->getParameter(e.fx.effect, kMidGain), 1e-6);
  EXPECT_EQ(0, e.Picture(x, w));

  e.host.calls.clear();
  x.Click(w, mg.cx(), mg.cy());
  x.Click(w, mg.cx(), mg.cy());
  x.Click(w, 5, 5, Button5);  // the wheel over the background changes nothing
  const Box in = ControlBox(kInput);
  x.Click(w, in.cx(), in.cy(), Button4);
  ASSERT_TRUE(PumpUntil([&] { e.Pump(); }, [&] { return e.Edits(kInput) == "bpe"; }));
  EXPECT_EQ("bebpe", e.Edits(kMidGain));
  EXPECT_NEAR(0.5, e.fx.effect->getParameter(e.fx.effect, kMidGain), 1e-6);
  EXPECT_NEAR(0.51, e.fx.effect->getParameter(e.fx.effect, kInput), 1e-6);

  // A key the editor does not take reaches the host's window.
  EXPECT_TRUE(KeyReachesHost(x, w, parent, [&] { e.Pump(); }));

  // Automation from the host while its audio thread processes.
  std::atomic<bool> stop{false};
  std::thread audio([&] {
    std::vector<float> l(64), r(64);
    float* ch[2] = {l.data(), r.data()};
    while (!stop) e.fx.effect->processReplacing(e.fx.effect, ch, ch, 64);
  });
  e.fx.effect->setParameter(e.fx.effect, kHighGain, 1.0f);
  e.fx.effect->setParameter(e.fx.effect, kBypass, 1.0f);
  EXPECT_EQ(0, e.Picture(x, w)) << "a moved set of values";
  stop = true;
  audio.join();

  EXPECT_EQ(1, e.fx.Dispatch(effEditClose));
  EXPECT_TRUE(x.Children(parent).empty());
  for (int round = 0; round < 20; ++round)
  {
    ASSERT_EQ(1, e.Open(parent)) << "round " << round;
    e.Pump();
    ASSERT_EQ(1, e.fx.Dispatch(effEditClose));
  }
  ASSERT_EQ(1, e.Open(parent));
  EXPECT_EQ(0, e.Picture(x, x.Editor(parent)));
  XDestroyWindow(x.d, parent);  // the host's window goes first
  XSync(x.d, False);
  e.Pump();
  EXPECT_EQ(1, e.fx.Dispatch(effEditClose));
}

TEST(X11Vst2Editor, TakesTheHostsContentScale)
{
  XClient x;
  REQUIRE_DISPLAY(x);
  const ::Window parent = x.Parent(0, 0, 1100, 1200);
  Editor e;
  auto scaleTo = [&](float f) { return e.fx.Dispatch(effVendorSpecific, 0x50726553 /* 'PreS' */, 0x41654373 /* 'AeCs' */, nullptr, f); };
  auto rectSize = [&] {
    ERect* rect = nullptr;
    e.fx.Dispatch(effEditGetRect, 0, 0, &rect);
    return rect ? std::make_pair(rect->right - rect->left, rect->bottom - rect->top) : std::make_pair(0, 0);
  };
  EXPECT_EQ(1, scaleTo(2.0f));
  EXPECT_EQ(std::make_pair(692, 1132), rectSize());
  for (float refused : {0.25f, 4.0f, std::numeric_limits<float>::quiet_NaN()}) EXPECT_EQ(0, scaleTo(refused)) << refused;
  EXPECT_EQ(0, e.fx.Dispatch(effVendorSpecific, 0x50726553, 0x41654374, nullptr, 1.5f)) << "another request";
  EXPECT_EQ(std::make_pair(692, 1132), rectSize());

  ASSERT_EQ(1, e.Open(parent));
  const ::Window w = x.Editor(parent);
  EXPECT_EQ(std::make_pair(692, 1132), x.Size(w));
  EXPECT_EQ(0, WaitForPicture(x, w, ExpectedPicture(e.Norms(), 2.0), [&] { e.Pump(); }, 692, 1132));
  // While open: the window follows and the host is asked to size its own.
  e.host.calls.clear();
  EXPECT_EQ(1, scaleTo(1.5f));
  EXPECT_EQ(std::make_pair(519, 849), rectSize());
  EXPECT_EQ(std::make_pair(519, 849), x.Size(w));
  bool sized = false;
  for (const RecordedCall& c : e.host.calls) sized |= c.opcode == 15 && c.index == 519 && c.value == 849;  // audioMasterSizeWindow
  EXPECT_TRUE(sized);
  e.fx.Dispatch(effEditClose);
}
