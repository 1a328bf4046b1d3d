// Construction of the VST2 binding, its set-up when the host opens it, the
// editor size and latency it reports, and the record functions that process
// audio and get and set parameters.
#include "vst2/IPlugVST.h"

#include <algorithm>
#include <cstring>
#include <type_traits>

#include "framework/HostId.h"
#include "graphics/IGraphics.h"

namespace
{
int16_t ClampToInt16(int v)
{
  return (int16_t)std::clamp(v, 0, 32767);
}
}  // namespace

IPlugVST::IPlugVST(IPlugInstanceInfo instanceInfo, int nParams, const char* channelIOStr,
                   int nPresets, const char* effectName, const char* productName,
                   const char* makerName, int32_t version, int32_t uniqueId, int32_t makerId)
  : IPlugBase(nParams, channelIOStr, nPresets, effectName, productName, makerName, version,
              uniqueId, makerId, kApiVST2),
    hostCallback(reinterpret_cast<audioMasterCallback>(instanceInfo.hostCallback))
{
  std::memset(&effect, 0, sizeof(effect));
  effect.magic = kEffectMagic;
  effect.dispatcher = VSTDispatcher;
  effect.process = VSTProcess;
  effect.setParameter = VSTSetParameter;
  effect.getParameter = VSTGetParameter;
  effect.numPrograms = PresetCount();
  effect.numParams = ParamCount();
  effect.numInputs = NInChannels();
  effect.numOutputs = NOutChannels();
  effect.flags = effFlagsCanReplacing | effFlagsCanDoubleReplacing;
  if (LegalIO(1, -1)) effect.flags |= effFlagsCanMono;
  effect.initialDelay = Latency();
  effect.ioRatio = 1.0f;
  effect.object = this;
  effect.uniqueID = UniqueId();
  effect.version = DecimalVersion();
  effect.processReplacing = VSTProcessReplacing;
  effect.processDoubleReplacing = VSTProcessDoubleReplacing;

  InitSpeakerArrangements();

  ConnectInputs(0, NInChannels(), true);
  ConnectOutputs(0, NOutChannels(), true);
  if (BlockSize() != 1024) ChangeBlockSize(1024);
}

IPlugVST::~IPlugVST() = default;

IPlugVST* IPlugVST::FromEffect(AEffect* effect)
{
  return effect ? static_cast<IPlugVST*>(effect->object) : nullptr;
}

// ---- Set-up, editor and latency -------------------------------------------------------

void IPlugVST::HostSpecificSetup()
{
  switch (HostId())
  {
    case kHostForte:
    case kHostAudition:
    case kHostOrion:
    case kHostSAWStudio:
      RestrictToStereo();
      break;
    default:
      break;
  }
  effect.numInputs = inputArrangement.numChannels = NInChannels();
  effect.numOutputs = outputArrangement.numChannels = NOutChannels();
  HostIdentified();
}

void IPlugVST::SetEditorRect()
{
  IGraphics* editor = Editor();
  editorRect.top = 0;
  editorRect.left = 0;
  editorRect.bottom = editor ? ClampToInt16(editor->ScaledHeight()) : 0;
  editorRect.right = editor ? ClampToInt16(editor->ScaledWidth()) : 0;
}

void IPlugVST::AttachEditor(IGraphics* editor)
{
  IPlugBase::AttachEditor(editor);
  if (Editor())
  {
    effect.flags |= effFlagsHasEditor;
    SetEditorRect();
  }
}

void IPlugVST::ResizeEditor(int width, int height)
{
  if (!Editor()) return;
  SetEditorRect();
  // The editor changed its size itself (a new display scale): the host sizes
  // its window to it.
  if (Editor()->IsWindowOpen()) HostCall(audioMasterSizeWindow, width, height);
  WindowResized();
}

void IPlugVST::ChangeLatency(int samples)
{
  IPlugBase::ChangeLatency(samples);
  effect.initialDelay = Latency();
}

// ---- Process and parameter record functions ----------------------------------------------

template <typename Sample>
void IPlugVST::ProcessFromHost(AEffect* effect, Sample** inputs, Sample** outputs, VstInt32 nFrames,
                               bool accumulate)
{
  IPlugVST* plug = FromEffect(effect);
  if (!plug) return;
  IPlugLockGuard hold(plug);
  // An empty block still runs the plug-in: its per-block preparation applies
  // what changed since the last block.
  if (nFrames < 0) return;
  if (plug->DoesMidi()) plug->HostCall(audioMasterWantMidi);
  // The host passes one array per channel of the arrangement it set, which
  // may be fewer than the record announced.
  const int nIn = plug->inputArrangement.numChannels, nOut = plug->outputArrangement.numChannels;
  if constexpr (std::is_same_v<Sample, float>)
    plug->ProcessHostBlock32(inputs, nIn, outputs, nOut, nFrames, accumulate);
  else
    plug->ProcessHostBlock64(inputs, nIn, outputs, nOut, nFrames);
}

void IPlugVST::VSTProcess(AEffect* effect, float** inputs, float** outputs, VstInt32 nFrames)
{
  ProcessFromHost(effect, inputs, outputs, nFrames, true);
}

void IPlugVST::VSTProcessReplacing(AEffect* effect, float** inputs, float** outputs, VstInt32 nFrames)
{
  ProcessFromHost(effect, inputs, outputs, nFrames, false);
}

void IPlugVST::VSTProcessDoubleReplacing(AEffect* effect, double** inputs, double** outputs,
                                         VstInt32 nFrames)
{
  ProcessFromHost(effect, inputs, outputs, nFrames, false);
}

float IPlugVST::VSTGetParameter(AEffect* effect, VstInt32 index)
{
  IPlugVST* plug = FromEffect(effect);
  if (!plug) return 0.0f;
  IPlugLockGuard hold(plug);
  const ParamDef* param = plug->ParamAt(index);
  return param ? (float)param->NormalizedValue() : 0.0f;
}

void IPlugVST::VSTSetParameter(AEffect* effect, VstInt32 index, float value)
{
  IPlugVST* plug = FromEffect(effect);
  if (!plug) return;
  IPlugLockGuard hold(plug);
  plug->SetParamFromHost(index, value);
}
