// The TALVOR editor: its layout, every control driving its parameter, the
// linked output knob, and the rendered panel against the artwork's frames.
#include <gtest/gtest.h>

#include <cmath>
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

// ---- Display scale -----------------------------------------------------------------------------

namespace {

// The opaque render's 0xRRGGBB pixels.
std::vector<uint32_t> Pixels(LICE_IBitmap* b)
{
  std::vector<uint32_t> px((size_t)b->getWidth() * b->getHeight());
  for (int y = 0; y < b->getHeight(); ++y)
    for (int x = 0; x < b->getWidth(); ++x) px[(size_t)y * b->getWidth() + x] = Px(b, x, y) & 0xFFFFFF;
  return px;
}

int Channel(uint32_t p, int c) { return (int)(p >> (8 * c)) & 0xFF; }

const BitmapStrip& StripOf(IControl* c)
{
  if (auto* k = dynamic_cast<IKnobMultiControl*>(c)) return k->Strip();
  return static_cast<IBitmapControl*>(c)->Strip();
}

// Editor pixels where the artwork itself differs between its sizes: where one
// of the frames drawn there, its 2x image averaged over 2 x 2 blocks, departs
// from its 1x image by more than 32 (premultiplied). Those are the small
// legends, hinted at each size on its own.
std::vector<bool> ArtworkDiffers(IGraphics* g)
{
  std::vector<bool> differs((size_t)346 * 566);
  for (int i = 0; i < g->NControls(); ++i)
  {
    IControl* c = g->GetControl(i);
    const BitmapStrip& s = StripOf(c);
    LICE_IBitmap* hi = BitmapCache::Instance().Find(s.resourceId + kHiResImageIdOffset);
    if (!s.bitmap || !hi) continue;
    const int fh = s.height / s.frameCount, top = (StripFrameForValue(s.frameCount, c->Value()) - 1) * fh;
    const IRect& r = c->Rect();
    for (int y = 0; y < r.H(); ++y)
      for (int x = 0; x < r.W(); ++x)
      {
        const uint32_t p1 = Px(s.bitmap, x, top + y);
        uint32_t q[4] = {Px(hi, 2 * x, 2 * (top + y)), Px(hi, 2 * x + 1, 2 * (top + y)),
                         Px(hi, 2 * x, 2 * (top + y) + 1), Px(hi, 2 * x + 1, 2 * (top + y) + 1)};
        for (int ch = 0; ch < 3; ++ch)
        {
          double avg = 0;
          for (uint32_t p : q) avg += Channel(p, ch) * Channel(p, 3) / 4.0 / 255.0;
          if (std::abs(avg - Channel(p1, ch) * Channel(p1, 3) / 255.0) > 32)
            differs[(size_t)(r.T + y) * 346 + r.L + x] = true;
        }
      }
  }
  return differs;
}

}  // namespace

