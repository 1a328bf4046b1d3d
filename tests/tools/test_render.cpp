// Runs the built talvor-render on generated files and checks what it writes,
// and that it writes nothing at all when it refuses.
#include <dirent.h>
#include <gtest/gtest.h>
#include <sndfile.h>
#include <sys/wait.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "plugin/TALVOR.h"
#include "plugin/TalvorPresets.h"
#if defined(TALVOR_LV2APPLY)
#include "lv2/LV2Uris.h"
#endif

namespace
{
struct Wav
{
  int rate = 0, channels = 0, format = 0;
  std::vector<double> samples;  // interleaved
  sf_count_t Frames() const { return channels ? (sf_count_t)samples.size() / channels : 0; }
};

bool WriteWav(const std::string& path, int rate, int channels, const std::vector<double>& interleaved,
              int encoding = SF_FORMAT_PCM_24)
{
  SF_INFO info = {};
  info.samplerate = rate;
  info.channels = channels;
  info.format = SF_FORMAT_WAV | encoding;
  SNDFILE* f = sf_open(path.c_str(), SFM_WRITE, &info);
  if (!f)
    return false;
  sf_writef_double(f, interleaved.data(), (sf_count_t)interleaved.size() / channels);
  return sf_close(f) == 0;
}

bool ReadWav(const std::string& path, Wav* out)
{
  SF_INFO info = {};
  SNDFILE* f = sf_open(path.c_str(), SFM_READ, &info);
  if (!f)
    return false;
  out->rate = info.samplerate;
  out->channels = info.channels;
  out->format = info.format;
  out->samples.resize((size_t)(info.frames * info.channels));
  sf_readf_double(f, out->samples.data(), info.frames);
  sf_close(f);
  return true;
}

class Render : public ::testing::Test
{
protected:
  void SetUp() override
  {
    char tmpl[] = "/tmp/talvor-render-test-XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    dir = tmpl;
  }
  void TearDown() override { std::system(("rm -rf '" + dir + "'").c_str()); }

  std::string Path(const char* name) const { return dir + "/" + name; }

