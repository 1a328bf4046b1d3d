// The TALVOR editor: its layout, every control driving its parameter, the
// linked output knob, and the rendered panel against the artwork's frames.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <memory>

#include "GraphicsTestSupport.h"
#include "plugin/TALVOR.h"
#include "plugin/TalvorResources.h"

using namespace gtest_support;

namespace {

struct Row
{
  int param;
  IRect rect;
  bool knob;
  int direction;
  double gearing;
  int frames;
  const char* file;
};

const Row kLayout[] = {
  {kLowFreq, IRect(24, 445, 179, 520), true, kHorizontal, 1.0, 5, LF_FN},
  {kLowGain, IRect(57, 378, 164, 485), true, kVertical, 2.5, 11, LG_FN},
  {kMidFreq, IRect(23, 271, 179, 347), true, kHorizontal, 1.0, 5, MF_FN},
  {kMidGain, IRect(56, 202, 164, 310), true, kVertical, 2.5, 11, MG_FN},
  {kHighFreq, IRect(22, 98, 179, 174), true, kHorizontal, 1.0, 5, HF_FN},
  {kHighGain, IRect(57, 30, 164, 137), true, kVertical, 2.5, 11, HG_FN},
  {kInput, IRect(219, 30, 326, 137), true, kVertical, 2.0, 121, IN_FN},
  {kOutput, IRect(218, 377, 327, 486), true, kVertical, 2.0, 121, OUT_FN},
  {kBypass, IRect(258, 211, 286, 240), false, 0, 0.0, 2, BY_FN},
  {kFilter, IRect(258, 272, 286, 301), false, 0, 0.0, 2, FL_FN},
  {kLink, IRect(258, 242, 286, 270), false, 0, 0.0, 2, LINK_FN},
};

IMouseMod Left() { IMouseMod m; m.L = true; return m; }

struct TalvorEditor : ::testing::Test
{
  TALVOR plug{IPlugInstanceInfo()};
  IGraphics* g = plug.Editor();
  double Param(int i) { return plug.ParamAt(i)->Value(); }
  void HostSets(int idx, double value)  // as a binding applies a host change
  {
    plug.ParamAt(idx)->SetFromNormalized(plug.ParamAt(idx)->ToNormalized(value));
    g->ShowParameterValue(idx, plug.ParamAt(idx)->Value(), false);
    plug.ParamChanged(idx);
  }
};

}  // namespace

TEST_F(TalvorEditor, LayoutMatchesTheControlTable)
{
  ASSERT_NE(g, nullptr);
  EXPECT_EQ(g->Width(), 346);
  EXPECT_EQ(g->Height(), 566);
  EXPECT_EQ(g->FrameRate(), 25);
  ASSERT_EQ(g->NControls(), 12);
  auto* bg = dynamic_cast<IBitmapControl*>(g->GetControl(0));
  ASSERT_NE(bg, nullptr);
  EXPECT_EQ(bg->ParamIdx(), -1);
  EXPECT_EQ(bg->Blend().method, BlendOpaque);
  for (int i = 1; i <= 11; ++i)
  {
    const Row& r = kLayout[i - 1];
    IControl* c = g->GetControl(i);
    SCOPED_TRACE(r.file);
    EXPECT_EQ(c->ParamIdx(), r.param);
    EXPECT_EQ(c->Rect(), r.rect);
    EXPECT_TRUE(r.rect.L >= 0 && r.rect.T >= 0 && r.rect.R <= 346 && r.rect.B <= 566);
    EXPECT_EQ(c->Blend().method, BlendDefault);
    if (r.knob)
    {
      auto* k = dynamic_cast<IKnobMultiControl*>(c);
      ASSERT_NE(k, nullptr);
      EXPECT_EQ(k->Direction(), r.direction);
      EXPECT_EQ(k->Gearing(), r.gearing);
      EXPECT_EQ(k->Strip().frameCount, r.frames);
    }
    else
    {
      ASSERT_NE(dynamic_cast<ISwitchControl*>(c), nullptr);
    }
    // Every control starts at its parameter's default and has it as its reset value.
    EXPECT_DOUBLE_EQ(c->Value(), plug.ParamAt(r.param)->NormalizedValue());
    EXPECT_DOUBLE_EQ(c->DefaultValue(), c->Value());
  }

  // Shared areas of each band go to the gain knob; the selector is reached beside it.
  struct Probe { int x, y, param; };
  const Probe probes[] = {
    {57, 445, kLowGain}, {163, 484, kLowGain}, {170, 500, kLowFreq}, {30, 450, kLowFreq},
    {56, 271, kMidGain}, {163, 309, kMidGain}, {170, 280, kMidFreq},
    {57, 98, kHighGain}, {163, 136, kHighGain}, {170, 150, kHighFreq},
    {260, 242, kLink}, {260, 239, kBypass}, {260, 272, kFilter}, {220, 31, kInput}, {326, 485, kOutput},
  };
  for (const Probe& p : probes)
  {
    plug.hostEvents.clear();
    g->HandleMouseDown(p.x, p.y, Left());
    g->HandleMouseUp(p.x, p.y, Left());
    ASSERT_EQ(plug.hostEvents.size(), 2u + (p.param >= kBypass)) << p.x << "," << p.y;  // switches change on press
    EXPECT_EQ(plug.hostEvents.front().paramIdx, p.param) << p.x << "," << p.y;
  }
  plug.hostEvents.clear();
  g->HandleMouseDown(5, 5, Left());  // background
  g->HandleMouseUp(5, 5, Left());
  EXPECT_TRUE(plug.hostEvents.empty());
}

