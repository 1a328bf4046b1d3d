// talvor-render: runs a WAV file (or a built-in clip) through a fresh TALVOR
// instance, the way a host would, and writes the result as 32-bit float WAV.
//
//   talvor-render [--preset NAME] [--set "NAME=VALUE"]... [--block FRAMES] [--rate HZ] [INPUT.wav] OUTPUT.wav
//   talvor-render --list-presets

#include <sndfile.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "plugin/TALVOR.h"
#include "tools/common/ToolArgs.h"
#include "tools/render/DefaultClip.h"

namespace
{
using tool_args::Fail;
using tool_args::ParseInt;

constexpr int kDefaultBlock = 512;
constexpr int kMaxBlock = 1 << 20;
constexpr int kDefaultRate = 48000;
constexpr int kMinRate = 1000;
constexpr int kMaxRate = 768000;
// Files longer than this get a progress line.
constexpr double kProgressSeconds = 30.0;

const char* const kUsage =
  "usage: talvor-render [--preset NAME] [--set \"NAME=VALUE\"]... [--block FRAMES] [--rate HZ] [INPUT.wav] OUTPUT.wav\n"
  "       talvor-render --list-presets\n"
  "Runs INPUT.wav (mono or stereo; without it, a built-in clip of a few seconds) through\n"
  "TALVOR and writes OUTPUT.wav as 32-bit float at the input's rate.\n"
  "  --preset start from a factory preset (\"Vocal Presence\"); --set after it changes it\n"
  "  --set    set a parameter by its name (\"Mid Gain=7\", \"Input=-3.5\"); repeatable\n"
  "  --list-presets  print every factory preset: name, category, what it is for (tab-separated)\n"
  "  --block  frames per processing block (default 512)\n"
  "  --rate   sample rate of the built-in clip used when no INPUT is given (default 48000)\n"
  "\n"
  "Parameters (NAME: range, default; meaning):\n";

// What each parameter does, by index; the names, ranges and defaults come
// from the plug-in itself.
const char* const kMeanings[kNumParams] = {
  "low shelf gain position: -12.4, -9.2, -6.3, -4.1, -2.2, 0, +2.5, +4.2, +6.1, +9.3, +12.5 dB",
  "low shelf corner position: 6.2, 8.7, 17.5, 27.7, 36 Hz (full boost reaches half its gain near 100, 140, 281, 444, 577 Hz)",
  "mid peak gain position: -12.2, -9.3, -6.2, -4.1, -2.15, 0, +2.2, +4.1, +6.14, +9.15, +12.3 dB; the peak narrows as the gain grows",
  "mid peak centre position: 394, 791, 1492, 3005, 5010 Hz",
  "high shelf gain position: -12.3, -9.1, -6.4, -4.2, -2.3, 0, +2.1, +4.3, +6.2, +9.4, +12.2 dB",
  "high shelf corner position: 9.9, 13, 15, 17, 19 kHz (a broad shelf acting well below its corner)",
  "input gain in dB, into the saturation stage: more drives it harder",
  "output gain in dB",
  "1 = equaliser in circuit (\"EQ IN\"), 0 = input passed through unchanged",
  "0 = 2.2 Hz high-pass, 1 = 15 Hz high-pass plus 19.1 kHz low-pass",
  "1 = Output follows Input with the opposite sign",
};

void PrintHelp()
{
  std::fputs(kUsage, stdout);
  TALVOR plug(IPlugInstanceInfo{});
  for (int i = 0; i < plug.ParamCount() && i < kNumParams; ++i)
  {
    const ParamDef* p = plug.ParamAt(i);
    const int decimals = p->DisplayPrecision();
    std::printf("  \"%s\": %.*f to %.*f%s, default %.*f; %s\n", p->NameForHost(), decimals, p->Min(), decimals,
                p->Max(), p->Step() >= 1.0 ? " in whole steps" : "", decimals, p->Default(), kMeanings[i]);
  }
}

struct Options
{
  std::vector<tool_args::Setting> sets;
  int block = kDefaultBlock;
  int rate = kDefaultRate;
  bool rateGiven = false;
  std::string input, output;
};

// Returns 0 to go on, -1 after printing the help, or an exit code.
int ParseArguments(int argc, char** argv, Options* opt)
{
  std::vector<std::string> files;
  for (int i = 1; i < argc; ++i)
  {
    const std::string arg = argv[i];
    const bool hasValue = i + 1 < argc;
    if (arg == "-h" || arg == "--help")
    {
      PrintHelp();
      return -1;
    }
    if (arg == "--list-presets")
    {
      tool_args::ListPresets();
      return -1;
    }
    if (arg == "--set" || arg == "--preset" || arg == "--block" || arg == "--rate")
    {
      if (!hasValue)
        return Fail("%s needs a value", arg.c_str());
      const char* value = argv[++i];
      if (arg == "--set" || arg == "--preset")
        opt->sets.push_back({arg == "--preset", value});
      else if (arg == "--block")
      {
        if (!ParseInt(value, 1, kMaxBlock, &opt->block))
          return Fail("bad --block \"%s\" (a whole number of frames from 1 to %d)", value, kMaxBlock);
      }
      else
      {
        if (!ParseInt(value, kMinRate, kMaxRate, &opt->rate))
          return Fail("bad --rate \"%s\" (a whole number of Hz from %d to %d)", value, kMinRate, kMaxRate);
        opt->rateGiven = true;
      }
      continue;
    }
    if (arg.size() > 1 && arg[0] == '-')
      return Fail("unknown option \"%s\" (try --help)", arg.c_str());
    files.push_back(arg);
  }
  if (files.empty())
    return Fail("no output file given (try --help)");
  if (files.size() > 2)
    return Fail("too many file names: expected [INPUT.wav] OUTPUT.wav");
  opt->output = files.back();
  if (files.size() == 2)
    opt->input = files[0];
  if (opt->rateGiven && !opt->input.empty())
    return Fail("--rate applies only to the built-in clip; an input file keeps its own rate");
  return 0;
}

// The output is written under a temporary name next to its destination and
// renamed only when complete, so that a failure never leaves a partial file.
class PendingOutput
{
public:
  ~PendingOutput()
  {
    if (file)
      sf_close(file);
    if (!tempPath.empty())
      unlink(tempPath.c_str());
  }

