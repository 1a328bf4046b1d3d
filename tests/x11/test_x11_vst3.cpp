// The VST3 module's editor on a real X display: the module loaded with dlopen,
// its view attached to a window of this host, driven by the host's run loop,
// its pixels read back and real pointer input sent through XTest.

#include <gtest/gtest.h>
#include <sys/socket.h>

#include <atomic>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <string>

#include "pluginterfaces/gui/iplugviewcontentscalesupport.h"
#include "tests/vst3/ModuleHost.h"
#include "tests/x11/X11TestHost.h"

using namespace x11test;

namespace {

// One instance of the module with its editor view, the view frame offering the run loop.
struct Editor
{
  explicit Editor(bool offerRunLoop = true) : frame(offerRunLoop)
  {
    controller->setComponentHandler(&handler);
    view = controller->createView("editor");
    view->setFrame(&frame);
  }
  ~Editor()
  {
    if (view) view->removed();
    if (view) view->release();
    controller->setComponentHandler(nullptr);
  }
  tresult Attach(::Window parent) { return view->attached(reinterpret_cast<void*>(parent), kPlatformTypeX11EmbedWindowID); }
  void Pump() { frame.Run(10); }
  Values Norms()
  {
    Values v{};
    for (int i = 0; i < kNumParams; ++i) v[(size_t)i] = controller->getParamNormalized((Vst::ParamID)i);
    return v;
  }
  // The edits for one parameter, as a string of kinds: "bppe" and the like.
  std::string Edits(Vst::ParamID id)
  {
    std::string s;
    for (const auto& e : handler.edits)
      if (e.id == id) s += e.kind;
    return s;
  }
  int Picture(XClient& x, ::Window w) { return WaitForPicture(x, w, ExpectedPicture(Norms()), [this] { Pump(); }); }

  vst3test::ComponentHandler handler;
  RunLoopFrame frame;
  vst3test::Plug plug;  // destroyed before the handler and the frame it was given
  Vst::IEditController* controller = plug.controller;
  IPlugView* view = nullptr;
};

}  // namespace

TEST(X11Vst3Editor, OffersOnlyX11AndRefusesWhatCannotWork)
{
  XClient x;
  REQUIRE_DISPLAY(x);
  const ::Window parent = x.Parent(0, 0);
  // The host's own error handler stays in place and sees only its own errors.
  static int hostErrors;
  hostErrors = 0;
  const XErrorHandler hostHandler = [](::Display*, XErrorEvent*) { return ++hostErrors, 0; };
  const XErrorHandler before = XSetErrorHandler(hostHandler);
  Editor e;
  ASSERT_NE(e.view, nullptr);
  EXPECT_EQ(kResultOk, e.view->removed()) << "removed without attached";
  for (FIDString type : {kPlatformTypeHWND, kPlatformTypeNSView, "", (const char*)nullptr})
    EXPECT_EQ(kResultFalse, e.view->isPlatformTypeSupported(type));
  EXPECT_EQ(kResultTrue, e.view->isPlatformTypeSupported(kPlatformTypeX11EmbedWindowID));

  const ::Window gone = x.Parent(0, 0);
  XDestroyWindow(x.d, gone);
  XSync(x.d, False);
  EXPECT_EQ(kResultFalse, e.view->attached(reinterpret_cast<void*>(parent), kPlatformTypeHWND));
  EXPECT_EQ(kResultFalse, e.view->attached(reinterpret_cast<void*>(parent), nullptr));
  EXPECT_EQ(kResultFalse, e.Attach(0));
  EXPECT_EQ(kResultFalse, e.Attach(gone));
  EXPECT_EQ(kResultFalse, e.Attach(0x7FFFFFF)) << "an id that names no window";
  const std::string display = std::getenv("DISPLAY");
  unsetenv("DISPLAY");
  EXPECT_EQ(kResultFalse, e.Attach(parent)) << "no display";
  setenv("DISPLAY", display.c_str(), 1);
  e.view->setFrame(nullptr);
  EXPECT_EQ(kResultFalse, e.Attach(parent)) << "no frame, so no run loop";
  Editor noLoop(false);
  EXPECT_EQ(kResultFalse, noLoop.Attach(parent)) << "a frame without a run loop";
  EXPECT_TRUE(x.Children(parent).empty());
  EXPECT_TRUE(e.frame.handlers.empty() && e.frame.timers.empty() && noLoop.frame.timers.empty());
  EXPECT_EQ(0, hostErrors);
  XWindowAttributes attrs;
  XGetWindowAttributes(x.d, gone, &attrs);
  EXPECT_EQ(1, hostErrors);
  EXPECT_EQ(hostHandler, XSetErrorHandler(before));

  // None of that spoilt the view.
  e.view->setFrame(&e.frame);
  ASSERT_EQ(kResultTrue, e.Attach(parent));
  EXPECT_EQ(kResultFalse, e.Attach(parent)) << "attached twice";
  ASSERT_EQ(1u, e.frame.handlers.size());
  ASSERT_EQ(1u, e.frame.timers.size());
  EXPECT_EQ(40u, e.frame.timers[0].period);
  EXPECT_EQ(1u, x.Children(parent).size());
  EXPECT_EQ(kResultOk, e.view->removed());
  EXPECT_TRUE(e.frame.handlers.empty() && e.frame.timers.empty());
  EXPECT_TRUE(x.Children(parent).empty());
}

