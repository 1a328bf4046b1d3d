// Pin properties and speaker arrangements: what a VST2 host learns about the
// plug-in's channels, and how it connects fewer of them.
#include <algorithm>
#include <cstdio>
#include <cstring>

#include "framework/TextCopy.h"
#include "vst2/IPlugVST.h"

namespace
{
VstInt32 SpeakerArrangementType(int nChannels)
{
  switch (nChannels)
  {
    case 0: return kSpeakerArrEmpty;
    case 1: return kSpeakerArrMono;
    case 2: return kSpeakerArrStereo;
    default: return kSpeakerArrUserDefined;
  }
}
}  // namespace

void IPlugVST::InitSpeakerArrangements()
{
  std::memset(&inputArrangement, 0, sizeof(inputArrangement));
  std::memset(&outputArrangement, 0, sizeof(outputArrangement));
  inputArrangement.type = SpeakerArrangementType(NInChannels());
  inputArrangement.numChannels = NInChannels();
  outputArrangement.type = SpeakerArrangementType(NOutChannels());
  outputArrangement.numChannels = NOutChannels();
}

VstIntPtr IPlugVST::PinProperties(bool output, int index, VstPinProperties* props)
{
  int count = output ? NOutChannels() : NInChannels();
  if (!props || index < 0 || index >= count) return 0;
  props->flags = kVstPinIsActive;
  if (index % 2 == 0 && index < count - 1) props->flags |= kVstPinIsStereo;
  const std::string& label = output ? OutChannelLabel(index) : InChannelLabel(index);
  if (!label.empty())
    CopyText(props->label, label.c_str());
  else
    std::snprintf(props->label, sizeof(props->label), output ? "Output %d" : "Input %d", index + 1);
  return 1;
}

VstIntPtr IPlugVST::SetSpeakerArrangement(const VstSpeakerArrangement* in, const VstSpeakerArrangement* out)
{
  if (in)
  {
    int n = std::clamp(in->numChannels, 0, NInChannels());
    ConnectInputs(0, n, true);
    ConnectInputs(n, NInChannels() - n, false);
  }
  if (out)
  {
    int n = std::clamp(out->numChannels, 0, NOutChannels());
    ConnectOutputs(0, n, true);
    ConnectOutputs(n, NOutChannels() - n, false);
  }
  // A disconnected channel now reads its scratch buffer, which may still
  // hold the last block converted into it: silence it.
  ClearScratch();
  return 1;
}

VstIntPtr IPlugVST::GetSpeakerArrangement(VstSpeakerArrangement** in, VstSpeakerArrangement** out)
{
  if (in) *in = &inputArrangement;
  if (out) *out = &outputArrangement;
  return 1;
}
