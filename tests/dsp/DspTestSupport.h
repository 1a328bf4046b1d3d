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
