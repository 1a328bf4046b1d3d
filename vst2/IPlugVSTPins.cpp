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
  // A side the host leaves out keeps its arrangement; the pair must be one the
  // channel configuration can do, or nothing changes.
  const int nIn = in ? in->numChannels : inputArrangement.numChannels;
  const int nOut = out ? out->numChannels : outputArrangement.numChannels;
  if (nIn < 0 || nIn > NInChannels() || nOut < 0 || nOut > NOutChannels() || !LegalIO(nIn, nOut))
    return 0;
  // What was accepted is what effGetSpeakerArrangement reports and how many
  // channel arrays the process functions read and write.
  auto accept = [](VstSpeakerArrangement& mine, const VstSpeakerArrangement* theirs) {
    if (!theirs) return;
    mine.type = theirs->type;
    mine.numChannels = theirs->numChannels;
    std::copy_n(theirs->speakers, std::min(mine.numChannels, 8), mine.speakers);
  };
  accept(inputArrangement, in);
  accept(outputArrangement, out);
  ConnectInputs(0, nIn, true);
  ConnectInputs(nIn, NInChannels() - nIn, false);
  ConnectOutputs(0, nOut, true);
  ConnectOutputs(nOut, NOutChannels() - nOut, false);
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
