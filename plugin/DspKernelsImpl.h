// The vector kernels, written once and compiled by each per-instruction-set
// file (DspKernelsSse2.cpp, DspKernelsAvx2.cpp, DspKernelsAvx512.cpp) with
// that instruction set's compiler flags; the vector width follows from them.
// Everything here has internal linkage, and nothing here calls an inline
// function of another header: a copy built for AVX2 must never be linked
// into the baseline code.
//
// Bit-exactness: every value goes through the same IEEE operations in the
// same order as in the one-value code (SaturateSample, the sections'
// process), one value per lane. These files are compiled with
// -ffp-contract=off and no fast-math.

#include <immintrin.h>

#include "plugin/DspKernels.h"
#include "plugin/FastMath.h"

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

namespace
{
constexpr int kLanes = TALVOR_LANES;
typedef double Vec __attribute__((vector_size(kLanes * sizeof(double))));
typedef long long VecBits __attribute__((vector_size(kLanes * sizeof(double))));

constexpr double kAntiDenormal = 1e-10;

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
#else
  return (Vec)_mm_cvtps_pd(_mm_cvtpd_ps((__m128d)v));
#endif
}

// The waveshaper takes its values in groups of kGroup: enough independent
// work to keep the processor busy, and few enough values that a group of
// audio usually lies in one range of each function's argument.
constexpr int kGroupVectors = 2;
constexpr int kGroup = kLanes * kGroupVectors;

// N vectors as one value for the fastmath functions: every operation is
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

#define TALVOR_PACK_COMPARE(op)                                            \
  template <int N>                                                         \
  TALVOR_KERNEL_INLINE PackBits<N> operator op(const Pack<N>& a, double b) \
  {                                                                        \
    PackBits<N> r;                                                         \
    TALVOR_EACH(N) r.v[j] = a.v[j] op b;                                   \
    return r;                                                              \
  }                                                                        \
  template <int N>                                                         \
  TALVOR_KERNEL_INLINE PackBits<N> operator op(double a, const Pack<N>& b) \
  {                                                                        \
    PackBits<N> r;                                                         \
    TALVOR_EACH(N) r.v[j] = a op b.v[j];                                   \
    return r;                                                              \
  }
TALVOR_PACK_COMPARE(<)
TALVOR_PACK_COMPARE(>=)
#undef TALVOR_PACK_COMPARE

template <int N>
TALVOR_KERNEL_INLINE Pack<N> Abs(const Pack<N>& x)
{
  Pack<N> r;
  TALVOR_EACH(N) r.v[j] = fastmath::Abs(x.v[j]);
  return r;
}
template <int N>
TALVOR_KERNEL_INLINE Pack<N> CopySign(const Pack<N>& m, const Pack<N>& s)
{
  Pack<N> r;
#if TALVOR_LANES == 8
  // One bitwise select: magnitude bits from m, the sign bit from s.
  const __m512i magnitude = _mm512_set1_epi64(0x7fffffffffffffffLL);
  TALVOR_EACH(N) r.v[j] = (Vec)_mm512_ternarylogic_epi64((__m512i)m.v[j], (__m512i)s.v[j], magnitude, 0xE4);
#else
  TALVOR_EACH(N) r.v[j] = fastmath::CopySign(m.v[j], s.v[j]);
#endif
  return r;
}
template <int N>
TALVOR_KERNEL_INLINE Pack<N> Select(const PackBits<N>& c, const Pack<N>& a, const Pack<N>& b)
{
  Pack<N> r;
  TALVOR_EACH(N) r.v[j] = fastmath::Select(c.v[j], a.v[j], b.v[j]);
  return r;
}
template <int N>
TALVOR_KERNEL_INLINE Pack<N> TwoToN(const Pack<N>& kd)
{
  Pack<N> r;
  TALVOR_EACH(N) r.v[j] = fastmath::TwoToN(kd.v[j]);
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
#else
  return (unsigned)_mm_movemask_pd(_mm_cmplt_pd((__m128d)v, _mm_set1_pd(c)));
#endif
}

enum class Range
{
  AllBelow,
  NoneBelow,
  Mixed
};

