// The built VST 2.4 module in motion: what a host hears when settings hold,
// glide, link and switch, at every block size and sample rate.

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <utility>
#include <vector>

#include "tests/dsp/DspTestSupport.h"
#include "tests/vst2/Vst2Module.h"

namespace
{
// Parameter index and normalised value, as a host sends them.
using Settings = std::vector<std::pair<int, float>>;

float Position(int idx, int position) { return (float)position / (idx == kLowFreq || idx == kMidFreq || idx == kHighFreq ? 4.0f : idx >= kBypass ? 1.0f : 10.0f); }
float GainDb(double db) { return (float)((db + 12.0) / 24.0); }

struct Stereo
{
  Buffer l, r;
};

// Settings sent before the block that starts at a frame: a multiple of every
// block size used, so that every host applies them at the same frame.
using Changes = std::vector<std::pair<size_t, Settings>>;

// One instance at `rate`, set to `start`, fed the source in blocks of `block`
// frames with `changes` sent on the way. Double or float processing.
Stereo Render(float rate, int block, const Settings& start, const Stereo& in, const Changes& changes = {},
              bool floats = false)
{
  Instance fx;
  fx.fx.Start(rate, block);
  for (auto [idx, v] : start) fx.e->setParameter(fx.e, idx, v);
  Stereo out{Buffer(in.l.size()), Buffer(in.r.size())};
  std::vector<float> fin[2], fout[2];
  for (size_t pos = 0; pos < in.l.size(); pos += (size_t)block)
  {
    for (const auto& [at, settings] : changes)
      for (auto [idx, v] : settings)
        if (at == pos) fx.e->setParameter(fx.e, idx, v);
    const int n = (int)std::min<size_t>((size_t)block, in.l.size() - pos);
    const Buffer* src[2] = {&in.l, &in.r};
    Buffer* dst[2] = {&out.l, &out.r};
    if (!floats)
    {
      double* i2[2] = {const_cast<double*>(in.l.data() + pos), const_cast<double*>(in.r.data() + pos)};
      double* o2[2] = {out.l.data() + pos, out.r.data() + pos};
      fx.e->processDoubleReplacing(fx.e, i2, o2, n);
      continue;
    }
    for (int c = 0; c < 2; ++c)
    {
      fin[c].assign(src[c]->begin() + (long)pos, src[c]->begin() + (long)pos + n);
      fout[c].assign((size_t)n, 0.0f);
    }
    float* i2[2] = {fin[0].data(), fin[1].data()};
    float* o2[2] = {fout[0].data(), fout[1].data()};
    fx.e->processReplacing(fx.e, i2, o2, n);
    for (int c = 0; c < 2; ++c) std::copy(fout[c].begin(), fout[c].end(), dst[c]->begin() + (long)pos);
  }
  return out;
}

// Sines of the given frequencies and amplitudes, the same in both channels,
// each starting its period at frame `phaseZero`.
Stereo Tones(double rate, double seconds, std::vector<std::pair<double, double>> tones, size_t phaseZero = 0)
{
  const double pi = 3.14159265358979323846;
  Buffer x((size_t)(rate * seconds), 0.0);
  for (auto [freq, amp] : tones)
    for (size_t i = 0; i < x.size(); ++i)
      x[i] += amp * std::sin(2 * pi * freq * ((double)i - (double)phaseZero) / rate);
  return {x, x};
}

bool SameBytes(const Buffer& a, const Buffer& b)
{
  return a.size() == b.size() && std::memcmp(a.data(), b.data(), a.size() * sizeof(double)) == 0;
}

const Settings kAwayFromFlat = {{kLowGain, Position(kLowGain, 8)},   {kLowFreq, Position(kLowFreq, 2)},
                                {kMidGain, Position(kMidGain, 3)},   {kMidFreq, Position(kMidFreq, 2)},
                                {kHighGain, Position(kHighGain, 9)}, {kHighFreq, Position(kHighFreq, 1)},
                                {kInput, GainDb(6.0)},               {kOutput, GainDb(-3.0)},
                                {kFilter, 1.0f}};
}  // namespace

