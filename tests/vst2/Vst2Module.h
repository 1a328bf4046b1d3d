#pragma once
// The built VST 2.4 module, loaded once per test program, and one hosted
// instance of it with its own recording host.
#include <dlfcn.h>

#include <cstdint>
#include <vector>

#include "framework/IPlugBase.h"
#include "plugin/TalvorParams.h"
#include "tests/vst2/Vst2TestHost.h"

using Bytes = std::vector<uint8_t>;
using EntryProc = AEffect* (*)(audioMasterCallback);

inline EntryProc Entry(const char* name)
{
  static void* module = dlopen(TALVOR_VST2_MODULE_PATH, RTLD_NOW | RTLD_LOCAL);
  return module ? reinterpret_cast<EntryProc>(dlsym(module, name)) : nullptr;
}

// One hosted instance with its own recording host.
struct Instance
{
  TestHost host;
  HostedEffect fx{Entry("VSTPluginMain")(TestHost::Callback), &host};
  AEffect* e = fx.effect;
  IPlugBase* Plug() { return static_cast<IPlugBase*>(e->object); }
  Bytes Chunk(bool bank)
  {
    void* data = nullptr;
    VstIntPtr n = fx.Dispatch(effGetChunk, bank ? 0 : 1, 0, &data);
    return n > 0 ? Bytes((uint8_t*)data, (uint8_t*)data + n) : Bytes();
  }
  VstIntPtr SetChunk(bool bank, Bytes b) { return fx.Dispatch(effSetChunk, bank ? 0 : 1, (VstIntPtr)b.size(), b.data()); }
  std::vector<float> Params()
  {
    std::vector<float> v;
    for (int i = 0; i < kNumParams; ++i) v.push_back(e->getParameter(e, i));
    return v;
  }
};
