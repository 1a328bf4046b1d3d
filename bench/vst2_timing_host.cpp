// A small VST 2.4 host that times modules' process functions the way a mix
// uses them: it loads modules by path, opens instances at the given sample
// rate and block size, sets the given normalised parameter values, warms up,
// then feeds a programme signal block by block and reports the time per
// frame. Several modules are timed in turns, stretch by stretch, so that
// they share whatever else the machine is doing, and each later module's
// time is also given as a ratio to the first one's. It needs nothing but the
// modules, so it is built natively and for Win64.
//
//   vst2-timing-host [--block N] [--seconds S] [--rate R] [--list] [--create]
//                    MODULE [--instances N] [--param INDEX=VALUE]... [MODULE ...]...
//   vst2-timing-host --clock
//
// --instances N runs N instances of the module side by side, each on its own
//               channels (two instances of a mono module make one stereo insert);
// --param       applies to the module named last;
// --list        prints the parameters and their display texts;
// --create      times the creation (entry point and open) of the first and of
//               a later instance, with the later instance's heap use on glibc;
// --clock       prints the processor's clock as it runs now, from a chain of
//               dependent integer additions (one cycle each), for figures in
//               cycles.
// Each timing line gives, over S seconds of audio timed in stretches of about
// 4096 frames, the 10th percentile and the median time per frame in
// nanoseconds; the ratio is the median over the module's stretches of its
// time to the first module's stretch just before.

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#if defined(_WIN32)
#include <windows.h>
#else
#include <dlfcn.h>
#endif

#include "bench/HeapInUse.h"
#include "vst2/VstInterface.h"

#if defined(__SSE__) || defined(_M_X64)
#include <xmmintrin.h>
#define TIMING_HOST_HAS_MXCSR 1
#endif

namespace
{
using EntryProc = AEffect*(VSTCALLBACK*)(audioMasterCallback);
using Clock = std::chrono::steady_clock;

struct Options
{
  int block = 512;
  double seconds = 4.0;
  double rate = 48000.0;
  bool list = false;
  bool create = false;
};
Options options;

struct Subject
{
  std::string path;
  int instances = 1;
  std::vector<std::pair<int, float>> params;
};

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

// The floating-point control state the process started with. Some modules
// change it for the whole process (ZamEQ2 turns on flush-to-zero when it is
// loaded); each stretch starts from this one, so that no module runs in
// another's.
struct FloatEnvironment
{
#if defined(TIMING_HOST_HAS_MXCSR)
  unsigned csr = _mm_getcsr();
  void Restore() const { _mm_setcsr(csr); }
#else
  void Restore() const {}
#endif
};
const FloatEnvironment startEnvironment;

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
  void Start(const Subject& s)
  {
    Dispatch(effSetSampleRate, 0, 0, nullptr, (float)options.rate);
    Dispatch(effSetBlockSize, 0, options.block);
    for (const auto& p : s.params)
      if (p.first >= 0 && p.first < effect->numParams) effect->setParameter(effect, p.first, p.second);
    Dispatch(effMainsChanged, 0, 1);
    started = true;
  }
  int Channels() const { return std::max(effect->numInputs, effect->numOutputs); }
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

// The instances of one module with their buffers, processed in stretches.
template <typename Sample>
struct Bench
{
  std::vector<Instance*> plugs;
  std::vector<std::vector<Sample>> in, out;
  std::vector<Sample*> inPtr, outPtr;
  int pos = 0;

  explicit Bench(std::vector<Instance*> instances) : plugs(std::move(instances))
  {
    int channels = 0;
    for (Instance* p : plugs) channels += p->Channels();
    in = Programme<Sample>(channels, (int)options.rate + options.block);
    out.assign((size_t)channels, std::vector<Sample>((size_t)options.block));
    inPtr.resize((size_t)channels);
    for (int c = 0; c < channels; ++c) outPtr.push_back(out[c].data());
  }

  // Nanoseconds per frame for `blocks` blocks.
  template <typename Process>
  double Stretch(Process process, int blocks)
  {
    const int length = (int)options.rate;
    startEnvironment.Restore();
    const Clock::time_point start = Clock::now();
    for (int b = 0; b < blocks; ++b)
    {
      for (size_t c = 0; c < in.size(); ++c) inPtr[c] = in[c].data() + pos;
      int first = 0;
      for (Instance* p : plugs)
      {
        process(p->effect, inPtr.data() + first, outPtr.data() + first, options.block);
        first += p->Channels();
      }
      pos += options.block;
      if (pos >= length) pos -= length;
    }
    return std::chrono::duration<double, std::nano>(Clock::now() - start).count() / (blocks * options.block);
  }
};

double Quantile(std::vector<double> v, double q)
{
  std::sort(v.begin(), v.end());
  return v[(size_t)(q * (double)(v.size() - 1))];
}

// Times every module in turns, a stretch each, and prints the results.
template <typename Sample, typename Process>
void Report(const char* name, const std::vector<Subject>& subjects, std::vector<std::vector<Instance*>>& plugs,
            Process process)
{
  std::vector<std::unique_ptr<Bench<Sample>>> benches;
  for (auto& p : plugs) benches.emplace_back(new Bench<Sample>(p));
  const int blocks = std::max(1, 4096 / options.block);
  const int warmup = std::max(1, (int)(options.rate / (blocks * options.block)));  // a second
  const int stretches = std::max(2, (int)(options.seconds * options.rate / (blocks * options.block)));
  for (auto& b : benches)
    for (int s = 0; s < warmup; ++s) b->Stretch(process, blocks);  // settles smoothers, warms caches

  std::vector<std::vector<double>> times(benches.size());
  for (int s = 0; s < stretches; ++s)
    for (size_t k = 0; k < benches.size(); ++k) times[k].push_back(benches[k]->Stretch(process, blocks));

  for (size_t k = 0; k < benches.size(); ++k)
  {
    const char* base = std::strrchr(subjects[k].path.c_str(), '/');
    std::printf("%s block=%d module=%s instances=%d p10=%.3f median=%.3f ns/frame", name, options.block,
                base ? base + 1 : subjects[k].path.c_str(), subjects[k].instances, Quantile(times[k], 0.1),
                Quantile(times[k], 0.5));
    if (k > 0)
    {
      std::vector<double> ratios;
      for (int s = 0; s < stretches; ++s) ratios.push_back(times[k][s] / times[0][s]);
      std::printf(" ratio=%.4f", Quantile(ratios, 0.5));
    }
    std::printf("\n");
  }
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

bool ParseArgs(int argc, char** argv, std::vector<Subject>& subjects)
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
    else if (a == "--instances" && hasValue && !subjects.empty()) subjects.back().instances = std::atoi(argv[++i]);
    else if (a == "--param" && hasValue && !subjects.empty())
    {
      const std::string p = argv[++i];
      const size_t eq = p.find('=');
      if (eq == std::string::npos) return false;
      subjects.back().params.emplace_back(std::atoi(p.c_str()), (float)std::atof(p.c_str() + eq + 1));
    }
    else if (a[0] != '-') subjects.push_back({a, 1, {}});
    else return false;
  }
  for (const Subject& s : subjects)
    if (s.instances < 1) return false;
  return !subjects.empty() && options.block > 0 && options.seconds > 0 && options.rate > 0;
}
}  // namespace