TEST_F(TalvorEditor, EveryKnobSweepsItsRangeAndEverySwitchToggles)
{
  for (int i = 1; i <= 8; ++i)
  {
    const Row& r = kLayout[i - 1];
    SCOPED_TRACE(r.file);
    const int x = r.rect.L + 2, y = r.rect.T + 2;
    // One knob length times the gearing covers the whole range.
    const int span = (int)((r.direction == kHorizontal ? r.rect.W() : r.rect.H()) * r.gearing);
    g->HandleMouseDown(x, y, Left());
    g->HandleMouseDrag(x - span, y + span, Left());  // to the minimum
    EXPECT_DOUBLE_EQ(Param(r.param), plug.ParamAt(r.param)->Min());
    if (r.direction == kHorizontal)
      g->HandleMouseDrag(x, y + span, Left());  // the whole width right
    else
      g->HandleMouseDrag(x - span, y, Left());  // the whole height (times gearing) up
    EXPECT_DOUBLE_EQ(Param(r.param), plug.ParamAt(r.param)->Max());
    g->HandleMouseUp(x, y, Left());
    g->HandleDoubleClick(x, y, Left());  // back to the default
    EXPECT_DOUBLE_EQ(Param(r.param), plug.ParamAt(r.param)->Default());
  }
  for (int i = 9; i <= 11; ++i)
  {
    const Row& r = kLayout[i - 1];
    const double before = Param(r.param);
    g->HandleMouseDown(r.rect.L + 1, r.rect.T + 1, Left());
    g->HandleMouseUp(r.rect.L + 1, r.rect.T + 1, Left());
    EXPECT_EQ(Param(r.param), 1.0 - before) << r.file;
  }
}

TEST_F(TalvorEditor, LinkMovesTheOutputKnob)
{
  plug.SetSampleRate(48000.0);
  std::vector<double> l(64), rr(64);
  double* io[2] = {l.data(), rr.data()};
  HostSets(kLink, 1);
  HostSets(kInput, 6.0);
  plug.ProcessBlock(io, io, 64);
  EXPECT_DOUBLE_EQ(Param(kOutput), -6.0);
  EXPECT_DOUBLE_EQ(g->GetControl(8)->Value(), 0.25);
  EXPECT_TRUE(g->GetControl(8)->NeedsRedraw());
  HostSets(kInput, -12.0);
  plug.ProcessBlock(io, io, 64);
  EXPECT_DOUBLE_EQ(g->GetControl(8)->Value(), 1.0);
}

TEST_F(TalvorEditor, RenderedPanelShowsTheArtworkFrames)
{
  if (!static_cast<IBitmapControl*>(g->GetControl(0))->Strip().bitmap)
    GTEST_SKIP() << "editor images were not built in";
  auto load = [](const char* name) {
    std::ifstream f(std::string(TALVOR_SOURCE_DIR) + "/" + name, std::ios::binary);
    std::vector<unsigned char> bytes((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
    return std::unique_ptr<LICE_MemBitmap>(DecodePng(bytes.data(), bytes.size(), nullptr));
  };
  HostSets(kLowGain, 7);
  HostSets(kMidFreq, 3);
  HostSets(kInput, 0.0);
  HostSets(kFilter, 1);
  g->Redraw(IRect(0, 0, 346, 566));
  LICE_IBitmap* out = g->DrawBitmap();

  auto bg = load(BG_FN);
  ASSERT_TRUE(bg);
  EXPECT_EQ(Px(out, 2, 2), Px(bg.get(), 2, 2) | 0xFF000000u);  // outside every control

  // Where a frame pixel is opaque and no later control covers it, it shows exactly.
  const int expectFrame[] = {0, 7, 3, 5, 0, 5, 60, 60, 1, 1, 0};  // 0-based, for rows 1..11
  for (int i = 1; i <= 11; ++i)
  {
    const Row& r = kLayout[i - 1];
    auto strip = load(r.file);
    ASSERT_TRUE(strip) << r.file;
    const int fh = strip->getHeight() / r.frames;
    int checked = 0;
    for (int y = r.rect.T; y < r.rect.B; ++y)
      for (int x = r.rect.L; x < r.rect.R; ++x)
      {
        bool covered = false;
        for (int j = i + 1; j <= 11; ++j)
          covered |= g->GetControl(j)->Contains(x, y);
        const uint32_t px = Px(strip.get(), x - r.rect.L, expectFrame[i - 1] * fh + y - r.rect.T);
        if (covered || (px >> 24) != 0xFF) continue;
        ASSERT_EQ(Px(out, x, y), px) << r.file << " at " << x << "," << y;
        ++checked;
      }
    EXPECT_GT(checked, 0) << r.file;
  }
}
