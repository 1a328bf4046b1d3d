// The equaliser engine on its own: per-block preparation and the sample
// chain, including what hostile hosts can throw at it.
#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <cstring>
#include <limits>
#include <memory>
#include <vector>

#include "dsp/TalvorEngine.h"
#include "dsp/Waveshaper.h"
#include "tests/dsp/DspTestSupport.h"

namespace
{
const double kPi = 3.14159265358979323846;
const double kNaN = std::numeric_limits<double>::quiet_NaN();
const double kInf = std::numeric_limits<double>::infinity();
const double kTrim = std::pow(10.0, -0.01);

struct Rig
{
  TalvorEngine engine;
  TalvorSwitches switches;
  double fs;
  Buffer outL, outR;

  explicit Rig(double rate = 48000.0) : fs(rate) {}
  void Run(const Buffer& l, const Buffer& r, int block)
  {
    auto process = [this](double** in, double** out, int n) { engine.ProcessBlock(fs, switches, in, out, n); };
    RunInBlocks(process, l, r, block, outL, outR);
  }
  void Block(int frames)
  {
    Buffer z((size_t)std::max(frames, 1), 0.0);
    double* p[2] = {z.data(), z.data()};
    engine.ProcessBlock(fs, switches, p, p, frames);
  }
};

// Amplitude of one frequency over the second half of a signal.
double Amplitude(const Buffer& y, double freq, double fs)
{
  double s = 0, c = 0;
  const size_t from = y.size() / 2;
  for (size_t i = from; i < y.size(); ++i)
  {
    s += y[i] * std::sin(2 * kPi * freq * (double)i / fs);
    c += y[i] * std::cos(2 * kPi * freq * (double)i / fs);
  }
  return 2.0 * std::hypot(s, c) / (double)(y.size() - from);
}

double GainDb(Rig& rig, double freq, double fs, double seconds = 1.0)
{
  const Buffer x = Sine(freq, fs, seconds);
  rig.Run(x, x, 512);
  return 20 * std::log10(Amplitude(rig.outL, freq, fs) / 1e-3);
}

template <class S>
std::complex<double> Response(const S& s, double w)
{
  const std::complex<double> z1 = std::polar(1.0, -w), z2 = z1 * z1;
  return (s.b0 + s.b1 * z1 + s.b2 * z2) / (1.0 + s.a1 * z1 + s.a2 * z2);
}

}  // namespace

TEST(TalvorChain, SettledSmallSignalGainMatchesTheDesignedSections)
{
  Rig rig;
  const double fs = 48000, f = 1000;
  const double db = GainDb(rig, f, fs);
  const TalvorChannelSections& s = rig.engine.Sections(0);
  const double w = 2 * kPi * f / fs;
  const double sections = std::abs(Response(s.highpass, w) * Response(s.mid, w) * Response(s.lowShelf, w) *
                                   Response(s.highShelf, w));
  EXPECT_NEAR(db, 20 * std::log10(1.2 * kTrim * sections), 0.01);
  // 1.2 from the waveshaper, -0.2 dB trim, plus the small band offsets.
  EXPECT_GT(db, 1.38);
  EXPECT_LT(db, 1.38 + 0.55);
}

TEST(TalvorChain, SilenceSettlesToTheOutputOffset)
{
  Rig rig;
  const Buffer zero(48000 * 3, 0.0);
  rig.Run(zero, zero, 512);
  EXPECT_NEAR(rig.outL.back(), -1e-10 * kTrim, 1e-14);
  EXPECT_NEAR(rig.outR.back(), -1e-10 * kTrim, 1e-14);
}

TEST(TalvorChain, FilterSwitchBandLimits)
{
  const double fs = 44100;
  Rig off(fs), on(fs);
  on.engine.SetFilter(1);
  on.switches.filterOn = true;
  // Above 19.1 kHz only the switched low-pass acts.
  EXPECT_LT(GainDb(on, 20500, fs, 0.2), GainDb(off, 20500, fs, 0.2) - 3.0);
  // 10 Hz: the 15 Hz high-pass rolls it off, the 2.2 Hz one barely touches it.
  const double on10 = GainDb(on, 10, fs, 2.0), off10 = GainDb(off, 10, fs, 2.0);
  EXPECT_LT(on10, off10 - 6.0);
  EXPECT_GT(off10, 1.38 - 1.0);
  EXPECT_LT(GainDb(off, 1, fs, 8.0), off10 - 10.0);
}

