#pragma once
// The small hosts with which test_modules.cpp drives both Windows modules:
// loading, one VST3 instance with its host application and component handler,
// one VST 2.4 instance with its host callback, and the checks of the editor's
// window class and pixels.

#include <windows.h>

#include <array>
#include <cstring>
#include <string>
#include <vector>

#include "pluginterfaces/base/ipluginbase.h"
#include "pluginterfaces/gui/iplugview.h"
#include "pluginterfaces/vst/ivstaudioprocessor.h"
#include "pluginterfaces/vst/ivstcomponent.h"
#include "pluginterfaces/vst/ivsteditcontroller.h"
#include "pluginterfaces/vst/ivsthostapplication.h"
#include "tests/win64/WinTestSupport.h"

namespace modulehosts {

using namespace wintest;
using namespace Steinberg;

inline constexpr int kW = 346, kH = 566;
inline constexpr int kLowGain = 0, kMidFreq = 3, kHighGain = 4, kInput = 6, kFilter = 9;

// The modules as built, or (for the installer's test) as installed: the
// environment variables TALVOR_TEST_VST3_MODULE and TALVOR_TEST_VST2_MODULE
// name other copies.
inline std::string ModulePath(const char* variable, const char* built)
{
  char path[MAX_PATH] = {};
  const DWORD n = GetEnvironmentVariableA(variable, path, MAX_PATH);
  return n > 0 && n < MAX_PATH ? WinPath(path) : WinPath(built);
}
inline std::string Vst3Path() { return ModulePath("TALVOR_TEST_VST3_MODULE", TALVOR_TEST_VST3_MODULE); }
inline std::string Vst2Path() { return ModulePath("TALVOR_TEST_VST2_MODULE", TALVOR_TEST_VST2_MODULE); }

// An exported function, typed (GetProcAddress hands out an untyped pointer).
template <class F>
F Export(HMODULE module, const char* name)
{
  return reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

inline bool ClassRegisteredIn(HMODULE module)
{
  WNDCLASSA wc;
  return GetClassInfoA(module, "IPlugWndClass", &wc) != 0;
}

// Polls the window until it shows exactly what the model expects (or the
// deadline passes) and answers the number of differing pixels.
inline int WaitForPicture(HWND child, const std::array<double, 11>& values, Image* shown = nullptr)
{
  const Image expected = ExpectedEditor(values);
  int diffs = -1;
  Image img;
  PumpUntil(
      [&] {
        img = CaptureWindow(child, kW, kH);
        diffs = CountDifferences(img, expected);
        return diffs == 0;
      },
      10000);
  if (shown) *shown = img;
  return diffs;
}

// ---- A small VST3 host ------------------------------------------------------------------

template <class I>
struct StaticUnknown : I
{
  tresult PLUGIN_API queryInterface(const TUID iid, void** obj) override
  {
    if (FUnknownPrivate::iidEqual(iid, FUnknown::iid) || FUnknownPrivate::iidEqual(iid, I::iid))
    {
      *obj = static_cast<I*>(this);
      return kResultOk;
    }
    *obj = nullptr;
    return kNoInterface;
  }
  uint32 PLUGIN_API addRef() override { return 1; }
  uint32 PLUGIN_API release() override { return 1; }
};

struct HostApp : StaticUnknown<Vst::IHostApplication>
{
  tresult PLUGIN_API getName(Vst::String128 name) override
  {
    const char* n = "TALVOR Wine Host";
    for (int i = 0; i < 128; ++i)
    {
      name[i] = (Vst::TChar)n[i];
      if (!n[i]) break;
    }
    return kResultOk;
  }
  tresult PLUGIN_API createInstance(TUID, TUID, void** obj) override
  {
    *obj = nullptr;
    return kNotImplemented;
  }
};

struct EditEvent
{
  char kind;  // 'b' begin, 'p' perform, 'e' end
  Vst::ParamID id;
  double value;
};

struct Handler : StaticUnknown<Vst::IComponentHandler>
{
  std::vector<EditEvent> events;
  tresult PLUGIN_API beginEdit(Vst::ParamID id) override
  {
    events.push_back({'b', id, 0.0});
    return kResultOk;
  }
  tresult PLUGIN_API performEdit(Vst::ParamID id, Vst::ParamValue v) override
  {
    events.push_back({'p', id, v});
    return kResultOk;
  }
  tresult PLUGIN_API endEdit(Vst::ParamID id) override
  {
    events.push_back({'e', id, 0.0});
    return kResultOk;
  }
  tresult PLUGIN_API restartComponent(int32) override { return kResultOk; }
  int Count(char kind, Vst::ParamID id) const
  {
    int n = 0;
    for (const EditEvent& e : events) n += e.kind == kind && e.id == id;
    return n;
  }
};

using GetFactoryProc = IPluginFactory*(PLUGIN_API*)();
using BoolProc = bool(PLUGIN_API*)();

struct Vst3Module
{
  HMODULE module = LoadLibraryA(Vst3Path().c_str());
  IPluginFactory* factory = nullptr;

  Vst3Module()
  {
    if (!module) return;
    auto init = Export<BoolProc>(module, "InitDll");
    if (init) init();
    auto get = Export<GetFactoryProc>(module, "GetPluginFactory");
    if (get) factory = get();
  }
  ~Vst3Module()
  {
    if (factory) factory->release();
    if (module)
    {
      auto exitDll = Export<BoolProc>(module, "ExitDll");
      if (exitDll) exitDll();
      FreeLibrary(module);
    }
  }
};

struct Vst3Instance
{
  HostApp app;
  Handler handler;
  Vst::IComponent* component = nullptr;
  Vst::IAudioProcessor* processor = nullptr;
  Vst::IEditController* controller = nullptr;
  IPlugView* view = nullptr;

  explicit Vst3Instance(IPluginFactory* factory)
  {
    PClassInfo info;
    if (!factory || factory->getClassInfo(0, &info) != kResultOk) return;
    void* obj = nullptr;
    if (factory->createInstance(info.cid, Vst::IComponent::iid, &obj) != kResultOk || !obj) return;
    component = static_cast<Vst::IComponent*>(obj);
    component->initialize(&app);
    component->queryInterface(Vst::IAudioProcessor::iid, reinterpret_cast<void**>(&processor));
    component->queryInterface(Vst::IEditController::iid, reinterpret_cast<void**>(&controller));
    if (controller) controller->setComponentHandler(&handler);
  }
  ~Vst3Instance()
  {
    if (view)
    {
      view->removed();
      view->release();
    }
    if (controller) controller->release();
    if (processor) processor->release();
    if (component)
    {
      component->terminate();
      component->release();
    }
  }
  std::array<double, 11> Values()
  {
    std::array<double, 11> v{};
    for (int i = 0; i < 11; ++i) v[(size_t)i] = controller->getParamNormalized((Vst::ParamID)i);
    return v;
  }
  HWND OpenEditor(HWND parent)
  {
    view = controller->createView("editor");
    if (!view) return nullptr;
    if (view->attached(parent, kPlatformTypeHWND) != kResultTrue) return nullptr;
    return FindEditorChild(parent);
  }
};

inline std::string Narrow(const char16* s)
{
  std::string out;
  for (; *s; ++s) out += (char)*s;
  return out;
}

// ---- A small VST 2.4 host -----------------------------------------------------------------

struct AEffect;
using HostCallback = intptr_t(__cdecl*)(AEffect*, int32_t, int32_t, intptr_t, void*, float);
struct AEffect
{
  int32_t magic;
  intptr_t(__cdecl* dispatcher)(AEffect*, int32_t, int32_t, intptr_t, void*, float);
  void(__cdecl* process)(AEffect*, float**, float**, int32_t);
  void(__cdecl* setParameter)(AEffect*, int32_t, float);
  float(__cdecl* getParameter)(AEffect*, int32_t);
  int32_t numPrograms, numParams, numInputs, numOutputs, flags;
  intptr_t resvd1, resvd2;
  int32_t initialDelay, realQualities, offQualities;
  float ioRatio;
  void* object;
  void* user;
  int32_t uniqueID, version;
  void(__cdecl* processReplacing)(AEffect*, float**, float**, int32_t);
  void(__cdecl* processDoubleReplacing)(AEffect*, double**, double**, int32_t);
  char future[56];
};
struct ERect
{
  int16_t top, left, bottom, right;
};

struct HostCall
{
  AEffect* effect;
  int32_t opcode, index;
  float opt;
};
inline std::vector<HostCall> gHostCalls;

inline intptr_t __cdecl Vst2Host(AEffect* e, int32_t opcode, int32_t index, intptr_t, void* ptr, float opt)
{
  switch (opcode)
  {
    case 0:   // automate
    case 43:  // begin edit
    case 44:  // end edit
      gHostCalls.push_back({e, opcode, index, opt});
      return 0;
    case 1: return 2400;  // host VST version
    case 32:              // vendor string
    case 33:              // product string
      if (ptr) std::strcpy(static_cast<char*>(ptr), "TALVOR Wine Host");
      return 1;
    case 34: return 1000;
    default: return 0;
  }
}

using MainProc = AEffect*(__cdecl*)(HostCallback);

struct Vst2Module
{
  HMODULE module = LoadLibraryA(Vst2Path().c_str());
  MainProc main = module ? Export<MainProc>(module, "VSTPluginMain") : nullptr;
  ~Vst2Module()
  {
    if (module) FreeLibrary(module);
  }
};

struct Vst2Instance
{
  AEffect* e;
  explicit Vst2Instance(MainProc main) : e(main ? main(Vst2Host) : nullptr)
  {
    if (!e) return;
    Call(0);                   // open
    Call(10, 0, 0, nullptr, 48000.f);
    Call(11, 0, 512);
    Call(12, 0, 1);            // resume
  }
  ~Vst2Instance()
  {
    if (!e) return;
    Call(12, 0, 0);
    Call(1);  // close: destroys the instance
  }
  intptr_t Call(int32_t op, int32_t index = 0, intptr_t value = 0, void* ptr = nullptr, float opt = 0.f)
  {
    return e->dispatcher(e, op, index, value, ptr, opt);
  }
  std::array<double, 11> Values()
  {
    std::array<double, 11> v{};
    for (int i = 0; i < 11; ++i) v[(size_t)i] = e->getParameter(e, i);
    return v;
  }
  HWND OpenEditor(HWND parent)
  {
    return Call(14, 0, 0, parent) == 1 ? FindEditorChild(parent) : nullptr;
  }
};

inline int CountCalls(AEffect* e, int32_t opcode, int32_t index)
{
  int n = 0;
  for (const HostCall& c : gHostCalls) n += c.effect == e && c.opcode == opcode && c.index == index;
  return n;
}

}  // namespace modulehosts