TEST(X11Vst3Editor, PaintsTheSnapshotAndTurnsRealInputIntoEdits)
{
  XClient x;
  REQUIRE_DISPLAY(x);
  const ::Window parent = x.Parent(0, 0);
  Editor e;
  ASSERT_EQ(kResultTrue, e.Attach(parent));
  const ::Window w = x.Editor(parent);
  ASSERT_NE(0u, w);
  EXPECT_EQ(0, e.Picture(x, w)) << "default values";

  // A drag on "Mid Gain", 54 pixels up (part of it outside the window): two positions.
  const Box mg = ControlBox(kMidGain);
  x.Drag(w, mg.cx(), mg.y + 10, 6, -9, 3);
  ASSERT_TRUE(PumpUntil([&] { e.Pump(); }, [&] { return e.Edits(kMidGain).find('e') != std::string::npos; }));
  EXPECT_TRUE(IsOneGesture(e.Edits(kMidGain))) << e.Edits(kMidGain);
  EXPECT_NEAR(0.7, e.controller->getParamNormalized(kMidGain), 1e-9);
  EXPECT_EQ(0, e.Picture(x, w)) << "the knob repaints";

  // A double click returns the knob to its default, inside one gesture.
  e.handler.edits.clear();
  x.Click(w, mg.cx(), mg.cy());
  x.Click(w, mg.cx(), mg.cy());
  ASSERT_TRUE(PumpUntil([&] { e.Pump(); }, [&] { return e.Edits(kMidGain).size() >= 5; }));
  EXPECT_EQ("bebpe", e.Edits(kMidGain));
  EXPECT_NEAR(0.5, e.controller->getParamNormalized(kMidGain), 1e-9);

  // Two wheel notches down over "Input".
  const Box in = ControlBox(kInput);
  x.Click(w, in.cx(), in.cy(), Button5);
  x.Click(w, in.cx(), in.cy(), Button5);
  ASSERT_TRUE(PumpUntil([&] { e.Pump(); }, [&] { return e.Edits(kInput) == "bpebpe"; }));
  EXPECT_NEAR(0.48, e.controller->getParamNormalized(kInput), 1e-9);
  EXPECT_EQ(0, e.Picture(x, w));

  // A press cut short by the window becoming unviewable ends its gesture.
  e.handler.edits.clear();
  x.MoveTo(w, mg.cx(), mg.cy());
  x.Button(Button1, true);
  ASSERT_TRUE(PumpUntil([&] { e.Pump(); }, [&] { return e.Edits(kMidGain) == "b"; }));
  XUnmapWindow(x.d, parent);
  XSync(x.d, False);
  EXPECT_TRUE(PumpUntil([&] { e.Pump(); }, [&] { return e.Edits(kMidGain) == "be"; }));
  x.Button(Button1, false);
  XMapWindow(x.d, parent);
  XSync(x.d, False);

  // Host automation arrives while the audio thread processes, and shows.
  ASSERT_TRUE(e.plug.Setup(Vst::kSample32, 64, 48000.0));
  e.plug.component->setActive(true);
  std::atomic<bool> stop{false};
  std::thread audio([&] {
    vst3test::Buffers<float> in(2, 64), out(2, 64);
    vst3test::ParamChanges changes{{kHighGain, {1.0}}, {kLowFreq, {0.25}}};
    while (!stop) vst3test::Process(e.plug, in, out, 64, &changes);
  });
  // Both values first: the expected picture is drawn from the controller's values.
  PumpUntil([&] { e.Pump(); }, [&] {
    return e.controller->getParamNormalized(kHighGain) == 1.0 && e.controller->getParamNormalized(kLowFreq) == 0.25;
  });
  EXPECT_EQ(0, e.Picture(x, w)) << "a moved set of values";
  stop = true;
  audio.join();
  e.plug.component->setActive(false);
}

