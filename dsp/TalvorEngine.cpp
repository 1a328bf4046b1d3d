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

constexpr double kPi = 3.14159265358979323846;

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

// A value this large into the filters cannot come from an ordinary signal
// (inputs within 1e30, the input gain at its top: below 5e30), and what it
// leaves in the filters would burst into the next block: the filters start
// afresh after such a block.
constexpr double kAbsurdLevel = 1e32;

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

// Glides end within this much of their target (relative, or absolute below
// 1), far below anything audible, and then sit on it exactly.
inline double SettleTolerance(double target) { return 1e-9 * std::max(std::fabs(target), 1.0); }

// One sample of one channel from the waveshaper's output to the shelves'
// output, rounded to 32 bits between the stages. The low-pass always runs, so
// that switching it in resumes from live state; lowpassWeight says how much
// of its output goes on (0 none, 1 all of it, between: a cross-fade).
inline double FilterChain(TalvorChannelSections& s, double shaped, double lowpassWeight, bool& limited)
{
  if (std::fabs(shaped) >= kAbsurdLevel)
    limited = true;
  double b = Round32(s.highpass.process(Round32(shaped, limited)), limited);
  // (Only an absurd level, noted above, can take it near the float limit.)
  const float lowpassed = s.lowpass.process((float)b);
  if (lowpassWeight == 1.0)
    b = lowpassed;
  else if (lowpassWeight != 0.0)
    b = Round32((1.0 - lowpassWeight) * b + lowpassWeight * (double)lowpassed, limited);
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
  const double tolerance = SettleTolerance(target);
  double last = s.state;
  double next = s.glide(target, tolerance);
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
    next = s.glide(target, tolerance);
    gains[k++] = next;
    if (SameBits(next, last)) break;
  }
  for (; k < count; ++k) gains[k] = next;
  return gains;
}

