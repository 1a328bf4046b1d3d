#include "plugin/TalvorEngine.h"

#include <algorithm>
#include <cfloat>
#include <cmath>

#include "plugin/Waveshaper.h"

namespace
{
// Control positions to settings. Every row is indexed by a control's
// position, so its length is the control's range plus one.
const double kLowGainTable[11] = {-12.4, -9.2, -6.3, -4.1, -2.2, 0.0, 2.5, 4.2, 6.1, 9.3, 12.5};
const double kLowFreqTable[5] = {56.0 / 9.0, 96.0 / 11.0, 193.0 / 11.0, 305.0 / 11.0, 36.0};
const double kMidGainTable[11] = {-12.2, -9.3, -6.2, -4.1, -2.15, 0.0, 2.2, 4.1, 6.14, 9.15, 12.3};
const double kMidBandwidthTable[11] = {0.55, 0.44, 0.32, 0.29, 0.28, 0.18, 0.28, 0.29, 0.32, 0.44, 0.55};
const double kMidFreqTable[5] = {394.0, 791.0, 1492.0, 3005.0, 5010.0};
const double kHighGainTable[11] = {-12.3, -9.1, -6.4, -4.2, -2.3, 0.0, 2.1, 4.3, 6.2, 9.4, 12.2};
const double kHighFreqTable[5] = {9900.0, 13000.0, 15000.0, 17000.0, 19000.0};
constexpr int kFlatGainPosition = 5;

// Fixed offsets that leave each band slightly lifted even at its centre position.
constexpr double kLowOffsetDb = 0.25;
constexpr double kMidOffsetDb = 0.1;
constexpr double kHighOffsetDb = 0.2;
constexpr double kShelfQ = 0.13;

constexpr double kLowpassCorner = 19100.0;
constexpr double kLowpassQ = 0.707;

// Keeps the 64-bit chain clear of subnormal numbers: added at the input,
// removed again before the output gain.
constexpr double kAntiDenormal = 1e-10;

// Sample rates outside this range carry no usable meaning (a host that has
// not set one yet, or garbage); the last usable rate stays in force instead.
constexpr double kMinSampleRate = 1.0;
constexpr double kMaxSampleRate = 1.0e7;

inline double DbToGain(double db) { return std::pow(10.0, db / 20.0); }
// The smallest magnitude that a conversion to float rounds to infinity: the
// largest float plus half its last place.
constexpr double kRoundsToInfinity = FLT_MAX + 0x1p103;

// Rounds to 32 bits as a plain conversion does, except for a value beyond the
// 32-bit range (a 64-bit host can send one, the input gain or a boost can push
// one there): instead of infinity, which would poison the filters for the
// rest of the block, it becomes the largest finite float, and `limited`
// records that the filters now hold a signal they are not made for.
inline float Round32(double x, bool& limited)
{
  if (x >= kRoundsToInfinity || x <= -kRoundsToInfinity)
  {
    limited = true;
    return x > 0.0 ? FLT_MAX : -FLT_MAX;
  }
  return (float)x;
}

// A position truncated toward zero and kept inside [0, N - 1], so that no
// value a host or a file can produce indexes outside a table.
template <int N>
double Lookup(const double (&table)[N], double position)
{
  if (!(position >= 1.0))  // below 1, and NaN
    return table[0];
  if (position >= (double)(N - 1))
    return table[N - 1];
  return table[(int)position];
}

double ClampGainDb(double db)
{
  if (std::isnan(db))
    return 0.0;
  return std::fmin(std::fmax(db, -TalvorEngine::kGainRangeDb), TalvorEngine::kGainRangeDb);
}

// One sample of one channel from the waveshaper's output to the shelves'
// output, rounded to 32 bits between the stages.
inline double FilterChain(TalvorChannelSections& s, double shaped, bool filterOn, bool& limited)
{
  double b = Round32(s.highpass.process(Round32(shaped, limited)), limited);
  if (filterOn)
    b = s.lowpass.process((float)b);
  const double m = Round32(s.mid.process(b), limited);
  const double l = Round32(s.lowShelf.process(m), limited);
  return Round32(s.highShelf.process(l), limited);
}
}  // namespace

TalvorEngine::TalvorEngine()
{
  SetLowGain(kFlatGainPosition);
  SetLowFreq(0);
  SetMidGain(kFlatGainPosition);
  SetMidFreq(0);
  SetHighGain(kFlatGainPosition);
  SetHighFreq(0);
  SetFilter(0);
  SetInputDb(0.0);
  SetOutputDb(0.0);
}