TEST(Vst2Motion, FixedSettingsRenderTheSameBytesAtEveryBlockSizeSettledFromTheStart)
{
  // 1 kHz, 3 kHz and 200 Hz: whole periods in every 10 ms at 48 kHz.
  const Stereo in = Tones(48000, 0.5, {{1000, 0.2}, {3000, 0.1}, {200, 0.2}});
  for (bool floats : {false, true})
  {
    const Stereo first = Render(48000, 1, kAwayFromFlat, in, {}, floats);
    for (int block : {64, 512, 4096})
    {
      const Stereo other = Render(48000, block, kAwayFromFlat, in, {}, floats);
      EXPECT_TRUE(SameBytes(first.l, other.l) && SameBytes(first.r, other.r)) << block << (floats ? " float" : "");
    }
    // The first 10 ms are what an instance long settled on silence gives.
    Stereo late = in;
    late.l.insert(late.l.begin(), 24576, 0.0);
    late.r.insert(late.r.begin(), 24576, 0.0);
    const Stereo settled = Render(48000, 512, kAwayFromFlat, late, {}, floats);
    EXPECT_LT(ResidueDb(first.l, Buffer(settled.l.begin() + 24576, settled.l.end()), 0, 480), -100.0);
  }
}

TEST(Vst2Motion, SteppedControlsGlideInTimeAtEveryBlockSizeAndRate)
{
  struct Case
  {
    const char* what;
    Settings start, change;
    double probeHz;         // whole periods at every rate
    double minMs, maxMs;    // time to 90 % of the level change at the probe
  };
  const Case cases[] = {
    {"mid gain", {}, {{kMidGain, Position(kMidGain, 10)}}, 300, 20, 40},
    {"mid freq", {{kMidGain, Position(kMidGain, 10)}}, {{kMidFreq, Position(kMidFreq, 2)}}, 300, 5, 40},
    {"low gain", {}, {{kLowGain, Position(kLowGain, 0)}}, 300, 20, 40},
    {"high-pass", {}, {{kFilter, 1.0f}}, 12.5, 5, 120},
  };
  const size_t kChangeAt = 32768;
  for (const Case& c : cases)
  {
    std::vector<double> times;
    for (double rate : {44100.0, 48000.0, 96000.0, 192000.0})
    {
      // The probe's phase at the change is the same at every rate.
      const Stereo in = Tones(rate, (double)kChangeAt / rate + 0.4, {{c.probeHz, 0.01}}, kChangeAt);
      const Stereo ref = Render((float)rate, 1, c.start, in, {{kChangeAt, c.change}});
      for (int block : {64, 512, 4096})
      {
        const Stereo other = Render((float)rate, block, c.start, in, {{kChangeAt, c.change}});
        EXPECT_TRUE(SameBytes(ref.l, other.l)) << c.what << " " << rate << " " << block;
      }
      // A mono source stays mono while the sections glide.
      EXPECT_TRUE(SameBytes(ref.l, ref.r)) << c.what << " " << rate;

      const size_t period = (size_t)std::lround(rate / c.probeHz), hop = (size_t)(rate / 2000);
      const double before = PeriodLevelDb(ref.l, kChangeAt - period, period);
      const double after = PeriodLevelDb(ref.l, ref.l.size() - period, period);
      size_t at = kChangeAt - period;
      while (at + period < ref.l.size() &&
             std::fabs(PeriodLevelDb(ref.l, at, period) - before) < 0.9 * std::fabs(after - before))
        at += hop;
      times.push_back(1000.0 * ((double)at + (double)period / 2 - (double)kChangeAt) / rate);
    }
    for (double t : times)
    {
      EXPECT_GE(t, c.minMs) << c.what;
      EXPECT_LE(t, c.maxMs) << c.what;
      EXPECT_NEAR(t / times[0], 1.0, 0.1) << c.what << ": " << t << " ms against " << times[0] << " ms";
    }
    std::printf("%s: 90 %% after %.1f / %.1f / %.1f / %.1f ms at 44.1 / 48 / 96 / 192 kHz\n", c.what, times[0],
                times[1], times[2], times[3]);
  }
}

