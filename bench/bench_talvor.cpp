// Cost of the audio path: TALVOR::ProcessBlock at 48 kHz stereo with every
// parameter away from its default and "Filter" on.
#include <benchmark/benchmark.h>

#include <cmath>
#include <vector>

#include "plugin/TALVOR.h"
#include "plugin/Waveshaper.h"

namespace
{
constexpr double kRate = 48000.0;

void Configure(TALVOR& plug)
{
  const struct { int idx; double value; } settings[] = {
    {kLowGain, 7}, {kLowFreq, 2},  {kMidGain, 3}, {kMidFreq, 3}, {kHighGain, 8},   {kHighFreq, 1},
    {kInput, 4.5}, {kOutput, -2.25}, {kBypass, 1}, {kFilter, 1}, {kLink, 0}};
  for (const auto& s : settings)
  {
    plug.ParamAt(s.idx)->SetClamped(s.value);
    plug.ParamChanged(s.idx);
  }
}

void ProcessBlock(benchmark::State& state)
{
  const int block = (int)state.range(0);
  TALVOR plug{IPlugInstanceInfo{}};
  plug.SetSampleRate(kRate);
  plug.ChangeBlockSize(block);
  Configure(plug);
  // Programme-like material: a few partials and a slow level change.
  const int length = 48000;
  std::vector<double> left(length), right(length), outL(block), outR(block);
  for (int i = 0; i < length; ++i)
  {
    const double env = 0.3 + 0.25 * std::sin(2 * 3.14159265358979 * i / length);
    left[i] = env * (std::sin(i * 0.0131) + 0.4 * std::sin(i * 0.1173) + 0.1 * std::sin(i * 1.91));
    right[i] = env * (std::sin(i * 0.0127) + 0.3 * std::sin(i * 0.2011) + 0.1 * std::sin(i * 2.37));
  }

  int pos = 0;
  for (auto _ : state)
  {
    if (pos + block > length)
      pos = 0;
    double* in[2] = {left.data() + pos, right.data() + pos};
    double* out[2] = {outL.data(), outR.data()};
    plug.ProcessBlock(in, out, block);
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
BENCHMARK(ProcessBlock)->Arg(64)->Arg(512);

// The input waveshaper alone, one value per call.
void Saturate(benchmark::State& state)
{
  double x = 0.3;
  for (auto _ : state)
  {
    benchmark::DoNotOptimize(TALVOR::Saturate(x));
    x = x > 1.5 ? -1.5 : x + 0.001;
  }
}
BENCHMARK(Saturate);

// The waveshaper over a run of values, as ProcessBlock uses it (128 values:
// 64 stereo frames); time per value.
void SaturateRun(benchmark::State& state)
{
  double in[128], out[128];
  for (int i = 0; i < 128; ++i)
    in[i] = -1.5 + 3.0 * i / 127;
  for (auto _ : state)
  {
    SaturateSamples(in, out, 128);
    benchmark::DoNotOptimize(out);
    benchmark::ClobberMemory();
  }
  state.counters["time_per_value"] =
    benchmark::Counter((double)state.iterations() * 128, benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}
BENCHMARK(SaturateRun);
}  // namespace
