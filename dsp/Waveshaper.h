#pragma once
// The input waveshaper: a gain of 1.2 for small signals, softly limiting and
// slightly asymmetric for large ones.
//
// y = x + 0.1 ((0.6 atan(x^7) + (tanh(x) - (0.05 tanh(x^2) + tanh(x^3))))
//              + (tanh(x) - (0.6 tanh(x^4) + tanh(x^3))))

#include "dsp/DspKernels.h"

// One value.
double SaturateSample(double x);

// count values from in to out (the same array, or arrays that do not
// overlap), each exactly as SaturateSample gives it, several at a time on a
// vector path.
void SaturateSamples(const double* in, double* out, int count, DspPath path = FastestDspPath());