TEST(Vst2Motion, LinkedInputMovesHoldTheLevel)
{
  const size_t kChangeAt = 8192;
  const Stereo in = Tones(48000, 0.5, {{1000, 0.01}});
  for (double db : {3.0, -3.0, 6.0, -6.0, 12.0, -12.0})
  {
    const Stereo out = Render(48000, 512, {{kLink, 1.0f}}, in, {{kChangeAt, {{kInput, GainDb(db)}}}});
    const double before = PeriodLevelDb(out.l, kChangeAt - 48, 48), after = PeriodLevelDb(out.l, out.l.size() - 48, 48);
    double loudest = -400.0;
    for (size_t at = kChangeAt - 48; at + 48 < out.l.size(); at += 12)
      loudest = std::max(loudest, PeriodLevelDb(out.l, at, 48));
    EXPECT_LE(loudest - std::max(before, after), 1.0) << db << " dB";
    std::printf("Input %+.0f dB linked: %+.2f dB above the steady levels\n", db, loudest - std::max(before, after));
  }
}

TEST(Vst2Motion, SwitchesCrossFadeWithoutClicksAndResumeFromLiveState)
{
  const size_t kChangeAt = 8192;
  const size_t ms = 48;
  // A boosted band; a low tone, whose own steps are small, for "Bypass", and
  // content near the top for the low-pass.
  const Settings boosted = {{kMidGain, Position(kMidGain, 10)}, {kMidFreq, Position(kMidFreq, 0)}};
  const Stereo low = Tones(48000, 0.4, {{200, 0.25}}), bright = Tones(48000, 0.4, {{1000, 0.25}, {15000, 0.02}});
  struct Case
  {
    const char* what;
    Settings start, change;
    const Stereo& in;
  };
  const Case cases[] = {
    {"bypass", {{kBypass, 1.0f}}, {{kBypass, 0.0f}}, low},
    {"back in", {{kBypass, 0.0f}}, {{kBypass, 1.0f}}, low},
    {"filter on", {{kFilter, 0.0f}}, {{kFilter, 1.0f}}, bright},
    {"filter off", {{kFilter, 1.0f}}, {{kFilter, 0.0f}}, bright},
  };
  for (const Case& c : cases)
  {
    const Stereo& in = c.in;
    Settings start = boosted, after = boosted;
    start.insert(start.end(), c.start.begin(), c.start.end());
    after.insert(after.end(), c.change.begin(), c.change.end());
    const Stereo out = Render(48000, 512, start, in, {{kChangeAt, c.change}});
    const Stereo settled = Render(48000, 512, after, in);
    const double own = std::max(LargestStep(out.l, kChangeAt - 20 * ms, kChangeAt),
                                LargestStep(out.l, kChangeAt + 50 * ms, kChangeAt + 70 * ms));
    const double step = LargestStep(out.l, kChangeAt, kChangeAt + 20 * ms) / own;
    const double residue = ResidueDb(out.l, settled.l, kChangeAt + 15 * ms, kChangeAt + 100 * ms);
    EXPECT_LE(step, 2.0) << c.what;
    EXPECT_LE(residue, -54.0) << c.what;
    std::printf("%s: largest step %.2f x the signal's own, residue %.0f dB\n", c.what, step, residue);
  }

  // "Filter" switched on in silence after earlier use: the low-pass ran on
  // through the silence, so nothing of the earlier signal comes back.
  Stereo loud = Tones(48000, 0.6, {{1000, 0.5}, {17000, 0.3}});
  std::fill(loud.l.begin() + 9600, loud.l.end(), 0.0);
  std::fill(loud.r.begin() + 9600, loud.r.end(), 0.0);
  const Buffer outL =
    Render(48000, 512, {{kFilter, 1.0f}}, loud, {{4608, {{kFilter, 0.0f}}}, {19968, {{kFilter, 1.0f}}}}).l;
  double peak = 0.0;
  for (size_t i = 19968; i < outL.size(); ++i) peak = std::max(peak, std::fabs(outL[i]));
  EXPECT_LT(peak, 1e-3);
  std::printf("filter on in silence: peak %.3g\n", peak);
}
