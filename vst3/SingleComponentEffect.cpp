#include "vst3/SingleComponentEffect.h"

#include "framework/TextCopy.h"
#include "vst3/InterfaceQuery.h"

namespace Steinberg {
namespace Vst {

SingleComponentEffect::SingleComponentEffect()
  : audioInputs(kAudio, kInput),
    audioOutputs(kAudio, kOutput),
    eventInputs(kEvent, kInput),
    eventOutputs(kEvent, kOutput)
{
  processSetup.processMode = kRealtime;
  processSetup.symbolicSampleSize = kSample32;
  processSetup.maxSamplesPerBlock = 1024;
  processSetup.sampleRate = 44100.0;
}

SingleComponentEffect::~SingleComponentEffect() = default;

tresult PLUGIN_API SingleComponentEffect::initialize(FUnknown* context)
{
  return EditController::initialize(context);
}

tresult PLUGIN_API SingleComponentEffect::terminate()
{
  removeAudioBusses();
  removeEventBusses();
  return EditController::terminate();
}

BusList* SingleComponentEffect::getBusList(MediaType type, BusDirection dir)
{
  if (type == kAudio)
    return dir == kInput ? &audioInputs : (dir == kOutput ? &audioOutputs : nullptr);
  if (type == kEvent)
    return dir == kInput ? &eventInputs : (dir == kOutput ? &eventOutputs : nullptr);
  return nullptr;
}

int32 PLUGIN_API SingleComponentEffect::getBusCount(MediaType type, BusDirection dir)
{
  BusList* list = getBusList(type, dir);
  return list ? static_cast<int32>(list->size()) : 0;
}

tresult PLUGIN_API SingleComponentEffect::getBusInfo(MediaType type, BusDirection dir, int32 index,
                                                     BusInfo& info)
{
  BusList* list = getBusList(type, dir);
  if (!list || index < 0 || index >= static_cast<int32>(list->size()))
    return kInvalidArgument;
  Bus* bus = list->at(static_cast<size_t>(index));
  info.mediaType = type;
  info.direction = dir;
  return bus && bus->getInfo(info) ? kResultOk : kResultFalse;
}

tresult PLUGIN_API SingleComponentEffect::activateBus(MediaType type, BusDirection dir, int32 index,
                                                      TBool state)
{
  BusList* list = getBusList(type, dir);
  if (!list || index < 0 || index >= static_cast<int32>(list->size()))
    return kInvalidArgument;
  list->at(static_cast<size_t>(index))->setActive(state);
  return kResultOk;
}

tresult PLUGIN_API SingleComponentEffect::getBusArrangement(BusDirection dir, int32 index,
                                                            SpeakerArrangement& arr)
{
  BusList* list = getBusList(kAudio, dir);
  if (!list || index < 0 || index >= static_cast<int32>(list->size()))
    return kInvalidArgument;
  auto* bus = FCast<AudioBus>(list->at(static_cast<size_t>(index)).get());
  if (!bus)
    return kResultFalse;
  arr = bus->getArrangement();
  return kResultOk;
}

tresult PLUGIN_API SingleComponentEffect::canProcessSampleSize(int32 size)
{
  return size == kSample32 ? kResultOk : kResultFalse;
}

tresult PLUGIN_API SingleComponentEffect::setupProcessing(ProcessSetup& setup)
{
  if (canProcessSampleSize(setup.symbolicSampleSize) != kResultOk)
    return kResultFalse;
  processSetup = setup;
  return kResultOk;
}

tresult PLUGIN_API SingleComponentEffect::getUnitInfo(int32 unitIndex, UnitInfo& info)
{
  if (unitIndex != 0)
    return kResultFalse;
  info = {};
  info.id = kRootUnitId;
  info.parentUnitId = kNoParentUnitId;
  info.programListId = kNoProgramListId;
  CopyText(info.name, "Root Unit");
  return kResultOk;
}

tresult PLUGIN_API SingleComponentEffect::getParameterInfo(int32 paramIndex, ParameterInfo& info)
{
  if (paramIndex < 0 || paramIndex >= parameters.getParameterCount())
    return kResultFalse;
  Parameter* p = parameters.getParameterByIndex(paramIndex);
  if (!p)
    return kResultFalse;
  info = p->getInfo();
  return kResultOk;
}

AudioBus* SingleComponentEffect::addAudioBus(BusList& buses, const TChar* name, SpeakerArrangement arr,
                                             BusType type, int32 flags)
{
  auto* bus = new AudioBus(name, type, flags, arr);
  buses.push_back(IPtr<Bus>(bus, false));
  return bus;
}

AudioBus* SingleComponentEffect::addAudioInput(const TChar* name, SpeakerArrangement arr, BusType type,
                                               int32 flags)
{
  return addAudioBus(audioInputs, name, arr, type, flags);
}

AudioBus* SingleComponentEffect::addAudioOutput(const TChar* name, SpeakerArrangement arr, BusType type,
                                                int32 flags)
{
  return addAudioBus(audioOutputs, name, arr, type, flags);
}

EventBus* SingleComponentEffect::addEventInput(const TChar* name, int32 channels, BusType type,
                                               int32 flags)
{
  auto* bus = new EventBus(name, type, flags, channels);
  eventInputs.push_back(IPtr<Bus>(bus, false));
  return bus;
}

void SingleComponentEffect::removeAudioBusses()
{
  audioInputs.clear();
  audioOutputs.clear();
}

void SingleComponentEffect::removeEventBusses()
{
  eventInputs.clear();
  eventOutputs.clear();
}

tresult PLUGIN_API SingleComponentEffect::queryInterface(const TUID queriedIid, void** obj)
{
  alignas(8) TUID iid;
  if (const tresult checked = BeginInterfaceQuery(queriedIid, obj, iid); checked != kResultOk)
    return checked;
  // Processor and controller are one object: there is no peer to connect to, so a
  // host must not try to link them through messages.
  if (FUnknownPrivate::iidEqual(iid, IConnectionPoint::iid))
    return kNoInterface;
  QUERY_INTERFACE(iid, obj, IComponent::iid, IComponent)
  QUERY_INTERFACE(iid, obj, IAudioProcessor::iid, IAudioProcessor)
  QUERY_INTERFACE(iid, obj, IUnitInfo::iid, IUnitInfo)
  QUERY_INTERFACE(iid, obj, IEditController::iid, IEditController)
  QUERY_INTERFACE(iid, obj, IEditController2::iid, IEditController2)
  return EditController::queryInterface(iid, obj);
}

}  // namespace Vst
}  // namespace Steinberg