  bool Open(const std::string& path, int rate, int channels)
  {
    finalPath = path;
    const size_t slash = path.rfind('/');
    const std::string dir = slash == std::string::npos ? "./" : path.substr(0, slash + 1);
    const std::string tmpl = dir + ".talvor-render-XXXXXX";
    std::vector<char> buf(tmpl.begin(), tmpl.end());
    buf.push_back('\0');
    const int fd = mkstemp(buf.data());
    if (fd < 0)
      return false;
    tempPath = buf.data();
    const mode_t mask = umask(0);
    umask(mask);
    fchmod(fd, 0666 & ~mask);

    SF_INFO info = {};
    info.samplerate = rate;
    info.channels = channels;
    info.format = SF_FORMAT_WAV | SF_FORMAT_FLOAT;
    file = sf_open_fd(fd, SFM_WRITE, &info, 1);
    if (!file)
    {
      close(fd);
      return false;
    }
    // The peak chunk carries a time stamp; without it, equal renders give
    // byte-identical files.
    sf_command(file, SFC_SET_ADD_PEAK_CHUNK, nullptr, SF_FALSE);
    return true;
  }

  bool Write(const double* interleaved, sf_count_t frames)
  {
    return sf_writef_double(file, interleaved, frames) == frames;
  }

  bool Commit()
  {
    const int err = sf_close(file);
    file = nullptr;
    if (err != 0 || std::rename(tempPath.c_str(), finalPath.c_str()) != 0)
      return false;
    tempPath.clear();
    return true;
  }

private:
  SNDFILE* file = nullptr;
  std::string tempPath, finalPath;
};

// Where the samples come from: a file read block by block, or the clip.
class Source
{
public:
  ~Source()
  {
    if (file)
      sf_close(file);
  }

  int OpenFile(const std::string& path)
  {
    SF_INFO info = {};
    file = sf_open(path.c_str(), SFM_READ, &info);
    if (!file)
      return Fail("cannot read \"%s\": %s", path.c_str(), sf_strerror(nullptr));
    if (info.channels < 1 || info.channels > 2)
      return Fail("\"%s\" has %d channels; only mono and stereo are supported", path.c_str(), info.channels);
    if (info.samplerate <= 0)
      return Fail("\"%s\" has no usable sample rate", path.c_str());
    channels = info.channels;
    rate = info.samplerate;
    total = info.frames;
    return 0;
  }

