// The Windows editor window in this process: the offline TALVOR builds its
// editor on the Windows window host, with the images taken from this test
// program's own resources (linked from the same resource script as the modules).

#include <windows.h>

#include <gtest/gtest.h>

#include <array>
#include <memory>

#include "graphics/IControl.h"
#include "graphics/IGraphicsWin.h"
#include "graphics/ModuleHandle.h"
#include "plugin/TALVOR.h"
#include "tests/win64/WinTestSupport.h"

using namespace wintest;

namespace {

constexpr int kPaintTimeoutMs = 10000;  // generous: Wine on a loaded machine

struct Editor
{
  std::unique_ptr<TALVOR> plug{new TALVOR(IPlugInstanceInfo{})};
  IGraphicsWin* g = dynamic_cast<IGraphicsWin*>(plug->Editor());

  HWND Hwnd() { return static_cast<HWND>(g->Window()); }
  bool AllClean()
  {
    for (int i = 0; i < g->NControls(); ++i)
      if (g->GetControl(i)->NeedsRedraw()) return false;
    return true;
  }
  bool WaitPainted()
  {
    const bool ok = PumpUntil([this] { return AllClean(); }, kPaintTimeoutMs);
    PumpFor(30);
    return ok;
  }
  std::array<double, 11> Values()
  {
    std::array<double, 11> v{};
    for (int i = 0; i < 11; ++i) v[(size_t)i] = plug->ParamAt(i)->NormalizedValue();
    return v;
  }
  double ControlValue(int param)
  {
    for (int i = 1; i < g->NControls(); ++i)
      if (g->GetControl(i)->ParamIdx() == param) return g->GetControl(i)->Value();
    return -1.0;
  }
  std::vector<IPlugOffline::HostEvent>& Events() { return plug->hostEvents; }
};

bool ClassRegistered()
{
  WNDCLASSA wc;
  return GetClassInfoA(GetModuleHandleA(nullptr), IGraphicsWin::WindowClassName(), &wc) != 0;
}

struct HostWindow
{
  HWND h;
  HostWindow(int x, int y, bool caption = false) : h(CreateHostWindow(x, y, caption)) {}
  ~HostWindow()
  {
    if (IsWindow(h)) DestroyWindow(h);
  }
};

class EditorWindow : public ::testing::Test
{
protected:
  void SetUp() override
  {
    ASSERT_EQ(IGraphicsWin::WindowClassUseCount(), 0);
    ASSERT_FALSE(ClassRegistered());
    ASSERT_NE(host.h, nullptr);
    ASSERT_NE(ed.g, nullptr) << "the editor must be the Windows window host";
  }
  void TearDown() override
  {
    ed.plug.reset();
    EXPECT_EQ(IGraphicsWin::WindowClassUseCount(), 0);
    EXPECT_FALSE(ClassRegistered()) << "window class leaked";
    HostKeyLog().clear();
  }
  HostWindow host{20, 20};
  Editor ed;
};

}  // namespace

TEST(EditorImages, EveryImageResourceDecodesToItsSourceFile)
{
  Editor ed;
  ASSERT_NE(ed.g, nullptr);
  const char* names[] = {"BG", "BY", "HF", "HG", "LF", "LG", "MF", "MG", "IN", "OUT", "FL", "LINK"};
  for (int i = 0; i < 12; ++i)
  {
    const std::string file = std::string("resources/img/") + names[i] + ".png";
    std::unique_ptr<LICE_IBitmap> bmp(ed.g->LoadImageResource(101 + i, file.c_str()));
    ASSERT_NE(bmp, nullptr) << file;
    const Rgba& src = SourceImage(names[i]);
    ASSERT_EQ(bmp->getWidth(), src.w) << file;
    ASSERT_EQ(bmp->getHeight(), src.h) << file;
    int diffs = 0;
    for (int y = 0; y < src.h; ++y)
      for (int x = 0; x < src.w; ++x)
        diffs += bmp->getBits()[y * bmp->getRowSpan() + x] != src.px[(size_t)y * src.w + x];
    EXPECT_EQ(diffs, 0) << file;
  }
}