// A section's coefficients (not its state) from one channel to the other.
void CopyDesign(const BiquadSection& from, BiquadSection& to)
{
  to.type = from.type, to.fc = from.fc, to.q = from.q, to.gainDb = from.gainDb;
  to.b0 = from.b0, to.b1 = from.b1, to.b2 = from.b2, to.a1 = from.a1, to.a2 = from.a2;
}
template <class Section>
void CopyDirectFormDesign(const Section& from, Section& to)
{
  to.b0 = from.b0, to.b1 = from.b1, to.b2 = from.b2, to.a1 = from.a1, to.a2 = from.a2;
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

// A non-finite value anywhere in a recursive filter would repeat forever, and
// a block whose signal reached absurd levels leaves the filters ringing at
// such levels for many seconds, bursting into the next block; start such
// sections afresh so the output recovers at once.
void TalvorEngine::RecoverFromOverload()
{
  const bool resetAll = signalLimited;
  signalLimited = false;
  ForEachSection([resetAll](auto& section) {
    if (resetAll || !section.stateIsFinite())
      section.reset();
  });
}

bool TalvorEngine::UseDspPath(DspPath newPath)
{
  if (!DspPathSupported(newPath)) return false;
  path = newPath;
  kernels = KernelsFor(newPath);
  return true;
}

void TalvorEngine::Restart()
{
  ForEachSection([](auto& section) { section.reset(); });
  signalLimited = false;
  startPending = true;
}

void TalvorEngine::DesignSmoothers(double fs)
{
  // The band and high-pass glides step once per control interval.
  const double glideCorner = 1.0 / (2.0 * kPi * kGlideSeconds);
  const double controlRate = fs / kControlInterval;
  for (OnePoleSmoother* s : {&smoothers.hpFreq, &smoothers.hpQ, &smoothers.lowGain, &smoothers.lowFreq,
                             &smoothers.midGain, &smoothers.midFreq, &smoothers.midBandwidth, &smoothers.highGain,
                             &smoothers.highFreq})
    s->design(glideCorner, controlRate);
  // The gains glide frame by frame, stepped once per channel.
  smoothers.inputGain.design(10.0, fs);
  smoothers.outputGain.design(10.0, fs);
  smoothers.linkRatio.design(10.0, fs);
  const int fadeFrames = std::max(1, (int)std::lround(kSwitchFadeSeconds * fs));
  processedFade.length = fadeFrames;
  lowpassFade.length = fadeFrames;
}

// Every glide at its target, every switch where it stands, and every section
// designed for the settings: a block that starts here sounds settled from
// its first frame.
void TalvorEngine::StartAtTargets()
{
  smoothers.hpFreq.state = targets.hpFreq;
  smoothers.hpQ.state = targets.hpQ;
  smoothers.lowGain.state = targets.lowGainDb;
  smoothers.lowFreq.state = targets.lowFreq;
  smoothers.midGain.state = targets.midGainDb;
  smoothers.midFreq.state = targets.midFreq;
  smoothers.midBandwidth.state = targets.midBandwidth;
  smoothers.highGain.state = targets.highGainDb;
  smoothers.highFreq.state = targets.highFreq;
  smoothers.inputGain.state = inputGain;
  smoothers.outputGain.state = outputGain;
  smoothers.linkRatio.state = 1.0;
  processedFade.Settle();
  lowpassFade.Settle();
  controlPhase = 0;
  DesignSections();
}

bool TalvorEngine::Gliding() const
{
  const TalvorSmoothers& s = smoothers;
  return s.hpFreq.state != targets.hpFreq || s.hpQ.state != targets.hpQ || s.lowGain.state != targets.lowGainDb ||
         s.lowFreq.state != targets.lowFreq || s.midGain.state != targets.midGainDb ||
         s.midFreq.state != targets.midFreq || s.midBandwidth.state != targets.midBandwidth ||
         s.highGain.state != targets.highGainDb || s.highFreq.state != targets.highFreq;
}

void TalvorEngine::StepGlides()
{
  auto step = [](OnePoleSmoother& s, double target) { s.glide(target, SettleTolerance(target)); };
  step(smoothers.hpFreq, targets.hpFreq);
  step(smoothers.hpQ, targets.hpQ);
  step(smoothers.lowGain, targets.lowGainDb);
  step(smoothers.lowFreq, targets.lowFreq);
  step(smoothers.midGain, targets.midGainDb);
  step(smoothers.midFreq, targets.midFreq);
  step(smoothers.midBandwidth, targets.midBandwidth);
  step(smoothers.highGain, targets.highGainDb);
  step(smoothers.highFreq, targets.highFreq);
}

// Both channels' sections from the glides as they stand: designed once for
// the left channel and copied to the right, so both always hear the same
// filter. A section whose design inputs have the same bits as at its last
// design keeps its coefficients; a design that failed passes its input
// through until the next one succeeds, rather than feed NaN into the signal.
void TalvorEngine::DesignSections()
{
  const double fs = designRate;
  TalvorChannelSections& left = sections[0];
  TalvorChannelSections& right = sections[1];
  auto designBiquad = [](BiquadSection& b, BiquadSection& other, BiquadType type, double fc, double q,
                         double gainDb) {
    if (b.type == type && SameBits(b.fc, fc) && SameBits(b.q, q) && SameBits(b.gainDb, gainDb))
      return;
    b.design(type, fc, q, gainDb);
    if (!b.coefficientsAreFinite())
      b.makeTransparent();
    CopyDesign(b, other);
  };
  designBiquad(left.highpass, right.highpass, Highpass, smoothers.hpFreq.state / fs, smoothers.hpQ.state, 0.0);
  designBiquad(left.lowShelf, right.lowShelf, LowShelf, smoothers.lowFreq.state / fs, kShelfQ,
               smoothers.lowGain.state + kLowOffsetDb);
  designBiquad(left.highShelf, right.highShelf, HighShelf, smoothers.highFreq.state / fs, kShelfQ,
               smoothers.highGain.state + kHighOffsetDb);

  const MidDesign key = {fs, smoothers.midGain.state + kMidOffsetDb, smoothers.midFreq.state,
                         smoothers.midBandwidth.state};
  if (!midDesigned || !SameBits(key, midDesign))
  {
    left.mid.fs = right.mid.fs = fs;
    left.mid.design(key.gainDb, key.freq, key.bandwidth);
    if (!left.mid.coefficientsAreFinite())
      left.mid.makeTransparent();
    CopyDirectFormDesign(left.mid, right.mid);
    midDesign = key;
    midDesigned = true;
  }

  // The "Filter" low-pass depends on the sample rate alone.
  if (!SameBits((float)fs, lowpassRate))
  {
    left.lowpass.design((float)kLowpassCorner, (float)kLowpassQ, (float)fs);
    if (!left.lowpass.coefficientsAreFinite())
      left.lowpass.makeTransparent();
    CopyDirectFormDesign(left.lowpass, right.lowpass);
    lowpassRate = (float)fs;
  }
}

bool TalvorEngine::PrepareBlock(double sampleRate, const TalvorSwitches& switches)
{
  RecoverFromOverload();
  blockSwitches = switches;
  if (sampleRate >= kMinSampleRate && sampleRate <= kMaxSampleRate)
    designRate = sampleRate;
  const double fs = designRate;

  // Link: the output gain mirrors the input gain. 0.0 - x rather than -x, so
  // that 0 dB in gives +0 dB out, never "-0.00".
  if (switches.linked)
    targets.outputDb = 0.0 - targets.inputDb;
  // The linear gains of the targets, found once per change of target.
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
  processedFade.on = switches.processed;
  lowpassFade.on = switches.filterOn;

  // The first block, and the first at a new sample rate, start at the
  // settings (a rate change means a new start of processing for the host).
  const bool newRate = !SameBits(fs, smootherRate);
  if (newRate)
  {
    DesignSmoothers(fs);
    smootherRate = fs;
  }
  if (startPending || newRate)
  {
    startPending = false;
    StartAtTargets();
  }
  else if (switches.linked && !linkedBefore)
  {
    // Link switched on: the output gain goes on from where it stands and
    // glides into the mirror of the input gain.
    const double ratio = smoothers.outputGain.state / LinkedGain(smoothers.inputGain.state, 1.0);
    smoothers.linkRatio.state = std::isfinite(ratio) && ratio > 0.0 ? ratio : 1.0;
  }
  linkedBefore = switches.linked;
  return switches.linked;
}

// While Link is on: the output gain in dB is minus the input gain in dB, for
// the input gain as it stands at this value (the mirror of its target, times
// the target over the gain now), times the Link ratio. Settled, it is the
// output gain target exactly.
double TalvorEngine::LinkedGain(double inputGainNow, double ratio) const
{
  return outputGain * (inputGain / inputGainNow) * ratio;
}

// The output gains for count values whose input gains were inputGains (or
// inputGainNow for every value); as StepGains.
const double* TalvorEngine::OutputGains(const double* inputGains, double inputGainNow, int count, double& gain)
{
  OnePoleSmoother& output = smoothers.outputGain;
  if (!blockSwitches.linked)
    return StepGains(output, outputGain, stageOutputGains, count, gain);
  double ratio = 1.0;
  const double* ratios = StepGains(smoothers.linkRatio, 1.0, stageRatios, count, ratio);
  if (!inputGains && !ratios)
  {
    gain = output.state = LinkedGain(inputGainNow, ratio);
    return nullptr;
  }
  for (int k = 0; k < count; ++k)
    stageOutputGains[k] = LinkedGain(inputGains ? inputGains[k] : inputGainNow, ratios ? ratios[k] : ratio);
  // Link switched off again goes on from here.
  output.state = stageOutputGains[count - 1];
  return stageOutputGains;
}

// The output gain for one value whose input gain was inputGainNow.
double TalvorEngine::OutputGainStep(double inputGainNow)
{
  double gain = 0.0;
  const double* gains = OutputGains(&inputGainNow, inputGainNow, 1, gain);
  return gains ? gains[0] : gain;
}

void TalvorEngine::RunBlock(double** inputs, double** outputs, int nFrames) { RunBlockOf(inputs, outputs, nFrames); }
void TalvorEngine::RunBlock(float** inputs, float** outputs, int nFrames) { RunBlockOf(inputs, outputs, nFrames); }

template <class Sample>
void TalvorEngine::RunBlockOf(Sample** inputs, Sample** outputs, int nFrames)
{
  if (nFrames <= 0)
    return;

  // A missing buffer reads as silence and is not written.
  const Sample* inL = inputs ? inputs[0] : nullptr;
  const Sample* inR = inputs ? inputs[1] : nullptr;
  Sample* outL = outputs ? outputs[0] : nullptr;
  Sample* outR = outputs ? outputs[1] : nullptr;

  // The block in stretches: while the controls glide, a stretch ends where
  // the next glide step falls, so that the steps fall on the same frames
  // however the host cuts its blocks. Nothing changes within a block, so a
  // settled block is one stretch.
  for (int start = 0; start < nFrames;)
  {
    bool gliding = Gliding();
    if (controlPhase == 0 && gliding)
    {
      StepGlides();
      DesignSections();
      gliding = Gliding();  // the step may have landed every glide
    }
    int frames = nFrames - start;
    if (gliding)
      frames = std::min(frames, kControlInterval - controlPhase);
    const auto at = [start](auto* p) { return p ? p + start : nullptr; };
    // Cross-fades go value by value; the vector paths serve settled switches.
    if (kernels && !processedFade.Moving() && !lowpassFade.Moving())
      RunStaged(at(inL), at(inR), at(outL), at(outR), frames);
    else
      RunReference(at(inL), at(inR), at(outL), at(outR), frames);
    controlPhase = (controlPhase + frames) % kControlInterval;
    start += frames;
  }
}

namespace
{
// An output sample into a host's buffer; a float takes the value limited to
// its range (NaN passed) and rounded.
inline void StoreSample(double* p, double v) { *p = v; }
inline void StoreSample(float* p, double v) { *p = (float)(v > FLT_MAX ? FLT_MAX : v < -FLT_MAX ? -FLT_MAX : v); }

// The kernels for a host's 64- or 32-bit buffers.
constexpr auto ShapeAndFilterFor(const double*) { return &DspKernels::shapeAndFilter; }
constexpr auto ShapeAndFilterFor(const float*) { return &DspKernels::shapeAndFilter32; }
constexpr auto OutputFor(const double*) { return &DspKernels::output; }
constexpr auto OutputFor(const float*) { return &DspKernels::output32; }

template <class Sample>
void StoreSamples(const double* from, Sample* to, int n)
{
  for (int i = 0; i < n; ++i) StoreSample(to + i, from[i]);
}
}  // namespace

// The chain frame by frame, one value at a time.
template <class Sample>
void TalvorEngine::RunReference(const Sample* inL, const Sample* inR, Sample* outL, Sample* outR, int nFrames)
{
  OnePoleSmoother& inputSmoother = smoothers.inputGain;
  const double inputTolerance = SettleTolerance(inputGain);
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
    const double gL = inputSmoother.glide(inputGain, inputTolerance);
    const double aL = SaturateSample((xL + kAntiDenormal) * gL);
    const double gR = inputSmoother.glide(inputGain, inputTolerance);
    const double aR = SaturateSample((xR + kAntiDenormal) * gR);
    const double lowpassWeight = lowpassFade.Next();
    const double cL = FilterChain(sections[0], aL, lowpassWeight, limited);
    const double cR = FilterChain(sections[1], aR, lowpassWeight, limited);
    const double processedWeight = processedFade.Next();
    double yL = rawL, yR = rawR;
    if (processedWeight != 0.0)
    {
      const double hL = OutputGainStep(gL);
      const double hR = OutputGainStep(gR);
      yL = (cL - kAntiDenormal) * hL * trim;
      yR = (cR - kAntiDenormal) * hR * trim;
      if (processedWeight != 1.0)
      {
        // Into or out of "Bypass": the input as the processed path read it.
        yL = processedWeight * yL + (1.0 - processedWeight) * xL;
        yR = processedWeight * yR + (1.0 - processedWeight) * xR;
      }
    }
    if (outL)
      StoreSample(outL + i, yL);
    if (outR)
      StoreSample(outR + i, yR);
  }
  // The filters start afresh before the next block (RecoverFromOverload).
  if (limited)
    signalLimited = true;
}

