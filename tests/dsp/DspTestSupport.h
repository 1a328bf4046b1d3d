#pragma once
// Signals and a block runner shared by the plug-in's and the engine's tests.
#include <algorithm>
#include <cmath>
#include <vector>

using Buffer = std::vector<double>;

inline Buffer Sine(double freq, double fs, double seconds, double amp = 1e-3)
{
  const double pi = 3.14159265358979323846;
  Buffer b((size_t)(fs * seconds));
  for (size_t i = 0; i < b.size(); ++i)
    b[i] = amp * std::sin(2 * pi * freq * (double)i / fs);
  return b;
}

inline bool AllFinite(const Buffer& b)
{
  for (double v : b)
    if (!std::isfinite(v))
      return false;
  return true;
}

// Hands l and r to process(inputs, outputs, frames) in blocks of `block`
// frames, the output going to outL and outR.
template <class Process>
void RunInBlocks(Process process, const Buffer& l, const Buffer& r, int block, Buffer& outL, Buffer& outR)
{
  outL.assign(l.size(), 0.0);
  outR.assign(r.size(), 0.0);
  for (size_t pos = 0; pos < l.size(); pos += block)
  {
    const int n = (int)std::min<size_t>(block, l.size() - pos);
    double* in[2] = {const_cast<double*>(l.data() + pos), const_cast<double*>(r.data() + pos)};
    double* out[2] = {outL.data() + pos, outR.data() + pos};
    process(in, out, n);
  }
}

// ---- Measures of a change heard in a signal ----

// The largest step from one sample to the next within [from, to).
inline double LargestStep(const Buffer& y, size_t from, size_t to)
{
  double step = 0.0;
  for (size_t i = std::max<size_t>(from, 1); i < to && i < y.size(); ++i)
    step = std::max(step, std::fabs(y[i] - y[i - 1]));
  return step;
}

// How far y strays from ref within [from, to): the RMS of their difference
// over the RMS of ref, in dB.
inline double ResidueDb(const Buffer& y, const Buffer& ref, size_t from, size_t to)
{
  double diff = 0.0, level = 0.0;
  for (size_t i = from; i < to && i < y.size(); ++i)
  {
    diff += (y[i] - ref[i]) * (y[i] - ref[i]);
    level += ref[i] * ref[i];
  }
  return diff == 0.0 ? -400.0 : 10.0 * std::log10(diff / level);
}

// The level in dB of a sine `period` samples long, over the whole periods
// from `at` (exact for a sine of that period and its harmonics).
inline double PeriodLevelDb(const Buffer& y, size_t at, size_t period, size_t periods = 1)
{
  const double pi = 3.14159265358979323846;
  double s = 0.0, c = 0.0;
  const size_t n = period * periods;
  for (size_t i = 0; i < n && at + i < y.size(); ++i)
  {
    s += y[at + i] * std::sin(2 * pi * (double)i / (double)period);
    c += y[at + i] * std::cos(2 * pi * (double)i / (double)period);
  }
  return 20.0 * std::log10(2.0 * std::hypot(s, c) / (double)n);
}
