// Editor core and controls: painting frames, redraw bookkeeping, event routing,
// gestures and the value arithmetic of knobs and switches.
#include <gtest/gtest.h>

#include <climits>
#include <cmath>

#include "GraphicsTestSupport.h"

using namespace gtest_support;
using Ev = IPlugOffline::HostEvent;

namespace {

IMouseMod Left() { IMouseMod m; m.L = true; return m; }
IMouseMod Right() { IMouseMod m; m.R = true; return m; }
IMouseMod Shift() { IMouseMod m; m.L = m.S = true; return m; }
IMouseMod Ctrl() { IMouseMod m; m.L = m.C = true; return m; }

struct Editor : ::testing::Test
{
  TestPlug plug;
  TestGraphics* g = new TestGraphics(&plug);
  void SetUp() override { plug.AttachEditor(g); }
  // 0-based frame shown at (x, y) of a frame-coded strip.
  int FrameAt(int x, int y)
  {
    g->Redraw(IRect(0, 0, g->Width(), g->Height()));
    return (int)(Px(g->DrawBitmap(), x, y) & 0xFFFF);
  }
};

}  // namespace

TEST_F(Editor, KnobAndSwitchShowTheFrameOfTheirValue)
{
  struct Case { int frames; double value; int frame; };
  const Case cases[] = {
    {11, 0.5, 5}, {11, 0.04, 0}, {11, 0.05, 1}, {11, 1.0, 10}, {11, 0.7, 7},
    {5, 0.12, 0}, {5, 0.125, 1}, {5, 0.75, 3}, {5, 1.0, 4},
    {121, 0.5, 60}, {121, 0.0, 0}, {121, 1.0, 120}, {121, 0.99, 119},
    {2, 0.49, 0}, {2, 0.5, 1},
    // Values a host should never send still pick a frame inside the strip.
    {11, -3.0, 0}, {11, 7.0, 10}, {11, std::nan(""), 0}, {11, INFINITY, 10}, {11, -INFINITY, 0},
  };
  for (const Case& c : cases)
  {
    auto* knob = new IKnobMultiControl(&plug, 10, 10, -1, FrameCodedStrip(4, 3, c.frames));
    auto* sw = new ISwitchControl(&plug, 20, 10, -1, FrameCodedStrip(4, 3, c.frames));
    EXPECT_EQ(knob->Rect(), IRect(10, 10, 14, 13));
    g->AttachControl(knob);
    g->AttachControl(sw);
    knob->SetValue(c.value);
    sw->SetValue(c.value);
    EXPECT_EQ(FrameAt(12, 11), c.frame) << c.frames << " frames at " << c.value;
    EXPECT_EQ(FrameAt(22, 12), c.frame) << c.frames << " frames at " << c.value;
  }

  // Greyed controls draw at a quarter weight; hidden ones not at all.
  auto* white = new IBitmapControl(&plug, 0, 50, -1, MakeStrip(2, 2, 1, [](int, int) { return 0xFFFFFFFFu; }));
  g->AttachControl(white);
  white->SetGreyed(true);
  EXPECT_FLOAT_EQ(white->Blend().weight, 0.25f);
  EXPECT_EQ(FrameAt(0, 50), 0x4040);  // 255 + (0 - 255) * 192 / 256
  auto* hidden = new IBitmapControl(&plug, 0, 60, -1, MakeStrip(2, 2, 1, [](int, int) { return 0xFF00FFFFu; }));
  g->AttachControl(hidden);
  hidden->SetHidden(true);
  EXPECT_EQ(FrameAt(0, 60), 0);
}

TEST_F(Editor, RedrawPaintsOverlappingDirtyControlsAndCleansEverything)
{
  auto* a = new ProbeControl(&plug, IRect(3, 4, 10, 10), -1);
  auto* b = new ProbeControl(&plug, IRect(50, 20, 60, 30), -1);
  auto* zero = new ProbeControl(&plug, IRect(), -1);
  g->AttachControl(zero);  // an empty rectangle first must not pull the union to the origin
  g->AttachControl(a);
  g->AttachControl(b);
  IRect dirty;
  EXPECT_TRUE(g->CollectDirtyRect(&dirty));
  EXPECT_EQ(dirty, IRect(3, 4, 60, 30));

  g->Redraw(IRect(0, 0, 5, 5));  // touches only a
  EXPECT_EQ(a->paints, 1);
  EXPECT_EQ(b->paints, 0);
  EXPECT_FALSE(g->CollectDirtyRect(&dirty));
  EXPECT_EQ(g->presented.back(), IRect(0, 0, 5, 5));

  // A host value asks for two paints, a plain mark for one.
  b->SetValueFromHost(0.3);  // first value: becomes the default, no redraw
  EXPECT_FALSE(b->NeedsRedraw());
  b->SetValueFromHost(0.6);
  g->Redraw(IRect(0, 0, 100, 100));
  EXPECT_TRUE(b->NeedsRedraw());
  g->Redraw(IRect(0, 0, 100, 100));
  EXPECT_FALSE(b->NeedsRedraw());
  EXPECT_EQ(b->paints, 2);
  g->MarkAllDirty();
  g->Redraw(IRect());  // empty: nothing painted, all cleaned, still presented
  EXPECT_EQ(a->paints, 3);  // full redraws paint every overlapping control, dirty or not
  EXPECT_EQ(b->paints, 2);
  EXPECT_FALSE(g->CollectDirtyRect(&dirty));
  EXPECT_EQ(g->presented.back(), IRect());
}

