// Parameters as a VST3 host sees them: the "Preset" and "Bypass" parameters the
// binding adds, one IPlugParameter per ParamDef, and the controller's
// parameter calls. Values and texts convert through the ParamDef records.
#include <cmath>
#include <cstring>

#include "framework/TextCopy.h"
#include "vst3/IPlugVST3.h"

using namespace Steinberg;
using namespace Steinberg::Vst;

// ---- IPlugParameter ------------------------------------------------------------------------

IPlugParameter::IPlugParameter(ParamDef* def, int paramIdx, UnitID unitId) : def(def)
{
  info.id = static_cast<ParamID>(paramIdx);
  CopyText(info.title, def->NameForHost());
  info.shortTitle[0] = 0;
  CopyText(info.units, def->LabelForHost());
  info.stepCount = def->Kind() == ParamKindDouble ? 0 : static_cast<int32>(def->Max() - def->Min());
  info.defaultNormalizedValue = def->ToNormalized(def->Default());
  valueNormalized = info.defaultNormalizedValue;
  info.unitId = unitId;
  info.flags = def->CanAutomate() ? ParameterInfo::kCanAutomate : 0;
  precision = def->DisplayPrecision();
}

void IPlugParameter::toString(ParamValue valueNormalized, String128 string) const
{
  if (!string)
    return;
  if (std::isnan(valueNormalized))
  {
    string[0] = 0;
    return;
  }
  char text[ParamDef::kFormatBufferSize] = {};
  def->FormatForHost(valueNormalized, true, text, true);
  CopyText(string, kString128Units, text);
}

bool IPlugParameter::fromString(const TChar* string, ParamValue& valueNormalized) const
{
  if (!string)
    return false;
  // The records' texts are bytes, widened unit by unit for hosts, so a text
  // with a unit beyond a byte (any other character, or a lone surrogate of
  // text that is not UTF-16 at all) can name no value. Refusing it here also
  // keeps every such text away from conversions that could throw.
  char text[kString128Units];
  for (int i = 0; i < kString128Units - 1 && string[i]; ++i)
    if (string[i] > 0xFF)
      return false;
  CopyText(text, string);
  // Text that is not a number is refused rather than read as 0: a typing slip
  // must not throw the parameter to an arbitrary value.
  double plain = 0.0;
  if (!def->ValueFromHostText(text, &plain))
    return false;
  valueNormalized = def->ToNormalized(plain);
  return true;
}

ParamValue IPlugParameter::toPlain(ParamValue valueNormalized) const
{
  if (std::isnan(valueNormalized))
    return def->Min();
  return def->FromNormalized(ParamDef::ClampNormalized(valueNormalized));
}

ParamValue IPlugParameter::toNormalized(ParamValue plainValue) const
{
  if (std::isnan(plainValue))
    return 0.0;
  return def->ToNormalized(plainValue);
}

// ---- The parameter objects ----------------------------------------------------------------

void IPlugVST3::CreateParameterObjects()
{
  String128 title;
  const TChar empty[1] = {0};
  if (PresetCount() > 0)
  {
    // Its value is the normalised position itself (plain = normalised), read
    // and shown with four decimals by a record of its own, like every number
    // a host sees: locale-independent, and never through a conversion that
    // could throw.
    auto* preset = new IPlugParameter(&presetPosition, 0, kRootUnitId);
    ParameterInfo& info = preset->getInfo();
    info.id = kVST3PresetParamId;
    info.stepCount = PresetCount();
    // A program change is a list, as the SDK's own program parameters are:
    // hosts then show the preset names (getParamStringByValue).
    info.flags = ParameterInfo::kIsProgramChange | ParameterInfo::kIsList;
    parameters.addParameter(preset);
  }
  if (!IsInstrument())
  {
    CopyText(title, "Bypass");
    auto* bypass = new StringListParameter(
        title, kVST3BypassParamId, empty,
        ParameterInfo::kCanAutomate | ParameterInfo::kIsList | ParameterInfo::kIsBypass, kRootUnitId,
        empty);
    String128 entry;
    CopyText(entry, "off");
    bypass->appendString(entry);
    CopyText(entry, "on");
    bypass->appendString(entry);
    parameters.addParameter(bypass);
  }
  for (int i = 0; i < ParamCount(); ++i)
  {
    ParamDef* def = ParamAt(i);
    parameters.addParameter(new IPlugParameter(def, i, UnitForGroup(def->Group())));
  }
}

