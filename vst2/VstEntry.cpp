#include "vst2/VstEntry.h"

#include <mutex>

#include "plugin/TALVOR.h"

namespace
{
std::mutex& CreationMutex()
{
  static std::mutex creation;
  return creation;
}
}  // namespace

AEffect* CreateTalvorEffect(audioMasterCallback hostCallback)
{
  std::lock_guard<std::mutex> hold(CreationMutex());
  TALVOR* plug = nullptr;
  try
  {
    IPlugInstanceInfo info;
    info.hostCallback = reinterpret_cast<void (*)()>(hostCallback);
    plug = new TALVOR(info);
    plug->EnsureDefaultPresets();
  }
  catch (...)
  {
    // Out of memory while building: the host gets no record, and nothing leaks.
    delete plug;
    return nullptr;
  }
  AEffect* effect = plug->GetAEffect();
  if (effect->numPrograms < 1) effect->numPrograms = 1;
  return effect;
}