TEST(EditorImages, NamesAndIdsAreCheckedBeforeDecoding)
{
  Editor ed;
  ASSERT_NE(ed.g, nullptr);
  auto load = [&](int id, const char* name) { return std::unique_ptr<LICE_IBitmap>(ed.g->LoadImageResource(id, name)); };
  EXPECT_NE(load(101, "BG.PNG"), nullptr) << "the extension check ignores case";
  EXPECT_NE(load(101, "a.b/c.Png"), nullptr);
  EXPECT_EQ(load(101, "BG.bmp"), nullptr);
  EXPECT_EQ(load(101, "BG.png.txt"), nullptr);
  EXPECT_EQ(load(101, "png"), nullptr);
  EXPECT_EQ(load(101, nullptr), nullptr);
  EXPECT_EQ(load(999, "x.png"), nullptr) << "missing resource";
  EXPECT_EQ(load(0, "x.png"), nullptr);
  auto high = load(0x70000 + 104, "x.png");
  ASSERT_NE(high, nullptr) << "only the low 16 bits name the resource";
  EXPECT_EQ(high->getWidth(), 107);
  EXPECT_EQ(high->getHeight(), 1177);
}

TEST(DrawBitmap, IsATopDownDibSectionThatGdiCanRead)
{
  LICE_SysBitmap bmp(346, 566);
  HDC dc = static_cast<HDC>(bmp.getDC());
  ASSERT_NE(dc, nullptr);
  ASSERT_NE(bmp.getBits(), nullptr);
  EXPECT_EQ(bmp.getWidth(), 346);
  EXPECT_EQ(bmp.getHeight(), 566);
  EXPECT_EQ(bmp.getRowSpan(), 348);
  EXPECT_FALSE(bmp.isFlipped());
  bmp.getBits()[0] = 0xFF102030u;
  bmp.getBits()[565 * 348 + 345] = 0xFF405060u;
  bmp.getBits()[1 * 348 + 2] = 0xFFA0B0C0u;
  GdiFlush();
  EXPECT_EQ(GetPixel(dc, 0, 0), RGB(0x10, 0x20, 0x30));
  EXPECT_EQ(GetPixel(dc, 345, 565), RGB(0x40, 0x50, 0x60));
  EXPECT_EQ(GetPixel(dc, 2, 1), RGB(0xA0, 0xB0, 0xC0)) << "rows are stored top-down";
}

TEST(DrawBitmap, ResizeReusesTheSectionWhenItFitsAndRebuildsOtherwise)
{
  LICE_SysBitmap bmp(346, 566);
  uint32_t* bits = bmp.getBits();
  EXPECT_FALSE(bmp.resize(346, 566)) << "same size changes nothing";
  EXPECT_TRUE(bmp.resize(100, 50));
  EXPECT_EQ(bmp.getBits(), bits) << "a smaller size keeps the DIB section";
  EXPECT_EQ(bmp.getRowSpan(), 348);
  EXPECT_EQ(bmp.getWidth(), 100);
  EXPECT_EQ(bmp.getHeight(), 50);

  EXPECT_TRUE(bmp.resize(401, 600));
  EXPECT_EQ(bmp.getRowSpan(), 404) << "allocated width is rounded up to 4";
  EXPECT_EQ(bmp.AllocatedHeight(), 600);
  ASSERT_NE(bmp.getBits(), nullptr);
  bmp.getBits()[599 * 404 + 400] = 0xFF010203u;  // last pixel is addressable
  GdiFlush();
  EXPECT_EQ(GetPixel(static_cast<HDC>(bmp.getDC()), 400, 599), RGB(1, 2, 3));

  EXPECT_FALSE(bmp.resize(0, 0)) << "an empty size frees the section";
  EXPECT_EQ(bmp.getBits(), nullptr);
  EXPECT_TRUE(bmp.resize(10, 3));
  EXPECT_EQ(bmp.getRowSpan(), 12);
  EXPECT_NE(bmp.getBits(), nullptr);
}