TEST_F(TalvorEditor, TwiceTheSizeAveragedIsTheOneTimesRender)
{
  if (!StripOf(g->GetControl(0)).bitmap) GTEST_SKIP() << "editor images were not built in";
  const std::vector<std::pair<int, double>> settings[] = {
    {},
    {{kLowGain, 7}, {kMidFreq, 3}, {kHighFreq, 4}, {kHighGain, 1}, {kInput, -4.5}, {kOutput, 6}, {kFilter, 1}, {kBypass, 0}},
  };
  for (const auto& set : settings)
  {
    for (const auto& [param, value] : set) HostSets(param, value);
    ASSERT_TRUE(g->SetScale(1.0));
    g->Redraw(IRect(0, 0, 346, 566));
    const std::vector<uint32_t> one = Pixels(g->DrawBitmap());
    // Until a scale above 1 is drawn, no image of the 2x set is even opened.
    if (&set == &settings[0])
    {
      for (int id = BG_2X_ID; id <= LINK_2X_ID; ++id) EXPECT_EQ(BitmapCache::Instance().Find(id), nullptr) << id;
    }
    ASSERT_TRUE(g->SetScale(2.0));
    g->Redraw(IRect(0, 0, 692, 1132));
    const std::vector<uint32_t> two = Pixels(g->DrawBitmap());
    ASSERT_EQ(two.size(), (size_t)692 * 1132);
    const std::vector<bool> legends = ArtworkDiffers(g);
    double sum[3] = {};
    int compared = 0, beyond = 0;
    for (int y = 0; y < 566; ++y)
      for (int x = 0; x < 346; ++x)
      {
        if (legends[(size_t)y * 346 + x]) continue;
        ++compared;
        for (int ch = 0; ch < 3; ++ch)
        {
          const size_t at = (size_t)2 * y * 692 + 2 * x;
          const double avg = (Channel(two[at], ch) + Channel(two[at + 1], ch) + Channel(two[at + 692], ch) +
                              Channel(two[at + 693], ch)) / 4.0;
          const double d = std::abs(avg - Channel(one[(size_t)y * 346 + x], ch));
          sum[ch] += d;
          beyond += d > 32;
        }
      }
    EXPECT_GT(compared, 346 * 566 * 95 / 100) << "legend pixels set aside";
    for (int ch = 0; ch < 3; ++ch) EXPECT_LT(sum[ch] / compared, 1.0) << "channel " << ch;
    EXPECT_EQ(beyond, 0);
  }
}

TEST_F(TalvorEditor, OtherScalesHaveTheExactSizeAndNoSeams)
{
  if (!StripOf(g->GetControl(0)).bitmap) GTEST_SKIP() << "editor images were not built in";
  HostSets(kBypass, 0);  // the lamps unlit: a lit one's glow reaches its edge
  HostSets(kLowGain, 9);
  struct Case { double scale; int w, h; };
  for (const Case& c : {Case{1.5, 519, 849}, Case{3.0, 1038, 1698}, Case{1.25, 433, 708}})
  {
    SCOPED_TRACE(c.scale);
    ASSERT_TRUE(g->SetScale(c.scale));
    g->Redraw(IRect(0, 0, c.w, c.h));
    LICE_IBitmap* out = g->DrawBitmap();
    ASSERT_EQ(out->getWidth(), c.w);
    ASSERT_EQ(out->getHeight(), c.h);
    for (int y = 0; y < c.h; ++y)
      for (int x = 0; x < c.w; ++x) ASSERT_EQ(Px(out, x, y) >> 24, 0xFFu) << x << "," << y;
    // Along every control's edge its frame is clear: what shows there is what
    // lies beneath it, as drawn without the control.
    for (int i = 1; i < g->NControls(); ++i)
    {
      IControl* ctl = g->GetControl(i);
      const IRect r = g->PhysicalRect(ctl->Rect());
      ctl->SetHidden(true);
      g->Redraw(r);
      const std::vector<uint32_t> beneath = Pixels(out);
      ctl->SetHidden(false);
      g->Redraw(r);
      const std::vector<uint32_t> shown = Pixels(out);
      for (int y = r.T; y < r.B; ++y)
        for (int x = r.L; x < r.R; ++x)
        {
          if (y != r.T && y != r.B - 1 && x != r.L && x != r.R - 1) continue;
          bool covered = false;  // by a control drawn later
          for (int j = i + 1; j < g->NControls(); ++j)
          {
            const IRect o = g->PhysicalRect(g->GetControl(j)->Rect());
            covered |= x >= o.L && x < o.R && y >= o.T && y < o.B;
          }
          const size_t at = (size_t)y * c.w + x;
          for (int ch = 0; ch < 3 && !covered; ++ch)
            ASSERT_LE(std::abs(Channel(shown[at], ch) - Channel(beneath[at], ch)), 8) << i << " at " << x << "," << y;
        }
    }
  }
  for (double refused : {0.99, 3.01, -1.0, std::nan(""), HUGE_VAL})
  {
    EXPECT_FALSE(g->SetScale(refused));
    EXPECT_EQ(g->Scale(), 1.25);
  }
}
