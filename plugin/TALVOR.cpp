#include "plugin/TALVOR.h"

#include "graphics/IGraphics.h"
#include "plugin/TalvorLegends.h"

TALVOR::TALVOR(IPlugInstanceInfo instanceInfo)
  : TalvorBindingBase(instanceInfo, kNumParams, kTalvorChannelIO, kNumPresets, TALVOR_NAME, TALVOR_PRODUCT_NAME,
                      TALVOR_MAKER, kTalvorVersion, kTalvorUniqueId, kTalvorMakerId)
{
  DeclareTalvorParams(*this);
  DescribeTalvorParams(*this);
#if !defined(TALVOR_LV2)
  // An LV2 host runs the editor as a UI module of its own, beside the instance.
  AttachEditor(MakeTalvorEditor(this));
#endif
  FillDefaultPresets("-", 1);

  // The engine must describe the current parameters before the first block.
  for (int i = 0; i < kNumParams; ++i)
    ParamChanged(i);
}

TALVOR::~TALVOR() = default;

void TALVOR::ParamChanged(int paramIdx)
{
  IPlugLockGuard lock(this);
  const ParamDef* param = ParamAt(paramIdx);
  if (!param)
    return;
  const double v = param->Value();
  switch (paramIdx)
  {
  case kLowGain: engine.SetLowGain(v); break;
  case kLowFreq: engine.SetLowFreq(v); break;
  case kMidGain: engine.SetMidGain(v); break;
  case kMidFreq: engine.SetMidFreq(v); break;
  case kHighGain: engine.SetHighGain(v); break;
  case kHighFreq: engine.SetHighFreq(v); break;
  case kInput: engine.SetInputDb(v); break;
  case kOutput: engine.SetOutputDb(v); break;
  case kFilter: engine.SetFilter(v); break;
  default:
    // "Bypass" and "Link" are read at the start of every block.
    break;
  }
}

// The gain range the parameters declare is the one the engine keeps to.
static_assert(kTalvorGainRangeDb == TalvorEngine::kGainRangeDb, "the gains' range");

void TALVOR::ActivationChanged(bool active)
{
  IPlugLockGuard lock(this);
  if (active)
    engine.Restart();
}

bool TALVOR::SwitchIsOn(int paramIdx) const
{
  const ParamDef* param = ParamAt(paramIdx);
  return param && TalvorSwitchIsOn(param->Value());
}

void TALVOR::ProcessBlock(double** inputs, double** outputs, int nFrames)
{
  PrepareEngine();
  engine.RunBlock(inputs, outputs, nFrames);
}

bool TALVOR::ProcessBlock32(float** inputs, float** outputs, int nFrames)
{
  PrepareEngine();
  engine.RunBlock(inputs, outputs, nFrames);
  return true;
}

void TALVOR::PrepareEngine()
{
  // The switches are read as the parameters stand now, whether or not a
  // change was announced through ParamChanged.
  TalvorSwitches switches;
  switches.filterOn = SwitchIsOn(kFilter);
  switches.processed = SwitchIsOn(kBypass) && !IsBypassed();
  switches.linked = SwitchIsOn(kLink);
  if (engine.PrepareBlock(SampleRate(), switches))
  {
    // The "Output" control follows the linked gain; the host is not told.
    const double linked = engine.Targets().outputDb;
    ParamAt(kOutput)->SetClamped(linked);
    if (IGraphics* editor = Editor())
      editor->ShowParameterValue(kOutput, linked, false);
  }
}
