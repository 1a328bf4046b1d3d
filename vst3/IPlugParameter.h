#pragma once
// One plug-in parameter as a VST3 host sees it: an SDK parameter object over
// one of the plug-in base's ParamDef records, converting through it.

#include "framework/ParamDef.h"
#include "public.sdk/source/vst/vstparameters.h"

class IPlugParameter : public Steinberg::Vst::Parameter
{
public:
  IPlugParameter(ParamDef* def, int paramIdx, Steinberg::Vst::UnitID unitId);

  void toString(Steinberg::Vst::ParamValue valueNormalized,
                Steinberg::Vst::String128 string) const override;
  bool fromString(const Steinberg::Vst::TChar* string,
                  Steinberg::Vst::ParamValue& valueNormalized) const override;
  Steinberg::Vst::ParamValue toPlain(Steinberg::Vst::ParamValue valueNormalized) const override;
  Steinberg::Vst::ParamValue toNormalized(Steinberg::Vst::ParamValue plainValue) const override;

  OBJ_METHODS(IPlugParameter, Parameter)

private:
  ParamDef* def;  // owned by the plug-in base
};

// Units in one UTF-16 string of the VST3 interfaces, terminator included.
constexpr int kString128Units = sizeof(Steinberg::Vst::String128) / sizeof(Steinberg::Vst::TChar);