TEST(DrawBitmap, ImpossibleSizesLeaveAnEmptyBitmap)
{
  LICE_SysBitmap bmp(16, 16);
  EXPECT_FALSE(bmp.resize(-5, 10));
  EXPECT_EQ(bmp.getBits(), nullptr);
  bmp.resize(0x7FFFFFFF, 0x7FFFFFFF);
  EXPECT_EQ(bmp.getWidth(), 0);
  EXPECT_EQ(bmp.getHeight(), 0);
  EXPECT_EQ(bmp.getBits(), nullptr);
  EXPECT_EQ(bmp.getRowSpan(), 0) << "no allocation is claimed for a size that cannot be addressed";
  EXPECT_EQ(bmp.AllocatedHeight(), 0);
  bmp.resize(0x7FFFFFFF, 0);
  EXPECT_EQ(bmp.getRowSpan(), 0);
  EXPECT_EQ(bmp.getBits(), nullptr);
  EXPECT_TRUE(bmp.resize(8, 8));
  EXPECT_NE(bmp.getBits(), nullptr) << "still usable afterwards";
}

TEST(WindowKeys, VirtualKeysMapToEditorKeyCodes)
{
  EXPECT_EQ(IGraphicsWin::KeyCodeFromVirtualKey(VK_SPACE), 0);
  EXPECT_EQ(IGraphicsWin::KeyCodeFromVirtualKey(VK_UP), 1);
  EXPECT_EQ(IGraphicsWin::KeyCodeFromVirtualKey(VK_DOWN), 2);
  EXPECT_EQ(IGraphicsWin::KeyCodeFromVirtualKey(VK_LEFT), 3);
  EXPECT_EQ(IGraphicsWin::KeyCodeFromVirtualKey(VK_RIGHT), 4);
  EXPECT_EQ(IGraphicsWin::KeyCodeFromVirtualKey('0'), 5);
  EXPECT_EQ(IGraphicsWin::KeyCodeFromVirtualKey('9'), 14);
  EXPECT_EQ(IGraphicsWin::KeyCodeFromVirtualKey('A'), 15);
  EXPECT_EQ(IGraphicsWin::KeyCodeFromVirtualKey('Z'), 40);
  EXPECT_EQ(IGraphicsWin::KeyCodeFromVirtualKey(97), 15);
  EXPECT_EQ(IGraphicsWin::KeyCodeFromVirtualKey(122), 40);
  for (int vk : {0, VK_RETURN, VK_ESCAPE, VK_SHIFT, 47, 58, 64, 91, 96, 123, 255})
    EXPECT_EQ(IGraphicsWin::KeyCodeFromVirtualKey(vk), -1) << vk;
}

TEST_F(EditorWindow, OpensAChildWindowAndPaintsEveryControlOnTheTimer)
{
  EXPECT_STREQ(ed.g->BackendName(), "Windows GDI");
  HWND child = static_cast<HWND>(ed.g->OpenWindow(host.h));
  ASSERT_NE(child, nullptr);
  EXPECT_TRUE(ed.g->IsWindowOpen());
  EXPECT_EQ(FindEditorChild(host.h), child);
  EXPECT_EQ(GetParent(child), host.h);
  EXPECT_EQ(GetWindowLongA(child, GWL_STYLE) & (WS_CHILD | WS_VISIBLE | WS_POPUP), WS_CHILD | WS_VISIBLE);
  RECT rc;
  GetClientRect(child, &rc);
  EXPECT_EQ(rc.right, 346);
  EXPECT_EQ(rc.bottom, 566);
  EXPECT_EQ(IGraphicsWin::WindowClassUseCount(), 1);
  EXPECT_TRUE(ClassRegistered());
  WNDCLASSA wc;
  GetClassInfoA(GetModuleHandleA(nullptr), "IPlugWndClass", &wc);
  EXPECT_EQ(wc.style & CS_DBLCLKS, (UINT)CS_DBLCLKS);
  EXPECT_EQ(wc.hbrBackground, nullptr);

  ASSERT_TRUE(ed.WaitPainted()) << "the first timer ticks must paint every control";
  const Image shown = CaptureWindow(child, 346, 566);
  const Image expected = ExpectedEditor(ed.Values());
  EXPECT_EQ(CountDifferences(shown, expected), 0);
  SavePng(shown, BuildPath("editor-win64-inprocess.png"));

  // A host-side change reaches the window within a timer period or two.
  ed.g->ShowParameterValue(kLowGain, 1.0, true);
  ed.g->ShowParameterValue(kInput, 0.0, true);
  ASSERT_TRUE(ed.WaitPainted());
  std::array<double, 11> v = ed.Values();
  v[kLowGain] = 1.0;
  v[kInput] = 0.0;
  const Image after = CaptureWindow(child, 346, 566);
  EXPECT_EQ(CountDifferences(after, ExpectedEditor(v)), 0);
  EXPECT_GT(CountDifferences(after, shown), 100) << "the knobs visibly changed";
}

