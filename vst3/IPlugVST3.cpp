// Construction of the VST3 binding, its initialisation by the host and its
// activation.
#include "vst3/IPlugVST3.h"

#include <cstring>

using namespace Steinberg;
using namespace Steinberg::Vst;

IPlugVST3::IPlugVST3(IPlugInstanceInfo, int nParams, const char* channelIOStr, int nPresets,
                     const char* effectName, const char* productName, const char* makerName,
                     int32_t version, int32_t uniqueId, int32_t makerId)
  : IPlugBase(nParams, channelIOStr, nPresets, effectName, productName, makerName, version, uniqueId,
              makerId, kApiVST3)
{
  std::memset(&lastProcessContext, 0, sizeof(lastProcessContext));

  ConnectInputs(0, NInChannels(), true);
  ConnectOutputs(0, NOutChannels(), true);
  if (NInChannels() > 0)
    CreateBypassDelayLine(NInChannels(), NOutChannels(), Latency());

  SetUpBusLabels();
  presetPosition.InitContinuous("Preset", 0.0, 0.0, 1.0, 0.0001);

  hostIn.assign(static_cast<size_t>(NInChannels()), nullptr);
  hostOut.assign(static_cast<size_t>(NOutChannels()), nullptr);
  packedIn64.assign(static_cast<size_t>(NInChannels()), nullptr);
  packedOut64.assign(static_cast<size_t>(NOutChannels()), nullptr);
  packedIn32.assign(static_cast<size_t>(NInChannels()), nullptr);
  packedOut32.assign(static_cast<size_t>(NOutChannels()), nullptr);
  inWasConnected.assign(static_cast<size_t>(NInChannels()), 1);
}

IPlugVST3::~IPlugVST3()
{
  // A host that never called terminate still gets its handler and context back.
  SingleComponentEffect::terminate();
}

tresult PLUGIN_API IPlugVST3::initialize(FUnknown* context)
try
{
  // A second initialisation without terminate is refused without touching anything.
  if (initialized)
    return kResultFalse;
  const tresult result = SingleComponentEffect::initialize(context);
  if (result != kResultOk)
    return result;
  initialized = true;

  IdentifyHostFromContext(context);
  AddBuses();
  CreateParameterObjects();

  HostIdentified();
  // Only the first initialisation recalls the default preset: a host that
  // terminates and initialises the object again keeps the user's settings.
  if (!defaultPresetRecalled)
  {
    defaultPresetRecalled = true;
    RecallPreset(0);
  }
  return kResultOk;
}
catch (...)
{
  return kOutOfMemory;  // nothing may unwind into the host
}

tresult PLUGIN_API IPlugVST3::terminate()
{
  unitGroups.clear();
  initialized = false;
  return SingleComponentEffect::terminate();
}

tresult PLUGIN_API IPlugVST3::setActive(TBool state)
{
  ActivationChanged(state != 0);
  return kResultOk;
}
