// The VST3 buses: their labels, the buses built at initialisation, and the
// layouts a host may ask for.
#include <algorithm>
#include <cstdio>

#include "framework/TextCopy.h"
#include "pluginterfaces/vst/vstspeaker.h"
#include "vst3/IPlugVST3.h"

using namespace Steinberg;
using namespace Steinberg::Vst;

SpeakerArrangement SpeakerArrangementForChannels(int nChannels)
{
  switch (nChannels)
  {
    case 1: return SpeakerArr::kMono;
    case 2: return SpeakerArr::kStereo;
    case 3: return SpeakerArr::k30Music;
    case 4: return SpeakerArr::k40Music;
    case 5: return SpeakerArr::k50;
    case 6: return SpeakerArr::k51;
    default: return SpeakerArr::kEmpty;
  }
}

namespace {

const char* LabelAt(const std::vector<std::string>& labels, size_t idx)
{
  return idx < labels.size() ? labels[idx].c_str() : "";
}

// A new layout replaces the main bus of `buses` when its width differs. The
// host's activation carries over, since a host need not activate a bus again
// after a new arrangement.
void ReplaceMainBus(BusList& buses, const char* name, int nChannels)
{
  auto* main = FCast<AudioBus>(buses.at(0).get());
  if (main && SpeakerArr::getChannelCount(main->getArrangement()) == nChannels)
    return;
  const TBool wasActive = main ? main->isActive() : false;
  buses.clear();
  String128 busName;
  CopyText(busName, name);
  SingleComponentEffect::addAudioBus(buses, busName, SpeakerArrangementForChannels(nChannels), kMain,
                                     BusInfo::kDefaultActive)
      ->setActive(wasActive);
}

}  // namespace

void IPlugVST3::SetUpBusLabels()
{
  InputBusLabels().clear();
  InputBusLabels().push_back("Main Input");
  if (sideChainChannels > 0)
    InputBusLabels().push_back("Aux Input");
  OutputBusLabels().clear();
  if (IsInstrument())
  {
    char label[32];
    for (int pair = 0; pair < NOutChannels() / 2; ++pair)
    {
      std::snprintf(label, sizeof(label), "Output %i", pair + 1);
      OutputBusLabels().push_back(label);
    }
  }
  else
  {
    OutputBusLabels().push_back("Output");
  }
}

void IPlugVST3::AddBuses()
{
  String128 busName;
  const int mainInputs = NInChannels() - sideChainChannels;
  if (SpeakerArrangement arr = SpeakerArrangementForChannels(mainInputs))
  {
    CopyText(busName, LabelAt(InputBusLabels(), 0));
    addAudioInput(busName, arr, kMain, BusInfo::kDefaultActive);
  }
  if (IsInstrument())
  {
    for (int pair = 0; pair < NOutChannels() / 2; ++pair)
    {
      CopyText(busName, LabelAt(OutputBusLabels(), static_cast<size_t>(pair)));
      addAudioOutput(busName, SpeakerArr::kStereo, kMain, BusInfo::kDefaultActive);
    }
  }
  else
  {
    CopyText(busName, LabelAt(OutputBusLabels(), 0));
    addAudioOutput(busName, SpeakerArrangementForChannels(NOutChannels()), kMain,
                   BusInfo::kDefaultActive);
  }
  if (sideChainChannels > 0)
  {
    sideChainChannels = std::min(sideChainChannels, 2);
    CopyText(busName, LabelAt(InputBusLabels(), 1));
    addAudioInput(busName, SpeakerArrangementForChannels(sideChainChannels), kAux, 0);
  }
  if (DoesMidi())
  {
    CopyText(busName, "MIDI Input");
    addEventInput(busName, 1, kMain, BusInfo::kDefaultActive);
  }
}

tresult PLUGIN_API IPlugVST3::setBusArrangements(SpeakerArrangement* inputs, int32 numIns,
                                                 SpeakerArrangement* outputs, int32 numOuts)
try
{
  // Held although hosts must not process meanwhile: a host that does anyway
  // would otherwise have its block read buses being replaced.
  IPlugLockGuard lock(this);
  // Before initialize there are no buses to rearrange.
  if (audioInputs.empty() || audioOutputs.empty())
    return kResultFalse;

  ConnectInputs(0, NInChannels(), false);
  ConnectOutputs(0, NOutChannels(), false);

  // Every check comes before any change: a refused arrangement leaves the
  // buses exactly as they were.
  if (numIns < 1 || numOuts < 1 || !inputs || !outputs)
    return kResultFalse;
  const int nIn = SpeakerArr::getChannelCount(inputs[0]);
  const int nOut = SpeakerArr::getChannelCount(outputs[0]);
  if (!LegalIO(nIn, nOut))
    return kResultFalse;
  if (numIns != (sideChainChannels > 0 ? 2 : 1))
    return kResultFalse;

  ReplaceMainBus(audioInputs, "Input", nIn);
  ReplaceMainBus(audioOutputs, "Output", nOut);
  if (sideChainChannels <= 0)
    return kResultOk;

  const int nSide = SpeakerArr::getChannelCount(inputs[1]);
  auto* side = audioInputs.size() > 1 ? FCast<AudioBus>(audioInputs.at(1).get()) : nullptr;
  if (!side || SpeakerArr::getChannelCount(side->getArrangement()) != nSide)
  {
    String128 name;
    audioInputs.clear();
    CopyText(name, "Input");
    addAudioInput(name, SpeakerArrangementForChannels(nIn), kMain, BusInfo::kDefaultActive);
    CopyText(name, "Sidechain Input");
    addAudioInput(name, SpeakerArrangementForChannels(sideChainChannels), kAux, 0);
  }
  return kResultOk;
}
catch (...)
{
  return kOutOfMemory;  // nothing may unwind into the host
}