TEST(TalvorChain, BypassCopiesInputBitForBit)
{
  Rig rig;
  rig.switches.processed = false;
  rig.engine.SetInputDb(7.5);
  rig.engine.SetLowGain(10);
  Buffer x = Sine(3000, 48000, 0.05, 0.9);
  x[3] = kNaN;
  x[4] = -kInf;
  x[5] = 5e-324;
  x[6] = -0.0;
  rig.Run(x, x, 100);
  EXPECT_EQ(std::memcmp(rig.outL.data(), x.data(), x.size() * sizeof(double)), 0);
  EXPECT_EQ(std::memcmp(rig.outR.data(), x.data(), x.size() * sizeof(double)), 0);
  // The sections keep running, the output gain does not glide.
  EXPECT_NE(rig.engine.Sections(0).highpass.z1, 0.0);
  EXPECT_EQ(rig.engine.Smoothers().outputGain.state, 1.0);
  EXPECT_EQ(rig.engine.Smoothers().inputGain.state, std::pow(10.0, 7.5 / 20));

  // In-place processing behaves the same with the equaliser in circuit.
  Rig a, b;
  const Buffer y = Sine(440, 48000, 0.1, 0.5);
  a.Run(y, y, 256);
  Buffer l = y, r = y;
  for (size_t pos = 0; pos < l.size(); pos += 256)
  {
    double* io[2] = {l.data() + pos, r.data() + pos};
    b.engine.ProcessBlock(b.fs, b.switches, io, io, (int)std::min<size_t>(256, l.size() - pos));
  }
  EXPECT_EQ(l, a.outL);
  EXPECT_EQ(r, a.outR);
}

TEST(TalvorChain, AnyBlockCutMatchesAFrameByFrameChain)
{
  // Once the per-block smoothers have settled every block gets the same
  // designs, so the chain can be run here frame by frame from copies of the
  // sections: input gain (one smoother stepped left then right), waveshaper,
  // high-pass and low-pass, mid, shelves, 32-bit rounding between stages,
  // output gain and trim. The engine, which works its input stage ahead of
  // the filters, must agree bit for bit however the host cuts the blocks.
  const Buffer x = Sine(1700, 48000, 0.1, 0.9), y = Sine(230, 48000, 0.1, 1.3);
  auto settled = [] {
    auto rig = std::make_unique<Rig>();
    rig->engine.SetInputDb(9.5);
    rig->engine.SetOutputDb(-3.0);
    rig->engine.SetFilter(1);
    rig->switches.filterOn = true;
    rig->engine.SetMidGain(8);
    for (int i = 0; i < 3000; ++i)
      rig->Block(0);
    return rig;
  };

  const auto ref = settled();
  TalvorChannelSections s[2] = {ref->engine.Sections(0), ref->engine.Sections(1)};
  OnePoleSmoother in = ref->engine.Smoothers().inputGain, out = ref->engine.Smoothers().outputGain;
  const double gIn = std::pow(10.0, 9.5 / 20), gOut = std::pow(10.0, -3.0 / 20);
  auto r32 = [](double v) { return (double)(float)v; };
  Buffer wantL(x.size()), wantR(x.size());
  for (size_t i = 0; i < x.size(); ++i)
  {
    const double a[2] = {SaturateSample((x[i] + 1e-10) * in.process(gIn)),
                         SaturateSample((y[i] + 1e-10) * in.process(gIn))};
    double c[2];
    for (int ch = 0; ch < 2; ++ch)
    {
      const double b = s[ch].lowpass.process((float)r32(s[ch].highpass.process(r32(a[ch]))));
      c[ch] = r32(s[ch].highShelf.process(r32(s[ch].lowShelf.process(r32(s[ch].mid.process(b))))));
    }
    wantL[i] = (c[0] - 1e-10) * out.process(gOut) * kTrim;
    wantR[i] = (c[1] - 1e-10) * out.process(gOut) * kTrim;
  }

  for (int block : {512, 1, 3, 63, 64, 65, 130, 4800})
  {
    const auto rig = settled();
    rig->Run(x, y, block);
    EXPECT_EQ(rig->outL, wantL) << block;
    EXPECT_EQ(rig->outR, wantR) << block;
  }
}

