#include "dsp/TalvorEngine.h"

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstring>

#include "dsp/Waveshaper.h"

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
// records that the filters now hold a signal they are not made for. (The
// kernels do the same: DspKernelsImpl.h.)
inline float Round32(double x, bool& limited)
{
  if (x >= kRoundsToInfinity || x <= -kRoundsToInfinity)
  {
    limited = true;
    return x > 0.0 ? FLT_MAX : -FLT_MAX;
  }
  return (float)x;
}

template <class T>
bool SameBits(const T& a, const T& b)
{
  return std::memcmp(&a, &b, sizeof(T)) == 0;
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

// Steps a gain smoother count times toward target. Once a step leaves its
// state unchanged, every later step would too, so the gains are then known
// without stepping: returns null with that one gain when the first step
// already does, else fills gains with each step's state and returns it.
const double* StepGains(OnePoleSmoother& s, double target, double* gains, int count, double& gain)
{
  double last = s.state;
  double next = s.process(target);
  if (SameBits(next, last))
  {
    gain = next;
    return nullptr;
  }
  gains[0] = next;
  int k = 1;
  while (k < count)
  {
    last = next;
    next = s.process(target);
    gains[k++] = next;
    if (SameBits(next, last)) break;
  }
  for (; k < count; ++k) gains[k] = next;
  return gains;
}

// Both channels' sections into lanes for the kernels, and their state back.
void ToLanes(const BiquadSection* s[2], FilterLanes::Biquad& l)
{
  for (int c = 0; c < 2; ++c)
  {
    l.b0[c] = s[c]->b0, l.b1[c] = s[c]->b1, l.b2[c] = s[c]->b2, l.a1[c] = s[c]->a1, l.a2[c] = s[c]->a2;
    l.z1[c] = s[c]->z1, l.z2[c] = s[c]->z2;
  }
}
void FromLanes(const FilterLanes::Biquad& l, BiquadSection* s[2])
{
  for (int c = 0; c < 2; ++c) s[c]->z1 = l.z1[c], s[c]->z2 = l.z2[c];
}
template <class Section, class Lanes>
void DirectFormToLanes(const Section* s[2], Lanes& l)
{
  for (int c = 0; c < 2; ++c)
  {
    l.b0[c] = s[c]->b0, l.b1[c] = s[c]->b1, l.b2[c] = s[c]->b2, l.a1[c] = s[c]->a1, l.a2[c] = s[c]->a2;
    l.x1[c] = s[c]->x1, l.x2[c] = s[c]->x2, l.y1[c] = s[c]->y1, l.y2[c] = s[c]->y2;
  }
}
template <class Section, class Lanes>
void DirectFormFromLanes(const Lanes& l, Section* s[2])
{
  for (int c = 0; c < 2; ++c) s[c]->x1 = l.x1[c], s[c]->x2 = l.x2[c], s[c]->y1 = l.y1[c], s[c]->y2 = l.y2[c];
}
}  // namespace

TalvorEngine::TalvorEngine() : trim(std::pow(10.0, -0.01))
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

bool TalvorEngine::UseDspPath(DspPath newPath)
{
  if (!DspPathSupported(newPath)) return false;
  path = newPath;
  kernels = KernelsFor(newPath);
  return true;
}

void TalvorEngine::DesignSmoothers(double fs)
{
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
}