// Where the magnitudes of a group lie against a bound.
TALVOR_KERNEL_INLINE Range GroupRange(const Pack<kGroupVectors>& x, double bound)
{
  constexpr unsigned kAll = (1u << kLanes) - 1;
  unsigned all = kAll, any = 0;
  TALVOR_EACH(kGroupVectors)
  {
    const unsigned m = LanesBelow(fastmath::Abs(x.v[j]), bound);
    all &= m;
    any |= m;
  }
  return all == kAll ? Range::AllBelow : any == 0 ? Range::NoneBelow : Range::Mixed;
}

using Group = Pack<kGroupVectors>;

// tanh of a group: one form where the whole group is on one side of 0.75;
// where it straddles it, the same choice vector by vector, both forms for a
// vector that straddles it too. Each gives the same bits as the full form.
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

template <bool kNonNegative = false>
TALVOR_KERNEL_INLINE Group TanhGroup(const Group& x)
{
  switch (GroupRange(x, 0.75))
  {
    case Range::AllBelow: return fastmath::TanhBelowThreeQuarters<kNonNegative>(x);
    case Range::NoneBelow: return fastmath::TanhFromThreeQuarters<kNonNegative>(x);
    default:
    {
      Group r;
      TALVOR_EACH(kGroupVectors) r.v[j] = TanhVector<kNonNegative>(x.v[j]);
      return r;
    }
  }
}

TALVOR_KERNEL_INLINE Group AtanGroup(const Group& x)
{
  return GroupRange(x, 0.4375) == Range::AllBelow ? fastmath::AtanBelowSevenSixteenths(x) : fastmath::Atan(x);
}

// The waveshaper on one group of kGroup values; in and out may be the same.
// kRounded stores each result rounded to 32 bits (as the high-pass takes it).
template <bool kRounded>
TALVOR_KERNEL_INLINE void ShapeGroup(const Group& x, double* out)
{
  // The powers by repeated multiplication, as in SaturateSample.
  const Group x2 = x * x;
  const Group x3 = x2 * x;
  const Group x4 = x3 * x;
  const Group x7 = x4 * x * x * x;
  Group t1, t2, t3, t4, a7;
  // Below 0.75, every power is below 0.75 as well, and x^7 below 7/16.
  // (atan has the longest chain of dependent operations: it goes first. x^2
  // and x^4 are +0 or more, or NaN, which every form passes on.)
  if (GroupRange(x, 0.75) == Range::AllBelow)
  {
    a7 = fastmath::AtanBelowSevenSixteenths(x7);
    t1 = fastmath::TanhBelowThreeQuartersFromPowers(x, x2, Abs(x3));
    t2 = fastmath::TanhBelowThreeQuarters<true>(x2);
    t3 = fastmath::TanhBelowThreeQuarters(x3);
    t4 = fastmath::TanhBelowThreeQuarters<true>(x4);
  }
  else
  {
    a7 = AtanGroup(x7);
    t1 = TanhGroup(x);
    t2 = TanhGroup<true>(x2);
    t3 = TanhGroup(x3);
    t4 = TanhGroup<true>(x4);
  }
  const Group y = x + 0.1 * ((0.6 * a7 + (t1 - (0.05 * t2 + t3))) + (t1 - (0.6 * t4 + t3)));
  TALVOR_EACH(kGroupVectors) StoreVec(out + j * kLanes, kRounded ? RoundTo32(y.v[j]) : y.v[j]);
}

TALVOR_KERNEL_INLINE Group LoadGroup(const double* in)
{
  Group x;
  TALVOR_EACH(kGroupVectors) x.v[j] = LoadVec(in + j * kLanes);
  return x;
}

template <bool kRounded>
void SaturateRun(const double* in, double* out, int count)
{
  int start = 0;
  for (; start + kGroup <= count; start += kGroup) ShapeGroup<kRounded>(LoadGroup(in + start), out + start);
  if (start < count)
  {
    // A short last group is padded with silence, shaped and dropped.
    double buffer[kGroup] = {};
    __builtin_memcpy(buffer, in + start, (size_t)(count - start) * sizeof(double));
    ShapeGroup<kRounded>(LoadGroup(buffer), buffer);
    __builtin_memcpy(out + start, buffer, (size_t)(count - start) * sizeof(double));
  }
}

void Saturate(const double* in, double* out, int count) { SaturateRun<false>(in, out, count); }

// ---- Input and output stages ----