TEST_F(Editor, PressesGoToTheTopmostVisibleControlWithOneGesture)
{
  auto* lower = new ProbeControl(&plug, IRect(0, 0, 50, 50), TestPlug::kStepped);
  auto* upper = new ProbeControl(&plug, IRect(25, 25, 75, 75), TestPlug::kLevel);
  g->AttachControl(lower);
  g->AttachControl(upper);
  g->pngs[20101] = WritePng(200, 100, PNG_COLOR_TYPE_GRAY, 8, std::vector<std::vector<unsigned char>>(100, std::vector<unsigned char>(200, 9)));
  g->AttachBackground(20101, "bg.png");  // inserted at the front, below everything
  EXPECT_EQ(g->GetControl(0)->Rect(), IRect(0, 0, 200, 100));
  EXPECT_EQ(g->GetControl(1), lower);

  g->HandleMouseDown(30, 30, Left());
  g->HandleMouseDrag(30, 30, Left());  // no movement: not passed on
  g->HandleMouseDrag(31, 28, Left());
  g->HandleMouseDrag(200, -5, Left());  // captured: outside the control still reaches it
  g->HandleMouseUp(200, -5, Left());
  g->HandleMouseUp(30, 30, Left());  // a release without a press ends nothing
  EXPECT_EQ(upper->downs, 1);
  EXPECT_EQ(lower->downs, 0);
  EXPECT_EQ(upper->ups, 2);
  ASSERT_EQ(upper->drags.size(), 2u);
  EXPECT_EQ(upper->drags[0], std::make_pair(1, -2));
  EXPECT_EQ(upper->drags[1], std::make_pair(169, -33));
  ASSERT_EQ(plug.hostEvents.size(), 2u);
  EXPECT_EQ(plug.hostEvents[0].kind, Ev::Begin);
  EXPECT_EQ(plug.hostEvents[1].kind, Ev::End);
  EXPECT_EQ(plug.hostEvents[1].paramIdx, TestPlug::kLevel);

  // Hidden and greyed controls let presses through to what lies beneath.
  upper->SetHidden(true);
  g->HandleMouseDown(30, 30, Left());
  upper->SetHidden(false);
  upper->SetGreyed(true);
  g->HandleMouseDown(30, 30, Left());
  EXPECT_EQ(lower->downs, 2);
  EXPECT_EQ(upper->downs, 1);
  g->HandleMouseUp(30, 30, Left());
  EXPECT_EQ(plug.Count(Ev::Begin), 3);
  EXPECT_EQ(plug.Count(Ev::End), 3);  // the second press closed the first gesture

  // The background has no parameter: no gesture; keys over it are not handled.
  plug.hostEvents.clear();
  g->HandleMouseDown(150, 90, Left());
  g->HandleMouseUp(150, 90, Left());
  EXPECT_TRUE(plug.hostEvents.empty());
  EXPECT_FALSE(g->HandleKeyDown(150, 90, 'A'));
  EXPECT_TRUE(g->HandleKeyDown(10, 10, 'B'));
  EXPECT_EQ(lower->lastKey, 'B');
  g->HandleMouseWheel(10, 10, Left(), 3);
  EXPECT_EQ(lower->wheel, 3);
}

TEST_F(Editor, RightPressOpensTheHostMenuOnlyUnderVst3)
{
  auto* c = new ProbeControl(&plug, IRect(0, 0, 10, 10), TestPlug::kSwitch);
  auto* bgLike = new ProbeControl(&plug, IRect(20, 0, 30, 10), -1);
  g->AttachControl(c);
  g->AttachControl(bgLike);
  plug.SetPluginApiForTest(kApiVST3);
  g->HandleMouseDown(5, 6, Right());
  g->HandleMouseDrag(7, 7, Right());
  g->HandleMouseUp(5, 6, Right());
  ASSERT_EQ(plug.menus.size(), 1u);
  EXPECT_EQ(plug.menus[0].idx, TestPlug::kSwitch);
  EXPECT_EQ(plug.menus[0].x, 5);
  EXPECT_EQ(c->downs, 0);
  EXPECT_TRUE(c->drags.empty());
  EXPECT_TRUE(plug.hostEvents.empty());
  g->HandleMouseDown(25, 5, Right());  // no parameter: an ordinary press
  EXPECT_EQ(bgLike->downs, 1);

  plug.SetPluginApiForTest(kApiVST2);
  g->HandleMouseDown(5, 6, Right());
  g->HandleMouseUp(5, 6, Right());
  EXPECT_EQ(c->downs, 1);
  EXPECT_EQ(plug.menus.size(), 1u);
  EXPECT_EQ(plug.Count(Ev::Begin), 1);
  EXPECT_EQ(plug.Count(Ev::End), 1);
}

