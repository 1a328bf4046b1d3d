#include "dsp/Waveshaper.h"

#include "dsp/WaveshaperForms.h"

double SaturateSample(double x) { return waveshaper::Shape(x); }

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