TEST_F(EditorWindow, ReopeningKeepsTheOldPlaceAndTheClassRegisteredOnce)
{
  HWND first = static_cast<HWND>(ed.g->OpenWindow(host.h));
  ASSERT_NE(first, nullptr);
  MoveWindow(first, 7, 9, 346, 566, TRUE);

  // Same parent: recreated at the same spot.
  HWND second = static_cast<HWND>(ed.g->OpenWindow(host.h));
  ASSERT_NE(second, nullptr);
  EXPECT_FALSE(IsWindow(first));
  EXPECT_EQ(IGraphicsWin::WindowClassUseCount(), 1);
  RECT r;
  GetWindowRect(second, &r);
  MapWindowPoints(nullptr, host.h, reinterpret_cast<POINT*>(&r), 2);
  EXPECT_EQ(r.left, 7);
  EXPECT_EQ(r.top, 9);
  EXPECT_EQ(r.right - r.left, 346);

  // A framed parent: the position is taken relative to its client area, so the
  // editor does not creep down by the caption height on every reopen.
  HostWindow framed(400, 20, true);
  HWND third = static_cast<HWND>(ed.g->OpenWindow(framed.h));
  ASSERT_NE(third, nullptr);
  EXPECT_EQ(GetParent(third), framed.h);
  MoveWindow(third, 0, 0, 346, 566, TRUE);
  HWND fourth = static_cast<HWND>(ed.g->OpenWindow(framed.h));
  ASSERT_NE(fourth, nullptr);
  GetWindowRect(fourth, &r);
  POINT tl = {r.left, r.top};
  ScreenToClient(framed.h, &tl);
  EXPECT_EQ(tl.x, 0);
  EXPECT_EQ(tl.y, 0);
  EXPECT_EQ(IGraphicsWin::WindowClassUseCount(), 1);
  ASSERT_TRUE(ed.WaitPainted());
  ed.g->CloseWindow();
  EXPECT_FALSE(ed.g->IsWindowOpen());
  EXPECT_EQ(IGraphicsWin::WindowClassUseCount(), 0);
  EXPECT_FALSE(ClassRegistered());
  ed.g->CloseWindow();  // closing again is harmless
  EXPECT_EQ(IGraphicsWin::WindowClassUseCount(), 0);
}

TEST_F(EditorWindow, SurvivesTheHostDestroyingItsWindowFirst)
{
  HostWindow doomed(400, 20);
  HWND child = static_cast<HWND>(ed.g->OpenWindow(doomed.h));
  ASSERT_NE(child, nullptr);
  DestroyWindow(doomed.h);  // takes the editor's child window with it
  EXPECT_FALSE(IsWindow(child));
  EXPECT_FALSE(ed.g->IsWindowOpen()) << "the editor knows its window is gone";
  ed.g->CloseWindow();
  EXPECT_EQ(IGraphicsWin::WindowClassUseCount(), 0);
  EXPECT_FALSE(ClassRegistered()) << "class given back once the window is gone";

  // And it opens again in a new parent.
  ASSERT_NE(ed.g->OpenWindow(host.h), nullptr);
  EXPECT_EQ(IGraphicsWin::WindowClassUseCount(), 1);
  ASSERT_TRUE(ed.WaitPainted());
}

TEST_F(EditorWindow, ReopeningAfterTheParentDiedStartsAtTheOrigin)
{
  HostWindow doomed(400, 20);
  ASSERT_NE(ed.g->OpenWindow(doomed.h), nullptr);
  DestroyWindow(doomed.h);
  HWND child = static_cast<HWND>(ed.g->OpenWindow(host.h));
  ASSERT_NE(child, nullptr);
  EXPECT_EQ(IGraphicsWin::WindowClassUseCount(), 1) << "the dead window's class use was given back";
  RECT r;
  GetWindowRect(child, &r);
  MapWindowPoints(nullptr, host.h, reinterpret_cast<POINT*>(&r), 2);
  EXPECT_EQ(r.left, 0);
  EXPECT_EQ(r.top, 0);
}

