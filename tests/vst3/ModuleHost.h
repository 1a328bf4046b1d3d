#pragma once
// The built TALVOR.vst3 module as a host reaches it: loaded with dlopen, opened
// through its exported entry points, one instance seen through the interfaces
// a host uses, and host buffers to process.

#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

#include "HostObjects.h"
#include "pluginterfaces/base/ipluginbase.h"
#include "pluginterfaces/vst/ivstaudioprocessor.h"
#include "pluginterfaces/vst/ivstcomponent.h"
#include "pluginterfaces/vst/ivstunits.h"

namespace vst3test {

inline const ParamID kBypassId = 0x62706173;
inline const ParamID kPresetId = 0x70727374;
// The class id text F2AEE70D00DE4F4E536D6C62546C7631 in this platform's byte layout.
alignas(8) inline const TUID kTalvorCid = INLINE_UID(0xF2AEE70D, 0x00DE4F4E, 0x536D6C62, 0x546C7631);
inline const double kNaN = std::numeric_limits<double>::quiet_NaN();
inline const double kInf = std::numeric_limits<double>::infinity();

inline void* ModuleHandle()
{
  static void* handle = [] {
    void* h = dlopen(TALVOR_VST3_MODULE_PATH, RTLD_NOW | RTLD_LOCAL);
    auto entry = h ? reinterpret_cast<bool (*)(void*)>(dlsym(h, "ModuleEntry")) : nullptr;
    return entry && entry(h) ? h : nullptr;
  }();
  return handle;
}

inline IPluginFactory* Factory()
{
  auto get = reinterpret_cast<GetFactoryProc>(dlsym(ModuleHandle(), "GetPluginFactory"));
  return get ? get() : nullptr;
}

// One instance, seen through the interfaces a host uses.
struct Plug
{
  explicit Plug(FUnknown* context = nullptr, bool init = true)
  {
    IPluginFactory* factory = Factory();
    alignas(8) TUID iid;
    IComponent::iid.toTUID(iid);
    void* obj = nullptr;
    factory->createInstance(kTalvorCid, iid, &obj);
    factory->release();
    component = static_cast<IComponent*>(obj);
    processor = Query<IAudioProcessor>(component);
    controller = Query<IEditController>(component);
    units = Query<IUnitInfo>(component);
    if (init && component->initialize(context) != kResultOk)
      ADD_FAILURE() << "initialize";
    component->activateBus(kAudio, Vst::kOutput, 0, true);
  }
  ~Plug()
  {
    component->terminate();
    for (FUnknown* i : std::initializer_list<FUnknown*>{units, controller, processor, component})
      i->release();
  }
  bool Setup(int32 sampleSize, int32 maxBlock = 512, double rate = 44100.0)
  {
    ProcessSetup setup = {kRealtime, sampleSize, maxBlock, rate};
    return processor->setupProcessing(setup) == kResultOk;
  }
  std::vector<uint8_t> State()
  {
    ByteStream s;
    controller->getState(&s);
    return s.bytes;
  }
  double Norm(ParamID id) { return controller->getParamNormalized(id); }
  IComponent* component = nullptr;
  IAudioProcessor* processor = nullptr;
  IEditController* controller = nullptr;
  IUnitInfo* units = nullptr;
};

// A host's channel buffers, in either sample size.
template <class S>
struct Buffers
{
  Buffers(int channels, int frames, int offset = -1) : data(channels, std::vector<S>(frames)), ptrs(channels)
  {
    for (int c = 0; c < channels; ++c)
    {
      ptrs[c] = data[c].data();
      for (int i = 0; offset >= 0 && i < frames; ++i)  // a signal that drives the saturation
        data[c][i] = (S)(0.45 * std::sin(0.031 * (i + offset) + c) + 0.2 * std::sin(0.0037 * (i + offset)));
    }
  }
  std::vector<std::vector<S>> data;
  std::vector<S*> ptrs;
};

template <class S>
tresult Process(Plug& plug, Buffers<S>& in, Buffers<S>& out, int frames, ParamChanges* changes = nullptr)
{
  return ProcessOneBus(plug.processor, in.ptrs.data(), (int32)in.ptrs.size(), out.ptrs.data(),
                       (int32)out.ptrs.size(), frames, changes);
}

}  // namespace vst3test
