#pragma once
// TALVOR: a three-band stepped equaliser with input saturation, output trim,
// "Filter", "Link" and "Bypass" switches. The class is the plug-in around its
// engine: identity, parameters, editor and presets. It builds into every
// deliverable with only its binding base changed; the signal processing is
// TalvorEngine's, which is built once.

#if defined(TALVOR_VST3)
#include "vst3/IPlugVST3.h"
using TalvorBindingBase = IPlugVST3;
#elif defined(TALVOR_VST2)
#include "vst2/IPlugVST.h"
using TalvorBindingBase = IPlugVST;
#elif defined(TALVOR_LV2)
#include "lv2/IPlugLV2.h"
using TalvorBindingBase = IPlugLV2;
#else
#include "framework/IPlugOffline.h"
using TalvorBindingBase = IPlugOffline;
#endif

#include "dsp/TalvorEngine.h"
#include "plugin/TalvorIdentity.h"  // generated: name, maker, version, codes
#include "plugin/TalvorParams.h"

class TALVOR : public TalvorBindingBase
{
public:
  explicit TALVOR(IPlugInstanceInfo instanceInfo);
  ~TALVOR() override;

  void ParamChanged(int paramIdx) override;
  void ProcessBlock(double** inputs, double** outputs, int nFrames) override;
  // 32-bit hosts' buffers are read and written by the engine's own stages.
  bool ProcessBlock32(float** inputs, float** outputs, int nFrames) override;
  // Processing (re)starts: the engine starts afresh at the settings.
  void ActivationChanged(bool active) override;
  // The host's bypass cross-fades like "Bypass", the chain running on.
  bool HandlesHostBypass() const override { return true; }

  // The equaliser itself, read-only, for tests and diagnostics.
  const TalvorEngine& Engine() const { return engine; }
  // Runs the block loops on the given instruction-set path (tests and
  // diagnostics); false, changing nothing, for a path this processor lacks.
  bool UseDspPath(DspPath path) { return engine.UseDspPath(path); }

private:
  bool SwitchIsOn(int paramIdx) const;
  // The block's switches from the parameters, and the engine's preparation.
  void PrepareEngine();

  TalvorEngine engine;
};