TEST_F(EditorWindow, FailedCreationRestoresTheClassCount)
{
  EXPECT_EQ(ed.g->OpenWindow(nullptr), nullptr);
  EXPECT_FALSE(ed.g->IsWindowOpen());
  EXPECT_EQ(IGraphicsWin::WindowClassUseCount(), 0);
  EXPECT_FALSE(ClassRegistered());

  HWND notAWindow = reinterpret_cast<HWND>(static_cast<intptr_t>(0x7FFF1234));
  EXPECT_EQ(ed.g->OpenWindow(notAWindow), nullptr);
  EXPECT_EQ(IGraphicsWin::WindowClassUseCount(), 0);

  // With another editor open, a failed open leaves that one's class alone.
  Editor other;
  ASSERT_NE(other.g->OpenWindow(host.h), nullptr);
  EXPECT_EQ(ed.g->OpenWindow(nullptr), nullptr);
  EXPECT_EQ(IGraphicsWin::WindowClassUseCount(), 1);
  EXPECT_TRUE(ClassRegistered());
  ASSERT_TRUE(other.WaitPainted());
}

TEST_F(EditorWindow, CloseMessageAndDestructionCloseTheWindow)
{
  HWND child = static_cast<HWND>(ed.g->OpenWindow(host.h));
  ASSERT_NE(child, nullptr);
  SendMessageA(child, WM_CLOSE, 0, 0);
  EXPECT_FALSE(IsWindow(child));
  EXPECT_FALSE(ed.g->IsWindowOpen());
  EXPECT_EQ(IGraphicsWin::WindowClassUseCount(), 0);

  child = static_cast<HWND>(ed.g->OpenWindow(host.h));
  ASSERT_NE(child, nullptr);
  ed.plug.reset();  // the plug-in goes away with its editor open
  EXPECT_FALSE(IsWindow(child));
  EXPECT_EQ(IGraphicsWin::WindowClassUseCount(), 0);
  PumpFor(100);  // no stray timer or paint reaches the deleted editor
}

TEST_F(EditorWindow, TwoEditorsShareTheClassAndOutliveEachOther)
{
  Editor other;
  HostWindow host2(400, 20);
  HWND a = static_cast<HWND>(ed.g->OpenWindow(host.h));
  HWND b = static_cast<HWND>(other.g->OpenWindow(host2.h));
  ASSERT_NE(a, nullptr);
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(IGraphicsWin::WindowClassUseCount(), 2);
  ASSERT_TRUE(ed.WaitPainted());
  ASSERT_TRUE(other.WaitPainted());

  ed.g->CloseWindow();
  EXPECT_EQ(IGraphicsWin::WindowClassUseCount(), 1);
  EXPECT_TRUE(ClassRegistered());

  // The remaining editor still repaints on its timer.
  other.g->ShowParameterValue(kHighGain, 0.0, true);
  ASSERT_TRUE(other.WaitPainted());
  std::array<double, 11> v = other.Values();
  v[kHighGain] = 0.0;
  EXPECT_EQ(CountDifferences(CaptureWindow(b, 346, 566), ExpectedEditor(v)), 0);

  other.g->CloseWindow();
  EXPECT_EQ(IGraphicsWin::WindowClassUseCount(), 0);
  EXPECT_FALSE(ClassRegistered());
}

class EditorInput : public EditorWindow
{
protected:
  void SetUp() override
  {
    EditorWindow::SetUp();
    child = static_cast<HWND>(ed.g->OpenWindow(host.h));
    ASSERT_NE(child, nullptr);
    ASSERT_TRUE(ed.WaitPainted());
    ed.Events().clear();
  }
  int Count(IPlugOffline::HostEvent::Kind kind, int param)
  {
    int n = 0;
    for (auto& e : ed.Events()) n += e.kind == kind && e.paramIdx == param;
    return n;
  }
  HWND child = nullptr;
};

