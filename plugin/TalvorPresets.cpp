#include "plugin/TalvorPresets.h"

#include <cmath>
#include <cstring>

#include "framework/IPlugBase.h"

namespace {

const char* const kColumns[] = {
#include "plugin/TalvorPresetColumns.inc"
};
static_assert(sizeof(kColumns) / sizeof(kColumns[0]) == kNumParams, "one table column per parameter");

const TalvorFactoryPreset kPresets[] = {
#include "plugin/TalvorPresetRows.inc"
};
constexpr int kPresetCount = (int)(sizeof(kPresets) / sizeof(kPresets[0]));

std::string Describe(const TalvorFactoryPreset& preset, const ParamDef& param, const char* problem)
{
  return std::string("preset \"") + preset.name + "\": \"" + param.NameForHost() + "\" " + problem;
}

}  // namespace

int TalvorFactoryPresetCount() { return kPresetCount; }

const TalvorFactoryPreset* TalvorFactoryPresetAt(int index)
{
  return index >= 0 && index < kPresetCount ? &kPresets[index] : nullptr;
}

const TalvorFactoryPreset* FindTalvorFactoryPreset(const std::string& name)
{
  for (const TalvorFactoryPreset& preset : kPresets)
    if (name == preset.name) return &preset;
  return nullptr;
}

std::string CheckTalvorFactoryPresets(IPlugBase& plug)
{
  if (plug.ParamCount() != kNumParams) return "the plug-in has another number of parameters";
  for (int i = 0; i < kNumParams; ++i)
    if (std::strcmp(kColumns[i], plug.ParamAt(i)->NameForHost()) != 0)
      return std::string("column ") + std::to_string(i + 3) + " is \"" + kColumns[i] + "\", parameter " +
             std::to_string(i) + " is \"" + plug.ParamAt(i)->NameForHost() + "\"";
  bool flat = false;
  for (const TalvorFactoryPreset& preset : kPresets)
  {
    bool defaults = true;
    for (int i = 0; i < kNumParams; ++i)
    {
      const ParamDef& p = *plug.ParamAt(i);
      const double v = preset.values[i];
      if (!(v >= p.Min() && v <= p.Max())) return Describe(preset, p, "is outside its range");
      const double steps = (v - p.Min()) / p.Step();
      if (std::fabs(steps - std::round(steps)) > 1e-6) return Describe(preset, p, "is not on a step");
      defaults = defaults && v == p.Default();
    }
    if (TalvorSwitchIsOn(preset.values[kLink]) && preset.values[kOutput] != -preset.values[kInput])
      return Describe(preset, *plug.ParamAt(kOutput), "must be minus \"Input\" with \"Link\" on");
    if (std::strcmp(preset.name, "Flat") == 0)
    {
      if (!defaults) return "preset \"Flat\" must hold the defaults";
      flat = true;
    }
  }
  return flat ? "" : "no preset \"Flat\"";
}

void ApplyTalvorFactoryPreset(IPlugBase& plug, const TalvorFactoryPreset& preset)
{
  IPlugLockGuard lock(&plug);
  for (int i = 0; i < kNumParams; ++i)
    plug.SetParamFromHostReal(i, preset.values[i]);
}
