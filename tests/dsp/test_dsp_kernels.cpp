// The vector kernels directly, where the engine's programme cannot reach a
// case on its own.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "dsp/DspKernels.h"

// A low-pass result in its flush range (up to the smallest normal float)
// becomes +0 on every vector path wherever it falls in a run: in the passes
// that fill and drain the sections' wavefront and in the steady passes
// between, which check their results a run of frames at a time. Every other
// section passes its input, and one frame's gain makes the waveshaper's
// output a subnormal float.
TEST(DspKernels, FlushTheLowpassAnywhereInARun)
{
  constexpr int kFrames = 300;
  for (DspPath path : kDspPaths)
  {
    const DspKernels* kernels = KernelsFor(path);
    if (!kernels)
      continue;
    for (int at : {1, 60, 127, 128, 200, kFrames - 2})
    {
      FilterLanes lanes = {};
      for (int c = 0; c < 2; ++c)
      {
        lanes.highpass.b0[c] = lanes.lowShelf.b0[c] = lanes.highShelf.b0[c] = lanes.mid.b0[c] = 1.0;
        lanes.lowpass.b0[c] = 1.0f;
      }
      lanes.lowpassOn = true;
      std::vector<double> in(kFrames, 0.5), gains(2 * kFrames, 1.0), work(2 * kFrames);
      std::vector<float> out(2 * kFrames);
      gains[2 * at] = gains[2 * at + 1] = 1e-38;
      kernels->shapeAndFilter(lanes, in.data(), in.data(), gains.data(), 1.0, work.data(), out.data(), kFrames);
      for (int k = 2 * at; k < 2 * at + 2; ++k)
      {
        EXPECT_EQ(out[k], 0.0f) << DspPathName(path) << " at frame " << at;
        EXPECT_FALSE(std::signbit(out[k])) << DspPathName(path) << " at frame " << at;
      }
      EXPECT_GT(out[2 * at - 2], 0.5f) << DspPathName(path) << " before frame " << at;
      EXPECT_GT(out[2 * at + 2], 0.5f) << DspPathName(path) << " after frame " << at;
    }
  }
}