TEST_F(EditorInput, DraggingAKnobEditsItsParameterWithOneGesture)
{
  const ControlBox& lg = Box(kLowGain);
  const int x = lg.cx(), y = lg.y + 10;  // above the overlap with "Low Freq"
  SendPress(child, x, y);
  EXPECT_EQ(GetCapture(), child);
  // 107 px knob, gearing 2.5: 54 px up is +0.2018.
  for (int step = 1; step <= 6; ++step) SendDrag(child, x, y - 9 * step);
  SendRelease(child, x, y - 54);
  EXPECT_NE(GetCapture(), child);

  EXPECT_EQ(Count(IPlugOffline::HostEvent::Begin, kLowGain), 1);
  EXPECT_EQ(Count(IPlugOffline::HostEvent::End, kLowGain), 1);
  EXPECT_EQ(Count(IPlugOffline::HostEvent::Perform, kLowGain), 6);
  ASSERT_FALSE(ed.Events().empty());
  EXPECT_EQ(ed.Events().front().kind, IPlugOffline::HostEvent::Begin);
  EXPECT_EQ(ed.Events().back().kind, IPlugOffline::HostEvent::End);
  EXPECT_NEAR(ed.ControlValue(kLowGain), 0.5 + 54.0 / 107.0 / 2.5, 1e-9);
  EXPECT_EQ(ed.plug->ParamAt(kLowGain)->IntValue(), 7);

  ASSERT_TRUE(ed.WaitPainted());
  EXPECT_EQ(CountDifferences(CaptureWindow(child, 346, 566), ExpectedEditor(ed.Values())), 0);
}

TEST_F(EditorInput, ADragLeavingTheWindowKeepsMovingTheKnob)
{
  const ControlBox& in = Box(kInput);
  SendPress(child, in.cx(), in.cy());
  SendDrag(child, in.cx() + 500, in.cy() - 400);  // far outside, above the window
  SendRelease(child, in.cx() + 500, in.cy() - 400);
  EXPECT_DOUBLE_EQ(ed.ControlValue(kInput), 1.0);
  EXPECT_DOUBLE_EQ(ed.plug->ParamAt(kInput)->Value(), 12.0);

  // Horizontal selector: right increases, clamped at the left end.
  const ControlBox& mf = Box(kMidFreq);
  const int x = mf.x + 5, y = mf.y + 5;  // left of the "Mid Gain" knob
  SendPress(child, x, y);
  SendDrag(child, x + 78, y);  // half its width: +0.5
  SendRelease(child, x + 78, y);
  EXPECT_NEAR(ed.ControlValue(kMidFreq), 0.5, 1e-9);
  EXPECT_EQ(ed.plug->ParamAt(kMidFreq)->IntValue(), 2);
}

TEST_F(EditorInput, MovesWithoutAButtonOrCaptureDoNothing)
{
  const ControlBox& in = Box(kInput);
  SendDrag(child, in.cx(), in.cy() - 50, 0);
  SendDrag(child, in.cx(), in.cy() - 60, MK_LBUTTON);  // button claimed but no capture
  EXPECT_TRUE(ed.Events().empty());
  EXPECT_DOUBLE_EQ(ed.ControlValue(kInput), 0.5);
}

TEST_F(EditorInput, WheelNotchesTruncateTowardZero)
{
  const ControlBox& in = Box(kInput);
  SendWheel(child, in.cx(), in.cy(), 60);  // half a notch
  EXPECT_DOUBLE_EQ(ed.ControlValue(kInput), 0.5);
  SendWheel(child, in.cx(), in.cy(), -240);
  EXPECT_NEAR(ed.ControlValue(kInput), 0.48, 1e-12);
  EXPECT_NEAR(ed.plug->ParamAt(kInput)->Value(), -0.48, 1e-9);
  SendWheel(child, in.cx(), in.cy(), 120, MK_SHIFT);  // fine steps
  EXPECT_NEAR(ed.ControlValue(kInput), 0.481, 1e-12);

  // The wheel's point is on the screen: the same message over the background
  // leaves the knob alone.
  SendWheel(child, 5, 5, 480);
  EXPECT_NEAR(ed.ControlValue(kInput), 0.481, 1e-12);
}