// Left and right lanes to interleaved values, and back.
inline void Interleave(Vec l, Vec r, Vec& lo, Vec& hi)
{
#if TALVOR_LANES == 8
  lo = __builtin_shuffle(l, r, (VecBits){0, 8, 1, 9, 2, 10, 3, 11});
  hi = __builtin_shuffle(l, r, (VecBits){4, 12, 5, 13, 6, 14, 7, 15});
#elif TALVOR_LANES == 4
  lo = __builtin_shuffle(l, r, (VecBits){0, 4, 1, 5});
  hi = __builtin_shuffle(l, r, (VecBits){2, 6, 3, 7});
#else
  lo = __builtin_shuffle(l, r, (VecBits){0, 2});
  hi = __builtin_shuffle(l, r, (VecBits){1, 3});
#endif
}
inline void Deinterleave(Vec lo, Vec hi, Vec& l, Vec& r)
{
#if TALVOR_LANES == 8
  l = __builtin_shuffle(lo, hi, (VecBits){0, 2, 4, 6, 8, 10, 12, 14});
  r = __builtin_shuffle(lo, hi, (VecBits){1, 3, 5, 7, 9, 11, 13, 15});
#elif TALVOR_LANES == 4
  l = __builtin_shuffle(lo, hi, (VecBits){0, 2, 4, 6});
  r = __builtin_shuffle(lo, hi, (VecBits){1, 3, 5, 7});
#else
  l = __builtin_shuffle(lo, hi, (VecBits){0, 2});
  r = __builtin_shuffle(lo, hi, (VecBits){1, 3});
#endif
}

// NaN and infinity read as silence.
inline double FiniteOrZero(double x) { return fastmath::Abs(x) <= __DBL_MAX__ ? x : 0.0; }
inline Vec FiniteOrZero(Vec x) { return fastmath::Select(fastmath::Abs(x) <= __DBL_MAX__, x, Vec{}); }

template <bool kPerValueGains>
void InputStage(const double* inL, const double* inR, const double* gains, double gain, double* out, int frames)
{
  auto gainAt = [&](int k) { return kPerValueGains ? LoadVec(gains + k) : fastmath::Splat<Vec>(gain); };
  int j = 0;
  for (; j + kLanes <= frames; j += kLanes)
  {
    Vec lo, hi;
    Interleave(FiniteOrZero(LoadVec(inL + j)), FiniteOrZero(LoadVec(inR + j)), lo, hi);
    StoreVec(out + 2 * j, (lo + kAntiDenormal) * gainAt(2 * j));
    StoreVec(out + 2 * j + kLanes, (hi + kAntiDenormal) * gainAt(2 * j + kLanes));
  }
  for (; j < frames; ++j)
  {
    out[2 * j] = (FiniteOrZero(inL[j]) + kAntiDenormal) * (kPerValueGains ? gains[2 * j] : gain);
    out[2 * j + 1] = (FiniteOrZero(inR[j]) + kAntiDenormal) * (kPerValueGains ? gains[2 * j + 1] : gain);
  }
}

void Input(const double* inL, const double* inR, const double* gains, double gain, double* out, int frames)
{
  if (gains)
    InputStage<true>(inL, inR, gains, gain, out, frames);
  else
    InputStage<false>(inL, inR, gains, gain, out, frames);
}

// The input stage and the waveshaper in one pass, for a gain that holds for
// the whole run: a group is one vector of left samples and one of right
// ones, interleaved.
static_assert(kGroupVectors == 2, "a group is one vector per channel");
void InputAndShape(const double* inL, const double* inR, double gain, double* out, int frames)
{
  constexpr int kGroupFrames = kLanes;
  auto group = [&](const double* l, const double* r, double* to) __attribute__((always_inline)) {
    Group x;
    Interleave(FiniteOrZero(LoadVec(l)), FiniteOrZero(LoadVec(r)), x.v[0], x.v[1]);
    ShapeGroup<true>((x + kAntiDenormal) * gain, to);
  };
  int j = 0;
  for (; j + kGroupFrames <= frames; j += kGroupFrames) group(inL + j, inR + j, out + 2 * j);
  if (j < frames)
  {
    // A short last group is padded with silence, shaped and dropped.
    double l[kGroupFrames] = {}, r[kGroupFrames] = {}, shaped[2 * kGroupFrames];
    __builtin_memcpy(l, inL + j, (size_t)(frames - j) * sizeof(double));
    __builtin_memcpy(r, inR + j, (size_t)(frames - j) * sizeof(double));
    group(l, r, shaped);
    __builtin_memcpy(out + 2 * j, shaped, (size_t)(frames - j) * 2 * sizeof(double));
  }
}