TEST(X11Vst3Editor, RoundsTwoEditorsAVanishingParentAndABrokenConnection)
{
  XClient x;
  REQUIRE_DISPLAY(x);
  const ::Window parent = x.Parent(0, 0), other = x.Parent(420, 0);
  Editor a, b;
  for (int round = 0; round < 20; ++round)
  {
    ASSERT_EQ(kResultTrue, a.Attach(parent)) << "round " << round;
    a.Pump();
    ASSERT_EQ(kResultOk, a.view->removed());
  }
  EXPECT_TRUE(x.Children(parent).empty());
  EXPECT_TRUE(a.frame.handlers.empty() && a.frame.timers.empty());

  // Two editors at once: each its own window, connection and values.
  ASSERT_EQ(kResultTrue, a.Attach(parent));
  ASSERT_EQ(kResultTrue, b.Attach(other));
  EXPECT_NE(a.frame.handlers[0].fd, b.frame.handlers[0].fd);
  const Box fl = ControlBox(kFilter);
  x.Click(x.Editor(other), fl.cx(), fl.cy());
  ASSERT_TRUE(PumpUntil([&] { a.Pump(); b.Pump(); }, [&] { return b.Edits(kFilter) == "bpe"; }));
  EXPECT_EQ("", a.Edits(kFilter));
  EXPECT_EQ(1.0, b.controller->getParamNormalized(kFilter));
  EXPECT_EQ(0, a.Picture(x, x.Editor(parent)));
  EXPECT_EQ(0, b.Picture(x, x.Editor(other)));

  // A host that widens the editor's window gets black beyond the editor.
  XResizeWindow(x.d, x.Editor(parent), kW + 40, kH);
  XSync(x.d, False);
  XImage* strip = nullptr;
  PumpUntil([&] { a.Pump(); }, [&] {
    if (strip) XDestroyImage(strip);
    strip = XGetImage(x.d, x.Editor(parent), kW, 0, 40, kH, AllPlanes, ZPixmap);
    return strip && XGetPixel(strip, 0, 0) == 0 && XGetPixel(strip, 39, kH - 1) == 0;
  });
  ASSERT_NE(nullptr, strip);
  EXPECT_EQ(0u, XGetPixel(strip, 0, 0) | XGetPixel(strip, 39, kH - 1));
  XDestroyImage(strip);

  // The host destroys its window before removing the view.
  XDestroyWindow(x.d, parent);
  XSync(x.d, False);
  a.Pump();
  EXPECT_EQ(kResultOk, a.view->removed());
  EXPECT_TRUE(a.frame.handlers.empty() && a.frame.timers.empty());

  // The editor's connection breaks (as when the X server goes away): the host
  // lives on, the dead descriptor is no longer watched, removal is clean.
  ASSERT_EQ(1u, b.frame.handlers.size());
  shutdown(b.frame.handlers[0].fd, SHUT_RDWR);
  PumpUntil([&] { b.Pump(); }, [&] { return b.frame.handlers.empty(); }, 2000);
  EXPECT_TRUE(b.frame.handlers.empty());
  EXPECT_EQ(kResultOk, b.view->removed());
  EXPECT_TRUE(b.frame.timers.empty());

  // Both views attach again afterwards.
  const ::Window fresh = x.Parent(0, 0);
  ASSERT_EQ(kResultTrue, a.Attach(fresh));
  EXPECT_EQ(0, a.Picture(x, x.Editor(fresh)));
  ASSERT_EQ(kResultTrue, b.Attach(other));
  EXPECT_EQ(0, b.Picture(x, x.Editor(other)));
  b.view->release();  // released while attached: the window still goes
  b.view = nullptr;
  EXPECT_TRUE(x.Children(other).empty());
  EXPECT_TRUE(b.frame.handlers.empty() && b.frame.timers.empty());
}