TEST_F(EditorInput, SwitchesToggleOnPressAndDoubleClickResetsAKnob)
{
  const ControlBox& fl = Box(kFilter);
  SendPress(child, fl.cx(), fl.cy());
  SendRelease(child, fl.cx(), fl.cy());
  EXPECT_EQ(ed.plug->ParamAt(kFilter)->IntValue(), 1);
  EXPECT_EQ(Count(IPlugOffline::HostEvent::Begin, kFilter), 1);
  EXPECT_EQ(Count(IPlugOffline::HostEvent::End, kFilter), 1);

  const ControlBox& hg = Box(kHighGain);
  SendPress(child, hg.cx(), hg.y + 5);
  SendDrag(child, hg.cx(), hg.y + 5 - 80);
  SendRelease(child, hg.cx(), hg.y + 5 - 80);
  ASSERT_GT(ed.ControlValue(kHighGain), 0.75);
  SendMessageA(child, WM_LBUTTONDBLCLK, MK_LBUTTON, Point(hg.cx(), hg.y + 5));
  SendRelease(child, hg.cx(), hg.y + 5);
  EXPECT_DOUBLE_EQ(ed.ControlValue(kHighGain), 0.5) << "back to the default";
  EXPECT_EQ(ed.plug->ParamAt(kHighGain)->IntValue(), 5);
  // The host sees balanced gestures, whatever the click sequence.
  EXPECT_EQ(Count(IPlugOffline::HostEvent::Begin, kHighGain), Count(IPlugOffline::HostEvent::End, kHighGain));

  // Right double clicks are left to the system: nothing changes.
  const double before = ed.ControlValue(kFilter);
  SendMessageA(child, WM_RBUTTONDBLCLK, MK_RBUTTON, Point(fl.cx(), fl.cy()));
  EXPECT_DOUBLE_EQ(ed.ControlValue(kFilter), before);

  ASSERT_TRUE(ed.WaitPainted());
  EXPECT_EQ(CountDifferences(CaptureWindow(child, 346, 566), ExpectedEditor(ed.Values())), 0);
}

TEST_F(EditorInput, ADragCutShortStillEndsItsGesture)
{
  // Another window takes the mouse in the middle of a drag: the release will
  // never come here, so the host is told the edit is over.
  const ControlBox& in = Box(kInput);
  SendPress(child, in.cx(), in.cy());
  SendDrag(child, in.cx(), in.cy() - 20);
  ASSERT_EQ(Count(IPlugOffline::HostEvent::Begin, kInput), 1);
  SetCapture(host.h);
  EXPECT_EQ(Count(IPlugOffline::HostEvent::End, kInput), 1);
  ReleaseCapture();
  const double value = ed.ControlValue(kInput);
  SendDrag(child, in.cx(), in.cy() - 80);
  SendRelease(child, in.cx(), in.cy() - 80);
  EXPECT_DOUBLE_EQ(ed.ControlValue(kInput), value) << "the cut drag moves nothing any more";
  EXPECT_EQ(Count(IPlugOffline::HostEvent::End, kInput), 1);

  // The editor closes in the middle of a drag (a host shortcut, say).
  SendPress(child, in.cx(), in.cy());
  ASSERT_EQ(Count(IPlugOffline::HostEvent::Begin, kInput), 2);
  ed.g->CloseWindow();
  EXPECT_EQ(Count(IPlugOffline::HostEvent::End, kInput), 2);
  EXPECT_EQ(ed.g->OpenGestureParam(), -1);
  ed.Events().clear();
  ed.plug.reset();  // destruction with nothing open sends nothing
}

TEST_F(EditorInput, PressesOnTheBackgroundStartNoGesture)
{
  SendPress(child, 3, 3);
  SendDrag(child, 30, 30);
  SendRelease(child, 30, 30);
  EXPECT_TRUE(ed.Events().empty());
}

TEST_F(EditorInput, UnhandledKeysGoToTheHostsTopLevelWindow)
{
  const LPARAM lp = 0x001E0001;
  SendMessageA(child, WM_KEYDOWN, 'A', lp);
  SendMessageA(child, WM_KEYDOWN, VK_F5, lp + 1);
  SendMessageA(child, WM_KEYUP, 'A', lp | 0xC0000000);
  auto& log = HostKeyLog();
  ASSERT_EQ(log.size(), 3u);
  EXPECT_EQ(log[0].hwnd, host.h);
  EXPECT_EQ(log[0].msg, (UINT)WM_KEYDOWN);
  EXPECT_EQ(log[0].wParam, (WPARAM)'A');
  EXPECT_EQ(log[0].lParam, lp);
  EXPECT_EQ(log[1].wParam, (WPARAM)VK_F5);
  EXPECT_EQ(log[1].lParam, lp + 1);
  EXPECT_EQ(log[2].msg, (UINT)WM_KEYUP);
  EXPECT_EQ(log[2].lParam, (LPARAM)(lp | 0xC0000000));
  EXPECT_TRUE(ed.Events().empty());
}

