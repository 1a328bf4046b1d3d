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
constexpr int32_t kTalvorVersion = 0x00020000;
constexpr int32_t kTalvorUniqueId = 0x546C7631;  // 'Tlv1'
constexpr int32_t kTalvorMakerId = 0x536D6C62;   // 'Smlb'

class TALVOR : public TalvorBindingBase
{
public:
  explicit TALVOR(IPlugInstanceInfo instanceInfo);
  ~TALVOR() override;

  void ParamChanged(int paramIdx) override;
  void ProcessBlock(double** inputs, double** outputs, int nFrames) override;

  // Smoothed values and targets, exposed for tests.
  // (filled in by the equaliser implementation)
};

// Builds the editor with its twelve controls (defined with the editor layout).
IGraphics* MakeTalvorEditor(IPlugBase* plug);
