// talvor-reference-render: runs a fixed programme through the built VST 2.4
// module and the built LV2 plug-in (stereo) as a host would, and writes each
// one's output as raw 32-bit floats, left and right interleaved:
//
//   talvor-reference-render OUTPUT_DIR    writes OUTPUT_DIR/vst2.f32, lv2.f32
//                                         (making OUTPUT_DIR when missing)
//
// Built by every Linux test build, so that a cross build's modules can be
// compared byte for byte with those of the build machine (test_crossarch).
// The input, the block lengths and the settings come from integer arithmetic
// only: nothing here may round differently on another processor.
#include <dlfcn.h>
#include <sys/stat.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "plugin/TalvorParams.h"
#include "tests/lv2/Lv2TestHost.h"
#include "tests/vst2/Vst2TestHost.h"

namespace {

constexpr size_t kFrames = 48000 * 3;
constexpr int kMaxBlock = 512;

struct Lcg
{
  uint32_t state;
  uint32_t Next() { return state = state * 1664525u + 1013904223u; }
};

// Noise with louder stretches (into the saturation) and a silent one; every
// sample is an exact float.
std::vector<std::vector<float>> Programme()
{
  std::vector<std::vector<float>> s(2, std::vector<float>(kFrames));
  Lcg lcg{12345};
  for (size_t f = 0; f < kFrames; ++f)
  {
    const size_t stretch = f / 12000;
    const float level = stretch % 4 == 1 ? 2.0f : stretch % 4 == 3 ? 0.0f : 0.25f;
    for (auto& ch : s) ch[f] = (float)((int32_t)lcg.Next() >> 8) * (1.0f / 8388608.0f) * level;
  }
  return s;
}

// A setting in plain values, as an LV2 host writes a control port; the VST
// 2.4 host writes the same as a normalised value (exact for each of these).
struct Change
{
  size_t frame;
  int param;
  float plain, normalised;
};
const Change kChanges[] = {
  {0, kLowGain, 7, 0.7f},        {0, kMidGain, 3, 0.3f},       {0, kHighFreq, 3, 0.75f},
  {0, kInput, 6, 0.75f},         {20000, kMidFreq, 1, 0.25f},  {30000, kHighGain, 9, 0.9f},
  {45000, kFilter, 1, 1.0f},     {60000, kInput, -4.5f, 0.3125f}, {70000, kLink, 1, 1.0f},
  {90000, kBypass, 0, 0.0f},     {100000, kBypass, 1, 1.0f},  {110000, kLowFreq, 4, 1.0f},
};

// Block lengths from 1 to kMaxBlock; a block never crosses a change.
template <typename RunBlock, typename Apply>
void Drive(RunBlock runBlock, Apply apply)
{
  Lcg lcg{99};
  size_t pos = 0, next = 0;
  while (pos < kFrames)
  {
    while (next < std::size(kChanges) && kChanges[next].frame <= pos) apply(kChanges[next++]);
    size_t frames = 1 + (lcg.Next() >> 16) % kMaxBlock;
    if (next < std::size(kChanges)) frames = std::min(frames, kChanges[next].frame - pos);
    frames = std::min(frames, kFrames - pos);
    runBlock(pos, frames);
    pos += frames;
  }
}

bool Write(const std::string& path, const std::vector<std::vector<float>>& out)
{
  std::vector<float> interleaved;
  interleaved.reserve(2 * kFrames);
  for (size_t f = 0; f < kFrames; ++f) interleaved.push_back(out[0][f]), interleaved.push_back(out[1][f]);
  FILE* file = std::fopen(path.c_str(), "wb");
  if (!file) return false;
  const bool ok = std::fwrite(interleaved.data(), sizeof(float), interleaved.size(), file) == interleaved.size();
  return std::fclose(file) == 0 && ok;
}

int Fail(const char* what)
{
  std::fprintf(stderr, "talvor-reference-render: %s\n", what);
  return 1;
}

int RenderVst2(const std::vector<std::vector<float>>& in, const std::string& path)
{
  void* module = dlopen(TALVOR_VST2_MODULE_PATH, RTLD_NOW | RTLD_LOCAL);
  if (!module) return Fail(dlerror());
  auto entry = reinterpret_cast<AEffect* (*)(audioMasterCallback)>(dlsym(module, "VSTPluginMain"));
  if (!entry) return Fail("the VST 2.4 module has no VSTPluginMain");
  TestHost host;
  HostedEffect fx(entry(TestHost::Callback), &host);
  if (!fx.effect) return Fail("the VST 2.4 module made no effect");
  fx.Start(48000.0f, kMaxBlock);
  std::vector<std::vector<float>> out(2, std::vector<float>(kFrames));
  AEffect* e = fx.effect;
  Drive(
    [&](size_t pos, size_t frames) {
      float* ins[2] = {const_cast<float*>(in[0].data()) + pos, const_cast<float*>(in[1].data()) + pos};
      float* outs[2] = {out[0].data() + pos, out[1].data() + pos};
      e->processReplacing(e, ins, outs, (VstInt32)frames);
    },
    [&](const Change& c) { e->setParameter(e, c.param, c.normalised); });
  fx.Dispatch(effMainsChanged, 0, (VstIntPtr)0);
  return Write(path, out) ? 0 : Fail("cannot write the VST 2.4 output");
}

int RenderLv2(const std::vector<std::vector<float>>& in, const std::string& path)
{
  lv2test::Instance plug(lv2test::kVariants[0], 48000.0, true, kMaxBlock);
  if (!plug) return Fail("the LV2 plug-in did not instantiate");
  lilv_instance_activate(plug.instance);
  std::vector<std::vector<float>> out(2, std::vector<float>(kFrames));
  Drive(
    [&](size_t pos, size_t frames) {
      plug.Run(in, pos, (uint32_t)frames);
      for (int c = 0; c < 2; ++c) std::copy(plug.out[c].begin(), plug.out[c].end(), out[c].begin() + (long)pos);
    },
    [&](const Change& c) { plug.controls[(size_t)c.param] = c.plain; });
  lilv_instance_deactivate(plug.instance);
  return Write(path, out) ? 0 : Fail("cannot write the LV2 output");
}

}  // namespace

int main(int argc, char** argv)
{
  if (argc != 2) return Fail("usage: talvor-reference-render OUTPUT_DIR");
  const std::string dir = argv[1];
  mkdir(dir.c_str(), 0777);  // an existing folder is fine; a missing one fails the writes
  const auto in = Programme();
  if (int rc = RenderVst2(in, dir + "/vst2.f32")) return rc;
  return RenderLv2(in, dir + "/lv2.f32");
}
