#pragma once
// What TALVOR declares to the plug-in base, apart from its engine: the
// parameter indices, the channel configuration, the preset count, the
// parameter declarations and the editor layout. The processing instance and
// the LV2 editor module (which has no engine) both build on these.

class IGraphics;
class IPlugBase;

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
// Mono (one in, one out) or stereo (two in, two out).
constexpr const char* kTalvorChannelIO = "1-1 2-2";

// "Input" and "Output" range over this many dB either way.
constexpr double kTalvorGainRangeDb = 12.0;

// A switch parameter ("Bypass", "Filter", "Link") counts as on from 1 up: a
// value in between, as a restored state may hold, counts as off.
inline bool TalvorSwitchIsOn(double value) { return value >= 1.0; }

// Declares the kNumParams parameters of `plug` (which must have that many).
void DeclareTalvorParams(IPlugBase& plug);

// Builds the editor with its twelve controls (defined with the editor layout).
IGraphics* MakeTalvorEditor(IPlugBase* plug);
