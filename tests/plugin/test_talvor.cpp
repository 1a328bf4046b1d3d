// The plug-in around its engine, as a host drives it: identity, parameters,
// the Link rule's effect on "Output" and the editor, and what hostile hosts
// and files can store in the parameters. The signal processing itself is
// tested on the engine (test_talvor_engine.cpp).
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

#include "graphics/IControl.h"
#include "graphics/IGraphics.h"
#include "plugin/TALVOR.h"
#include "tests/dsp/DspTestSupport.h"

namespace
{
const double kNaN = std::numeric_limits<double>::quiet_NaN();
const double kInf = std::numeric_limits<double>::infinity();

struct Rig
{
  TALVOR plug{IPlugInstanceInfo{}};
  Buffer outL, outR;

  explicit Rig(double fs = 48000.0) { plug.SetSampleRate(fs); }
  void Set(int idx, double v)
  {
    plug.ParamAt(idx)->SetClamped(v);
    plug.ParamChanged(idx);
  }
  // Stores a value no host path accepts, the way a damaged declaration could.
  void Force(int idx, double v)
  {
    ParamDef* p = plug.ParamAt(idx);
    char name[32];
    std::strcpy(name, p->NameForHost());
    p->InitContinuous(name, v, p->Min(), p->Max(), p->Step(), 1.0);
    plug.ParamChanged(idx);
  }
  void Run(const Buffer& l, const Buffer& r, int block)
  {
    RunInBlocks([this](double** in, double** out, int n) { plug.ProcessBlock(in, out, n); }, l, r, block, outL,
                outR);
  }
  void Block(int frames)
  {
    Buffer z((size_t)std::max(frames, 1), 0.0);
    double* p[2] = {z.data(), z.data()};
    plug.ProcessBlock(p, p, frames);
  }
};


}  // namespace

TEST(TalvorDefinition, IdentityParametersPresetAndInitialTargets)
{
  TALVOR plug{IPlugInstanceInfo{}};
  EXPECT_STREQ(plug.EffectName(), "TALVOR");
  EXPECT_STREQ(plug.ProductName(), "");
  EXPECT_STREQ(plug.MakerName(), "SilverMeadowLab");
  EXPECT_EQ(plug.Version(), 0x00020000);
  EXPECT_EQ(plug.UniqueId(), ('T' << 24) | ('l' << 16) | ('v' << 8) | '1');
  EXPECT_EQ(plug.MakerId(), ('S' << 24) | ('m' << 16) | ('l' << 8) | 'b');
  EXPECT_TRUE(plug.LegalIO(1, 1) && plug.LegalIO(2, 2) && !plug.LegalIO(1, 2));

  const char* names[kNumParams] = {"Low Gain", "Low Freq", "Mid Gain", "Mid Freq", "High Gain", "High Freq",
                                   "Input",    "Output",   "Bypass",   "Filter",   "Link"};
  const double defaults[kNumParams] = {5, 0, 5, 0, 5, 0, 0, 0, 1, 0, 0};
  const double maxima[kNumParams] = {10, 4, 10, 4, 10, 4, 12, 12, 1, 1, 1};
  ASSERT_EQ(plug.ParamCount(), kNumParams);
  ASSERT_EQ(plug.PresetCount(), 1);
  EXPECT_STREQ(plug.PresetName(0), "-");
  const StateChunk& preset = plug.PresetAt(0)->state;
  ASSERT_EQ(preset.Size(), 88);
  for (int i = 0, pos = 0; i < kNumParams; ++i)
  {
    const ParamDef* p = plug.ParamAt(i);
    const bool gain = i == kInput || i == kOutput;
    EXPECT_STREQ(p->NameForHost(), names[i]);
    EXPECT_EQ(p->Value(), defaults[i]) << i;
    EXPECT_EQ(p->Min(), gain ? -12.0 : 0.0) << i;
    EXPECT_EQ(p->Max(), maxima[i]) << i;
    EXPECT_EQ(p->Kind(), gain ? ParamKindDouble : ParamKindInt) << i;
    EXPECT_EQ(p->DisplayPrecision(), gain ? 2 : 0) << i;
    double stored = -1;
    pos = preset.GetDouble(&stored, pos);
    EXPECT_EQ(stored, defaults[i]) << i;
  }

  // Targets already follow the parameters, so the first block designs sanely.
  const TalvorTargets& t = plug.Engine().Targets();
  EXPECT_TRUE(t.hpFreq == 2.2 && t.hpQ == 0.5 && t.lowFreq == 56.0 / 9.0 && t.midFreq == 394.0 &&
              t.midBandwidth == 0.18 && t.highFreq == 9900.0);
}

