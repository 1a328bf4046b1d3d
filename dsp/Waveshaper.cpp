#include "dsp/Waveshaper.h"

#include "dsp/FastMath.h"

double SaturateSample(double x)
{
  // Grouping and powers (by repeated multiplication) are part of the sound:
  // keep them as they are (the vector kernels repeat them exactly).
  const double x2 = x * x;
  const double x3 = x2 * x;
  const double x4 = x3 * x;
  const double x7 = x4 * x * x * x;
  const double t1 = fastmath::Tanh(x);
  const double t3 = fastmath::Tanh(x3);
  return x + 0.1 * ((0.6 * fastmath::Atan(x7) + (t1 - (0.05 * fastmath::Tanh(x2) + t3))) +
                    (t1 - (0.6 * fastmath::Tanh(x4) + t3)));
}

void SaturateSamples(const double* in, double* out, int count, DspPath path)
{
  if (const DspKernels* kernels = KernelsFor(path))
  {
    if (count > 0)
      kernels->saturate(in, out, count);
    return;
  }
  for (int i = 0; i < count; ++i)
    out[i] = SaturateSample(in[i]);
}