TEST(TalvorPreparation, StartsAtTheSettingsThenGlidesInStepsOfTime)
{
  // Whatever the first block's size, even none, it starts at the settings.
  for (int frames : {0, -5, 1, 4096})
  {
    Rig rig;
    rig.engine.SetLowGain(10);
    rig.engine.SetInputDb(6.0);
    double sentinel[2] = {0.25, -0.75};
    double* p[2] = {&sentinel[0], &sentinel[1]};
    if (frames < 2)
      rig.engine.ProcessBlock(rig.fs, rig.switches, p, p, frames);
    else
      rig.Block(frames);
    if (frames < 1)
    {
      EXPECT_EQ(sentinel[0], 0.25);  // no frames: nothing written
    }
    EXPECT_EQ(rig.engine.Sections(0).lowShelf.gainDb, 12.5 + 0.25) << frames;
    EXPECT_EQ(rig.engine.Sections(1).lowShelf.gainDb, 12.5 + 0.25) << frames;
    EXPECT_EQ(rig.engine.Smoothers().inputGain.state, std::pow(10.0, 6.0 / 20)) << frames;
    EXPECT_EQ(rig.engine.Sections(0).highpass.fc, 2.2 / 48000) << frames;
  }

  Rig rig;
  rig.Block(64);
  rig.engine.SetMidGain(10);
  // Empty blocks take no time: nothing glides.
  rig.Block(0);
  EXPECT_EQ(rig.engine.Smoothers().midGain.state, 0.0);
  // The next frame falls on a glide step; both channels get the same design.
  rig.Block(1);
  const double b = std::exp(-(double)TalvorEngine::kControlInterval / (48000 * TalvorEngine::kGlideSeconds));
  EXPECT_NEAR(rig.engine.Smoothers().midGain.state, (1 - b) * 12.3, 1e-12);
  EXPECT_GT(rig.engine.Smoothers().midBandwidth.state, 0.18);
  EXPECT_EQ(rig.engine.Sections(0).mid.b0, rig.engine.Sections(1).mid.b0);
  EXPECT_EQ(rig.engine.Sections(0).mid.a1, rig.engine.Sections(1).mid.a1);
  // It lands on the target exactly.
  rig.Block(48000);
  EXPECT_EQ(rig.engine.Smoothers().midGain.state, 12.3);

  // A value between positions selects the lower one.
  rig.engine.SetMidFreq(2.7);
  EXPECT_EQ(rig.engine.Targets().midFreq, 1492.0);
  rig.engine.SetFilter(0.5);
  EXPECT_EQ(rig.engine.Targets().hpFreq, 2.2);

  // The gains glide frame by frame with an 8 ms time constant (one smoother
  // stepped twice per frame), however the host cuts its blocks.
  Rig one, many;
  for (Rig* r : {&one, &many})
  {
    r->Block(1);
    r->engine.SetInputDb(-20.0 * std::log10(2.0));
  }
  one.Block(384);  // 8 ms at 48 kHz
  for (int n : {1, 7, 100, 276})
    many.Block(n);
  const double g = one.engine.Smoothers().inputGain.state;
  EXPECT_NEAR((1 - g) / 0.5, 1 - std::exp(-1.0), 0.01);
  EXPECT_EQ(many.engine.Smoothers().inputGain.state, g);
}

TEST(TalvorRobustness, NonFiniteAndHugeInputRecover)
{
  for (double bad : {kNaN, kInf, -kInf, 1e300, -1e308})
  {
    Rig clean, hit;
    Buffer x = Sine(1000, 48000, 1.0, 0.1);
    clean.Run(x, x, 256);
    for (size_t i = 12000; i < 12100; ++i)
      x[i] = bad;
    hit.Run(x, x, 256);
    // Finite from the block after the burst on, and back to the clean level
    // within a fraction of a second.
    // A non-finite sample is silence to the processed path; a huge one
    // overflows inside the chain and is cleared at the next block.
    const size_t from = std::isfinite(bad) ? (12100 / 256 + 1) * 256 : 0;
    EXPECT_TRUE(AllFinite(Buffer(hit.outL.begin() + from, hit.outL.end()))) << bad;
    EXPECT_TRUE(AllFinite(Buffer(hit.outR.begin() + from, hit.outR.end()))) << bad;
    const double ref = Amplitude(clean.outL, 1000, 48000), got = Amplitude(hit.outL, 1000, 48000);
    EXPECT_NEAR(20 * std::log10(got / ref), 0.0, 0.1) << bad;
    EXPECT_TRUE(hit.engine.Sections(0).highpass.stateIsFinite());
  }
}

TEST(TalvorRobustness, UnusableSampleRatesAndBuffers)
{
  Rig rig(96000);
  rig.Block(32);
  for (double fs : {0.0, -44100.0, kNaN, kInf, 1e-300})
  {
    rig.fs = fs;
    const Buffer x = Sine(700, 96000, 0.05, 0.5);
    rig.Run(x, x, 64);
    EXPECT_EQ(rig.engine.DesignSampleRate(), 96000.0) << fs;
    EXPECT_TRUE(AllFinite(rig.outL) && AllFinite(rig.outR)) << fs;
  }
  // Rates below the corner frequencies, every band at its extreme.
  for (double fs : {8000.0, 22050.0, 32000.0})
  {
    Rig low(fs);
    low.engine.SetLowGain(10);
    low.engine.SetMidGain(10);
    low.engine.SetHighGain(10);
    low.engine.SetLowFreq(4);
    low.engine.SetMidFreq(4);
    low.engine.SetHighFreq(4);
    low.engine.SetFilter(1);
    low.switches.filterOn = true;
    const Buffer x = Sine(fs / 5, fs, 1.0, 0.5);
    low.Run(x, x, 512);
    double peak = 0;
    for (double v : low.outL)
      peak = std::max(peak, std::fabs(v));
    EXPECT_LT(peak, 10.0) << fs;
  }
  // Missing buffers read as silence and are not written.
  Rig nulls;
  double buf[8] = {1, 1, 1, 1, 1, 1, 1, 1};
  double* half[2] = {buf, nullptr};
  nulls.engine.ProcessBlock(nulls.fs, nulls.switches, nullptr, nullptr, 8);
  nulls.engine.ProcessBlock(nulls.fs, nulls.switches, half, half, 8);
  EXPECT_TRUE(std::isfinite(buf[7]));
}
