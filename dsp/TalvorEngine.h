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

// The glides toward the targets. The band and high-pass controls glide in
// steps of kControlInterval frames; the gains glide frame by frame.
struct TalvorSmoothers
{
  OnePoleSmoother hpFreq, hpQ;
  OnePoleSmoother lowGain, lowFreq;
  OnePoleSmoother midGain, midFreq;
  OnePoleSmoother highGain, highFreq;
  OnePoleSmoother inputGain, outputGain;
  OnePoleSmoother midBandwidth;
  // While Link is on, the output gain is the input gain's mirror times this
  // ratio, which glides to 1: switching Link on moves the output gain from
  // where it stood to the mirror without a jump.
  OnePoleSmoother linkRatio;
};

// A switch's cross-fade: a position from 0 (off) to length (on), one step per
// frame toward where the switch stands.
struct SwitchFade
{
  int length = 1;
  int position = 0;
  bool on = false;

  bool Moving() const { return position != (on ? length : 0); }
  void Settle() { position = on ? length : 0; }
  // One frame on: the weight of the "on" signal for that frame, eased at
  // both ends, exactly 0 and 1 there.
  double Next()
  {
    if (on ? position < length : position > 0)
      position += on ? 1 : -1;
    const double t = (double)position / (double)length;
    return t * t * (3.0 - 2.0 * t);
  }
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

  // The band and high-pass glides step once every this many frames, counted
  // from the first frame processed, wherever the host's blocks begin.
  static constexpr int kControlInterval = 32;
  // Time constant of those glides (90 % in about 23 ms).
  static constexpr double kGlideSeconds = 0.010;
  // "Bypass", the host's bypass and "Filter" cross-fade over this long.
  static constexpr double kSwitchFadeSeconds = 0.010;

  // Starts with every control at its flat setting (gain positions 5, the
  // other positions 0, both gains 0 dB). The first block starts at the
  // settings as they stand then: nothing glides in.
  TalvorEngine();

  // Starts afresh, as a new instance would (a host activating processing):
  // the filters' histories cleared, and the next block starts at the
  // settings as they stand then.
  void Restart();

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

  // The per-block preparation: the switches for the block, smoother
  // coefficients for the sample rate (an unusable rate keeps the last usable
  // one), and the Link rule. The first block, and a block at a new sample
  // rate, start at the settings. Returns true when the Link rule has set the
  // output gain; Targets().outputDb then holds it.
  bool PrepareBlock(double sampleRate, const TalvorSwitches& switches);
  // Runs nFrames frames through the chain as last prepared, the glides and
  // cross-fades advancing with the frames. A missing buffer reads as silence
  // and is not written; input and output may be the same memory; non-finite
  // input is silence to the processed path.
  void RunBlock(double** inputs, double** outputs, int nFrames);
  // The same with a host's 32-bit buffers: the samples read as 64-bit
  // values, and each output limited to the float range (NaN passed) and
  // rounded, as the 64-bit block converted for such a host would give it.
  void RunBlock(float** inputs, float** outputs, int nFrames);
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
  void RecoverFromOverload();
  void DesignSmoothers(double fs);
  void StartAtTargets();
  bool Gliding() const;
  void StepGlides();
  void DesignSections();
  template <class Visit>
  void ForEachSection(Visit visit);
  double LinkedGain(double inputGainNow, double ratio) const;
  const double* OutputGains(const double* inputGains, double inputGainNow, int count, double& gain);
  double OutputGainStep(double inputGainNow);
  template <class Sample>
  void RunBlockOf(Sample** inputs, Sample** outputs, int nFrames);
  template <class Sample>
  void RunReference(const Sample* inL, const Sample* inR, Sample* outL, Sample* outR, int nFrames);
  template <class Sample>
  void RunStaged(const Sample* inL, const Sample* inR, Sample* outL, Sample* outR, int nFrames);

  TalvorTargets targets;
  TalvorSmoothers smoothers;
  TalvorChannelSections sections[2];
  TalvorSwitches blockSwitches;
  SwitchFade processedFade;  // on: the equaliser in circuit
  SwitchFade lowpassFade;    // on: the "Filter" low-pass in the chain
  bool linkedBefore = false;
  bool startPending = true;  // the next block starts at the settings
  // Frames since the last glide step, 0 to kControlInterval - 1.
  int controlPhase = 0;
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
  } midDesign = {};
  bool midDesigned = false;
  // The linear gains of the last gain targets, and the fixed output trim.
  double inputGainDb = 0.0, inputGain = 1.0;
  double outputGainDb = 0.0, outputGain = 1.0;
  const double trim;

  // The vector paths run each stage over up to kStageFrames frames at a time,
  // left and right interleaved.
  static constexpr int kStageFrames = 128;
  double stageRaw[2][kStageFrames] = {};      // the host's samples, for "Bypass"
  double stageWork[2 * kStageFrames] = {};    // the input stage's and the waveshaper's output
  float stageChain[2 * kStageFrames] = {};    // the filter sections' output, rounded to 32 bits
  // Gliding gains, value by value: the input gain, the Link ratio and the
  // output gain.
  double stageInputGains[2 * kStageFrames] = {};
  double stageRatios[2 * kStageFrames] = {};
  double stageOutputGains[2 * kStageFrames] = {};
};