// The chain stage by stage over runs of frames, each stage in the kernels
// of the active instruction set; the switches stand still.
template <class Sample>
void TalvorEngine::RunStaged(const Sample* inL, const Sample* inR, Sample* outL, Sample* outR, int nFrames)
{
  static const Sample kSilence[kStageFrames] = {};
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
  lanes.lowpassOn = lowpassFade.on;
  const bool processed = processedFade.on;

  for (int start = 0; start < nFrames; start += kStageFrames)
  {
    const int frames = std::min(kStageFrames, nFrames - start);
    const Sample* l = inL ? inL + start : kSilence;
    const Sample* r = inR ? inR + start : kSilence;
    // Every input sample of the run is read before any output sample is
    // written: the buffers may alias.
    if (!processed)
    {
      std::copy_n(l, frames, stageRaw[0]);
      std::copy_n(r, frames, stageRaw[1]);
    }
    double inGain = 0.0;
    const double* inGains = StepGains(smoothers.inputGain, inputGain, stageInputGains, 2 * frames, inGain);
    if ((kernels->*ShapeAndFilterFor(l))(lanes, l, r, inGains, inGain, stageWork, stageChain, frames))
      signalLimited = true;  // the filters start afresh before the next block
    if (processed)
    {
      double outGain = 0.0;
      const double* outGains = OutputGains(inGains, inGain, 2 * frames, outGain);
      (kernels->*OutputFor(outL))(stageChain, outGains, outGain, trim, outL ? outL + start : nullptr,
                                  outR ? outR + start : nullptr, frames);
    }
    else
    {
      if (outL)
        StoreSamples(stageRaw[0], outL + start, frames);
      if (outR)
        StoreSamples(stageRaw[1], outR + start, frames);
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