template <bool kPerValueGains>
void OutputStage(const double* in, const double* gains, double gain, double trim, double* outL, double* outR,
                 int frames)
{
  auto gainAt = [&](int k) { return kPerValueGains ? LoadVec(gains + k) : fastmath::Splat<Vec>(gain); };
  int j = 0;
  for (; j + kLanes <= frames; j += kLanes)
  {
    const Vec lo = (RoundTo32(LoadVec(in + 2 * j)) - kAntiDenormal) * gainAt(2 * j) * trim;
    const Vec hi = (RoundTo32(LoadVec(in + 2 * j + kLanes)) - kAntiDenormal) * gainAt(2 * j + kLanes) * trim;
    Vec l, r;
    Deinterleave(lo, hi, l, r);
    if (outL) StoreVec(outL + j, l);
    if (outR) StoreVec(outR + j, r);
  }
  for (; j < frames; ++j)
  {
    const double l = ((double)(float)in[2 * j] - kAntiDenormal) * (kPerValueGains ? gains[2 * j] : gain) * trim;
    const double r = ((double)(float)in[2 * j + 1] - kAntiDenormal) * (kPerValueGains ? gains[2 * j + 1] : gain) * trim;
    if (outL) outL[j] = l;
    if (outR) outR[j] = r;
  }
}

void Output(const double* in, const double* gains, double gain, double trim, double* outL, double* outR, int frames)
{
  if (gains)
    OutputStage<true>(in, gains, gain, trim, outL, outR, frames);
  else
    OutputStage<false>(in, gains, gain, trim, outL, outR, frames);
}

// ---- The filter chain: both channels of a section in one register ----

struct BiquadRegs
{
  __m128d b0, b1, b2, a1, a2, z1, z2;
};
struct ParametricRegs
{
  __m128d b0, b1, b2, a1, a2, x1, x2, y1, y2;
};
struct LowpassRegs
{
  __m128 b0, b1, b2, a1, a2, x1, x2, y1, y2;
};

inline __m128d Pair(const double (&v)[2]) { return _mm_loadu_pd(v); }
inline void Unpair(double (&v)[2], __m128d r) { _mm_storeu_pd(v, r); }

inline BiquadRegs Load(const FilterLanes::Biquad& s)
{
  return {Pair(s.b0), Pair(s.b1), Pair(s.b2), Pair(s.a1), Pair(s.a2), Pair(s.z1), Pair(s.z2)};
}
inline void Save(FilterLanes::Biquad& s, const BiquadRegs& r)
{
  Unpair(s.z1, r.z1);
  Unpair(s.z2, r.z2);
}
inline ParametricRegs Load(const FilterLanes::Parametric& s)
{
  return {Pair(s.b0), Pair(s.b1), Pair(s.b2), Pair(s.a1), Pair(s.a2),
          Pair(s.x1), Pair(s.x2), Pair(s.y1), Pair(s.y2)};
}
inline void Save(FilterLanes::Parametric& s, const ParametricRegs& r)
{
  Unpair(s.x1, r.x1);
  Unpair(s.x2, r.x2);
  Unpair(s.y1, r.y1);
  Unpair(s.y2, r.y2);
}
inline LowpassRegs Load(const FilterLanes::Lowpass& s)
{
  return {_mm_loadu_ps(s.b0), _mm_loadu_ps(s.b1), _mm_loadu_ps(s.b2), _mm_loadu_ps(s.a1), _mm_loadu_ps(s.a2),
          _mm_loadu_ps(s.x1), _mm_loadu_ps(s.x2), _mm_loadu_ps(s.y1), _mm_loadu_ps(s.y2)};
}
inline void Save(FilterLanes::Lowpass& s, const LowpassRegs& r)
{
  _mm_storeu_ps(s.x1, r.x1);
  _mm_storeu_ps(s.x2, r.x2);
  _mm_storeu_ps(s.y1, r.y1);
  _mm_storeu_ps(s.y2, r.y2);
}

