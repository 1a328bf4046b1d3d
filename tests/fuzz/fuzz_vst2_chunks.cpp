// VST2 program and bank chunks through the module's dispatcher: effSetChunk
// with arbitrary bytes (the first byte chooses bank or program), then
// effGetChunk and a processed block. A chunk that loads must save again and
// load back to the same bytes; the output stays finite.

#include <dlfcn.h>

#include <cstring>

#include "FuzzSupport.h"
#include "tests/vst2/Vst2TestHost.h"

namespace
{
TestHost host;
HostedEffect* fx = nullptr;

fuzz::Bytes Chunk(bool bank)
{
  void* data = nullptr;
  const VstIntPtr n = fx->Dispatch(effGetChunk, bank ? 0 : 1, 0, &data);
  FUZZ_CHECK(n > 0 && data);
  return fuzz::Bytes((const uint8_t*)data, (const uint8_t*)data + n);
}

VstIntPtr SetChunk(bool bank, const uint8_t* data, size_t size)
{
  return fx->Dispatch(effSetChunk, bank ? 0 : 1, (VstIntPtr)size, const_cast<uint8_t*>(data));
}
}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
  void* module = dlopen(TALVOR_VST2_MODULE_PATH, RTLD_NOW | RTLD_LOCAL);
  auto entry = module ? reinterpret_cast<AEffect* (*)(audioMasterCallback)>(dlsym(module, "VSTPluginMain")) : nullptr;
  FUZZ_CHECK(entry);
  fx = new HostedEffect(entry(TestHost::Callback), &host);
  FUZZ_CHECK(fx->effect);
  fx->Start(48000.0f, fuzz::Block<float>::kFrames);
  fuzz::WriteSeedsIfAsked([](auto write) {
    write("program-default", fuzz::Prefixed(0, Chunk(false)));
    write("bank-default", fuzz::Prefixed(1, Chunk(true)));
    AEffect* e = fx->effect;
    for (int i = 0; i < e->numParams; ++i)
      e->setParameter(e, i, (float)((i * 37) % 11) / 10.0f);
    fx->Dispatch(effSetProgramName, 0, "Warm");
    const fuzz::Bytes program = Chunk(false), bank = Chunk(true);
    write("program-edited", fuzz::Prefixed(0, program));
    write("bank-edited", fuzz::Prefixed(1, bank));
    write("program-without-header", fuzz::Prefixed(0, fuzz::Bytes(program.begin() + 8, program.end())));
    fuzz::Bytes older = bank;  // a bank from before the framework version: read as one program
    older[6] = 0;
    write("bank-older-version", fuzz::Prefixed(1, older));
  });
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
  if (size < 1)
    return 0;
  const bool bank = data[0] & 1;
  if (SetChunk(bank, data + 1, size - 1) == 1)
  {
    const fuzz::Bytes saved = Chunk(bank);
    FUZZ_CHECK(SetChunk(bank, saved.data(), saved.size()) == 1);
    FUZZ_CHECK(Chunk(bank) == saved);
  }
  Chunk(!bank);
  fuzz::Block<float> block;
  AEffect* e = fx->effect;
  e->processReplacing(e, block.ins, block.outs, block.kFrames);
  FUZZ_CHECK(block.OutputFinite());
  for (int i = 0; i < e->numParams; ++i)
  {
    const float v = e->getParameter(e, i);
    FUZZ_CHECK(v >= 0.0f && v <= 1.0f);
  }
  return 0;
}