// Designs one channel's sections, each from one step of its smoothers. Each
// smoother serves one kind of section only, so designing the left channel
// before the right one leaves the left sections one smoothing step ahead.
// The smoothers always step; a section whose design inputs have the same
// bits as at its last design keeps its coefficients.
void TalvorEngine::DesignChannel(int channel, double fs)
{
  TalvorChannelSections& s = sections[channel];
  auto designBiquad = [this](BiquadSection& b, BiquadType type, double fc, double q, double gainDb) {
    if (b.type != type || !SameBits(b.fc, fc) || !SameBits(b.q, q) || !SameBits(b.gainDb, gainDb))
    {
      b.design(type, fc, q, gainDb);
      designed = true;
    }
  };
  {
    const double q = smoothers.hpQ.process(targets.hpQ);
    const double f = smoothers.hpFreq.process(targets.hpFreq);
    designBiquad(s.highpass, Highpass, f / fs, q, 0.0);
  }
  {
    const double g = smoothers.lowGain.process(targets.lowGainDb);
    const double f = smoothers.lowFreq.process(targets.lowFreq);
    designBiquad(s.lowShelf, LowShelf, f / fs, kShelfQ, g + kLowOffsetDb);
  }
  {
    const double g = smoothers.highGain.process(targets.highGainDb);
    const double f = smoothers.highFreq.process(targets.highFreq);
    designBiquad(s.highShelf, HighShelf, f / fs, kShelfQ, g + kHighOffsetDb);
  }
  {
    s.mid.fs = fs;
    const double w = smoothers.midBandwidth.process(targets.midBandwidth);
    const double f = smoothers.midFreq.process(targets.midFreq);
    const double g = smoothers.midGain.process(targets.midGainDb);
    const MidDesign key = {fs, g + kMidOffsetDb, f, w};
    if (!midDesigned[channel] || !SameBits(key, midDesign[channel]))
    {
      s.mid.design(key.gainDb, key.freq, key.bandwidth);
      midDesign[channel] = key;
      midDesigned[channel] = true;
      designed = true;
    }
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
  if (!SameBits(fs, smootherRate))
  {
    DesignSmoothers(fs);
    smootherRate = fs;
  }

  // Link: the output gain mirrors the input gain. 0.0 - x rather than -x, so
  // that 0 dB in gives +0 dB out, never "-0.00".
  if (switches.linked)
    targets.outputDb = 0.0 - targets.inputDb;

  // The "Filter" low-pass is designed always, used only when switched in;
  // its design depends on the sample rate alone.
  designed = false;
  if (!SameBits((float)fs, lowpassRate))
  {
    for (TalvorChannelSections& s : sections)
      s.lowpass.design((float)kLowpassCorner, (float)kLowpassQ, (float)fs);
    lowpassRate = (float)fs;
    designed = true;
  }
  DesignChannel(0, fs);
  DesignChannel(1, fs);

  // A design that failed must not feed NaN into the signal: such a section
  // passes its input through until the next design succeeds. (Sections not
  // designed anew were checked when they were.)
  if (designed)
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

  // A missing buffer reads as silence and is not written.
  const double* inL = inputs ? inputs[0] : nullptr;
  const double* inR = inputs ? inputs[1] : nullptr;
  double* outL = outputs ? outputs[0] : nullptr;
  double* outR = outputs ? outputs[1] : nullptr;

  // The gain targets cannot change during a block, so their linear values are
  // found once (and kept while the targets stay); the result is identical to
  // converting them again for every sample.
  if (!SameBits(targets.inputDb, inputGainDb))
  {
    inputGainDb = targets.inputDb;
    inputGain = DbToGain(inputGainDb);
  }
  if (!SameBits(targets.outputDb, outputGainDb))
  {
    outputGainDb = targets.outputDb;
    outputGain = DbToGain(outputGainDb);
  }

  if (kernels)
    RunStaged(inL, inR, outL, outR, nFrames);
  else
    RunReference(inL, inR, outL, outR, nFrames);
}

// The chain frame by frame, one value at a time.
void TalvorEngine::RunReference(const double* inL, const double* inR, double* outL, double* outR, int nFrames)
{
  const bool filterOn = blockSwitches.filterOn;
  OnePoleSmoother& inputSmoother = smoothers.inputGain;
  OnePoleSmoother& outputSmoother = smoothers.outputGain;
  bool limited = false;
  for (int i = 0; i < nFrames; ++i)
  {
    // Both input samples of a frame are read before its outputs are written:
    // the buffers may alias.
    const double rawL = inL ? inL[i] : 0.0;
    const double rawR = inR ? inR[i] : 0.0;
    // NaN or infinity would stay in the recursive filters; the processed
    // path treats it as silence.
    const double xL = std::isfinite(rawL) ? rawL : 0.0;
    const double xR = std::isfinite(rawR) ? rawR : 0.0;
    // One smoother for both channels, stepped left then right.
    const double aL = SaturateSample((xL + kAntiDenormal) * inputSmoother.process(inputGain));
    const double aR = SaturateSample((xR + kAntiDenormal) * inputSmoother.process(inputGain));
    const double cL = FilterChain(sections[0], aL, filterOn, limited);
    const double cR = FilterChain(sections[1], aR, filterOn, limited);
    if (blockSwitches.processed)
    {
      const double yL = (cL - kAntiDenormal) * outputSmoother.process(outputGain) * trim;
      const double yR = (cR - kAntiDenormal) * outputSmoother.process(outputGain) * trim;
      if (outL)
        outL[i] = yL;
      if (outR)
        outR[i] = yR;
    }
    else
    {
      if (outL)
        outL[i] = rawL;
      if (outR)
        outR[i] = rawR;
    }
  }
  // The filters start afresh before the next block (RecoverFromNonFinite).
  if (limited)
    signalLimited = true;
}

// The chain stage by stage over runs of frames, each stage in the kernels
// of the active instruction set.
void TalvorEngine::RunStaged(const double* inL, const double* inR, double* outL, double* outR, int nFrames)
{
  static const double kSilence[kStageFrames] = {};
  const BiquadSection* highpass[2] = {&sections[0].highpass, &sections[1].highpass};
  const BiquadSection* lowShelf[2] = {&sections[0].lowShelf, &sections[1].lowShelf};
  const BiquadSection* highShelf[2] = {&sections[0].highShelf, &sections[1].highShelf};
  const ParametricSection* mid[2] = {&sections[0].mid, &sections[1].mid};
  const MatchedLowpass* lowpass[2] = {&sections[0].lowpass, &sections[1].lowpass};
  FilterLanes lanes = {};  // the low-pass's unused elements stay silent
  ToLanes(highpass, lanes.highpass);
  ToLanes(lowShelf, lanes.lowShelf);
  ToLanes(highShelf, lanes.highShelf);
  DirectFormToLanes(mid, lanes.mid);
  DirectFormToLanes(lowpass, lanes.lowpass);
  lanes.lowpassOn = blockSwitches.filterOn;
  const bool processed = blockSwitches.processed;

  for (int start = 0; start < nFrames; start += kStageFrames)
  {
    const int frames = std::min(kStageFrames, nFrames - start);
    const double* l = inL ? inL + start : kSilence;
    const double* r = inR ? inR + start : kSilence;
    // Every input sample of the run is read before any output sample is
    // written: the buffers may alias.
    if (!processed)
    {
      std::memcpy(stageRaw[0], l, (size_t)frames * sizeof(double));
      std::memcpy(stageRaw[1], r, (size_t)frames * sizeof(double));
    }
    double gain = 0.0;
    const double* gains = StepGains(smoothers.inputGain, inputGain, stageGains, 2 * frames, gain);
    if (kernels->shapeAndFilter(lanes, l, r, gains, gain, stageWork, stageChain, frames))
      signalLimited = true;  // the filters start afresh before the next block
    if (processed)
    {
      gains = StepGains(smoothers.outputGain, outputGain, stageGains, 2 * frames, gain);
      kernels->output(stageChain, gains, gain, trim, outL ? outL + start : nullptr, outR ? outR + start : nullptr,
                      frames);
    }
    else
    {
      if (outL)
        std::memcpy(outL + start, stageRaw[0], (size_t)frames * sizeof(double));
      if (outR)
        std::memcpy(outR + start, stageRaw[1], (size_t)frames * sizeof(double));
    }
  }

  BiquadSection* hpOut[2] = {&sections[0].highpass, &sections[1].highpass};
  BiquadSection* lsOut[2] = {&sections[0].lowShelf, &sections[1].lowShelf};
  BiquadSection* hsOut[2] = {&sections[0].highShelf, &sections[1].highShelf};
  ParametricSection* midOut[2] = {&sections[0].mid, &sections[1].mid};
  MatchedLowpass* lpOut[2] = {&sections[0].lowpass, &sections[1].lowpass};
  FromLanes(lanes.highpass, hpOut);
  FromLanes(lanes.lowShelf, lsOut);
  FromLanes(lanes.highShelf, hsOut);
  DirectFormFromLanes(lanes.mid, midOut);
  DirectFormFromLanes(lanes.lowpass, lpOut);
}
