// The VST3 module's editor on a real X display: the module loaded with dlopen,
// its view attached to a window of this host, driven by the host's run loop,
// its pixels read back and real pointer input sent through XTest.

#include <gtest/gtest.h>
#include <sys/socket.h>

#include <atomic>
#include <cstdlib>
#include <string>

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
