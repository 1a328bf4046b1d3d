#include "plugin/Waveshaper.h"

#include "plugin/FastMath.h"

namespace
{
// Grouping and powers (by repeated multiplication) are part of the sound:
// keep them as they are.
TALVOR_FORCE_INLINE double Shape(double x)
{
  const double x2 = x * x;
  const double x3 = x2 * x;
  const double x4 = x3 * x;
  const double x7 = x4 * x * x * x;
  const double t1 = fastmath::Tanh(x);
  const double t3 = fastmath::Tanh(x3);
  return x + 0.1 * ((0.6 * fastmath::Atan(x7) + (t1 - (0.05 * fastmath::Tanh(x2) + t3))) +
                    (t1 - (0.6 * fastmath::Tanh(x4) + t3)));
}
}  // namespace

double SaturateSample(double x) { return Shape(x); }

// With glibc, whose loader can pick between versions of a function, the
// loop is also built for AVX2 (four values per instruction instead of two),
// used when the processor and the system support it. AVX2 brings no fused
// multiply-add, so both versions round every operation alike and give
// identical results. Elsewhere (the Windows modules) SSE2 is all it needs.
#if defined(__GNUC__) && !defined(__clang__) && defined(__x86_64__) && defined(__linux__) && defined(__GLIBC__)
__attribute__((target_clones("avx2", "default")))
#endif
void SaturateSamples(const double* __restrict in, double* __restrict out, int count)
{
  // A trip count that is a multiple of four lets even GCC's cheapest
  // vectorisation model (-O2) take the loop for two or four lanes; the few
  // values left over go one by one.
  const int grouped = count > 0 ? count & ~3 : 0;
  for (int i = 0; i < grouped; ++i)
    out[i] = Shape(in[i]);
  for (int i = grouped; i < count; ++i)
    out[i] = Shape(in[i]);
}
