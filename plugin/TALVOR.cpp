#include "plugin/TALVOR.h"

#include <algorithm>
#include <cmath>

#include "graphics/IGraphics.h"
#include "plugin/Waveshaper.h"

namespace
{
// Control positions to settings. Every row is indexed by a parameter's
// position, so its length is the parameter's range plus one.
const double kLowGainTable[11] = {-12.4, -9.2, -6.3, -4.1, -2.2, 0.0, 2.5, 4.2, 6.1, 9.3, 12.5};
const double kLowFreqTable[5] = {56.0 / 9.0, 96.0 / 11.0, 193.0 / 11.0, 305.0 / 11.0, 36.0};
const double kMidGainTable[11] = {-12.2, -9.3, -6.2, -4.1, -2.15, 0.0, 2.2, 4.1, 6.14, 9.15, 12.3};
const double kMidBandwidthTable[11] = {0.55, 0.44, 0.32, 0.29, 0.28, 0.18, 0.28, 0.29, 0.32, 0.44, 0.55};
const double kMidFreqTable[5] = {394.0, 791.0, 1492.0, 3005.0, 5010.0};
const double kHighGainTable[11] = {-12.3, -9.1, -6.4, -4.2, -2.3, 0.0, 2.1, 4.3, 6.2, 9.4, 12.2};
const double kHighFreqTable[5] = {9900.0, 13000.0, 15000.0, 17000.0, 19000.0};

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
inline float Round32(double x) { return (float)x; }
}  // namespace

TALVOR::TALVOR(IPlugInstanceInfo instanceInfo)
  : TalvorBindingBase(instanceInfo, kNumParams, "1-1 2-2", kNumPresets, TALVOR_NAME, TALVOR_PRODUCT_NAME,
                      TALVOR_MAKER, kTalvorVersion, kTalvorUniqueId, kTalvorMakerId)
{
  // Declaration order is part of the plug-in's identity: "Link" comes before
  // "Bypass" and "Filter".
  ParamAt(kLowGain)->InitInteger("Low Gain", 5, 0, 10);
  ParamAt(kLowFreq)->InitInteger("Low Freq", 0, 0, 4);
  ParamAt(kMidGain)->InitInteger("Mid Gain", 5, 0, 10);
  ParamAt(kMidFreq)->InitInteger("Mid Freq", 0, 0, 4);
  ParamAt(kHighGain)->InitInteger("High Gain", 5, 0, 10);
  ParamAt(kHighFreq)->InitInteger("High Freq", 0, 0, 4);
  ParamAt(kInput)->InitContinuous("Input", 0.0, -12.0, 12.0, 0.01, 1.0);
  ParamAt(kOutput)->InitContinuous("Output", 0.0, -12.0, 12.0, 0.01, 1.0);
  ParamAt(kLink)->InitInteger("Link", 0, 0, 1);
  ParamAt(kBypass)->InitInteger("Bypass", 1, 0, 1);
  ParamAt(kFilter)->InitInteger("Filter", 0, 0, 1);

  AttachEditor(MakeTalvorEditor(this));
  FillDefaultPresets("-", 1);

  // The targets must describe the current parameters before the first block:
  // a zero high-pass frequency and Q would make its design divide 0 by 0.
  for (int i = 0; i < kNumParams; ++i)
    ParamChanged(i);
}

TALVOR::~TALVOR() = default;

// A parameter's value truncated toward zero and kept inside [0, last], so
// that no value a host or a file can produce indexes outside the tables.
int TALVOR::Position(int paramIdx, int last) const
{
  const ParamDef* param = ParamAt(paramIdx);
  const double v = param ? param->Value() : 0.0;
  if (!(v >= 1.0))  // below 1, and NaN
    return 0;
  if (v >= (double)last)
    return last;
  return (int)v;
}