TEST(X11Vst3Editor, FollowsTheHostsContentScaleAndItsResizing)
{
  XClient x;
  REQUIRE_DISPLAY(x);
  const ::Window parent = x.Parent(0, 0, 1100, 1200);
  Editor e;
  IPlugViewContentScaleSupport* scale = nullptr;
  ASSERT_EQ(kResultOk, e.view->queryInterface(IPlugViewContentScaleSupport::iid, reinterpret_cast<void**>(&scale)));
  auto size = [&] {
    ViewRect r;
    e.view->getSize(&r);
    return std::make_pair(r.getWidth(), r.getHeight());
  };

  // Before attached: the size the host then asks for, and the window it opens.
  ASSERT_EQ(kResultTrue, scale->setContentScaleFactor(2.0f));
  EXPECT_EQ(std::make_pair(692, 1132), size());
  ASSERT_EQ(1u, e.frame.resizes.size());
  EXPECT_EQ(1132, e.frame.resizes[0].getHeight());
  ASSERT_EQ(kResultTrue, e.Attach(parent));
  const ::Window w = x.Editor(parent);
  EXPECT_EQ(std::make_pair(692, 1132), x.Size(w));
  std::vector<uint32_t> shown;
  EXPECT_EQ(0, WaitForPicture(x, w, ExpectedPicture(e.Norms(), 2.0), [&] { e.Pump(); }, 692, 1132, &shown));
  SavePpm(shown, 692, 1132, "editor-linux-200.ppm");  // the window as the screen showed it, for the user's guide

  // Refused factors change nothing.
  for (float refused : {0.5f, 3.5f, 0.0f, -2.0f, std::numeric_limits<float>::quiet_NaN(), HUGE_VALF})
    EXPECT_EQ(kResultFalse, scale->setContentScaleFactor(refused)) << refused;
  EXPECT_EQ(std::make_pair(692, 1132), size());
  EXPECT_EQ(std::make_pair(692, 1132), x.Size(w));
  EXPECT_EQ(1u, e.frame.resizes.size());

  // After attached: the window follows and the host is asked for the size.
  ASSERT_EQ(kResultTrue, scale->setContentScaleFactor(1.5f));
  ASSERT_EQ(2u, e.frame.resizes.size());
  EXPECT_EQ(519, e.frame.resizes[1].getWidth());
  EXPECT_EQ(849, e.frame.resizes[1].getHeight());
  EXPECT_EQ(std::make_pair(519, 849), x.Size(w));
  EXPECT_EQ(0, WaitForPicture(x, w, ExpectedPicture(e.Norms(), 1.5), [&] { e.Pump(); }, 519, 849));

  // A user's resize keeps the aspect ratio, within 100 % to 300 %.
  EXPECT_EQ(kResultTrue, e.view->canResize());
  struct Resize { int w, h, snappedW, snappedH; };
  for (const Resize& r : {Resize{800, 900, 550, 900}, Resize{2000, 3000, 1038, 1698}, Resize{100, 100, 346, 566},
                          Resize{1038, 849, 519, 849}})
  {
    ViewRect asked(0, 0, r.w, r.h);
    ASSERT_EQ(kResultTrue, e.view->checkSizeConstraint(&asked));
    EXPECT_EQ(r.snappedW, asked.getWidth()) << r.w << "x" << r.h;
    EXPECT_EQ(r.snappedH, asked.getHeight()) << r.w << "x" << r.h;
    e.view->onSize(&asked);
    EXPECT_EQ(std::make_pair(r.snappedW, r.snappedH), size());
    EXPECT_EQ(std::make_pair(r.snappedW, r.snappedH), x.Size(w));
  }
  scale->release();
}