// BiquadSection::process: y = b0 x + z1; z1 = b1 x + z2 - a1 y; z2 = b2 x - a2 y.
TALVOR_KERNEL_INLINE __m128d Step(BiquadRegs& s, __m128d x)
{
  const __m128d y = _mm_add_pd(_mm_mul_pd(s.b0, x), s.z1);
  s.z1 = _mm_sub_pd(_mm_add_pd(_mm_mul_pd(s.b1, x), s.z2), _mm_mul_pd(s.a1, y));
  s.z2 = _mm_sub_pd(_mm_mul_pd(s.b2, x), _mm_mul_pd(s.a2, y));
  return y;
}

// ParametricSection::process: y = b0 x + b1 x1 + b2 x2 - a1 y1 - a2 y2.
TALVOR_KERNEL_INLINE __m128d Step(ParametricRegs& s, __m128d x)
{
  const __m128d y = _mm_sub_pd(
    _mm_sub_pd(_mm_add_pd(_mm_add_pd(_mm_mul_pd(s.b0, x), _mm_mul_pd(s.b1, s.x1)), _mm_mul_pd(s.b2, s.x2)),
               _mm_mul_pd(s.a1, s.y1)),
    _mm_mul_pd(s.a2, s.y2));
  s.x2 = s.x1;
  s.x1 = x;
  s.y2 = s.y1;
  s.y1 = y;
  return y;
}

// MatchedLowpass::process: y = b1 x1 + b0 x + b2 x2 - a1 y1 - a2 y2, and
// results strictly between zero and the smallest normal float, or equal to
// it, become +0 (the same set as its comparison in 64 bits). With kFlush
// false the results are kept as they are and `flushed` collects where one
// would have been flushed: where none would, the results are the same.
template <bool kFlush>
TALVOR_KERNEL_INLINE __m128 Step(LowpassRegs& s, __m128 x, __m128i& flushed)
{
  __m128 y = _mm_sub_ps(
    _mm_sub_ps(_mm_add_ps(_mm_add_ps(_mm_mul_ps(s.b1, s.x1), _mm_mul_ps(s.b0, x)), _mm_mul_ps(s.b2, s.x2)),
               _mm_mul_ps(s.a1, s.y1)),
    _mm_mul_ps(s.a2, s.y2));
  // On the magnitude's bits m: flush where 1 <= m <= 0x00800000 (the smallest
  // normal); m + 0x7fffffff wraps exactly those to the lowest signed values.
  const __m128i magnitude = _mm_and_si128(_mm_castps_si128(y), _mm_set1_epi32(0x7fffffff));
  const __m128i shifted = _mm_add_epi32(magnitude, _mm_set1_epi32(0x7fffffff));
  const __m128i flush = _mm_cmpgt_epi32(_mm_set1_epi32((int)0x80800000u), shifted);
  if (kFlush)
    y = _mm_andnot_ps(_mm_castsi128_ps(flush), y);
  else
    flushed = _mm_or_si128(flushed, flush);
  s.x2 = s.x1;
  s.x1 = x;
  s.y2 = s.y1;
  s.y1 = y;
  return y;
}

TALVOR_KERNEL_INLINE __m128 Round32(__m128d x) { return _mm_cvtpd_ps(x); }
TALVOR_KERNEL_INLINE __m128d Widen(__m128 x) { return _mm_cvtps_pd(x); }

// The chain as a wavefront: in one pass of the loop every section works on
// a different frame (the high-pass on frame n, the next section on n - 1 and
// so on), so that the sections' recurrences run side by side instead of one
// after another. Each section still sees its frames in order, and each value
// goes through the same operations.
//
// The low-pass's flush lies on its recurrence, the longest of the chain. It
// is needed only where the signal decays into silence, so the block runs
// first without it (kFlush false), noting whether any result would have been
// flushed; only then is it run again, with the flush, from the same state.
// Returns false, leaving lanes unchanged, when that is needed.
template <int K>
struct Stage
{
  static constexpr int value = K;
};