namespace {

// A host whose frame hands every key it gets to the window holding the focus,
// as some hosts do with keys their own windows do not use.
int gEchoedKeys = 0;
LRESULT CALLBACK EchoingHostProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam)
{
  if ((msg == WM_KEYDOWN || msg == WM_KEYUP) && ++gEchoedKeys < 50)
  {
    HWND focus = GetFocus();
    if (focus && focus != hwnd) SendMessageA(focus, msg, wParam, lParam);
    return 0;
  }
  return DefWindowProcA(hwnd, msg, wParam, lParam);
}

}  // namespace

TEST_F(EditorWindow, KeysEchoedBackByTheHostAreNotForwardedAgain)
{
  WNDCLASSA wc = {};
  wc.lpfnWndProc = EchoingHostProc;
  wc.hInstance = GetModuleHandleA(nullptr);
  wc.lpszClassName = "TalvorEchoingHost";
  RegisterClassA(&wc);
  HWND echoHost = CreateWindowExA(0, "TalvorEchoingHost", "echo", WS_POPUP | WS_VISIBLE, 400, 20, 346, 566,
                                  nullptr, nullptr, GetModuleHandleA(nullptr), nullptr);
  ASSERT_NE(echoHost, nullptr);
  HWND child = static_cast<HWND>(ed.g->OpenWindow(echoHost));
  ASSERT_NE(child, nullptr);
  SetFocus(child);
  gEchoedKeys = 0;
  SendMessageA(child, WM_KEYDOWN, 'Q', 0x00100001);
  EXPECT_EQ(gEchoedKeys, 1) << "the key reaches the host once";
  gEchoedKeys = 0;
  SendMessageA(child, WM_KEYUP, 'Q', 0xC0100001);
  EXPECT_EQ(gEchoedKeys, 1);
  ed.g->CloseWindow();
  DestroyWindow(echoHost);
  UnregisterClassA("TalvorEchoingHost", GetModuleHandleA(nullptr));
}

TEST_F(EditorWindow, MissingImagesAndAZeroFrameRateStillGiveAWorkingEditor)
{
  // A module without the images (here: a system DLL) yields null bitmaps.
  void* saved = GetModuleInstance();
  SetModuleInstance(GetModuleHandleA("kernel32.dll"));
  {
    IGraphicsWin foreign(ed.plug.get(), 10, 10, 25);
    SetModuleInstance(saved);
    EXPECT_EQ(foreign.LoadImageResource(101, "BG.png"), nullptr);
  }
  SetModuleInstance(saved);

  // Controls built on those null strips open, paint, and take the mouse.
  IGraphicsWin g(ed.plug.get(), 200, 150, 0);
  BitmapStrip none;
  none.width = 100;
  none.height = 1100;
  none.frameCount = 11;
  g.AttachControl(new IKnobMultiControl(ed.plug.get(), 10, 10, kLowGain, none, 0, 1.0));
  ed.plug->ParamAt(kLowGain)->SetFromNormalized(0.5);
  g.ShowParameterValue(kLowGain, 0.5, true);
  g.PrepareDrawing();
  HWND child = static_cast<HWND>(g.OpenWindow(host.h));
  ASSERT_NE(child, nullptr);
  auto clean = [&] { return !g.GetControl(0)->NeedsRedraw(); };
  ASSERT_TRUE(PumpUntil(clean, kPaintTimeoutMs));
  SendPress(child, 50, 50);
  SendDrag(child, 50, 40);
  SendRelease(child, 50, 40);
  EXPECT_NEAR(g.GetControl(0)->Value(), 0.6, 1e-9);
  ASSERT_TRUE(PumpUntil(clean, kPaintTimeoutMs)) << "the timer runs at a default rate";
  g.CloseWindow();
}
