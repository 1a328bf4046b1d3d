// Cost of the audio path at 48 kHz stereo with every control away from its
// default and "Filter" on: the engine's ProcessBlock per block size and
// instruction-set path, the same through the plug-in (what a binding calls),
// the waveshaper alone per path; and what creating an instance costs in time
// and heap.
#include <benchmark/benchmark.h>

#include <cmath>
#include <vector>

#include "bench/HeapInUse.h"
#include "plugin/TALVOR.h"
#include "dsp/DspKernels.h"
#include "dsp/TalvorEngine.h"
#include "dsp/Waveshaper.h"

namespace
{
constexpr double kRate = 48000.0;

// Programme-like material: a few partials and a slow level change.
struct Programme
{
  static constexpr int kLength = 48000;
  std::vector<double> left, right;

  Programme() : left(kLength), right(kLength)
  {
    for (int i = 0; i < kLength; ++i)
    {
      const double env = 0.3 + 0.25 * std::sin(2 * 3.14159265358979 * i / kLength);
      left[i] = env * (std::sin(i * 0.0131) + 0.4 * std::sin(i * 0.1173) + 0.1 * std::sin(i * 1.91));
      right[i] = env * (std::sin(i * 0.0127) + 0.3 * std::sin(i * 0.2011) + 0.1 * std::sin(i * 2.37));
    }
  }
};

// Runs process(in, out, block) over the programme, block after block.
template <class Process>
void RunBlocks(benchmark::State& state, Process process)
{
  static const Programme programme;
  const int block = (int)state.range(0);
  std::vector<double> outL(block), outR(block);
  int pos = 0;
  for (auto _ : state)
  {
    if (pos + block > Programme::kLength)
      pos = 0;
    double* in[2] = {const_cast<double*>(programme.left.data() + pos),
                     const_cast<double*>(programme.right.data() + pos)};
    double* out[2] = {outL.data(), outR.data()};
    process(in, out, block);
    benchmark::DoNotOptimize(outL.data());
    benchmark::DoNotOptimize(outR.data());
    benchmark::ClobberMemory();
    pos += block;
  }

  const double frames = (double)state.iterations() * block;
  state.SetItemsProcessed((int64_t)frames);
  // Time per stereo frame, and seconds of audio processed per second.
  state.counters["time_per_frame"] =
    benchmark::Counter(frames, benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
  state.counters["realtime_factor"] = benchmark::Counter(frames / kRate, benchmark::Counter::kIsRate);
}

// Skips a benchmark whose instruction-set path this processor lacks.
bool UsePath(benchmark::State& state, DspPath path)
{
  state.SetLabel(DspPathName(path));
  if (DspPathSupported(path)) return true;
  state.SkipWithError("path not supported here");
  return false;
}

void EngineProcessBlock(benchmark::State& state)
{
  TalvorEngine engine;
  if (!UsePath(state, (DspPath)state.range(1)) || !engine.UseDspPath((DspPath)state.range(1))) return;
  engine.SetLowGain(7);
  engine.SetLowFreq(2);
  engine.SetMidGain(3);
  engine.SetMidFreq(3);
  engine.SetHighGain(8);
  engine.SetHighFreq(1);
  engine.SetInputDb(4.5);
  engine.SetOutputDb(-2.25);
  engine.SetFilter(1);
  TalvorSwitches switches;
  switches.filterOn = true;
  RunBlocks(state, [&](double** in, double** out, int n) { engine.ProcessBlock(kRate, switches, in, out, n); });
}
// One frame per block shows the cost of the per-block preparation.
BENCHMARK(EngineProcessBlock)->ArgsProduct({{1, 64, 512}, {0, 1, 2, 3}});

// The same settings as parameters of the plug-in on the offline binding.
void PluginProcessBlock(benchmark::State& state)
{
  TALVOR plug{IPlugInstanceInfo{}};
  plug.SetSampleRate(kRate);
  plug.ChangeBlockSize((int)state.range(0));
  const struct { int idx; double value; } settings[] = {
    {kLowGain, 7}, {kLowFreq, 2},  {kMidGain, 3}, {kMidFreq, 3}, {kHighGain, 8},   {kHighFreq, 1},
    {kInput, 4.5}, {kOutput, -2.25}, {kBypass, 1}, {kFilter, 1}, {kLink, 0}};
  for (const auto& s : settings)
  {
    plug.ParamAt(s.idx)->SetClamped(s.value);
    plug.ParamChanged(s.idx);
  }
  RunBlocks(state, [&](double** in, double** out, int n) { plug.ProcessBlock(in, out, n); });
}
BENCHMARK(PluginProcessBlock)->Arg(64)->Arg(512);

// The input waveshaper alone, one value per call.
void Saturate(benchmark::State& state)
{
  double x = 0.3;
  for (auto _ : state)
  {
    benchmark::DoNotOptimize(SaturateSample(x));
    x = x > 1.5 ? -1.5 : x + 0.001;
  }
}
BENCHMARK(Saturate);

// The waveshaper over a run of values, as the engine uses it (512 values:
// 256 stereo frames of programme), per path; time per value.
void SaturateRun(benchmark::State& state)
{
  const DspPath path = (DspPath)state.range(0);
  if (!UsePath(state, path)) return;
  double in[512], out[512];
  for (int i = 0; i < 512; ++i)
    in[i] = 0.8 * std::sin(i * 0.0131) + 0.1 * std::sin(i * 1.91);
  for (auto _ : state)
  {
    SaturateSamples(in, out, 512, path);
    benchmark::DoNotOptimize(out);
    benchmark::ClobberMemory();
  }
  state.counters["time_per_value"] =
    benchmark::Counter((double)state.iterations() * 512, benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}
BENCHMARK(SaturateRun)->DenseRange(0, 3);

// The engine's stages apart, per path, in time per stereo frame over 512
// frames: 0 the waveshaper alone (two values per frame), 1 the input stage,
// waveshaper and filter chain as the engine runs them (so the chain costs the
// difference), 2 the output stage.
void KernelStage(benchmark::State& state)
{
  const int stage = (int)state.range(0);
  const DspPath path = (DspPath)state.range(1);
  if (!UsePath(state, path)) return;
  const DspKernels* kernels = KernelsFor(path);
  static const Programme programme;
  constexpr int kFrames = 512;
  // Sections designed as the engine's other benchmarks have them.
  TalvorEngine engine;
  engine.SetLowGain(7), engine.SetMidGain(3), engine.SetMidFreq(3), engine.SetHighGain(8), engine.SetFilter(1);
  TalvorSwitches switches;
  switches.filterOn = true;
  engine.PrepareBlock(kRate, switches);
  FilterLanes lanes = {};
  for (int c = 0; c < 2; ++c)
  {
    const TalvorChannelSections& s = engine.Sections(c);
    auto biquad = [c](const BiquadSection& b, FilterLanes::Biquad& l) {
      l.b0[c] = b.b0, l.b1[c] = b.b1, l.b2[c] = b.b2, l.a1[c] = b.a1, l.a2[c] = b.a2;
    };
    biquad(s.highpass, lanes.highpass);
    biquad(s.lowShelf, lanes.lowShelf);
    biquad(s.highShelf, lanes.highShelf);
    lanes.mid.b0[c] = s.mid.b0, lanes.mid.b1[c] = s.mid.b1, lanes.mid.b2[c] = s.mid.b2;
    lanes.mid.a1[c] = s.mid.a1, lanes.mid.a2[c] = s.mid.a2;
    lanes.lowpass.b0[c] = s.lowpass.b0, lanes.lowpass.b1[c] = s.lowpass.b1, lanes.lowpass.b2[c] = s.lowpass.b2;
    lanes.lowpass.a1[c] = s.lowpass.a1, lanes.lowpass.a2[c] = s.lowpass.a2;
  }
  lanes.lowpassOn = true;
  std::vector<double> work(2 * kFrames), outL(kFrames), outR(kFrames), shaped(2 * kFrames);
  std::vector<float> chain(2 * kFrames);
  for (int i = 0; i < kFrames; ++i)
    shaped[2 * i] = programme.left[(size_t)i], shaped[2 * i + 1] = programme.right[(size_t)i];
  for (auto _ : state)
  {
    if (stage == 0)
      kernels->saturate(shaped.data(), work.data(), 2 * kFrames);
    else if (stage == 1)
      kernels->shapeAndFilter(lanes, programme.left.data(), programme.right.data(), nullptr, 1.5, work.data(),
                              chain.data(), kFrames);
    else
      kernels->output(chain.data(), nullptr, 0.8, 0.97, outL.data(), outR.data(), kFrames);
    benchmark::DoNotOptimize(work.data());
    benchmark::DoNotOptimize(outL.data());
    benchmark::ClobberMemory();
  }
  state.counters["time_per_frame"] = benchmark::Counter((double)state.iterations() * kFrames,
                                                        benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}
BENCHMARK(KernelStage)->ArgsProduct({{0, 1, 2}, {1, 2, 3}});

// A block while the controls glide, while a switch cross-fades, while
// bypassed (the chain runs on), and settled, on the fastest path: 0 settled,
// 1 gliding ("Mid Gain" moved every block), 2 cross-fading ("Bypass" turned
// every 10 ms), 3 bypassed.
void EngineInMotion(benchmark::State& state)
{
  const int motion = (int)state.range(1);
  TalvorEngine engine;
  engine.SetLowGain(7), engine.SetMidGain(3), engine.SetMidFreq(3), engine.SetHighGain(8), engine.SetFilter(1);
  TalvorSwitches switches;
  switches.filterOn = true;
  switches.processed = motion != 3;
  int blocks = 0;
  RunBlocks(state, [&](double** in, double** out, int n) {
    ++blocks;
    if (motion == 1)
      engine.SetMidGain(blocks % 2 ? 10 : 0);
    if (motion == 2)
      switches.processed = blocks % 2;
    engine.ProcessBlock(kRate, switches, in, out, n);
  });
  static const char* kNames[] = {"settled", "gliding", "cross-fading", "bypassed"};
  state.SetLabel(kNames[motion]);
}
BENCHMARK(EngineInMotion)->ArgsProduct({{480}, {0, 1, 2, 3}});

// Creating (and destroying) a plug-in instance on the offline binding, with
// its editor built but never opened; the heap an instance holds, beside.
void CreateInstance(benchmark::State& state)
{
  size_t heap = 0;
  for (auto _ : state)
  {
    const size_t before = HeapInUse();
    auto* plug = new TALVOR(IPlugInstanceInfo{});
    heap = HeapInUse() - before;
    benchmark::DoNotOptimize(plug);
    delete plug;
  }
  state.counters["instance_heap_KiB"] = (double)heap / 1024.0;
}
BENCHMARK(CreateInstance);
}  // namespace