template <bool kLowpass, bool kFlush>
bool FilterChain(FilterLanes& lanes, const double* in, double* out, int frames)
{
  BiquadRegs hp = Load(lanes.highpass), ls = Load(lanes.lowShelf), hs = Load(lanes.highShelf);
  ParametricRegs mid = Load(lanes.mid);
  LowpassRegs lp = Load(lanes.lowpass);
  constexpr int kLast = kLowpass ? 4 : 3;  // the wavefront's depth - 1
  // The values in flight between the sections, each rounded to 32 bits.
  __m128 afterHighpass = _mm_setzero_ps(), afterLowpass = _mm_setzero_ps(), afterMid = _mm_setzero_ps(),
         afterLowShelf = _mm_setzero_ps();
  __m128i flushed = _mm_setzero_si128();

  // One pass of the loop: pass n runs stage k on frame n - k for the stages
  // First to Last. Each stage takes what the stage before it gave in the
  // pass before, so the later stages go first. (Sections sharing a register
  // would couple their recurrences through the stages between them: each
  // section keeps its own.)
  auto pass = [&](int n, auto first, auto last) __attribute__((always_inline)) {
    constexpr int kFirst = decltype(first)::value, kLastRun = decltype(last)::value;
    auto runs = [&](int stage) __attribute__((always_inline)) { return stage >= kFirst && stage <= kLastRun; };
    // The high shelf's output is rounded to 32 bits by the output stage.
    if (runs(kLast))
      _mm_storeu_pd(out + 2 * (n - kLast), Step(hs, Widen(afterLowShelf)));
    if (runs(kLast - 1))
      afterLowShelf = Round32(Step(ls, Widen(afterMid)));
    if (runs(kLast - 2))
      afterMid = Round32(Step(mid, Widen(kLowpass ? afterLowpass : afterHighpass)));
    if (kLowpass && runs(1))
      afterLowpass = Step<kFlush>(lp, afterHighpass, flushed);
    if (runs(0))
      afterHighpass = Round32(Step(hp, _mm_loadu_pd(in + 2 * n)));
  };
  // The same with the stages chosen at run time, for blocks shorter than
  // the wavefront.
  auto passWithin = [&](int n) {
    if (n - kLast >= 0 && n - kLast < frames)
      _mm_storeu_pd(out + 2 * (n - kLast), Step(hs, Widen(afterLowShelf)));
    if (n - kLast + 1 >= 0 && n - kLast + 1 < frames)
      afterLowShelf = Round32(Step(ls, Widen(afterMid)));
    if (n - kLast + 2 >= 0 && n - kLast + 2 < frames)
      afterMid = Round32(Step(mid, Widen(kLowpass ? afterLowpass : afterHighpass)));
    if (kLowpass && n - 1 >= 0 && n - 1 < frames)
      afterLowpass = Step<kFlush>(lp, afterHighpass, flushed);
    if (n < frames)
      afterHighpass = Round32(Step(hp, _mm_loadu_pd(in + 2 * n)));
  };

  if (frames < kLast)
  {
    for (int n = 0; n < frames + kLast; ++n) passWithin(n);
  }
  else
  {
    // The first passes fill the wavefront, the last ones drain it.
    pass(0, Stage<0>(), Stage<0>());
    pass(1, Stage<0>(), Stage<1>());
    pass(2, Stage<0>(), Stage<2>());
    if (kLowpass) pass(3, Stage<0>(), Stage<3>());
    for (int n = kLast; n < frames; ++n) pass(n, Stage<0>(), Stage<kLast>());
    pass(frames, Stage<1>(), Stage<kLast>());
    pass(frames + 1, Stage<2>(), Stage<kLast>());
    pass(frames + 2, Stage<3>(), Stage<kLast>());
    if (kLowpass) pass(frames + 3, Stage<4>(), Stage<kLast>());
  }

  if (!kFlush && _mm_movemask_epi8(flushed) != 0) return false;
  Save(lanes.highpass, hp);
  Save(lanes.lowShelf, ls);
  Save(lanes.highShelf, hs);
  Save(lanes.mid, mid);
  Save(lanes.lowpass, lp);
  return true;
}

void ShapeAndFilter(FilterLanes& lanes, const double* inL, const double* inR, const double* gains, double gain,
                    double* work, double* out, int frames)
{
  if (gains)
  {
    Input(inL, inR, gains, gain, work, frames);
    SaturateRun<true>(work, work, 2 * frames);
  }
  else
  {
    InputAndShape(inL, inR, gain, work, frames);
  }
  if (!lanes.lowpassOn)
    FilterChain<false, false>(lanes, work, out, frames);
  else if (!FilterChain<true, false>(lanes, work, out, frames))
    FilterChain<true, true>(lanes, work, out, frames);
}

constexpr DspKernels kKernels = {Saturate, ShapeAndFilter, Output};
}  // namespace