TEST_F(Editor, KnobDragAndWheelMoveTheParameter)
{
  // 40 pixels high, gearing 1: 0.025 per pixel up, ten times finer with shift or control.
  auto* v = new IKnobMultiControl(&plug, 0, 0, TestPlug::kLevel, FrameCodedStrip(40, 40, 11), kVertical, 1.0);
  auto* h = new IKnobMultiControl(&plug, 50, 0, TestPlug::kStepped, FrameCodedStrip(20, 10, 11), kHorizontal, 2.0);
  g->AttachControl(v);
  g->AttachControl(h);
  g->ShowParameterValue(TestPlug::kLevel, 0.5, true);
  g->ShowParameterValue(TestPlug::kStepped, 5.0, false);
  g->HandleMouseDown(10, 10, Left());
  g->HandleMouseDrag(10, 6, Left());
  EXPECT_DOUBLE_EQ(v->Value(), 0.6);
  g->HandleMouseDrag(10, 10, Shift());
  EXPECT_DOUBLE_EQ(v->Value(), 0.59);
  g->HandleMouseDrag(10, 14, Ctrl());
  EXPECT_DOUBLE_EQ(v->Value(), 0.58);
  g->HandleMouseDrag(10, -1000, Left());  // far past the top: clamped, still sent
  g->HandleMouseDrag(10, -1100, Left());
  EXPECT_DOUBLE_EQ(v->Value(), 1.0);
  g->HandleMouseUp(10, -1100, Left());
  EXPECT_DOUBLE_EQ(plug.ParamAt(TestPlug::kLevel)->Value(), 12.0);
  EXPECT_EQ(plug.hostEvents[plug.hostEvents.size() - 2].value, 1.0);
  EXPECT_EQ(plug.Count(Ev::Perform), 5);

  // Horizontal: right increases by dX / width / gearing; the stepped parameter rounds.
  g->HandleMouseDown(55, 5, Left());
  g->HandleMouseDrag(63, 5, Left());
  EXPECT_DOUBLE_EQ(h->Value(), 0.7);
  EXPECT_DOUBLE_EQ(plug.ParamAt(TestPlug::kStepped)->Value(), 7.0);
  g->HandleMouseDrag(63, 50, Left());  // vertical movement does nothing to it
  EXPECT_DOUBLE_EQ(h->Value(), 0.7);
  g->HandleMouseUp(63, 50, Left());

  plug.hostEvents.clear();
  g->HandleMouseWheel(55, 5, Left(), -2);
  EXPECT_NEAR(h->Value(), 0.68, 1e-12);
  g->HandleMouseWheel(55, 5, Shift(), 5);
  EXPECT_NEAR(h->Value(), 0.685, 1e-12);
  EXPECT_EQ(plug.Count(Ev::Begin), 2);  // each wheel turn is its own gesture
  EXPECT_EQ(plug.Count(Ev::End), 2);
}

