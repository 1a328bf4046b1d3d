// Audio through the VST 2.4 module's three process functions, from a fresh
// instance: the first byte chooses the function, the next two the block
// size, the next eleven the parameters' positions (byte / 255), and the rest
// are the samples, interleaved left and right (doubles for the 64-bit
// function, floats for the others). Whatever finite samples come in, every
// sample that comes out is finite.

#include <dlfcn.h>

#include <cmath>
#include <cstring>
#include <vector>

#include "FuzzSupport.h"
#include "tests/vst2/Vst2TestHost.h"

namespace
{
using Entry = AEffect* (*)(audioMasterCallback);
Entry entry = nullptr;
constexpr size_t kHeader = 14, kMaxFrames = 4096;

template <class S>
void Run(AEffect* e, int mode, int block, const uint8_t* data, size_t frames)
{
  std::vector<S> in[2], out[2];
  bool finiteIn = true;
  for (int c = 0; c < 2; ++c)
  {
    in[c].resize(frames);
    out[c].assign(frames, (S)0);
  }
  for (size_t f = 0; f < frames; ++f)
    for (int c = 0; c < 2; ++c)
    {
      std::memcpy(&in[c][f], data + (2 * f + (size_t)c) * sizeof(S), sizeof(S));
      finiteIn = finiteIn && std::isfinite(in[c][f]);
    }
  for (size_t pos = 0; pos < frames; pos += (size_t)block)
  {
    const int n = (int)std::min(frames - pos, (size_t)block);
    S* ins[2] = {in[0].data() + pos, in[1].data() + pos};
    S* outs[2] = {out[0].data() + pos, out[1].data() + pos};
    if constexpr (sizeof(S) == 8)
      e->processDoubleReplacing(e, (double**)ins, (double**)outs, n);
    else if (mode == 1)
      e->processReplacing(e, (float**)ins, (float**)outs, n);
    else
      e->process(e, (float**)ins, (float**)outs, n);
  }
  for (int c = 0; finiteIn && c < 2; ++c)
    for (S v : out[c])
      FUZZ_CHECK(std::isfinite(v));
}

// An input in the format above.
fuzz::Bytes Input(int mode, int block, std::vector<uint8_t> params, const std::vector<double>& mono)
{
  const size_t sampleSize = mode == 0 ? 8 : 4;
  fuzz::Bytes b(kHeader + 2 * sampleSize * mono.size());
  b[0] = (uint8_t)mode, b[1] = (uint8_t)((block - 1) & 0xFF), b[2] = (uint8_t)((block - 1) >> 8);
  std::memcpy(&b[3], params.data(), std::min(params.size(), kHeader - 3));
  for (size_t i = 0; i < 2 * mono.size(); ++i)
  {
    const double v = mono[i / 2];
    const float f = (float)v;
    std::memcpy(&b[kHeader + i * sampleSize], mode == 0 ? (const void*)&v : (const void*)&f, sampleSize);
  }
  return b;
}
}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
  void* module = dlopen(TALVOR_VST2_MODULE_PATH, RTLD_NOW | RTLD_LOCAL);
  entry = module ? reinterpret_cast<Entry>(dlsym(module, "VSTPluginMain")) : nullptr;
  FUZZ_CHECK(entry);
  fuzz::WriteSeedsIfAsked([](auto write) {
    const std::vector<uint8_t> flat = {128, 0, 128, 0, 128, 0, 128, 128, 255, 0, 0};
    std::vector<double> tone(1024);
    for (size_t i = 0; i < tone.size(); ++i) tone[i] = 0.5 * std::sin(0.05 * (double)i);
    write("double-flat", Input(0, 512, flat, tone));
    write("float-boosted", Input(1, 100, {255, 64, 255, 128, 255, 192, 255, 255, 255, 255, 255}, tone));
    write("accumulating-filter", Input(2, 7, {0, 255, 0, 255, 0, 255, 0, 0, 255, 255, 0}, tone));
  });
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
  if (size < kHeader)
    return 0;
  const int mode = data[0] % 3;
  const int block = 1 + (data[1] | data[2] << 8) % 1024;
  TestHost host;
  HostedEffect fx(entry(TestHost::Callback), &host);
  FUZZ_CHECK(fx.effect);
  fx.Start(48000.0f, block);
  AEffect* e = fx.effect;
  for (int i = 0; i < 11; ++i)
    e->setParameter(e, i, (float)data[3 + i] / 255.0f);
  const size_t sampleSize = mode == 0 ? 8 : 4;
  const size_t frames = std::min((size - kHeader) / (2 * sampleSize), kMaxFrames);
  if (mode == 0)
    Run<double>(e, mode, block, data + kHeader, frames);
  else
    Run<float>(e, mode, block, data + kHeader, frames);
  return 0;
}
