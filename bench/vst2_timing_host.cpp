// A small VST 2.4 host that times a module's process functions the way a mix
// uses them: it loads any module by path, opens instances at the given sample
// rate and block size, sets the given normalised parameter values, warms up,
// then feeds a programme signal block by block and reports the time per frame.
// It needs nothing but the module, so it is built natively and for Win64.
//
//   vst2-timing-host MODULE [--block N] [--seconds S] [--rate R]
//                    [--instances N] [--param INDEX=VALUE]... [--list] [--create]
//
// --instances N runs N instances side by side, each on its own channels (two
//               instances of a mono module make one stereo insert);
// --list        prints the parameters and their display texts;
// --create      times the creation (entry point and open) of the first and of
//               a later instance, with the later instance's heap use on glibc.
// Each timing line gives, over S seconds of audio timed in stretches of about
// 4096 frames, the 10th percentile and the median time per frame in
// nanoseconds; the 10th percentile is the one to compare on a busy machine.

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#if defined(_WIN32)
#include <windows.h>
#else
#include <dlfcn.h>
#if defined(__GLIBC__)
#include <malloc.h>
#endif
#endif

#include "vst2/VstInterface.h"

namespace
{
using EntryProc = AEffect*(VSTCALLBACK*)(audioMasterCallback);
using Clock = std::chrono::steady_clock;

struct Options
{
  const char* module = nullptr;
  int block = 512;
  double seconds = 4.0;
  double rate = 48000.0;
  int instances = 1;
  std::vector<std::pair<int, float>> params;
  bool list = false;
  bool create = false;
};

Options options;

VstIntPtr VSTCALLBACK HostCallback(AEffect*, VstInt32 opcode, VstInt32, VstIntPtr, void* ptr, float)
{
  switch (opcode)
  {
    case audioMasterVersion: return kVstVersion;
    case audioMasterGetSampleRate: return (VstIntPtr)options.rate;
    case audioMasterGetBlockSize: return options.block;
    case audioMasterGetCurrentProcessLevel: return kVstProcessLevelRealtime;
    case audioMasterGetProductString:
      if (ptr) std::strcpy(static_cast<char*>(ptr), "vst2-timing-host");
      return 1;
    default: return 0;
  }
}

EntryProc LoadEntry(const char* path)
{
#if defined(_WIN32)
  HMODULE module = LoadLibraryA(path);
  if (!module) return nullptr;
  FARPROC entry = GetProcAddress(module, "VSTPluginMain");
  if (!entry) entry = GetProcAddress(module, "main");
  return reinterpret_cast<EntryProc>(reinterpret_cast<void*>(entry));
#else
  void* module = dlopen(path, RTLD_NOW | RTLD_LOCAL);
  if (!module) return nullptr;
  void* entry = dlsym(module, "VSTPluginMain");
  if (!entry) entry = dlsym(module, "main");
  return reinterpret_cast<EntryProc>(entry);
#endif
}

size_t HeapInUse()
{
#if defined(__GLIBC__)
  const struct mallinfo2 m = mallinfo2();
  return m.uordblks + m.hblkhd;
#else
  return 0;
#endif
}

double MillisecondsSince(Clock::time_point start)
{
  return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// One open instance; closed on destruction.
struct Instance
{
  AEffect* effect = nullptr;
  bool started = false;

  explicit Instance(EntryProc entry)
  {
    effect = entry(HostCallback);
    if (!effect || effect->magic != kEffectMagic)
    {
      effect = nullptr;
      return;
    }
    Dispatch(effOpen);
  }
  ~Instance()
  {
    if (!effect) return;
    if (started) Dispatch(effMainsChanged, 0, 0);
    Dispatch(effClose);
  }
  Instance(const Instance&) = delete;
  Instance& operator=(const Instance&) = delete;

  VstIntPtr Dispatch(VstInt32 op, VstInt32 index = 0, VstIntPtr value = 0, void* ptr = nullptr, float opt = 0)
  {
    return effect->dispatcher(effect, op, index, value, ptr, opt);
  }
  void Start()
  {
    Dispatch(effSetSampleRate, 0, 0, nullptr, (float)options.rate);
    Dispatch(effSetBlockSize, 0, options.block);
    for (const auto& p : options.params)
      if (p.first >= 0 && p.first < effect->numParams) effect->setParameter(effect, p.first, p.second);
    Dispatch(effMainsChanged, 0, 1);
    started = true;
  }
  std::string Text(VstInt32 op, VstInt32 index)
  {
    char text[256] = {};
    Dispatch(op, index, 0, text);
    return text;
  }
};

// Programme-like material, one second long and repeated: a few partials per
// channel and a slow level change, peaking near 0.8.
template <typename Sample>
std::vector<std::vector<Sample>> Programme(int channels, int frames)
{
  std::vector<std::vector<Sample>> signal((size_t)channels, std::vector<Sample>((size_t)frames));
  for (int c = 0; c < channels; ++c)
    for (int i = 0; i < frames; ++i)
    {
      const double env = 0.3 + 0.25 * std::sin(2 * 3.14159265358979 * i / frames);
      const double d = 0.0004 * c;
      signal[c][i] = (Sample)(env * (std::sin(i * (0.0131 - d)) + 0.4 * std::sin(i * (0.1173 + 3 * d)) +
                                     0.1 * std::sin(i * (1.91 + 2 * d))));
    }
  return signal;
}

// Runs process over `seconds` of audio for every instance, block by block,
// and returns the time per frame of each stretch of about 4096 frames: on a
// busy machine the faster stretches are the ones that had the processor.
template <typename Sample, typename Process>
std::vector<double> StretchTimes(std::vector<Instance*>& plugs, Process process, double seconds)
{
  const int length = (int)options.rate;
  int channels = 0;
  for (Instance* p : plugs) channels += std::max(p->effect->numInputs, p->effect->numOutputs);
  static std::vector<std::vector<Sample>> in;
  if ((int)in.size() != channels) in = Programme<Sample>(channels, length + options.block);
  std::vector<std::vector<Sample>> out((size_t)channels, std::vector<Sample>((size_t)options.block));
  std::vector<Sample*> inPtr((size_t)channels), outPtr((size_t)channels);
  for (int c = 0; c < channels; ++c) outPtr[c] = out[c].data();

  const int blocksPerStretch = std::max(1, 4096 / options.block);
  const long long stretches = std::max(1LL, (long long)(seconds * options.rate) / (blocksPerStretch * options.block));
  std::vector<double> times;
  int pos = 0;
  for (long long s = 0; s < stretches; ++s)
  {
    const Clock::time_point start = Clock::now();
    for (int b = 0; b < blocksPerStretch; ++b)
    {
      for (int c = 0; c < channels; ++c) inPtr[c] = in[c].data() + pos;
      int first = 0;
      for (Instance* p : plugs)
      {
        process(p->effect, inPtr.data() + first, outPtr.data() + first, options.block);
        first += std::max(p->effect->numInputs, p->effect->numOutputs);
      }
      pos += options.block;
      if (pos >= length) pos -= length;
    }
    const double ns = std::chrono::duration<double, std::nano>(Clock::now() - start).count();
    times.push_back(ns / (blocksPerStretch * options.block));
  }
  return times;
}

template <typename Sample, typename Process>
void Report(const char* name, std::vector<Instance*>& plugs, Process process)
{
  StretchTimes<Sample>(plugs, process, 1.0);  // settles every smoother and warms the caches
  std::vector<double> t = StretchTimes<Sample>(plugs, process, options.seconds);
  std::sort(t.begin(), t.end());
  std::printf("%s block=%d instances=%d p10=%.3f median=%.3f ns/frame\n", name, options.block, options.instances,
              t[t.size() / 10], t[t.size() / 2]);
}

void CreateTimes(EntryProc entry)
{
  const Clock::time_point first = Clock::now();
  Instance a(entry);
  const double firstMs = MillisecondsSince(first);
  const size_t heapBefore = HeapInUse();
  const Clock::time_point later = Clock::now();
  Instance b(entry);
  const double laterMs = MillisecondsSince(later);
  const size_t heap = HeapInUse() - heapBefore;
  std::printf("create first=%.3f ms later=%.3f ms", firstMs, laterMs);
  if (heap) std::printf(" instance_heap=%.1f KiB", (double)heap / 1024.0);
  std::printf("\n");
}

bool ParseArgs(int argc, char** argv)
{
  for (int i = 1; i < argc; ++i)
  {
    const std::string a = argv[i];
    const bool hasValue = i + 1 < argc;
    if (a == "--list") options.list = true;
    else if (a == "--create") options.create = true;
    else if (a == "--block" && hasValue) options.block = std::atoi(argv[++i]);
    else if (a == "--seconds" && hasValue) options.seconds = std::atof(argv[++i]);
    else if (a == "--rate" && hasValue) options.rate = std::atof(argv[++i]);
    else if (a == "--instances" && hasValue) options.instances = std::atoi(argv[++i]);
    else if (a == "--param" && hasValue)
    {
      const std::string p = argv[++i];
      const size_t eq = p.find('=');
      if (eq == std::string::npos) return false;
      options.params.emplace_back(std::atoi(p.c_str()), (float)std::atof(p.c_str() + eq + 1));
    }
    else if (a[0] != '-' && !options.module) options.module = argv[i];
    else return false;
  }
  return options.module && options.block > 0 && options.seconds > 0 && options.rate > 0 &&
         options.instances > 0;
}
}  // namespace

int main(int argc, char** argv)
{
  if (!ParseArgs(argc, argv))
  {
    std::fprintf(stderr,
                 "usage: %s MODULE [--block N] [--seconds S] [--rate R] [--instances N]\n"
                 "       [--param INDEX=VALUE]... [--list] [--create]\n",
                 argv[0]);
    return 2;
  }
  const EntryProc entry = LoadEntry(options.module);
  if (!entry)
  {
    std::fprintf(stderr, "%s: cannot load a VST 2.4 entry point\n", options.module);
    return 1;
  }
  if (options.create)
  {
    CreateTimes(entry);
    return 0;
  }

  std::vector<Instance*> plugs;
  for (int i = 0; i < options.instances; ++i)
  {
    plugs.push_back(new Instance(entry));
    if (!plugs.back()->effect)
    {
      std::fprintf(stderr, "%s: the entry point returned no effect\n", options.module);
      return 1;
    }
    plugs.back()->Start();
  }
  AEffect* e = plugs[0]->effect;
  if (options.list)
  {
    std::printf("%d in, %d out, flags 0x%x\n", e->numInputs, e->numOutputs, (unsigned)e->flags);
    for (int i = 0; i < e->numParams; ++i)
      std::printf("%2d %-16s %.6f  %s %s\n", i, plugs[0]->Text(effGetParamName, i).c_str(), e->getParameter(e, i),
                  plugs[0]->Text(effGetParamDisplay, i).c_str(), plugs[0]->Text(effGetParamLabel, i).c_str());
  }
  else
  {
    if (e->flags & effFlagsCanReplacing)
      Report<float>("processReplacing", plugs,
                    [](AEffect* fx, float** in, float** out, int n) { fx->processReplacing(fx, in, out, n); });
    if ((e->flags & effFlagsCanDoubleReplacing) && e->processDoubleReplacing)
      Report<double>("processDoubleReplacing", plugs,
                     [](AEffect* fx, double** in, double** out, int n) { fx->processDoubleReplacing(fx, in, out, n); });
  }
  for (Instance* p : plugs) delete p;
  return 0;
}