  void UseClip(int sampleRate)
  {
    clip = MakeDefaultClip(sampleRate);
    channels = 2;
    rate = sampleRate;
    total = (sf_count_t)clip.left.size();
  }

  // Fills up to `frames` frames; returns how many, 0 at the end, -1 on error.
  sf_count_t Read(double* left, double* right, sf_count_t frames, std::vector<double>& scratch)
  {
    if (!file)
    {
      const sf_count_t n = std::min(frames, total - position);
      std::copy_n(clip.left.data() + position, n, left);
      std::copy_n(clip.right.data() + position, n, right);
      position += n;
      return n;
    }
    scratch.resize((size_t)(frames * channels));
    sf_count_t got = 0;
    while (got < frames)
    {
      const sf_count_t n = sf_readf_double(file, scratch.data() + got * channels, frames - got);
      if (n <= 0)
        break;
      got += n;
    }
    if (sf_error(file) != SF_ERR_NO_ERROR)
      return -1;
    for (sf_count_t i = 0; i < got; ++i)
    {
      left[i] = scratch[(size_t)(i * channels)];
      right[i] = scratch[(size_t)(i * channels + channels - 1)];
    }
    position += got;
    return got;
  }

  int channels = 0;
  int rate = 0;
  sf_count_t total = 0;

private:
  SNDFILE* file = nullptr;
  StereoClip clip;
  sf_count_t position = 0;
};
}  // namespace

int main(int argc, char** argv)
{
  tool_args::SetToolName("talvor-render");
  Options opt;
  const int parsed = ParseArguments(argc, argv, &opt);
  if (parsed != 0)
    return parsed < 0 ? 0 : 2;

  // Every setting is checked before any file is touched.
  std::unique_ptr<TALVOR> plug(new TALVOR(IPlugInstanceInfo{}));
  if (tool_args::ApplySettings(*plug, opt.sets) != 0)
    return 2;

  Source source;
  if (opt.input.empty())
    source.UseClip(opt.rate);
  else if (source.OpenFile(opt.input) != 0)
    return 1;

  plug->SetSampleRate(source.rate);
  plug->ChangeBlockSize(opt.block);
  plug->OnReset();

  PendingOutput out;
  if (!out.Open(opt.output, source.rate, source.channels))
    return Fail("cannot write \"%s\": %s", opt.output.c_str(), std::strerror(errno));

  const size_t block = (size_t)opt.block;
  std::vector<double> inL(block), inR(block), outL(block), outR(block), scratch, interleaved(block * 2);
  const bool showProgress = source.total > (sf_count_t)(kProgressSeconds * source.rate);
  sf_count_t done = 0;
  int shownPercent = -1;
  const bool interactive = isatty(STDERR_FILENO) != 0;

  for (;;)
  {
    const sf_count_t n = source.Read(inL.data(), inR.data(), (sf_count_t)block, scratch);
    if (n < 0)
      return Fail("error while reading \"%s\"", opt.input.c_str());
    if (n == 0)
      break;
    {
      double* in[2] = {inL.data(), inR.data()};
      double* outp[2] = {outL.data(), outR.data()};
      IPlugLockGuard lock(plug.get());
      plug->ProcessBlock(in, outp, (int)n);
    }
    for (sf_count_t i = 0; i < n; ++i)
    {
      interleaved[(size_t)(i * source.channels)] = outL[(size_t)i];
      if (source.channels == 2)
        interleaved[(size_t)(i * 2 + 1)] = outR[(size_t)i];
    }
    if (!out.Write(interleaved.data(), n))
      return Fail("cannot write \"%s\"", opt.output.c_str());
    done += n;
    if (showProgress && source.total > 0)
    {
      // One line rewritten in place on a terminal, a few plain lines otherwise.
      const int step = interactive ? 1 : 25;
      const int percent = (int)(100 * done / source.total) / step * step;
      if (percent != shownPercent)
      {
        shownPercent = percent;
        std::fprintf(stderr, interactive ? "\rtalvor-render: %3d%%" : "talvor-render: %3d%%\n", percent);
      }
    }
  }
  if (showProgress && interactive)
    std::fputc('\n', stderr);

  if (!out.Commit())
    return Fail("cannot write \"%s\": %s", opt.output.c_str(), std::strerror(errno));
  return 0;
}
