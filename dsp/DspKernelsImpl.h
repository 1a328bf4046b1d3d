// The vector kernels, written once and compiled by each per-instruction-set
// file (DspKernelsSse2.cpp, DspKernelsAvx2.cpp, DspKernelsAvx512.cpp on
// x86-64, DspKernelsNeon.cpp on AArch64) with that instruction set's compiler
// flags; the vector width follows from them. They are GCC vector extensions
// but for a few steps that each instruction set does in one instruction.
// Everything here has internal linkage, and nothing here calls an inline
// function of another header: a copy built for AVX2 must never be linked
// into the baseline code.
//
// Bit-exactness: every value goes through the same IEEE operations in the
// same order as in the one-value code (SaturateSample, the sections'
// process), one value per lane. These files are compiled with
// -ffp-contract=off and no fast-math.

#if defined(__x86_64__)
#include <immintrin.h>
#elif defined(__aarch64__)
#include <arm_neon.h>
#endif

#include "dsp/DspKernels.h"
#include "dsp/FastMath.h"
#include "dsp/WaveshaperForms.h"

#if defined(TALVOR_KERNEL_LANES)
#define TALVOR_LANES TALVOR_KERNEL_LANES
#elif defined(__AVX512F__)
#define TALVOR_LANES 8
#elif defined(__AVX2__)
#define TALVOR_LANES 4
#else
#define TALVOR_LANES 2
#endif

#define TALVOR_KERNEL_INLINE inline __attribute__((always_inline))

// The files are built with scheduling before register allocation, which lets
// the sections' recurrences overlap; the waveshaper's long independent chains
// run faster as written (5 to 10 % on x86-64), so its loops opt out.
#if defined(__x86_64__) && defined(__GNUC__) && !defined(__clang__)
#define TALVOR_WAVESHAPER_LOOP __attribute__((optimize("no-schedule-insns")))
#else
#define TALVOR_WAVESHAPER_LOOP
#endif