// Cycles per nanosecond: a chain of dependent additions, one cycle each on
// every x86-64 and AArch64 processor, timed for a fraction of a second.
double ClockGhz()
{
  constexpr long kAdds = 400000000;
  unsigned long x = 0;
  const Clock::time_point start = Clock::now();
  for (long i = 0; i < kAdds / 4; ++i)
  {
#if defined(__x86_64__)
    __asm__ volatile("add $1, %0\n\tadd $1, %0\n\tadd $1, %0\n\tadd $1, %0" : "+r"(x));
#elif defined(__aarch64__)
    __asm__ volatile("add %0, %0, #1\n\tadd %0, %0, #1\n\tadd %0, %0, #1\n\tadd %0, %0, #1" : "+r"(x));
#else
    x = x + 4;  // (no such chain here: the loop's own cost)
#endif
  }
  const double ns = std::chrono::duration<double, std::nano>(Clock::now() - start).count();
  return x == (unsigned long)kAdds ? kAdds / ns : 0.0;
}

int main(int argc, char** argv)
{
  if (argc == 2 && std::strcmp(argv[1], "--clock") == 0)
  {
    std::printf("clock_ghz=%.2f\n", ClockGhz());
    return 0;
  }
  std::vector<Subject> subjects;
  if (!ParseArgs(argc, argv, subjects))
  {
    std::fprintf(stderr,
                 "usage: %s [--block N] [--seconds S] [--rate R] [--list] [--create]\n"
                 "       MODULE [--instances N] [--param INDEX=VALUE]... [MODULE ...]...\n"
                 "       %s --clock\n",
                 argv[0], argv[0]);
    return 2;
  }
  std::vector<std::vector<Instance*>> plugs;
  bool ok = true;
  for (const Subject& s : subjects)
  {
    const EntryProc entry = LoadEntry(s.path.c_str());
    if (!entry)
    {
      std::fprintf(stderr, "%s: cannot load a VST 2.4 entry point\n", s.path.c_str());
      return 1;
    }
    if (options.create)
    {
      CreateTimes(entry);
      continue;
    }
    plugs.emplace_back();
    for (int i = 0; i < s.instances && ok; ++i)
    {
      plugs.back().push_back(new Instance(entry));
      ok = plugs.back().back()->effect != nullptr;
      if (ok) plugs.back().back()->Start(s);
    }
    if (!ok) std::fprintf(stderr, "%s: the entry point returned no effect\n", s.path.c_str());
  }

  if (ok && options.list)
    for (auto& p : plugs)
    {
      AEffect* e = p[0]->effect;
      std::printf("%d in, %d out, flags 0x%x\n", e->numInputs, e->numOutputs, (unsigned)e->flags);
      for (int i = 0; i < e->numParams; ++i)
        std::printf("%2d %-16s %.6f  %s %s\n", i, p[0]->Text(effGetParamName, i).c_str(), e->getParameter(e, i),
                    p[0]->Text(effGetParamDisplay, i).c_str(), p[0]->Text(effGetParamLabel, i).c_str());
    }
  else if (ok && !plugs.empty())
  {
    bool replacing = true, doubles = true;
    for (auto& p : plugs)
    {
      replacing = replacing && (p[0]->effect->flags & effFlagsCanReplacing);
      doubles = doubles && (p[0]->effect->flags & effFlagsCanDoubleReplacing) && p[0]->effect->processDoubleReplacing;
    }
    if (replacing)
      Report<float>("processReplacing", subjects, plugs,
                    [](AEffect* fx, float** in, float** out, int n) { fx->processReplacing(fx, in, out, n); });
    if (doubles)
      Report<double>("processDoubleReplacing", subjects, plugs,
                     [](AEffect* fx, double** in, double** out, int n) { fx->processDoubleReplacing(fx, in, out, n); });
  }
  for (auto& p : plugs)
    for (Instance* i : p) delete i;
  return ok ? 0 : 1;
}
