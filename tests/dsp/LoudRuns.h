#pragma once
// Runs of samples near the float limit inside an ordinary signal, as a
// broken upstream plug-in or a feedback loop hands them to a host's insert,
// and what every binding must make of them: finite output in the loud block
// and after it, and the first ordinary block after it at the signal's own
// level. Each binding's test renders the cases through its module.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "tests/dsp/DspTestSupport.h"

namespace loud
{
constexpr int kBlock = 512, kBlocks = 4, kLoudBlock = 1, kLoudFrom = 100, kLoudFrames = 32;

// A parameter's real value, and its normalised position for the VST hosts.
struct Setting
{
  int param;
  double value, normalized;
};
using Settings = std::vector<Setting>;

// Index 9 "Filter"; 0, 2, 4 the band gains; 6, 7 "Input" and "Output".
inline const std::vector<std::pair<const char*, Settings>>& Configurations()
{
  static const std::vector<std::pair<const char*, Settings>> all = {
    {"filter only", {{9, 1, 1}}},
    {"all up, filter on", {{0, 10, 1}, {2, 10, 1}, {4, 10, 1}, {6, 12, 1}, {7, 12, 1}, {9, 1, 1}}},
    {"all up, filter off", {{0, 10, 1}, {2, 10, 1}, {4, 10, 1}, {6, 12, 1}, {7, 12, 1}}},
  };
  return all;
}

// The levels of the loud runs; the last two only for 64-bit samples.
inline std::vector<double> Levels(bool wide)
{
  std::vector<double> levels = {3.4028235e38, 3e38, 1e38};
  if (wide)
    levels.insert(levels.end(), {1e39, 1e300});
  return levels;
}

// kBlocks blocks of an ordinary signal, a loud run in block kLoudBlock
// (level 0: none).
inline Buffer Input(double level)
{
  Buffer x = Sine(997, 48000, (double)(kBlock * kBlocks) / 48000, 0.25);
  for (int i = 0; level != 0 && i < kLoudFrames; ++i)
    x[(size_t)(kLoudBlock * kBlock + kLoudFrom + i)] = level;
  return x;
}

// One binding's render of one case: `render(settings, input)` gives the left
// output, block by block from a fresh instance at 48 kHz.
template <class Render>
void ExpectSurvived(const std::string& binding, bool wide, Render render)
{
  for (const auto& [name, settings] : Configurations())
  {
    const Buffer clean = render(settings, Input(0));
    double cleanPeak = 0.0;
    for (int i = (kLoudBlock + 1) * kBlock; i < (kLoudBlock + 2) * kBlock; ++i)
      cleanPeak = std::max(cleanPeak, std::fabs(clean[(size_t)i]));
    for (double level : Levels(wide))
    {
      const Buffer out = render(settings, Input(level));
      char levelText[32];
      std::snprintf(levelText, sizeof levelText, "%g", level);
      const std::string what = binding + ", " + name + ", " + levelText;
      for (int i = kLoudBlock * kBlock; i < kBlocks * kBlock; ++i)
        ASSERT_TRUE(std::isfinite(out[(size_t)i])) << what << " at " << i;
      double peak = 0.0;
      for (int i = (kLoudBlock + 1) * kBlock; i < (kLoudBlock + 2) * kBlock; ++i)
        peak = std::max(peak, std::fabs(out[(size_t)i]));
      EXPECT_LE(peak, 2.0 * cleanPeak) << what << ": the block after the loud one";
    }
  }
}
}  // namespace loud