namespace
{
constexpr int kLanes = TALVOR_LANES;
typedef double Vec __attribute__((vector_size(kLanes * sizeof(double))));
typedef long long VecBits __attribute__((vector_size(kLanes * sizeof(double))));

constexpr double kAntiDenormal = 1e-10;
// As in the engine's rounding to 32 bits: a value of this magnitude or more
// would round to infinity, and is limited to the largest float instead.
constexpr double kRoundsToInfinity = __FLT_MAX__ + 0x1p103;
// As in the engine: no ordinary signal reaches the filters this loud.
constexpr double kAbsurdLevel = 1e32;

TALVOR_KERNEL_INLINE Vec LoadVec(const double* p)
{
  Vec v;
  __builtin_memcpy(&v, p, sizeof v);
  return v;
}
TALVOR_KERNEL_INLINE void StoreVec(double* p, Vec v) { __builtin_memcpy(p, &v, sizeof v); }

// Each lane rounded to 32 bits and back, as (double)(float)x: two
// conversions at full width.
TALVOR_KERNEL_INLINE Vec RoundTo32(Vec v)
{
#if TALVOR_LANES == 8
  // (The zero-masked forms with every lane set: GCC's plain ones start from an
  // undefined vector and warn about it.)
  return (Vec)_mm512_maskz_cvtps_pd(0xFF, _mm512_maskz_cvtpd_ps(0xFF, (__m512d)v));
#elif TALVOR_LANES == 4
  return (Vec)_mm256_cvtps_pd(_mm256_cvtpd_ps((__m256d)v));
#elif defined(__SSE2__)
  return (Vec)_mm_cvtps_pd(_mm_cvtpd_ps((__m128d)v));
#else
  return (Vec)vcvt_f64_f32(vcvt_f32_f64((float64x2_t)v));
#endif
}

// Each lane kept within the largest float's magnitude, NaN passed on: a
// conversion to float then gives what the engine's Round32 gives (values
// between the largest float and kRoundsToInfinity round to it anyway).
// Minimum and maximum return their second operand where either is NaN.
TALVOR_KERNEL_INLINE Vec LimitTo32BitRange(Vec v)
{
#if TALVOR_LANES == 8
  // (The zero-masked forms with every lane set, as in RoundTo32.)
  return (Vec)_mm512_maskz_max_pd(0xFF, _mm512_set1_pd(-__FLT_MAX__),
                                  _mm512_maskz_min_pd(0xFF, _mm512_set1_pd(__FLT_MAX__), (__m512d)v));
#elif TALVOR_LANES == 4
  return (Vec)_mm256_max_pd(_mm256_set1_pd(-__FLT_MAX__), _mm256_min_pd(_mm256_set1_pd(__FLT_MAX__), (__m256d)v));
#elif defined(__SSE2__)
  return (Vec)_mm_max_pd(_mm_set1_pd(-__FLT_MAX__), _mm_min_pd(_mm_set1_pd(__FLT_MAX__), (__m128d)v));
#else
  const Vec kMax = fastmath::Splat<Vec>(__FLT_MAX__);
  const Vec high = v > kMax ? kMax : v;  // NaN fails the comparisons
  return high < -kMax ? -kMax : high;
#endif
}
inline double LimitTo32BitRange(double x) { return x > __FLT_MAX__ ? __FLT_MAX__ : x < -__FLT_MAX__ ? -__FLT_MAX__ : x; }

// A host's samples, 64- or 32-bit, to a vector and back; a float takes the
// value limited to its range (NaN passed) and rounded, as a 64-bit block
// converted for a 32-bit host would give it. (One conversion each: GCC's
// generic vector conversions split these into halves.)
TALVOR_KERNEL_INLINE Vec LoadSamples(const double* p) { return LoadVec(p); }
TALVOR_KERNEL_INLINE Vec LoadSamples(const float* p)
{
#if TALVOR_LANES == 8
  return (Vec)_mm512_maskz_cvtps_pd(0xFF, _mm256_loadu_ps(p));  // (zero-masked: as in RoundTo32)
#elif TALVOR_LANES == 4
  return (Vec)_mm256_cvtps_pd(_mm_loadu_ps(p));
#elif defined(__SSE2__)
  return (Vec)_mm_cvtps_pd(_mm_castsi128_ps(_mm_loadl_epi64((const __m128i*)p)));
#else
  return (Vec)vcvt_f64_f32(vld1_f32(p));
#endif
}
TALVOR_KERNEL_INLINE void StoreSamples(double* p, Vec v) { StoreVec(p, v); }
TALVOR_KERNEL_INLINE void StoreSamples(float* p, Vec v)
{
  v = LimitTo32BitRange(v);
#if TALVOR_LANES == 8
  _mm256_storeu_ps(p, _mm512_maskz_cvtpd_ps(0xFF, (__m512d)v));  // (zero-masked: as in RoundTo32)
#elif TALVOR_LANES == 4
  _mm_storeu_ps(p, _mm256_cvtpd_ps((__m256d)v));
#elif defined(__SSE2__)
  _mm_storel_epi64((__m128i*)p, _mm_castps_si128(_mm_cvtpd_ps((__m128d)v)));
#else
  vst1_f32(p, vcvt_f32_f64((float64x2_t)v));
#endif
}
inline void StoreSample(double* p, double v) { *p = v; }
inline void StoreSample(float* p, double v) { *p = (float)LimitTo32BitRange(v); }

// The waveshaper takes its values in groups of kGroup: enough independent
// work to keep the processor busy, and few enough values that a group of
// audio usually lies in one range of each function's argument.
constexpr int kGroupVectors = 2;
constexpr int kGroup = kLanes * kGroupVectors;

// N vectors as one value for the waveshaper's templates: every operation is
// applied to each vector in turn (the loops are unrolled and the pack lives
// in registers), so that the vectors' long dependency chains advance side by
// side instead of one after another.
template <int N>
struct Pack
{
  Vec v[N];
};
template <int N>
struct PackBits
{
  VecBits v[N];
};
#define TALVOR_EACH(N) _Pragma("GCC unroll 16") for (int j = 0; j < N; ++j)

#define TALVOR_PACK_OP(op)                                                 \
  template <int N>                                                         \
  TALVOR_KERNEL_INLINE Pack<N> operator op(const Pack<N>& a, const Pack<N>& b) \
  {                                                                        \
    Pack<N> r;                                                             \
    TALVOR_EACH(N) r.v[j] = a.v[j] op b.v[j];                              \
    return r;                                                              \
  }                                                                        \
  template <int N>                                                         \
  TALVOR_KERNEL_INLINE Pack<N> operator op(const Pack<N>& a, double b)     \
  {                                                                        \
    Pack<N> r;                                                             \
    TALVOR_EACH(N) r.v[j] = a.v[j] op b;                                   \
    return r;                                                              \
  }                                                                        \
  template <int N>                                                         \
  TALVOR_KERNEL_INLINE Pack<N> operator op(double a, const Pack<N>& b)     \
  {                                                                        \
    Pack<N> r;                                                             \
    TALVOR_EACH(N) r.v[j] = a op b.v[j];                                   \
    return r;                                                              \
  }
TALVOR_PACK_OP(+)
TALVOR_PACK_OP(-)
TALVOR_PACK_OP(*)
TALVOR_PACK_OP(/)
#undef TALVOR_PACK_OP

template <int N>
TALVOR_KERNEL_INLINE Pack<N> Abs(const Pack<N>& x)
{
  Pack<N> r;
  TALVOR_EACH(N) r.v[j] = fastmath::Abs(x.v[j]);
  return r;
}
template <int N>
TALVOR_KERNEL_INLINE PackBits<N> SignBit(const Pack<N>& x)
{
  PackBits<N> r;
  TALVOR_EACH(N) r.v[j] = (VecBits)x.v[j] & (long long)0x8000000000000000ULL;
  return r;
}
template <int N>
TALVOR_KERNEL_INLINE Pack<N> WithSign(const Pack<N>& m, const PackBits<N>& sign)
{
  Pack<N> r;
  TALVOR_EACH(N) r.v[j] = (Vec)((VecBits)m.v[j] | sign.v[j]);
  return r;
}

// A bit per lane: set where v < c (never for NaN).
TALVOR_KERNEL_INLINE unsigned LanesBelow(Vec v, double c)
{
#if TALVOR_LANES == 8
  return _mm512_cmp_pd_mask((__m512d)v, _mm512_set1_pd(c), _CMP_LT_OQ);
#elif TALVOR_LANES == 4 && defined(__AVX512VL__)
  return _mm256_cmp_pd_mask((__m256d)v, _mm256_set1_pd(c), _CMP_LT_OQ);
#elif TALVOR_LANES == 4
  return (unsigned)_mm256_movemask_pd(_mm256_cmp_pd((__m256d)v, _mm256_set1_pd(c), _CMP_LT_OQ));
#elif defined(__SSE2__)
  return (unsigned)_mm_movemask_pd(_mm_cmplt_pd((__m128d)v, _mm_set1_pd(c)));
#else
  const auto below = v < c;
  return (below[0] ? 1u : 0u) | (below[1] ? 2u : 0u);
#endif
}

// Whether every magnitude in a group is below a bound (none is NaN).
TALVOR_KERNEL_INLINE bool GroupBelow(const Pack<kGroupVectors>& x, double bound)
{
  constexpr unsigned kAll = (1u << kLanes) - 1;
  unsigned all = kAll;
  TALVOR_EACH(kGroupVectors) all &= LanesBelow(fastmath::Abs(x.v[j]), bound);
  return all == kAll;
}

using Group = Pack<kGroupVectors>;

// tanh of a vector: one form where every lane is on one side of 0.75, both
// where it straddles it. Each gives the same bits as the full form.
// kNonNegative: every argument is +0 or more.
template <bool kNonNegative>
TALVOR_KERNEL_INLINE Vec TanhVector(Vec x)
{
  constexpr unsigned kAll = (1u << kLanes) - 1;
  const unsigned below = LanesBelow(fastmath::Abs(x), 0.75);
  if (below == kAll) return fastmath::TanhBelowThreeQuarters<kNonNegative>(x);
  if (below == 0) return fastmath::TanhFromThreeQuarters<kNonNegative>(x);
  return fastmath::Tanh<kNonNegative>(x);
}

// The waveshaper's general form on one vector, each function in the forms
// of its arguments' ranges (as waveshaper::ShapeAnywhere, powers included).
TALVOR_KERNEL_INLINE Vec ShapeAnywhere(Vec x)
{
  const Vec x2 = x * x;
  const Vec x3 = x2 * x;
  const Vec x4 = x3 * x;
  const Vec x7 = x4 * x * x * x;
  const Vec a7 = LanesBelow(fastmath::Abs(x7), 0.4375) == (1u << kLanes) - 1 ? fastmath::AtanBelowSevenSixteenths(x7)
                                                                           : fastmath::Atan(x7);
  const Vec t1 = TanhVector<false>(x);
  const Vec t3 = TanhVector<false>(x3);
  return waveshaper::Combine(x, a7, t1, TanhVector<true>(x2), t3, TanhVector<true>(x4));
}

// The waveshaper on one group of kGroup values, as waveshaper::Shape gives
// each; in and out may be the same. kRounded stores each result rounded to
// 32 bits (as the high-pass takes it). Returns whether every value was below
// 0.75 in magnitude (so that every result is below 1).
template <bool kRounded>
TALVOR_KERNEL_INLINE bool ShapeGroup(const Group& x, double* out)
{
  Group y;
  const bool below = GroupBelow(x, 0.75);
  if (below)
  {
    y = waveshaper::ShapeBelowThreeQuarters(x);
  }
  else
  {
    // Vector by vector; one that straddles 0.75 takes both forms.
    TALVOR_EACH(kGroupVectors)
    {
      const Vec v = x.v[j];
      const unsigned below = LanesBelow(fastmath::Abs(v), 0.75);
      if (below == (1u << kLanes) - 1)
        y.v[j] = waveshaper::ShapeBelowThreeQuarters(v);
      else if (below == 0)
        y.v[j] = ShapeAnywhere(v);
      else
        y.v[j] = fastmath::Select(fastmath::Abs(v) < 0.75, waveshaper::ShapeBelowThreeQuarters(v), ShapeAnywhere(v));
    }
  }
  TALVOR_EACH(kGroupVectors) StoreVec(out + j * kLanes, kRounded ? RoundTo32(y.v[j]) : y.v[j]);
  return below;
}

TALVOR_KERNEL_INLINE Group LoadGroup(const double* in)
{
  Group x;
  TALVOR_EACH(kGroupVectors) x.v[j] = LoadVec(in + j * kLanes);
  return x;
}

// Returns whether every value was below 0.75 in magnitude.
template <bool kRounded>
TALVOR_WAVESHAPER_LOOP bool SaturateRun(const double* in, double* out, int count)
{
  bool below = true;
  int start = 0;
  for (; start + kGroup <= count; start += kGroup) below &= ShapeGroup<kRounded>(LoadGroup(in + start), out + start);
  if (start < count)
  {
    // A short last group is padded with silence, shaped and dropped.
    double buffer[kGroup] = {};
    __builtin_memcpy(buffer, in + start, (size_t)(count - start) * sizeof(double));
    below &= ShapeGroup<kRounded>(LoadGroup(buffer), buffer);
    __builtin_memcpy(out + start, buffer, (size_t)(count - start) * sizeof(double));
  }
  return below;
}

void Saturate(const double* in, double* out, int count) { SaturateRun<false>(in, out, count); }

// ---- Input and output stages ----

// Left and right lanes to interleaved values, and back. (__builtin_shufflevector:
// GCC and Clang both have it.)
inline void Interleave(Vec l, Vec r, Vec& lo, Vec& hi)
{
#if TALVOR_LANES == 8
  lo = __builtin_shufflevector(l, r, 0, 8, 1, 9, 2, 10, 3, 11);
  hi = __builtin_shufflevector(l, r, 4, 12, 5, 13, 6, 14, 7, 15);
#elif TALVOR_LANES == 4
  lo = __builtin_shufflevector(l, r, 0, 4, 1, 5);
  hi = __builtin_shufflevector(l, r, 2, 6, 3, 7);
#else
  lo = __builtin_shufflevector(l, r, 0, 2);
  hi = __builtin_shufflevector(l, r, 1, 3);
#endif
}
inline void Deinterleave(Vec lo, Vec hi, Vec& l, Vec& r)
{
#if TALVOR_LANES == 8
  l = __builtin_shufflevector(lo, hi, 0, 2, 4, 6, 8, 10, 12, 14);
  r = __builtin_shufflevector(lo, hi, 1, 3, 5, 7, 9, 11, 13, 15);
#elif TALVOR_LANES == 4
  l = __builtin_shufflevector(lo, hi, 0, 2, 4, 6);
  r = __builtin_shufflevector(lo, hi, 1, 3, 5, 7);
#else
  l = __builtin_shufflevector(lo, hi, 0, 2);
  r = __builtin_shufflevector(lo, hi, 1, 3);
#endif
}

// NaN and infinity read as silence.
inline double FiniteOrZero(double x) { return fastmath::Abs(x) <= __DBL_MAX__ ? x : 0.0; }
inline Vec FiniteOrZero(Vec x) { return fastmath::Select(fastmath::Abs(x) <= __DBL_MAX__, x, Vec{}); }

template <bool kPerValueGains, class Sample>
void InputStage(const Sample* inL, const Sample* inR, const double* gains, double gain, double* out, int frames)
{
  auto gainAt = [&](int k) { return kPerValueGains ? LoadVec(gains + k) : fastmath::Splat<Vec>(gain); };
  int j = 0;
  for (; j + kLanes <= frames; j += kLanes)
  {
    Vec lo, hi;
    Interleave(FiniteOrZero(LoadSamples(inL + j)), FiniteOrZero(LoadSamples(inR + j)), lo, hi);
    StoreVec(out + 2 * j, (lo + kAntiDenormal) * gainAt(2 * j));
    StoreVec(out + 2 * j + kLanes, (hi + kAntiDenormal) * gainAt(2 * j + kLanes));
  }
  for (; j < frames; ++j)
  {
    out[2 * j] = (FiniteOrZero(inL[j]) + kAntiDenormal) * (kPerValueGains ? gains[2 * j] : gain);
    out[2 * j + 1] = (FiniteOrZero(inR[j]) + kAntiDenormal) * (kPerValueGains ? gains[2 * j + 1] : gain);
  }
}

template <class Sample>
void Input(const Sample* inL, const Sample* inR, const double* gains, double gain, double* out, int frames)
{
  if (gains)
    InputStage<true>(inL, inR, gains, gain, out, frames);
  else
    InputStage<false>(inL, inR, gains, gain, out, frames);
}

// The input stage and the waveshaper in one pass, for a gain that holds for
// the whole run: a group is one vector of left samples and one of right
// ones, interleaved. Returns whether every shaped value was below 0.75 in
// magnitude.
static_assert(kGroupVectors == 2, "a group is one vector per channel");
template <class Sample>
TALVOR_WAVESHAPER_LOOP bool InputAndShape(const Sample* inL, const Sample* inR, double gain, double* out, int frames)
{
  constexpr int kGroupFrames = kLanes;
  auto group = [&](const Sample* l, const Sample* r, double* to) __attribute__((always_inline)) {
    Group x;
    Interleave(FiniteOrZero(LoadSamples(l)), FiniteOrZero(LoadSamples(r)), x.v[0], x.v[1]);
    return ShapeGroup<true>((x + kAntiDenormal) * gain, to);
  };
  bool below = true;
  int j = 0;
  for (; j + kGroupFrames <= frames; j += kGroupFrames) below &= group(inL + j, inR + j, out + 2 * j);
  if (j < frames)
  {
    // A short last group is padded with silence, shaped and dropped.
    Sample l[kGroupFrames] = {}, r[kGroupFrames] = {};
    double shaped[2 * kGroupFrames];
    __builtin_memcpy(l, inL + j, (size_t)(frames - j) * sizeof(Sample));
    __builtin_memcpy(r, inR + j, (size_t)(frames - j) * sizeof(Sample));
    below &= group(l, r, shaped);
    __builtin_memcpy(out + 2 * j, shaped, (size_t)(frames - j) * 2 * sizeof(double));
  }
  return below;
}

template <bool kPerValueGains, class Sample>
void OutputStage(const float* in, const double* gains, double gain, double trim, Sample* outL, Sample* outR,
                 int frames)
{
  auto gainAt = [&](int k) { return kPerValueGains ? LoadVec(gains + k) : fastmath::Splat<Vec>(gain); };
  int j = 0;
  for (; j + kLanes <= frames; j += kLanes)
  {
    const Vec lo = (LoadSamples(in + 2 * j) - kAntiDenormal) * gainAt(2 * j) * trim;
    const Vec hi = (LoadSamples(in + 2 * j + kLanes) - kAntiDenormal) * gainAt(2 * j + kLanes) * trim;
    Vec l, r;
    Deinterleave(lo, hi, l, r);
    if (outL) StoreSamples(outL + j, l);
    if (outR) StoreSamples(outR + j, r);
  }
  for (; j < frames; ++j)
  {
    const double l = ((double)in[2 * j] - kAntiDenormal) * (kPerValueGains ? gains[2 * j] : gain) * trim;
    const double r = ((double)in[2 * j + 1] - kAntiDenormal) * (kPerValueGains ? gains[2 * j + 1] : gain) * trim;
    if (outL) StoreSample(outL + j, l);
    if (outR) StoreSample(outR + j, r);
  }
}

template <class Sample>
void Output(const float* in, const double* gains, double gain, double trim, Sample* outL, Sample* outR, int frames)
{
  if (gains)
    OutputStage<true>(in, gains, gain, trim, outL, outR, frames);
  else
    OutputStage<false>(in, gains, gain, trim, outL, outR, frames);
}
}  // namespace

#include "dsp/DspKernelsChain.h"