// ---- Controller parameter calls ----------------------------------------------------------------

ParamValue PLUGIN_API IPlugVST3::getParamNormalized(ParamID id)
{
  if (id == kVST3BypassParamId)
    return IsBypassed() ? 1.0 : 0.0;
  if (id < static_cast<ParamID>(ParamCount()))
    return ParamAt(static_cast<int>(id))->NormalizedValue();
  return 0.0;
}

tresult PLUGIN_API IPlugVST3::setParamNormalized(ParamID id, ParamValue value)
{
  if (!std::isfinite(value))
    return kResultFalse;
  if (id == kVST3BypassParamId)
  {
    // The flag process reads; the host's own parameter queue may follow.
    SetBypassed(value > 0.5);
    return kResultOk;
  }
  if (id >= static_cast<ParamID>(ParamCount()))
    return kResultFalse;
  // The controller side only keeps the value; the processor hears the change
  // through its parameter queue.
  SetParamFromHost(static_cast<int>(id), value, HostParamUpdate::StoreOnly);
  return kResultOk;
}

ParamValue PLUGIN_API IPlugVST3::normalizedParamToPlain(ParamID id, ParamValue valueNormalized)
{
  // The SDK's list parameters (the host bypass) convert to an integer index:
  // a position that is not a number, or far outside [0, 1], must never reach
  // that conversion.
  const double x = std::isnan(valueNormalized) ? 0.0 : ParamDef::ClampNormalized(valueNormalized);
  return EditController::normalizedParamToPlain(id, x);
}

ParamValue PLUGIN_API IPlugVST3::plainParamToNormalized(ParamID id, ParamValue plain)
{
  if (id < static_cast<ParamID>(ParamCount()))
    return std::isnan(plain) ? 0.0 : ParamAt(static_cast<int>(id))->ToNormalized(plain);
  return plain;
}

tresult PLUGIN_API IPlugVST3::getParamStringByValue(ParamID id, ParamValue valueNormalized,
                                                    String128 string)
{
  if (!string)
    return kInvalidArgument;
  if (std::isnan(valueNormalized))
  {
    string[0] = 0;
    return kResultFalse;
  }
  // The program position selects preset floor(v x count), as process does.
  if (id == kVST3PresetParamId && valueNormalized >= 0.0 &&
      valueNormalized * PresetCount() < PresetCount())
  {
    CopyText(string, kString128Units, PresetName(static_cast<int>(valueNormalized * PresetCount())));
    return kResultOk;
  }
  // The plug-in's parameters, and the host bypass with its "off" and "on".
  if (id >= static_cast<ParamID>(ParamCount()) && id != kVST3BypassParamId)
    return kResultFalse;
  Parameter* p = parameters.getParameter(id);
  if (!p)
    return kResultFalse;
  p->toString(valueNormalized, string);
  return kResultOk;
}

tresult PLUGIN_API IPlugVST3::getParamValueByString(ParamID id, TChar* string,
                                                    ParamValue& valueNormalized)
{
  if (!string)
    return kInvalidArgument;
  if (id == kVST3PresetParamId)
  {
    // A preset's name reads back as the position that selects it.
    bool bytes = true;
    for (int i = 0; i < kString128Units - 1 && string[i]; ++i)
      bytes = bytes && string[i] <= 0xFF;  // narrowing would alias other characters
    char text[kString128Units];
    CopyText(text, string);
    for (int i = 0; bytes && i < PresetCount(); ++i)
    {
      if (std::strcmp(text, PresetName(i)) == 0)
      {
        valueNormalized = static_cast<double>(i) / PresetCount();
        return kResultOk;
      }
    }
  }
  Parameter* p = parameters.getParameter(id);
  if (p && p->fromString(string, valueNormalized))
    return kResultOk;
  return kResultFalse;
}