double TALVOR::GainDb(int paramIdx) const
{
  const ParamDef* param = ParamAt(paramIdx);
  if (!param)
    return 0.0;
  double v = param->Value();
  if (std::isnan(v))
    v = param->Default();
  if (std::isnan(v))
    v = 0.0;
  return std::fmin(std::fmax(v, param->Min()), param->Max());
}

void TALVOR::ParamChanged(int paramIdx)
{
  IPlugLockGuard lock(this);
  switch (paramIdx)
  {
  case kLowGain:
    targets.lowGainDb = kLowGainTable[Position(kLowGain, 10)];
    break;
  case kLowFreq:
    targets.lowFreq = kLowFreqTable[Position(kLowFreq, 4)];
    break;
  case kMidGain:
  {
    const int p = Position(kMidGain, 10);
    targets.midGainDb = kMidGainTable[p];
    targets.midBandwidth = kMidBandwidthTable[p];
    break;
  }
  case kMidFreq:
    targets.midFreq = kMidFreqTable[Position(kMidFreq, 4)];
    break;
  case kHighGain:
    targets.highGainDb = kHighGainTable[Position(kHighGain, 10)];
    break;
  case kHighFreq:
    targets.highFreq = kHighFreqTable[Position(kHighFreq, 4)];
    break;
  case kInput:
    targets.inputDb = GainDb(kInput);
    break;
  case kOutput:
    targets.outputDb = GainDb(kOutput);
    break;
  case kFilter:
    if (Position(kFilter, 1) == 0)
    {
      targets.hpFreq = 2.2;
      targets.hpQ = 0.5;
    }
    else
    {
      targets.hpFreq = 15.0;
      targets.hpQ = 0.707;
    }
    break;
  default:
    // "Bypass" and "Link" are read by the processing itself.
    break;
  }
}

// A non-finite value anywhere in a recursive filter or smoother would repeat
// forever; start such a section afresh so the output recovers.
void TALVOR::RecoverFromNonFinite()
{
  for (TalvorChannelSections& s : sections)
  {
    if (!s.highpass.stateIsFinite())
      s.highpass.reset();
    if (!s.lowShelf.stateIsFinite())
      s.lowShelf.reset();
    if (!s.highShelf.stateIsFinite())
      s.highShelf.reset();
    if (!s.mid.stateIsFinite())
      s.mid.reset();
    if (!s.lowpass.stateIsFinite())
      s.lowpass.reset();
  }
  OnePoleSmoother* all[] = {&smoothers.hpFreq,   &smoothers.hpQ,       &smoothers.lowGain,
                            &smoothers.lowFreq,  &smoothers.midGain,   &smoothers.midFreq,
                            &smoothers.highGain, &smoothers.highFreq,  &smoothers.inputGain,
                            &smoothers.outputGain, &smoothers.midBandwidth};
  for (OnePoleSmoother* sm : all)
    if (!std::isfinite(sm->state))
      sm->state = 0.0;
}