TEST(X11Vst3Editor, TheSameLogicalPointAndDragDoTheSameAtEveryScale)
{
  XClient x;
  REQUIRE_DISPLAY(x);
  const ::Window parent = x.Parent(0, 0, 1100, 1750);
  Editor e;
  IPlugViewContentScaleSupport* scale = nullptr;
  ASSERT_EQ(kResultOk, e.view->queryInterface(IPlugViewContentScaleSupport::iid, reinterpret_cast<void**>(&scale)));
  ASSERT_EQ(kResultTrue, e.Attach(parent));
  const ::Window w = x.Editor(parent);
  // Logical points on the edges of overlapping controls (the gain knob wins).
  struct Probe { int x, y; Vst::ParamID param; };
  const Probe probes[] = {{57, 445, kLowGain}, {163, 484, kLowGain}, {170, 500, kLowFreq}, {56, 271, kMidGain},
                          {164, 300, kMidFreq}, {325, 136, kInput}, {218, 377, kOutput}};
  const Box mg = ControlBox(kMidGain);
  for (float s : {1.0f, 1.5f, 2.0f, 3.0f})
  {
    SCOPED_TRACE(s);
    ASSERT_EQ(kResultTrue, scale->setContentScaleFactor(s));
    // 54 logical pixels up moves "Mid Gain" two positions, and back down two
    // (the editor's top at the screen's, so that the drag stays on the screen).
    x.Place(w, 0, 0, 0, 0);
    e.handler.edits.clear();
    const int x0 = (int)(mg.cx() * s), y0 = (int)((mg.y + 10) * s);
    x.Drag(w, x0, y0, 3, (int)(-18 * s));
    ASSERT_TRUE(PumpUntil([&] { e.Pump(); }, [&] { return e.Edits(kMidGain).find('e') != std::string::npos; }));
    EXPECT_TRUE(IsOneGesture(e.Edits(kMidGain))) << e.Edits(kMidGain);
    EXPECT_NEAR(0.7, e.controller->getParamNormalized(kMidGain), 1e-9);
    e.handler.edits.clear();
    x.Drag(w, x0, y0, 3, (int)(18 * s));
    ASSERT_TRUE(PumpUntil([&] { e.Pump(); }, [&] { return e.Edits(kMidGain).find('e') != std::string::npos; }));
    EXPECT_NEAR(0.5, e.controller->getParamNormalized(kMidGain), 1e-9);

    // The first and the last physical pixel of each logical one, in two rounds
    // so that no two clicks in a row land close enough for a double click.
    for (int corner = 0; corner < 2; ++corner)
      for (const Probe& p : probes)
      {
        e.handler.edits.clear();
        const int px = corner ? (int)std::ceil((p.x + 1) * s) - 1 : (int)std::ceil(p.x * s);
        const int py = corner ? (int)std::ceil((p.y + 1) * s) - 1 : (int)std::ceil(p.y * s);
        x.Click(w, px, py);
        ASSERT_TRUE(PumpUntil([&] { e.Pump(); }, [&] { return e.Edits(p.param) == "be"; }))
          << p.x << "," << p.y << " at " << px << "," << py << ": " << e.Edits(p.param);
      }
  }
  scale->release();
}
