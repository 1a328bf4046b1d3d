#pragma once
// The equaliser's signal processing, apart from any plug-in binding: the
// control settings in the controls' own terms, the targets they stand for,
// the smoothers gliding toward them, both channels' filter sections, the
// per-block preparation and the per-sample chain. It knows no parameters,
// hosts or editors, so it is built once and run directly by the tests and
// the benchmarks.

#include "dsp/DspKernels.h"
#include "dsp/FilterSections.h"

// What the controls ask for; the per-block preparation glides toward these.
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

// The switches as they stand for one block.
struct TalvorSwitches
{
  bool filterOn = false;  // 15 Hz high-pass plus the 19.1 kHz low-pass
  bool processed = true;  // false passes the input through unchanged
  bool linked = false;    // the output gain mirrors the input gain
};

class TalvorEngine
{
public:
  // The input and output gains are kept inside this many dB either way.
  static constexpr double kGainRangeDb = 12.0;

  // Starts with every control at its flat setting (gain positions 5, the
  // other positions 0, both gains 0 dB); the smoothers start from 0, so the
  // first blocks glide in.
  TalvorEngine();

  // Control positions, as a parameter holds them: truncated toward zero and
  // kept inside the position tables (NaN counts as position 0).
  void SetLowGain(double position);
  void SetLowFreq(double position);
  void SetMidGain(double position);  // the mid gain and its bandwidth
  void SetMidFreq(double position);
  void SetHighGain(double position);
  void SetHighFreq(double position);
  void SetFilter(double position);  // the high-pass frequency and Q
  // Gains in dB, kept inside kGainRangeDb (NaN counts as 0 dB).
  void SetInputDb(double db);
  void SetOutputDb(double db);

  // A switch position as a parameter holds it: on from 1 up.
  static bool SwitchIsOn(double position) { return position >= 1.0; }

  // The per-block preparation: smoother coefficients for the sample rate
  // (an unusable rate keeps the last usable one), the Link rule, and every
  // section designed anew. Returns true when the Link rule has set the output
  // gain; Targets().outputDb then holds it.
  bool PrepareBlock(double sampleRate, const TalvorSwitches& switches);
  // Runs nFrames frames through the chain as last prepared. A missing buffer
  // reads as silence and is not written; input and output may be the same
  // memory; non-finite input is silence to the processed path.
  void RunBlock(double** inputs, double** outputs, int nFrames);
  // One host block: PrepareBlock, then RunBlock; returns what PrepareBlock did.
  bool ProcessBlock(double sampleRate, const TalvorSwitches& switches, double** inputs, double** outputs,
                    int nFrames)
  {
    const bool linked = PrepareBlock(sampleRate, switches);
    RunBlock(inputs, outputs, nFrames);
    return linked;
  }

  // The instruction-set path the block loops run on: the fastest the
  // processor supports unless a test chose another. Every path renders the
  // same bits. Returns false, changing nothing, for a path it cannot run.
  bool UseDspPath(DspPath path);
  DspPath ActiveDspPath() const { return path; }

  // Working state, read-only, for tests and diagnostics.
  const TalvorTargets& Targets() const { return targets; }
  const TalvorSmoothers& Smoothers() const { return smoothers; }
  const TalvorChannelSections& Sections(int channel) const { return sections[channel == 1 ? 1 : 0]; }
  // The sample rate the last block was designed for.
  double DesignSampleRate() const { return designRate; }

private:
  void RecoverFromNonFinite();
  void DesignSmoothers(double fs);
  void DesignChannel(int channel, double fs);
  template <class Visit>
  void ForEachSection(Visit visit);
  void RunReference(const double* inL, const double* inR, double* outL, double* outR, int nFrames);
  void RunStaged(const double* inL, const double* inR, double* outL, double* outR, int nFrames);

  TalvorTargets targets;
  TalvorSmoothers smoothers;
  TalvorChannelSections sections[2];
  TalvorSwitches blockSwitches;
  double designRate = 44100.0;
  DspPath path = FastestDspPath();
  const DspKernels* kernels = KernelsFor(path);
  // A block's signal went beyond the 32-bit range and was limited to it.
  bool signalLimited = false;

  // Designs are pure functions of their inputs, so a design whose inputs
  // are the same bits as last time is kept rather than computed again.
  double smootherRate = 0.0;   // the rate the smoother coefficients are for; 0: none yet
  float lowpassRate = 0.0f;    // likewise for both low-pass sections
  struct MidDesign
  {
    double fs, gainDb, freq, bandwidth;
  } midDesign[2] = {};
  bool midDesigned[2] = {false, false};
  bool designed = false;  // some section was designed in this block's preparation
  // The linear gains of the last gain targets, and the fixed output trim.
  double inputGainDb = 0.0, inputGain = 1.0;
  double outputGainDb = 0.0, outputGain = 1.0;
  const double trim;

  // The vector paths run each stage over up to kStageFrames frames at a time,
  // left and right interleaved.
  static constexpr int kStageFrames = 128;
  double stageRaw[2][kStageFrames] = {};      // the host's samples, for "Bypass"
  double stageWork[2 * kStageFrames] = {};    // the input stage's and the waveshaper's output
  double stageChain[2 * kStageFrames] = {};   // the filter sections' output
  double stageGains[2 * kStageFrames] = {};   // a gliding gain, value by value
};