// The module's exported entry points, its one class factory and the function
// that creates TALVOR instances for it.

#include <cstring>
#include <mutex>

#include "framework/TextCopy.h"
#include "plugin/TALVOR.h"
#include "plugin/TalvorIdentity.h"
#include "pluginterfaces/vst/ivstaudioprocessor.h"
#include "vst3/PluginFactory.h"

#if defined(_WIN32)
#include <windows.h>

#include "graphics/ModuleHandle.h"
#endif

using namespace Steinberg;

namespace {

// Printed as TALVOR_VST3_CLASS_ID_TEXT on every platform (plugin/TalvorIdentity.h).
const TUID kTalvorClassId = {TALVOR_VST3_CLASS_ID_BYTES};

// Instance creation is serialised module-wide. Held in a function-local static so
// that it exists before the first creation whatever the static initialisation order.
std::mutex& CreationMutex()
{
  static std::mutex mutex;
  return mutex;
}

// Guards the module-wide factory pointer.
std::mutex& FactoryMutex()
{
  static std::mutex mutex;
  return mutex;
}

CPluginFactory* gPluginFactory = nullptr;

FUnknown* CreateTalvor(void*)
{
  TALVOR* plug = nullptr;
  {
    std::lock_guard<std::mutex> lock(CreationMutex());
    try
    {
      plug = new TALVOR(IPlugInstanceInfo());
    }
    catch (...)
    {
      // Nothing may escape into the host; the factory reports the failure.
      plug = nullptr;
    }
  }
  if (!plug)
    return nullptr;
  return static_cast<Vst::IAudioProcessor*>(plug);
}

void ClearFactory(CPluginFactory* factory)
{
  // Runs with the factory mutex held by whoever dropped the last reference.
  if (gPluginFactory == factory)
    gPluginFactory = nullptr;
}

const PFactoryInfo& FactoryInfo()
{
  static const PFactoryInfo info = [] {
    PFactoryInfo i;  // zeroed by its constructor: every text field is zero-filled after its text
    CopyText(i.vendor, TALVOR_MAKER);
    CopyText(i.url, TALVOR_URL);
    CopyText(i.email, TALVOR_EMAIL);
    i.flags = PFactoryInfo::kUnicode;
    return i;
  }();
  return info;
}

const PClassInfo2& TalvorClassInfo()
{
  static const PClassInfo2 info = [] {
    PClassInfo2 i;  // zeroed by its constructor: every text field is zero-filled after its text
    std::memcpy(i.cid, kTalvorClassId, sizeof(TUID));
    i.cardinality = PClassInfo::kManyInstances;
    CopyText(i.category, kVstAudioEffectClass);
    CopyText(i.name, TALVOR_NAME);
    i.classFlags = Vst::kSimpleModeSupported;
    CopyText(i.subCategories, TALVOR_VST3_CATEGORY);
    CopyText(i.vendor, "");
    CopyText(i.version, TALVOR_VERSION);
    CopyText(i.sdkVersion, TALVOR_VST3_SDK_VERSION);
    return i;
  }();
  return info;
}

// The factory drops its module-wide pointer under the same mutex that
// GetPluginFactory holds, so a new request never revives a dying factory.
class TalvorFactory : public CPluginFactory
{
public:
  using CPluginFactory::CPluginFactory;
  uint32 PLUGIN_API release() override
  {
    std::lock_guard<std::mutex> lock(FactoryMutex());
    return CPluginFactory::release();
  }
};

}  // namespace

extern "C" {

SMTG_EXPORT_SYMBOL IPluginFactory* PLUGIN_API GetPluginFactory()
{
  std::lock_guard<std::mutex> lock(FactoryMutex());
  if (gPluginFactory)
  {
    gPluginFactory->addRef();
    return gPluginFactory;
  }
  auto* factory = new (std::nothrow) TalvorFactory(FactoryInfo());
  if (!factory)
    return nullptr;
  factory->setReleaseHook(ClearFactory);
  factory->registerClass(&TalvorClassInfo(), CreateTalvor);
  gPluginFactory = factory;
  return factory;
}

#if defined(_WIN32)

// Module globals recorded when the library is loaded: its instance handle and
// the folder it was loaded from. Nothing reads the folder: the editor's images
// are resources of the module, found through the handle.
HINSTANCE ghInst = nullptr;
wchar_t gPath[MAX_PATH] = {};

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID)
{
  if (reason == DLL_PROCESS_ATTACH)
  {
    ghInst = instance;
    // Also known to the editor from the start, for hosts that skip InitDll.
    SetModuleInstance(instance);
    if (GetModuleFileNameW(instance, gPath, MAX_PATH) > 0)
    {
      gPath[MAX_PATH - 1] = 0;
      if (wchar_t* slash = wcsrchr(gPath, L'\\'))
        slash[1] = 0;
    }
  }
  return TRUE;
}

// The editor registers its window class and loads its images through the
// module instance handle.
SMTG_EXPORT_SYMBOL bool InitDll()
{
  SetModuleInstance(ghInst);
  return true;
}

SMTG_EXPORT_SYMBOL bool ExitDll()
{
  return true;
}

#else

// Linux entry points. Nothing needs setting up: the editor's images are compiled
// into the module.
SMTG_EXPORT_SYMBOL bool ModuleEntry(void*)
{
  return true;
}

SMTG_EXPORT_SYMBOL bool ModuleExit()
{
  return true;
}

#endif

}  // extern "C"