void TalvorEngine::SetLowGain(double position) { targets.lowGainDb = Lookup(kLowGainTable, position); }
void TalvorEngine::SetLowFreq(double position) { targets.lowFreq = Lookup(kLowFreqTable, position); }
void TalvorEngine::SetMidGain(double position)
{
  targets.midGainDb = Lookup(kMidGainTable, position);
  targets.midBandwidth = Lookup(kMidBandwidthTable, position);
}
void TalvorEngine::SetMidFreq(double position) { targets.midFreq = Lookup(kMidFreqTable, position); }
void TalvorEngine::SetHighGain(double position) { targets.highGainDb = Lookup(kHighGainTable, position); }
void TalvorEngine::SetHighFreq(double position) { targets.highFreq = Lookup(kHighFreqTable, position); }

void TalvorEngine::SetFilter(double position)
{
  const bool steep = SwitchIsOn(position);
  targets.hpFreq = steep ? 15.0 : 2.2;
  targets.hpQ = steep ? 0.707 : 0.5;
}

void TalvorEngine::SetInputDb(double db) { targets.inputDb = ClampGainDb(db); }
void TalvorEngine::SetOutputDb(double db) { targets.outputDb = ClampGainDb(db); }

// Every filter section of both channels, left first.
template <class Visit>
void TalvorEngine::ForEachSection(Visit visit)
{
  for (TalvorChannelSections& s : sections)
  {
    visit(s.highpass);
    visit(s.lowShelf);
    visit(s.highShelf);
    visit(s.mid);
    visit(s.lowpass);
  }
}

// A non-finite value anywhere in a recursive filter or smoother would repeat
// forever, and a signal limited to the 32-bit range would ring for many
// seconds at absurd levels; start such sections afresh so the output recovers.
void TalvorEngine::RecoverFromNonFinite()
{
  const bool resetAll = signalLimited;
  signalLimited = false;
  ForEachSection([resetAll](auto& section) {
    if (resetAll || !section.stateIsFinite())
      section.reset();
  });
  OnePoleSmoother* all[] = {&smoothers.hpFreq,   &smoothers.hpQ,        &smoothers.lowGain,
                            &smoothers.lowFreq,  &smoothers.midGain,    &smoothers.midFreq,
                            &smoothers.highGain, &smoothers.highFreq,   &smoothers.inputGain,
                            &smoothers.outputGain, &smoothers.midBandwidth};
  for (OnePoleSmoother* sm : all)
    if (!std::isfinite(sm->state))
      sm->state = 0.0;
}

// Designs one channel's sections, each from one step of its smoothers. Each
// smoother serves one kind of section only, so designing the left channel
// before the right one leaves the left sections one smoothing step ahead.
void TalvorEngine::DesignChannel(TalvorChannelSections& s, double fs)
{
  // The "Filter" low-pass is designed always, used only when switched in.
  s.lowpass.design((float)kLowpassCorner, (float)kLowpassQ, (float)fs);
  {
    const double q = smoothers.hpQ.process(targets.hpQ);
    const double f = smoothers.hpFreq.process(targets.hpFreq);
    s.highpass.design(Highpass, f / fs, q, 0.0);
  }
  {
    const double g = smoothers.lowGain.process(targets.lowGainDb);
    const double f = smoothers.lowFreq.process(targets.lowFreq);
    s.lowShelf.design(LowShelf, f / fs, kShelfQ, g + kLowOffsetDb);
  }
  {
    const double g = smoothers.highGain.process(targets.highGainDb);
    const double f = smoothers.highFreq.process(targets.highFreq);
    s.highShelf.design(HighShelf, f / fs, kShelfQ, g + kHighOffsetDb);
  }
  {
    s.mid.fs = fs;
    const double w = smoothers.midBandwidth.process(targets.midBandwidth);
    const double f = smoothers.midFreq.process(targets.midFreq);
    const double g = smoothers.midGain.process(targets.midGainDb);
    s.mid.design(g + kMidOffsetDb, f, w);
  }
}

