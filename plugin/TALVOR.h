#pragma once
// TALVOR: a three-band stepped equaliser with input saturation, output trim,
// "Filter", "Link" and "Bypass" switches. The same class builds into every
// deliverable; only its binding base changes.

#if defined(TALVOR_VST3)
#include "vst3/IPlugVST3.h"
using TalvorBindingBase = IPlugVST3;
#elif defined(TALVOR_VST2)
#include "vst2/IPlugVST.h"
using TalvorBindingBase = IPlugVST;
#else
#include "framework/IPlugOffline.h"
using TalvorBindingBase = IPlugOffline;
#endif

#include "plugin/FilterSections.h"
#include "plugin/TalvorIdentity.h"  // generated: name, maker, version, codes

enum TalvorParam : int
{
  kLowGain = 0,
  kLowFreq,
  kMidGain,
  kMidFreq,
  kHighGain,
  kHighFreq,
  kInput,
  kOutput,
  kBypass,
  kFilter,
  kLink,
  kNumParams
};

constexpr int kNumPresets = 1;

// What the parameters ask for; the per-block preparation glides toward these.
struct TalvorTargets
{
  double lowGainDb = 0.0;
  double lowFreq = 0.0;
  double midGainDb = 0.0;
  double midBandwidth = 0.0;
  double midFreq = 0.0;
  double highGainDb = 0.0;
  double highFreq = 0.0;
  double inputDb = 0.0;
  double outputDb = 0.0;
  double hpFreq = 0.0;
  double hpQ = 0.0;
};

struct TalvorSmoothers
{
  OnePoleSmoother hpFreq, hpQ;
  OnePoleSmoother lowGain, lowFreq;
  OnePoleSmoother midGain, midFreq;
  OnePoleSmoother highGain, highFreq;
  OnePoleSmoother inputGain, outputGain;
  OnePoleSmoother midBandwidth;  // never given coefficients: passes its input through
};

// The filter sections of one channel.
struct TalvorChannelSections
{
  BiquadSection highpass;
  BiquadSection lowShelf;
  BiquadSection highShelf;
  ParametricSection mid;
  MatchedLowpass lowpass;
};

class TALVOR : public TalvorBindingBase
{
public:
  explicit TALVOR(IPlugInstanceInfo instanceInfo);
  ~TALVOR() override;

  void ParamChanged(int paramIdx) override;
  void ProcessBlock(double** inputs, double** outputs, int nFrames) override;

  // The input waveshaper: a gain of 1.2 for small signals, softly limiting
  // and slightly asymmetric for large ones.
  static double Saturate(double x);

  // Working state, read-only, for tests and diagnostics.
  const TalvorTargets& Targets() const { return targets; }
  const TalvorSmoothers& Smoothers() const { return smoothers; }
  const TalvorChannelSections& Sections(int channel) const { return sections[channel == 1 ? 1 : 0]; }
  // The sample rate the last block was designed for.
  double DesignSampleRate() const { return designRate; }

private:
  void PrepareBlock();
  void RecoverFromNonFinite();
  int Position(int paramIdx, int last) const;
  double GainDb(int paramIdx) const;

  TalvorTargets targets;
  TalvorSmoothers smoothers;
  TalvorChannelSections sections[2];
  double designRate = 44100.0;

  // The input stage runs ahead of the filters over up to kStageFrames frames
  // at a time, left and right interleaved: it does not depend on the filter
  // state, and the waveshaper is cheaper over many values at once.
  static constexpr int kStageFrames = 64;
  static_assert(kStageFrames % 2 == 0, "a run's values are padded to a multiple of four");
  double stageRaw[2 * kStageFrames] = {};     // the host's samples, for "Bypass"
  double stageScaled[2 * kStageFrames] = {};  // after the input gain
  double stageShaped[2 * kStageFrames] = {};  // after the waveshaper
};

// Builds the editor with its twelve controls (defined with the editor layout).
IGraphics* MakeTalvorEditor(IPlugBase* plug);
