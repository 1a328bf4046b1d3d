// The module's exported entry point, lv2_descriptor, and the descriptor
// functions behind TALVOR's two plug-ins, stereo and mono. Each instance is
// one TALVOR object on the LV2 binding, created under a module-wide mutex.
#include <lv2/core/lv2.h>
#include <lv2/state/state.h>

#include <cstring>
#include <mutex>

#include "lv2/LV2Uris.h"
#include "plugin/TALVOR.h"

namespace
{
std::mutex& CreationMutex()
{
  static std::mutex creation;
  return creation;
}

IPlugLV2* Plug(LV2_Handle instance) { return static_cast<IPlugLV2*>(instance); }

LV2_Handle Instantiate(const LV2_Descriptor* descriptor, double sampleRate, const char*,
                       const LV2_Feature* const* features);

// A null instance (a host's mistake) does nothing.
void ConnectPort(LV2_Handle instance, uint32_t port, void* data)
{
  if (instance) Plug(instance)->ConnectPort(port, data);
}
void Activate(LV2_Handle instance)
{
  if (instance) Plug(instance)->Activate();
}
void Run(LV2_Handle instance, uint32_t nFrames)
{
  if (instance) Plug(instance)->Run(nFrames);
}
void Deactivate(LV2_Handle instance)
{
  if (instance) Plug(instance)->Deactivate();
}
void Cleanup(LV2_Handle instance) { delete Plug(instance); }

LV2_State_Status Save(LV2_Handle instance, LV2_State_Store_Function store, LV2_State_Handle handle, uint32_t,
                      const LV2_Feature* const*)
{
  if (!instance) return LV2_STATE_ERR_UNKNOWN;
  try
  {
    return Plug(instance)->SaveToHost(store, handle);
  }
  catch (...)
  {
    return LV2_STATE_ERR_NO_SPACE;  // out of memory: nothing may unwind into the host
  }
}

LV2_State_Status Restore(LV2_Handle instance, LV2_State_Retrieve_Function retrieve, LV2_State_Handle handle,
                         uint32_t, const LV2_Feature* const*)
{
  if (!instance) return LV2_STATE_ERR_UNKNOWN;
  try
  {
    return Plug(instance)->RestoreFromHost(retrieve, handle);
  }
  catch (...)
  {
    return LV2_STATE_ERR_NO_SPACE;
  }
}

const LV2_State_Interface kStateInterface = {Save, Restore};

const void* ExtensionData(const char* uri)
{
  return uri && std::strcmp(uri, LV2_STATE__interface) == 0 ? &kStateInterface : nullptr;
}

const LV2_Descriptor kDescriptors[] = {
  {TALVOR_LV2_STEREO_URI, Instantiate, ConnectPort, Activate, Run, Deactivate, Cleanup, ExtensionData},
  {TALVOR_LV2_MONO_URI, Instantiate, ConnectPort, Activate, Run, Deactivate, Cleanup, ExtensionData},
};
constexpr int kChannels[] = {2, 1};

LV2_Handle Instantiate(const LV2_Descriptor* descriptor, double sampleRate, const char*,
                       const LV2_Feature* const* features)
{
  int channels = 0;
  for (int i = 0; i < 2; ++i)
    if (descriptor == &kDescriptors[i]) channels = kChannels[i];
  if (!channels) return nullptr;
  std::lock_guard<std::mutex> hold(CreationMutex());
  TALVOR* plug = nullptr;
  try
  {
    plug = new TALVOR(IPlugInstanceInfo());
    if (plug->Configure(channels, sampleRate, features)) return static_cast<IPlugLV2*>(plug);
  }
  catch (...)
  {
    // Out of memory while building: the host gets no instance, and nothing leaks.
  }
  delete plug;
  return nullptr;
}
}  // namespace

LV2_SYMBOL_EXPORT const LV2_Descriptor* lv2_descriptor(uint32_t index)
{
  return index < 2 ? &kDescriptors[index] : nullptr;
}