  // Exit status of the renderer; its stderr is kept in `errors`.
  int Run(const std::vector<std::string>& args)
  {
    std::string cmd = "'" TALVOR_RENDER_PATH "'";
    for (const std::string& a : args)
      cmd += " '" + a + "'";
    cmd += " 2>'" + Path("stderr.txt") + "'";
    const int status = std::system(cmd.c_str());
    std::ifstream in(Path("stderr.txt"));
    std::stringstream ss;
    ss << in.rdbuf();
    errors = ss.str();
    std::remove(Path("stderr.txt").c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

  int FilesInDir() const
  {
    int n = 0;
    if (DIR* d = opendir(dir.c_str()))
    {
      while (dirent* e = readdir(d))
        n += e->d_name[0] != '.' || (e->d_name[1] != '\0' && e->d_name[1] != '.');
      closedir(d);
    }
    return n;
  }

  std::string dir, errors;
};

std::vector<double> TestSignal(int frames, int channels, double amp)
{
  std::vector<double> s((size_t)(frames * channels));
  for (int i = 0; i < frames; ++i)
    for (int c = 0; c < channels; ++c)
      s[(size_t)(i * channels + c)] = amp * std::sin(0.031 * i * (c + 1)) + 0.1 * amp * std::sin(0.9 * i);
  return s;
}
}  // namespace

TEST_F(Render, MatchesTheInstanceRunInProcess)
{
  for (int channels : {1, 2})
  {
    const int frames = 5000, rate = 44100, block = 173;
    ASSERT_TRUE(WriteWav(Path("in.wav"), rate, channels, TestSignal(frames, channels, 0.5)));
    Wav in;
    ASSERT_TRUE(ReadWav(Path("in.wav"), &in));
    ASSERT_EQ(Run({"--set", "Mid Gain=8", "--set", "Input=-3.5", "--set", "Filter=1", "--block", "173",
                   Path("in.wav"), Path("out.wav")}),
              0)
      << errors;
    Wav out;
    ASSERT_TRUE(ReadWav(Path("out.wav"), &out));
    EXPECT_EQ(out.rate, rate);
    EXPECT_EQ(out.channels, channels);
    EXPECT_EQ(out.format, SF_FORMAT_WAV | SF_FORMAT_FLOAT);
    ASSERT_EQ(out.Frames(), frames);

    TALVOR plug{IPlugInstanceInfo{}};
    plug.SetSampleRate(rate);
    plug.ParamAt(kMidGain)->SetClamped(8);
    plug.ParamAt(kInput)->SetClamped(-3.5);
    plug.ParamAt(kFilter)->SetClamped(1);
    plug.NotifyAllParamsChanged();
    for (int pos = 0; pos < frames; pos += block)
    {
      const int n = std::min(block, frames - pos);
      std::vector<double> l(n), r(n), ol(n), orr(n);
      for (int i = 0; i < n; ++i)
      {
        l[i] = in.samples[(size_t)((pos + i) * channels)];
        r[i] = in.samples[(size_t)((pos + i) * channels + channels - 1)];
      }
      double* ins[2] = {l.data(), r.data()};
      double* outs[2] = {ol.data(), orr.data()};
      plug.ProcessBlock(ins, outs, n);
      for (int i = 0; i < n; ++i)
      {
        ASSERT_EQ(out.samples[(size_t)((pos + i) * channels)], (double)(float)ol[i]) << pos + i;
        const double right = channels == 2 ? out.samples[(size_t)((pos + i) * 2 + 1)] : (double)(float)orr[i];
        ASSERT_EQ(right, (double)(float)orr[i]) << pos + i;
      }
    }
    // A bounce is the same at any block size.
    for (const char* other : {"1", "4096"})
    {
      ASSERT_EQ(Run({"--set", "Mid Gain=8", "--set", "Input=-3.5", "--set", "Filter=1", "--block", other,
                     Path("in.wav"), Path("other.wav")}),
                0)
        << errors;
      Wav again;
      ASSERT_TRUE(ReadWav(Path("other.wav"), &again));
      EXPECT_EQ(again.samples, out.samples) << other;
    }
  }
}

#if defined(TALVOR_LV2APPLY)
// lilv's command-line host through the LV2 plug-ins gives the renderer's samples
// for the same settings and block size (lv2apply runs one frame at a time).
TEST_F(Render, Lv2applyThroughTheLv2PluginGivesTheSameSamples)
{
  for (const char* plugin : {TALVOR_LV2_STEREO_URI, TALVOR_LV2_MONO_URI})
  {
    const int channels = std::string(plugin) == TALVOR_LV2_MONO_URI ? 1 : 2;
    // lv2apply writes in the input's encoding: float, as the renderer does.
    ASSERT_TRUE(WriteWav(Path("in.wav"), 44100, channels, TestSignal(3000, channels, 0.5), SF_FORMAT_FLOAT));
    const std::string lv2apply = "LV2_PATH='" TALVOR_LV2_PATH "' '" TALVOR_LV2APPLY "' -i '" + Path("in.wav") +
                                 "' -o '" + Path("lv2.wav") +
                                 "' -c mid_gain 8 -c input -3.5 -c filter 1 -c high_freq 2 " + plugin;
    ASSERT_EQ(std::system(lv2apply.c_str()), 0) << lv2apply;
    ASSERT_EQ(Run({"--block", "1", "--set", "Mid Gain=8", "--set", "Input=-3.5", "--set", "Filter=1", "--set",
                   "High Freq=2", Path("in.wav"), Path("ref.wav")}),
              0)
      << errors;
    Wav lv2, ref;
    ASSERT_TRUE(ReadWav(Path("lv2.wav"), &lv2) && ReadWav(Path("ref.wav"), &ref));
    EXPECT_EQ(lv2.channels, channels);
    EXPECT_EQ(lv2.samples, ref.samples) << plugin;
  }
}
#endif

TEST_F(Render, BuiltInClipAtTheRequestedRate)
{
  ASSERT_EQ(Run({"--rate", "44100", Path("clip.wav")}), 0) << errors;
  Wav out;
  ASSERT_TRUE(ReadWav(Path("clip.wav"), &out));
  EXPECT_EQ(out.rate, 44100);
  EXPECT_EQ(out.channels, 2);
  EXPECT_GE(out.Frames(), 2 * 44100);
  double peak = 0, sum = 0;
  for (double v : out.samples)
  {
    ASSERT_TRUE(std::isfinite(v));
    peak = std::max(peak, std::fabs(v));
    sum += v * v;
  }
  EXPECT_GT(std::sqrt(sum / (double)out.samples.size()), 0.02);
  EXPECT_LT(peak, 1.5);

  // --help lists every parameter with its range and meaning.
  FILE* help = popen("'" TALVOR_RENDER_PATH "' --help", "r");
  ASSERT_NE(help, nullptr);
  std::string text;
  char line[512];
  while (std::fgets(line, sizeof line, help))
    text += line;
  EXPECT_EQ(pclose(help), 0);
  TALVOR plug{IPlugInstanceInfo{}};
  for (int i = 0; i < plug.ParamCount(); ++i)
  {
    const ParamDef* p = plug.ParamAt(i);
    char entry[128];
    std::snprintf(entry, sizeof entry, "\"%s\": %.*f to %.*f", p->NameForHost(), p->DisplayPrecision(), p->Min(),
                  p->DisplayPrecision(), p->Max());
    EXPECT_NE(text.find(entry), std::string::npos) << entry << " not in:\n" << text;
  }
}

TEST_F(Render, RefusesBadRequestsWithOneLineAndNoOutput)
{
  ASSERT_TRUE(WriteWav(Path("in.wav"), 48000, 2, TestSignal(1000, 2, 0.3)));
  ASSERT_TRUE(WriteWav(Path("three.wav"), 48000, 3, TestSignal(1000, 3, 0.3)));
  std::ofstream(Path("text.wav")) << "not a sound file\n";
  const std::string out = Path("out.wav");
  const std::vector<std::vector<std::string>> bad = {
    {"--set", "Mid Gains=3", out},         {"--set", "Input=13", out},
    {"--set", "Low Gain=-1", out},         {"--set", "Input=abc", out},
    {"--set", "Input=nan", out},           {"--set", "Input", out},
    {"--block", "0", out},                 {"--block", "12x", out},
    {"--rate", "-5", out},                 {"--rate", "48000", Path("in.wav"), out},
    {Path("missing.wav"), out},            {Path("text.wav"), out},
    {Path("three.wav"), out},              {"--bogus", out},
    {Path("in.wav"), Path("in.wav"), out}, {"--block"},
    {},                                    {Path("in.wav"), dir + "/no/such/dir/out.wav"}};
  const int files = FilesInDir();
  for (const auto& args : bad)
  {
    std::string joined;
    for (const std::string& a : args)
      joined += a + " ";
    EXPECT_NE(Run(args), 0) << joined;
    EXPECT_EQ(std::count(errors.begin(), errors.end(), '\n'), 1) << joined << ": " << errors;
    EXPECT_EQ(errors.rfind("talvor-render: ", 0), 0u) << errors;
    EXPECT_EQ(FilesInDir(), files) << joined;  // nothing written, no temporary left
  }

  // An existing output survives a refused run untouched.
  std::ofstream(out) << "keep";
  EXPECT_NE(Run({"--set", "Output=99", Path("in.wav"), out}), 0);
  std::ifstream kept(out);
  std::string content;
  kept >> content;
  EXPECT_EQ(content, "keep");
}

// Every factory preset renders exactly what setting its values one by one does,
// and --list-presets names every one.
TEST_F(Render, PresetRendersWhatItsValuesRender)
{
  ASSERT_TRUE(WriteWav(Path("in.wav"), 48000, 2, TestSignal(4800, 2, 0.5)));
  TALVOR plug{IPlugInstanceInfo{}};
  FILE* list = popen("'" TALVOR_RENDER_PATH "' --list-presets", "r");
  ASSERT_NE(list, nullptr);
  std::string listed;
  char line[1024];
  while (std::fgets(line, sizeof line, list))
    listed += line;
  EXPECT_EQ(pclose(list), 0);

  for (int i = 0; i < TalvorFactoryPresetCount(); ++i)
  {
    const TalvorFactoryPreset& preset = *TalvorFactoryPresetAt(i);
    EXPECT_NE(listed.find(std::string(preset.name) + "\t" + preset.category + "\t"), std::string::npos) << preset.name;
    std::vector<std::string> sets;
    for (int p = 0; p < plug.ParamCount(); ++p)
    {
      char value[64];
      std::snprintf(value, sizeof value, "%.17g", preset.values[p]);
      sets.insert(sets.end(), {"--set", std::string(plug.ParamAt(p)->NameForHost()) + "=" + value});
    }
    sets.insert(sets.end(), {Path("in.wav"), Path("set.wav")});
    ASSERT_EQ(Run(sets), 0) << errors;
    ASSERT_EQ(Run({"--preset", preset.name, Path("in.wav"), Path("preset.wav")}), 0) << errors;
    Wav bySet, byPreset;
    ASSERT_TRUE(ReadWav(Path("set.wav"), &bySet) && ReadWav(Path("preset.wav"), &byPreset));
    EXPECT_EQ(bySet.samples, byPreset.samples) << preset.name;
  }
  EXPECT_EQ(Run({"--preset", "No Such Preset", Path("in.wav"), Path("none.wav")}), 2);
  EXPECT_NE(errors.find("unknown preset"), std::string::npos) << errors;
}