void TALVOR::PrepareBlock()
{
  const double hostRate = SampleRate();
  if (hostRate >= kMinSampleRate && hostRate <= kMaxSampleRate)
    designRate = hostRate;
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

  // Link: the output gain mirrors the input gain.
  if (Position(kLink, 1) == 1)
  {
    // 0.0 - x rather than -x, so that 0 dB in gives +0 dB out, never "-0.00".
    const double linked = 0.0 - targets.inputDb;
    ParamAt(kOutput)->SetClamped(linked);
    targets.outputDb = linked;
    if (IGraphics* editor = Editor())
      editor->ShowParameterValue(kOutput, linked, false);
  }

  // The "Filter" low-pass (designed always, used only when switched in).
  for (TalvorChannelSections& s : sections)
    s.lowpass.design((float)kLowpassCorner, (float)kLowpassQ, (float)fs);

  // The smoothers step once per design, so the left section is always one
  // smoothing step ahead of the right one.
  for (TalvorChannelSections& s : sections)
  {
    const double q = smoothers.hpQ.process(targets.hpQ);
    const double f = smoothers.hpFreq.process(targets.hpFreq);
    s.highpass.design(Highpass, f / fs, q, 0.0);
  }
  for (TalvorChannelSections& s : sections)
  {
    const double g = smoothers.lowGain.process(targets.lowGainDb);
    const double f = smoothers.lowFreq.process(targets.lowFreq);
    s.lowShelf.design(LowShelf, f / fs, kShelfQ, g + kLowOffsetDb);
  }
  for (TalvorChannelSections& s : sections)
  {
    const double g = smoothers.highGain.process(targets.highGainDb);
    const double f = smoothers.highFreq.process(targets.highFreq);
    s.highShelf.design(HighShelf, f / fs, kShelfQ, g + kHighOffsetDb);
  }
  for (TalvorChannelSections& s : sections)
    s.mid.fs = fs;
  for (TalvorChannelSections& s : sections)
  {
    const double w = smoothers.midBandwidth.process(targets.midBandwidth);
    const double f = smoothers.midFreq.process(targets.midFreq);
    const double g = smoothers.midGain.process(targets.midGainDb);
    s.mid.design(g + kMidOffsetDb, f, w);
  }

  // A design that failed must not feed NaN into the signal: such a section
  // passes its input through until the next design succeeds.
  for (TalvorChannelSections& s : sections)
  {
    if (!s.highpass.coefficientsAreFinite())
      s.highpass.makeTransparent();
    if (!s.lowShelf.coefficientsAreFinite())
      s.lowShelf.makeTransparent();
    if (!s.highShelf.coefficientsAreFinite())
      s.highShelf.makeTransparent();
    if (!s.mid.coefficientsAreFinite())
      s.mid.makeTransparent();
    if (!s.lowpass.coefficientsAreFinite())
      s.lowpass.makeTransparent();
  }
}

double TALVOR::Saturate(double x) { return SaturateSample(x); }

void TALVOR::ProcessBlock(double** inputs, double** outputs, int nFrames)
{
  RecoverFromNonFinite();
  PrepareBlock();
  if (nFrames <= 0)
    return;

  const double trim = std::pow(10.0, -0.01);
  const bool filterOn = Position(kFilter, 1) == 1;
  const bool processed = Position(kBypass, 1) == 1;

  // A missing buffer reads as silence and is not written.
  const double* inL = inputs ? inputs[0] : nullptr;
  const double* inR = inputs ? inputs[1] : nullptr;
  double* outL = outputs ? outputs[0] : nullptr;
  double* outR = outputs ? outputs[1] : nullptr;

  TalvorChannelSections& left = sections[0];
  TalvorChannelSections& right = sections[1];
  OnePoleSmoother& inputGain = smoothers.inputGain;
  OnePoleSmoother& outputGain = smoothers.outputGain;
  // The gain targets cannot change during a block (parameter changes take the
  // same lock as processing), so their linear values are computed once here;
  // the result is identical to converting them again for every sample.
  const double inputTarget = DbToGain(targets.inputDb);
  const double outputTarget = DbToGain(targets.outputDb);

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
      const double aL = stageShaped[2 * j];
      const double aR = stageShaped[2 * j + 1];

      double bL, bR;
      if (!filterOn)
      {
        bL = Round32(left.highpass.process(Round32(aL)));
        bR = Round32(right.highpass.process(Round32(aR)));
      }
      else
      {
        bL = left.lowpass.process(Round32(left.highpass.process(Round32(aL))));
        bR = right.lowpass.process(Round32(right.highpass.process(Round32(aR))));
      }

      const double mL = Round32(left.mid.process(bL));
      const double lL = Round32(left.lowShelf.process(mL));
      const double cL = Round32(left.highShelf.process(lL));
      const double mR = Round32(right.mid.process(bR));
      const double lR = Round32(right.lowShelf.process(mR));
      const double cR = Round32(right.highShelf.process(lR));

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
}
