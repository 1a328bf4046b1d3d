// talvor-measure: measures what TALVOR does by running it, the plug-in on its
// offline binding exactly as a host runs it, and prints the numbers, one pair
// a line, for tools/plots/make_plots.py.
//
//   talvor-measure response [--rate HZ] [--preset NAME] [--set "NAME=VALUE"]... FREQ...
//   talvor-measure spectrum [--rate HZ] [--preset NAME] [--set "NAME=VALUE"]... [--tone HZ] [--level DBFS]
//   talvor-measure transfer [--set "Input=DB"] [--peak X] [--points N]
//   talvor-measure --list-presets    (as talvor-render lists them)

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "plugin/TALVOR.h"
#include "dsp/Waveshaper.h"
#include "tools/common/ToolArgs.h"

namespace
{
using tool_args::Fail;

const char* const kUsage =
  "usage: talvor-measure response [--rate HZ] [--preset NAME] [--set \"NAME=VALUE\"]... FREQ...\n"
  "       talvor-measure spectrum [--rate HZ] [--preset NAME] [--set \"NAME=VALUE\"]... [--tone HZ] [--level DBFS]\n"
  "       talvor-measure transfer [--set \"Input=DB\"] [--peak X] [--points N]\n"
  "       talvor-measure --list-presets\n"
  "Runs a fresh TALVOR with the given parameters (as talvor-render takes them) and prints:\n"
  "  response  FREQ GAIN_DB for small signals: the impulse response at each frequency\n"
  "  spectrum  FREQ LEVEL_DB of the output for a sine (default 1 kHz at -6 dBFS), up to rate/2\n"
  "  transfer  IN OUT of the input stage (Input gain, then the saturator), IN from -X to X\n"
  "  --rate    sample rate (default 44100)\n";

constexpr int kBlock = 512;
constexpr double kPi = 3.14159265358979323846;
// Small enough that the saturator is linear to far below a thousandth of a dB.
constexpr double kImpulse = 1e-3;

struct Options
{
  std::string mode;
  std::vector<tool_args::Setting> sets;
  std::vector<double> freqs;
  double rate = 44100.0;
  double tone = 1000.0;
  double levelDb = -6.0;
  double peak = 2.0;
  int points = 401;
};

int ParseArguments(int argc, char** argv, Options* opt)
{
  if (argc < 2 || std::strcmp(argv[1], "-h") == 0 || std::strcmp(argv[1], "--help") == 0)
  {
    std::fputs(kUsage, argc < 2 ? stderr : stdout);
    return argc < 2 ? 2 : -1;
  }
  if (std::strcmp(argv[1], "--list-presets") == 0)
  {
    tool_args::ListPresets();
    return -1;
  }
  opt->mode = argv[1];
  if (opt->mode != "response" && opt->mode != "spectrum" && opt->mode != "transfer")
    return Fail("unknown measurement \"%s\" (try --help)", argv[1]);
  for (int i = 2; i < argc; ++i)
  {
    const std::string arg = argv[i];
    double v = 0.0;
    if (arg == "--set" || arg == "--preset" || arg == "--rate" || arg == "--tone" || arg == "--level" || arg == "--peak" ||
        arg == "--points")
    {
      if (i + 1 >= argc)
        return Fail("%s needs a value", arg.c_str());
      const char* value = argv[++i];
      if (arg == "--set" || arg == "--preset")
        opt->sets.push_back({arg == "--preset", value});
      else if (arg == "--points")
      {
        if (!tool_args::ParseInt(value, 2, 100000, &opt->points))
          return Fail("bad --points \"%s\" (2 to 100000)", value);
      }
      else if (!tool_args::ParseDouble(value, &v))
        return Fail("bad %s \"%s\"", arg.c_str(), value);
      else if (arg == "--rate")
      {
        if (v < 8000.0 || v > 768000.0)
          return Fail("bad --rate \"%s\" (8000 to 768000 Hz)", value);
        opt->rate = v;
      }
      else if (arg == "--tone")
        opt->tone = v;
      else if (arg == "--level")
        opt->levelDb = v;
      else if (v > 0.0 && v <= 100.0)
        opt->peak = v;
      else
        return Fail("bad --peak \"%s\" (above 0, at most 100)", value);
      continue;
    }
    if (!tool_args::ParseDouble(arg.c_str(), &v))
      return Fail("bad argument \"%s\" (try --help)", arg.c_str());
    opt->freqs.push_back(v);
  }
  if (opt->mode == "response" && opt->freqs.empty())
    return Fail("response needs at least one frequency");
  if (opt->mode != "response" && !opt->freqs.empty())
    return Fail("only response takes frequencies");
  for (double f : opt->freqs)
    if (!(f > 0.0 && f < opt->rate / 2))
      return Fail("frequency %g is not between 0 and half the sample rate", f);
  if (opt->mode == "spectrum" && !(opt->tone > 0.0 && opt->tone < opt->rate / 2))
    return Fail("--tone must lie between 0 and half the sample rate");
  return 0;
}

// A TALVOR as a host would have it: parameters set, sample rate and block size.
std::unique_ptr<TALVOR> MakePlug(const Options& opt)
{
  std::unique_ptr<TALVOR> plug(new TALVOR(IPlugInstanceInfo{}));
  if (tool_args::ApplySettings(*plug, opt.sets) != 0)
    return nullptr;
  plug->SetSampleRate(opt.rate);
  plug->ChangeBlockSize(kBlock);
  plug->OnReset();
  return plug;
}

// Runs `in` (mono, fed to both channels) through the plug-in in host blocks;
// answers the left output.
std::vector<double> Run(TALVOR& plug, const std::vector<double>& in)
{
  std::vector<double> out(in.size()), right(kBlock), inCopy(kBlock);
  for (size_t start = 0; start < in.size(); start += kBlock)
  {
    const int n = (int)std::min<size_t>(kBlock, in.size() - start);
    std::copy_n(in.data() + start, n, inCopy.data());
    double* ins[2] = {inCopy.data(), inCopy.data()};
    double* outs[2] = {out.data() + start, right.data()};
    IPlugLockGuard lock(&plug);
    plug.ProcessBlock(ins, outs, n);
  }
  return out;
}

// The gain at each frequency for small signals: two instances set up alike
// settle on silence; one then gets an impulse, the other silence, and their
// difference (the impulse response without the constant offsets of the chain)
// is transformed at each frequency.
int Response(const Options& opt)
{
  std::unique_ptr<TALVOR> a = MakePlug(opt), b = MakePlug(opt);
  if (!a || !b)
    return 2;
  const size_t settle = (size_t)(2.0 * opt.rate);
  Run(*a, std::vector<double>(settle));
  Run(*b, std::vector<double>(settle));
  // Long enough for the slowest section (the 2.2 Hz high-pass) to die away.
  std::vector<double> impulse((size_t)(6.0 * opt.rate));
  const std::vector<double> silent = Run(*b, impulse);
  impulse[0] = kImpulse;
  std::vector<double> h = Run(*a, impulse);
  for (size_t i = 0; i < h.size(); ++i)
    h[i] = (h[i] - silent[i]) / kImpulse;

  for (double f : opt.freqs)
  {
    // e^(-jwn) by recurrence, renormalised now and then.
    const std::complex<double> step = std::polar(1.0, -2.0 * kPi * f / opt.rate);
    std::complex<double> rot = 1.0, sum = 0.0;
    for (size_t n = 0; n < h.size(); ++n)
    {
      sum += h[n] * rot;
      rot *= step;
      if ((n & 1023) == 1023)
        rot /= std::abs(rot);
    }
    std::printf("%.6f %.6f\n", f, 20.0 * std::log10(std::abs(sum)));
  }
  return 0;
}

void Fft(std::vector<std::complex<double>>& x)
{
  const size_t n = x.size();
  for (size_t i = 1, j = 0; i < n; ++i)
  {
    size_t bit = n >> 1;
    for (; j & bit; bit >>= 1)
      j ^= bit;
    j ^= bit;
    if (i < j)
      std::swap(x[i], x[j]);
  }
  for (size_t len = 2; len <= n; len <<= 1)
  {
    const std::complex<double> w = std::polar(1.0, -2.0 * kPi / (double)len);
    for (size_t i = 0; i < n; i += len)
    {
      std::complex<double> wk = 1.0;
      for (size_t k = 0; k < len / 2; ++k, wk *= w)
      {
        const std::complex<double> u = x[i + k], v = x[i + k + len / 2] * wk;
        x[i + k] = u + v;
        x[i + k + len / 2] = u - v;
      }
    }
  }
}

// The output's spectrum for a steady sine. The tone is moved onto the nearest
// bin of a 2^16-point transform, so that it and all its harmonics (aliased
// ones too) fall on bins and no window is needed.
int Spectrum(const Options& opt)
{
  std::unique_ptr<TALVOR> plug = MakePlug(opt);
  if (!plug)
    return 2;
  const size_t n = 1 << 16;
  const double bin = opt.rate / (double)n;
  const double tone = std::max(1.0, std::round(opt.tone / bin)) * bin;
  const double amplitude = std::pow(10.0, opt.levelDb / 20.0);
  const size_t settle = (size_t)(2.0 * opt.rate);
  std::vector<double> in(settle + n);
  for (size_t i = 0; i < in.size(); ++i)
    in[i] = amplitude * std::sin(2.0 * kPi * tone / opt.rate * (double)i);
  const std::vector<double> out = Run(*plug, in);
  std::vector<std::complex<double>> x(n);
  for (size_t i = 0; i < n; ++i)
    x[i] = out[settle + i];
  Fft(x);
  for (size_t k = 1; k <= n / 2; ++k)
  {
    // Relative to a full-scale sine: |X| = N/2 for amplitude 1.
    const double level = std::abs(x[k]) / (double)(n / 2);
    std::printf("%.4f %.3f\n", (double)k * bin, 20.0 * std::log10(std::max(level, 1e-20)));
  }
  return 0;
}

// The input stage alone, on the plug-in's "Input" value: gain, then the saturator.
int Transfer(const Options& opt)
{
  std::unique_ptr<TALVOR> plug = MakePlug(opt);
  if (!plug)
    return 2;
  const double gain = std::pow(10.0, plug->ParamAt(kInput)->Value() / 20.0);
  for (int i = 0; i < opt.points; ++i)
  {
    const double x = -opt.peak + 2.0 * opt.peak * i / (opt.points - 1);
    std::printf("%.6f %.9f\n", x, SaturateSample(x * gain));
  }
  return 0;
}
}  // namespace

int main(int argc, char** argv)
{
  tool_args::SetToolName("talvor-measure");
  Options opt;
  const int parsed = ParseArguments(argc, argv, &opt);
  if (parsed != 0)
    return parsed < 0 ? 0 : 2;
  if (opt.mode == "response")
    return Response(opt);
  if (opt.mode == "spectrum")
    return Spectrum(opt);
  return Transfer(opt);
}