TEST_F(Editor, SwitchesCycleAndDoubleClickResets)
{
  auto* two = new ISwitchControl(&plug, 0, 0, TestPlug::kSwitch, FrameCodedStrip(4, 4, 2));
  auto* three = new ISwitchControl(&plug, 10, 0, -1, FrameCodedStrip(4, 4, 3));
  g->AttachControl(two);
  g->AttachControl(three);
  const double twoSeq[] = {1.0, 0.0, 1.0};
  for (double expect : twoSeq)
  {
    g->HandleMouseDown(1, 1, Left());
    g->HandleMouseUp(1, 1, Left());
    EXPECT_EQ(two->Value(), expect);
  }
  EXPECT_EQ(plug.ParamAt(TestPlug::kSwitch)->Value(), 1.0);
  two->SetValue(0.3);  // any value above 0.001 wraps to 0
  g->HandleMouseDown(1, 1, Right());
  EXPECT_EQ(two->Value(), 0.0);
  g->HandleMouseUp(1, 1, Right());
  two->SetValue(0.0005);  // just under the wrap tolerance: on, not wrapped
  g->HandleMouseDown(1, 1, Left());
  EXPECT_EQ(two->Value(), 1.0);
  const double threeSeq[] = {0.5, 1.0, 0.0};
  for (double expect : threeSeq)
  {
    g->HandleMouseDown(11, 1, Left());
    EXPECT_EQ(three->Value(), expect);
  }

  // Double click: a switch advances, a knob returns to its first host value;
  // both reach the host as one complete gesture.
  auto* knob = new IKnobMultiControl(&plug, 20, 0, TestPlug::kLevel, FrameCodedStrip(4, 4, 11), kVertical, 1.0);
  g->AttachControl(knob);
  g->ShowParameterValue(TestPlug::kLevel, 0.0, false);  // first value: the default, 0.5
  g->ShowParameterValue(TestPlug::kLevel, 6.0, false);
  EXPECT_DOUBLE_EQ(knob->Value(), 0.75);
  plug.hostEvents.clear();
  g->HandleDoubleClick(21, 1, Left());
  g->HandleMouseUp(21, 1, Left());
  EXPECT_DOUBLE_EQ(knob->Value(), 0.5);
  EXPECT_DOUBLE_EQ(plug.ParamAt(TestPlug::kLevel)->Value(), 0.0);
  ASSERT_EQ(plug.hostEvents.size(), 3u);
  EXPECT_EQ(plug.hostEvents[0].kind, Ev::Begin);
  EXPECT_EQ(plug.hostEvents[1].kind, Ev::Perform);
  EXPECT_EQ(plug.hostEvents[2].kind, Ev::End);
  g->HandleDoubleClick(1, 1, Left());
  EXPECT_EQ(two->Value(), 0.0);
}

TEST_F(Editor, HostValuesReachEveryBoundControl)
{
  auto* a = new ProbeControl(&plug, IRect(0, 0, 5, 5), TestPlug::kLevel);
  auto* b = new ProbeControl(&plug, IRect(5, 0, 10, 5), TestPlug::kLevel);
  auto* other = new ProbeControl(&plug, IRect(10, 0, 15, 5), TestPlug::kStepped);
  g->AttachControl(a);
  g->AttachControl(b);
  g->AttachControl(other);
  g->ShowParameterValue(TestPlug::kLevel, 0.25, true);
  g->ShowParameterValue(TestPlug::kLevel, -6.0, false);
  EXPECT_DOUBLE_EQ(a->Value(), 0.25);
  EXPECT_DOUBLE_EQ(b->Value(), 0.25);
  EXPECT_DOUBLE_EQ(a->DefaultValue(), 0.25);
  g->ShowParameterValue(TestPlug::kLevel, 12.0, false);
  EXPECT_DOUBLE_EQ(b->Value(), 1.0);
  g->ShowParameterValue(TestPlug::kLevel, std::nan(""), true);  // ignored
  EXPECT_DOUBLE_EQ(a->Value(), 1.0);
  g->ShowParameterValue(99, 3.0, false);
  g->ShowParameterValue(-1, 0.5, true);
  EXPECT_EQ(other->Value(), 0.0);
  EXPECT_TRUE(plug.changed.empty());  // nothing is pushed back to the plug-in
  EXPECT_TRUE(plug.hostEvents.empty());
}

TEST_F(Editor, EventsAtExtremeCoordinatesAndResizeAreSafe)
{
  auto* knob = new IKnobMultiControl(&plug, 0, 0, TestPlug::kLevel, FrameCodedStrip(4, 4, 11), kVertical, 1.0);
  g->AttachControl(knob);
  const int xs[] = {INT_MIN, -1, 0, 3, 4, INT_MAX};
  for (int x : xs)
    for (int y : xs)
    {
      g->HandleMouseDown(x, y, Left());
      g->HandleMouseDrag(INT_MAX, INT_MIN, Left());
      g->HandleMouseDrag(INT_MIN, INT_MAX, Shift());
      g->HandleMouseWheel(x, y, Left(), INT_MAX);
      g->HandleMouseUp(x, y, Left());
      g->HandleDoubleClick(x, y, Left());
      g->HandleKeyDown(x, y, 0);
      EXPECT_TRUE(knob->Value() >= 0.0 && knob->Value() <= 1.0);
    }
  EXPECT_EQ(plug.Count(Ev::Begin), plug.Count(Ev::End));
  g->Redraw(IRect(INT_MIN, INT_MIN, INT_MAX, INT_MAX));

  g->HandleMouseDown(1, 1, Left());
  g->Resize(50, 40);  // drops the controls and the open gesture
  EXPECT_EQ(g->NControls(), 0);
  EXPECT_EQ(g->DrawBitmap()->getWidth(), 50);
  EXPECT_EQ(plug.Count(Ev::Begin), plug.Count(Ev::End));
  g->HandleMouseDrag(5, 5, Left());
  g->HandleMouseUp(5, 5, Left());
  EXPECT_EQ(g->GetControl(0), nullptr);
  EXPECT_EQ(g->AttachControl(nullptr), -1);
}