TEST(TalvorProcessing, EveryParameterReachesItsEngineSetting)
{
  // The same block sequence through the plug-in and through an engine set up
  // by hand, one parameter away from its default at a time, with the input
  // lifted so that "Link" has something to mirror.
  using Apply = void (*)(TalvorEngine&, TalvorSwitches&);
  const struct
  {
    int idx;
    double value;
    Apply apply;
  } cases[] = {
    {kLowGain, 8, [](TalvorEngine& e, TalvorSwitches&) { e.SetLowGain(8); }},
    {kLowFreq, 3, [](TalvorEngine& e, TalvorSwitches&) { e.SetLowFreq(3); }},
    {kMidGain, 2, [](TalvorEngine& e, TalvorSwitches&) { e.SetMidGain(2); }},
    {kMidFreq, 4, [](TalvorEngine& e, TalvorSwitches&) { e.SetMidFreq(4); }},
    {kHighGain, 9, [](TalvorEngine& e, TalvorSwitches&) { e.SetHighGain(9); }},
    {kHighFreq, 2, [](TalvorEngine& e, TalvorSwitches&) { e.SetHighFreq(2); }},
    {kInput, -4.5, [](TalvorEngine& e, TalvorSwitches&) { e.SetInputDb(-4.5); }},
    {kOutput, 3.25, [](TalvorEngine& e, TalvorSwitches&) { e.SetOutputDb(3.25); }},
    {kBypass, 0, [](TalvorEngine&, TalvorSwitches& s) { s.processed = false; }},
    {kFilter, 1, [](TalvorEngine& e, TalvorSwitches& s) { e.SetFilter(1); s.filterOn = true; }},
    {kLink, 1, [](TalvorEngine&, TalvorSwitches& s) { s.linked = true; }},
  };
  const Buffer x = Sine(2500, 48000, 0.05, 0.7), y = Sine(90, 48000, 0.05, 0.4);
  for (const auto& c : cases)
  {
    Rig rig;
    rig.Set(kInput, 5.0);
    rig.Set(c.idx, c.value);
    rig.Run(x, y, 300);

    TalvorEngine engine;
    TalvorSwitches switches;
    engine.SetInputDb(5.0);
    c.apply(engine, switches);
    Buffer l, r;
    RunInBlocks([&](double** in, double** out, int n) { engine.ProcessBlock(48000.0, switches, in, out, n); }, x, y,
                300, l, r);
    EXPECT_EQ(rig.outL, l) << c.idx;
    EXPECT_EQ(rig.outR, r) << c.idx;
  }

  // The switches are read at every block, even when a value was stored
  // without a change notification (a VST3 controller's own parameter write).
  Rig rig;
  rig.plug.ParamAt(kBypass)->SetClamped(0);
  rig.Run(x, y, 300);
  EXPECT_EQ(rig.outL, x);
}

TEST(TalvorPreparation, LinkMirrorsInputIntoOutput)
{
  Rig rig;
  rig.Set(kLink, 1);
  rig.Set(kInput, 6.0);
  rig.Block(16);
  EXPECT_EQ(rig.plug.ParamAt(kOutput)->Value(), -6.0);
  EXPECT_EQ(rig.plug.Engine().Targets().outputDb, -6.0);
  if (IGraphics* editor = rig.plug.Editor())
  {
    int shown = 0;
    for (int i = 0; i < editor->NControls(); ++i)
    {
      const IControl* c = editor->GetControl(i);
      shown += c->ParamIdx() == kOutput && c->Value() == rig.plug.ParamAt(kOutput)->ToNormalized(-6.0);
    }
    EXPECT_EQ(shown, 1);
  }

  rig.Set(kInput, -12.0);
  rig.Block(16);
  EXPECT_EQ(rig.plug.ParamAt(kOutput)->Value(), 12.0);
  rig.Set(kInput, 0.0);
  rig.Block(16);
  EXPECT_FALSE(std::signbit(rig.plug.ParamAt(kOutput)->Value()));

  // Off again: the linked gain stays until "Output" itself moves.
  rig.Set(kInput, 4.0);
  rig.Block(16);
  rig.Set(kLink, 0);
  rig.Set(kInput, 9.0);
  rig.Block(16);
  EXPECT_EQ(rig.plug.Engine().Targets().outputDb, -4.0);
  rig.Set(kOutput, 2.5);
  rig.Block(16);
  EXPECT_EQ(rig.plug.Engine().Targets().outputDb, 2.5);
}

TEST(TalvorRobustness, HostileParameterValuesStayInsideTheTables)
{
  Rig rig;
  rig.Force(kMidGain, kNaN);
  EXPECT_EQ(rig.plug.Engine().Targets().midGainDb, -12.2);
  rig.Force(kLowFreq, 1e300);
  EXPECT_EQ(rig.plug.Engine().Targets().lowFreq, 36.0);
  rig.Force(kHighGain, -1e300);
  EXPECT_EQ(rig.plug.Engine().Targets().highGainDb, -12.3);
  rig.Force(kHighFreq, kInf);
  EXPECT_EQ(rig.plug.Engine().Targets().highFreq, 19000.0);
  rig.Force(kFilter, 3e9);
  EXPECT_EQ(rig.plug.Engine().Targets().hpFreq, 15.0);
  rig.Force(kInput, kNaN);
  EXPECT_EQ(rig.plug.Engine().Targets().inputDb, 0.0);
  rig.Force(kOutput, kInf);
  EXPECT_EQ(rig.plug.Engine().Targets().outputDb, 12.0);
  rig.Force(kBypass, kNaN);
  rig.Force(kLink, -kInf);
  const Buffer x = Sine(500, 48000, 0.2, 0.5);
  rig.Run(x, x, 128);
  EXPECT_TRUE(AllFinite(rig.outL) && AllFinite(rig.outR));
  rig.plug.ParamChanged(-1);
  rig.plug.ParamChanged(kNumParams);
}