bool TalvorEngine::PrepareBlock(double sampleRate, const TalvorSwitches& switches)
{
  RecoverFromNonFinite();
  blockSwitches = switches;
  if (sampleRate >= kMinSampleRate && sampleRate <= kMaxSampleRate)
    designRate = sampleRate;
  const double fs = designRate;

  // Smoother coefficients follow the sample rate.
  smoothers.hpFreq.design(1000.0, fs);
  smoothers.hpQ.design(1000.0, fs);
  smoothers.lowGain.design(500.0, fs);
  smoothers.lowFreq.design(500.0, fs);
  smoothers.midGain.design(500.0, fs);
  smoothers.midFreq.design(500.0, fs);
  smoothers.highGain.design(500.0, fs);
  smoothers.highFreq.design(500.0, fs);
  smoothers.inputGain.design(10.0, fs);
  smoothers.outputGain.design(10.0, fs);

  // Link: the output gain mirrors the input gain. 0.0 - x rather than -x, so
  // that 0 dB in gives +0 dB out, never "-0.00".
  if (switches.linked)
    targets.outputDb = 0.0 - targets.inputDb;

  for (TalvorChannelSections& s : sections)
    DesignChannel(s, fs);

  // A design that failed must not feed NaN into the signal: such a section
  // passes its input through until the next design succeeds.
  ForEachSection([](auto& section) {
    if (!section.coefficientsAreFinite())
      section.makeTransparent();
  });
  return switches.linked;
}

void TalvorEngine::RunBlock(double** inputs, double** outputs, int nFrames)
{
  if (nFrames <= 0)
    return;

  const double trim = std::pow(10.0, -0.01);
  const bool filterOn = blockSwitches.filterOn;
  const bool processed = blockSwitches.processed;

  // A missing buffer reads as silence and is not written.
  const double* inL = inputs ? inputs[0] : nullptr;
  const double* inR = inputs ? inputs[1] : nullptr;
  double* outL = outputs ? outputs[0] : nullptr;
  double* outR = outputs ? outputs[1] : nullptr;

  TalvorChannelSections& left = sections[0];
  TalvorChannelSections& right = sections[1];
  OnePoleSmoother& inputGain = smoothers.inputGain;
  OnePoleSmoother& outputGain = smoothers.outputGain;
  // The gain targets cannot change during a block, so their linear values are
  // computed once here; the result is identical to converting them again for
  // every sample.
  const double inputTarget = DbToGain(targets.inputDb);
  const double outputTarget = DbToGain(targets.outputDb);
  bool limited = false;

  for (int start = 0; start < nFrames; start += std::min(kStageFrames, nFrames - start))
  {
    const int frames = std::min(kStageFrames, nFrames - start);

    // Input stage. Every input sample of the run is read before any output
    // sample is written: the buffers may alias.
    for (int j = 0; j < frames; ++j)
    {
      const int i = start + j;
      const double rawL = inL ? inL[i] : 0.0;
      const double rawR = inR ? inR[i] : 0.0;
      stageRaw[2 * j] = rawL;
      stageRaw[2 * j + 1] = rawR;
      // NaN or infinity would stay in the recursive filters; the processed
      // path treats it as silence.
      const double xL = std::isfinite(rawL) ? rawL : 0.0;
      const double xR = std::isfinite(rawR) ? rawR : 0.0;
      // One smoother for both channels, stepped left then right.
      const double gL = inputGain.process(inputTarget);
      stageScaled[2 * j] = (xL + kAntiDenormal) * gL;
      const double gR = inputGain.process(inputTarget);
      stageScaled[2 * j + 1] = (xR + kAntiDenormal) * gR;
    }
    // The waveshaper goes four values at a time; an odd frame count leaves
    // two slots of padding, shaped from silence and not used.
    const int values = (2 * frames + 3) & ~3;
    for (int k = 2 * frames; k < values; ++k)
      stageScaled[k] = 0.0;
    SaturateSamples(stageScaled, stageShaped, values);

    for (int j = 0; j < frames; ++j)
    {
      const int i = start + j;
      const double cL = FilterChain(left, stageShaped[2 * j], filterOn, limited);
      const double cR = FilterChain(right, stageShaped[2 * j + 1], filterOn, limited);

      if (processed)
      {
        const double hL = outputGain.process(outputTarget);
        const double yL = (cL - kAntiDenormal) * hL * trim;
        const double hR = outputGain.process(outputTarget);
        const double yR = (cR - kAntiDenormal) * hR * trim;
        if (outL)
          outL[i] = yL;
        if (outR)
          outR[i] = yR;
      }
      else
      {
        if (outL)
          outL[i] = stageRaw[2 * j];
        if (outR)
          outR[i] = stageRaw[2 * j + 1];
      }
    }
  }
  // The filters start afresh before the next block (RecoverFromNonFinite).
  if (limited)
    signalLimited = true;
}
