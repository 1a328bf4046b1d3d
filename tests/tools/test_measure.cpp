// talvor-measure's response numbers, as built, against the response of the
// sections a settled TALVOR has designed, evaluated analytically: the product
// of their transfer functions on the unit circle, times the saturator's
// small-signal gain of 1.2, the -0.2 dB output trim and the output gain.
#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <cstdio>
#include <string>
#include <vector>

#include "plugin/TALVOR.h"
#include "tools/common/ToolArgs.h"

namespace
{
using cd = std::complex<double>;

template <class Section>
cd Transfer(const Section& s, cd z)
{
  const cd zi = 1.0 / z;
  return ((double)s.b0 + (double)s.b1 * zi + (double)s.b2 * zi * zi) /
         (1.0 + (double)s.a1 * zi + (double)s.a2 * zi * zi);
}

double AnalyticDb(const std::vector<std::string>& sets, double rate, double freq)
{
  TALVOR plug{IPlugInstanceInfo{}};
  for (const std::string& s : sets)
    EXPECT_EQ(0, tool_args::ApplySetting(plug, s)) << s;
  plug.SetSampleRate(rate);
  std::vector<double> buf(512);
  double* io[2] = {buf.data(), buf.data()};
  for (int i = 0; i < 400; ++i)  // smoothers settled
  {
    std::fill(buf.begin(), buf.end(), 0.0);
    plug.ProcessBlock(io, io, 512);
  }
  const TalvorChannelSections& s = plug.Engine().Sections(0);
  const cd z = std::polar(1.0, 2.0 * M_PI * freq / rate);
  cd h = Transfer(s.highpass, z) * Transfer(s.mid, z) * Transfer(s.lowShelf, z) * Transfer(s.highShelf, z);
  if (plug.ParamAt(kFilter)->Value() >= 1.0)
    h *= Transfer(s.lowpass, z);
  const double gain = 1.2 * std::pow(10.0, -0.01) * std::pow(10.0, plug.ParamAt(kOutput)->Value() / 20.0);
  return 20.0 * std::log10(gain * std::abs(h));
}

TEST(Measure, ResponseMatchesTheDesignedSections)
{
  struct Case
  {
    std::vector<std::string> sets;
    double rate;
    std::vector<double> freqs;
  };
  const Case cases[] = {
      {{}, 44100, {30, 1000, 15000}},
      {{"Low Gain=10", "Low Freq=4"}, 44100, {50, 300, 2000}},
      {{"Mid Gain=0", "Mid Freq=2"}, 44100, {700, 1492, 5000}},
      {{"High Gain=10", "High Freq=4"}, 96000, {3000, 19000, 40000}},
      {{"Filter=1"}, 44100, {10, 15, 19100, 21000}},
      {{"Filter=1", "Output=-6"}, 96000, {10, 30000}},
  };
  for (const Case& c : cases)
  {
    std::string cmd = std::string(TALVOR_MEASURE_PATH) + " response --rate " + std::to_string((int)c.rate);
    for (const std::string& s : c.sets)
      cmd += " --set '" + s + "'";
    for (double f : c.freqs)
      cmd += " " + std::to_string(f);
    FILE* p = popen(cmd.c_str(), "r");
    ASSERT_NE(nullptr, p);
    double f = 0.0, db = 0.0;
    size_t lines = 0;
    while (std::fscanf(p, "%lf %lf", &f, &db) == 2)
    {
      ASSERT_LT(lines, c.freqs.size());
      EXPECT_NEAR(c.freqs[lines], f, 1e-6);
      EXPECT_NEAR(AnalyticDb(c.sets, c.rate, f), db, 0.005) << cmd << " at " << f << " Hz";
      ++lines;
    }
    EXPECT_EQ(0, pclose(p)) << cmd;
    EXPECT_EQ(c.freqs.size(), lines) << cmd;
  }
}
}  // namespace
