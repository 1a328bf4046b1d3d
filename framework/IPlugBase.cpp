// Construction, the default virtual operations, the parameter paths and the
// accessors of the plug-in base. Channels and blocks are in IPlugChannels.cpp,
// state and presets in IPlugState.cpp.
#include "framework/IPlugBase.h"

#include <cmath>
#include <cstring>

#include "framework/HostId.h"
#include "framework/TextCopy.h"
#include "graphics/IGraphics.h"

IPlugBase::IPlugBase(int nParams, const char* channelIOStr, int nPresets, const char* effect,
                     const char* product, const char* maker, int32_t versionCode,
                     int32_t uniqueCode, int32_t makerCode, int32_t apiCode)
  : uniqueId(uniqueCode), makerId(makerCode), version(versionCode), api(apiCode)
{
  for (int i = 0; i < nParams; ++i) params.push_back(std::make_unique<ParamDef>());
  for (int i = 0; i < nPresets; ++i) presets.push_back(std::make_unique<PresetSlot>());

  CopyText(effectName, effect);
  CopyText(productName, product);
  CopyText(makerName, maker);

  SetUpChannels(channelIOStr);
}

IPlugBase::~IPlugBase()
{
  // The editor goes first: its controls may still look at parameters.
  delete editor;
  editor = nullptr;
}

// ---- Default virtual operations ------------------------------------------------------

void IPlugBase::OnReset() { IPlugLockGuard guard(this); }

void IPlugBase::ParamChanged(int) { IPlugLockGuard guard(this); }

void IPlugBase::ActivationChanged(bool) { IPlugLockGuard guard(this); }

void IPlugBase::ProcessBlock(double** inputs, double** outputs, int nFrames)
{
  if (!outputs || nFrames <= 0) return;
  const int nIn = NInChannels();
  for (int c = 0; c < NOutChannels(); ++c)
  {
    double* out = outputs[c];
    if (!out) continue;
    const double* in = (inputs && c < nIn) ? inputs[c] : nullptr;
    if (in == out) continue;
    if (in)
      std::memmove(out, in, sizeof(double) * (size_t)nFrames);
    else
      std::memset(out, 0, sizeof(double) * (size_t)nFrames);
  }
}

bool IPlugBase::NoteNameFor(int, char* outText)
{
  if (outText) outText[0] = '\0';
  return false;
}

void IPlugBase::AttachEditor(IGraphics* newEditor)
{
  if (!newEditor) return;
  IPlugLockGuard guard(this);
  for (int i = 0; i < ParamCount(); ++i)
    newEditor->ShowParameterValue(i, params[i]->NormalizedValue(), true);
  newEditor->PrepareDrawing();
  // A second editor replaces the first; the base owns whichever is attached.
  if (editor != newEditor) delete editor;
  editor = newEditor;
}

void IPlugBase::RefreshParamControls()
{
  if (!editor) return;
  for (int i = 0; i < ParamCount(); ++i) editor->ShowParameterValue(i, params[i]->Value(), false);
}

// ---- Parameter paths -----------------------------------------------------------------------

void IPlugBase::SetParamFromEditor(int paramIdx, double normalizedValue)
{
  IPlugLockGuard guard(this);
  ParamDef* param = ParamAt(paramIdx);
  if (!param) return;
  param->SetFromNormalized(normalizedValue);
  SendParamToHost(paramIdx, normalizedValue);
  ParamChanged(paramIdx);
}

bool IPlugBase::SetParamFromHost(int paramIdx, double normalizedValue, HostParamUpdate update)
{
  ParamDef* param = ParamAt(paramIdx);
  // NaN carries no position: the parameter keeps its value.
  if (!param || std::isnan(normalizedValue)) return false;
  const double x = ParamDef::ClampNormalized(normalizedValue);
  param->SetFromNormalized(x);
  if (update == HostParamUpdate::Apply)
  {
    if (editor) editor->ShowParameterValue(paramIdx, x, true);
    ParamChanged(paramIdx);
  }
  return true;
}

bool IPlugBase::SetParamFromHostText(int paramIdx, const char* text)
{
  ParamDef* param = ParamAt(paramIdx);
  double v = 0.0;
  if (!param || !param->ValueFromHostText(text, &v)) return false;
  param->SetClamped(v);
  if (editor) editor->ShowParameterValue(paramIdx, v, false);
  ParamChanged(paramIdx);
  return true;
}

bool IPlugBase::SetParamFromHostReal(int paramIdx, double value)
{
  ParamDef* param = ParamAt(paramIdx);
  if (!param || std::isnan(value)) return false;
  if (param->Kind() == ParamKindDouble)
    param->SetClamped(value);
  else
    param->SetFromNormalized(param->ToNormalized(value));  // the nearest position
  if (editor) editor->ShowParameterValue(paramIdx, param->Value(), false);
  ParamChanged(paramIdx);
  return true;
}

void IPlugBase::NotifyAllParamsChanged()
{
  for (int i = 0; i < ParamCount(); ++i) ParamChanged(i);
}

// ---- Accessors -----------------------------------------------------------------------

ParamDef* IPlugBase::ParamAt(int idx)
{
  return (idx >= 0 && idx < ParamCount()) ? params[idx].get() : nullptr;
}

const ParamDef* IPlugBase::ParamAt(int idx) const
{
  return (idx >= 0 && idx < ParamCount()) ? params[idx].get() : nullptr;
}

PresetSlot* IPlugBase::PresetAt(int idx)
{
  return (idx >= 0 && idx < PresetCount()) ? presets[idx].get() : nullptr;
}

const char* IPlugBase::PresetName(int idx) const
{
  if (idx < 0 || idx >= PresetCount()) return "";
  return presets[idx]->name;
}

int32_t IPlugBase::DecimalVersion() const
{
  const uint32_t v = (uint32_t)version;
  return (int32_t)((v >> 16) * 10000 + ((v >> 8) & 0xFF) * 100 + (v & 0xFF));
}

// ---- Host identification -------------------------------------------------------------------

void IPlugBase::IdentifyHost(const char* name, int32_t hostVersionCode)
{
  hostKind = HostCodeFromName(name);
  hostVersion = hostVersionCode;
}
