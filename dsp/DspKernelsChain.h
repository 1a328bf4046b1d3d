// The filter chain of the vector kernels and the kernels' table; part of
// DspKernelsImpl.h (included at its end, under the same rules).

namespace
{
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

// MatchedLowpass::process: y = b1 x1 + b0 x + b2 x2 - a1 y1 - a2 y2, limited
// to the float range (NaN to the largest float), and results strictly between
// zero and the smallest normal float, or equal to it, become +0 (the same set
// as its comparison in 64 bits). With kCareful false the results are neither
// limited nor flushed and `flushed` collects where one would have been
// flushed: where none would, the results are the same. (Only an absurd level
// into the chain, which sends the block to the careful run, can take the
// low-pass near the float limit.)
template <bool kCareful>
TALVOR_KERNEL_INLINE __m128 Step(LowpassRegs& s, __m128 x, __m128i& flushed)
{
  __m128 y = _mm_sub_ps(
    _mm_sub_ps(_mm_add_ps(_mm_add_ps(_mm_mul_ps(s.b1, s.x1), _mm_mul_ps(s.b0, x)), _mm_mul_ps(s.b2, s.x2)),
               _mm_mul_ps(s.a1, s.y1)),
    _mm_mul_ps(s.a2, s.y2));
  // Minimum and maximum return their second operand where either is NaN.
  if (kCareful)
    y = _mm_max_ps(_mm_min_ps(y, _mm_set1_ps(__FLT_MAX__)), _mm_set1_ps(-__FLT_MAX__));
  // On the magnitude's bits m: flush where 1 <= m <= 0x00800000 (the smallest
  // normal); m + 0x7fffffff wraps exactly those to the lowest signed values.
  const __m128i magnitude = _mm_and_si128(_mm_castps_si128(y), _mm_set1_epi32(0x7fffffff));
  const __m128i shifted = _mm_add_epi32(magnitude, _mm_set1_epi32(0x7fffffff));
  const __m128i flush = _mm_cmpgt_epi32(_mm_set1_epi32((int)0x80800000u), shifted);
  if (kCareful)
    y = _mm_andnot_ps(_mm_castsi128_ps(flush), y);
  else
    flushed = _mm_or_si128(flushed, flush);
  s.x2 = s.x1;
  s.x1 = x;
  s.y2 = s.y1;
  s.y1 = y;
  return y;
}

TALVOR_KERNEL_INLINE __m128d Widen(__m128 x) { return _mm_cvtps_pd(x); }

// kLimit: as the engine's Round32, each lane at or beyond kRoundsToInfinity
// in magnitude (infinity too) becomes the largest float of its sign and sets
// its lane in limited; NaN passes. Else nothing changes.
template <bool kLimit>
TALVOR_KERNEL_INLINE __m128d Limit(__m128d x, __m128d& limited)
{
  if (!kLimit) return x;
  const __m128d magnitude = _mm_andnot_pd(_mm_set1_pd(-0.0), x);
  limited = _mm_or_pd(limited, _mm_cmpge_pd(magnitude, _mm_set1_pd(kRoundsToInfinity)));
  return _mm_max_pd(_mm_set1_pd(-__FLT_MAX__), _mm_min_pd(_mm_set1_pd(__FLT_MAX__), x));
}
template <bool kLimit>
TALVOR_KERNEL_INLINE __m128 Round32(__m128d x, __m128d& limited)
{
  return _mm_cvtpd_ps(Limit<kLimit>(x, limited));
}

// Whether every value is below bound in magnitude (so neither infinite nor
// NaN).
inline bool AllBelow(const double* v, int count, double bound)
{
  VecBits within = fastmath::Splat<Vec>(0.0) == 0.0;
  int k = 0;
  for (; k + kLanes <= count; k += kLanes) within &= fastmath::Abs(LoadVec(v + k)) < bound;
  bool all = true;
  for (int j = 0; j < kLanes; ++j) all = all && within[j] != 0;
  for (; k < count; ++k) all = all && fastmath::Abs(v[k]) < bound;
  return all;
}

// The chain as a wavefront: in one pass of the loop every section works on
// a different frame (the high-pass on frame n, the next section on n - 1 and
// so on), so that the sections' recurrences run side by side instead of one
// after another. Each section still sees its frames in order, and each value
// goes through the same operations.
//
// The low-pass runs whether or not its output is used (kUseLowpass), so that
// switching it in resumes from live state.
//
// The low-pass's flush lies on its recurrence, the longest of the chain. It
// is needed only where the signal decays into silence, and the limits to the
// 32-bit range only for absurd levels; so the block runs first without
// them (kCareful false), noting whether any result would have been flushed,
// and checking that no input reaches the absurd level and every output is in
// range (a value that a rounding would have limited makes every later
// section's output at that frame infinite or NaN); only where that fails is
// it run again, carefully, from the same state. Returns false, leaving lanes
// unchanged, when that is needed; else sets limited where a value was
// limited or reached the engine's absurd level.
template <int K>
struct Stage
{
  static constexpr int value = K;
};

template <bool kUseLowpass, bool kCareful>
bool FilterChain(FilterLanes& lanes, const double* in, double* out, int frames, bool& limited)
{
  BiquadRegs hp = Load(lanes.highpass), ls = Load(lanes.lowShelf), hs = Load(lanes.highShelf);
  ParametricRegs mid = Load(lanes.mid);
  LowpassRegs lp = Load(lanes.lowpass);
  constexpr int kLast = 4;  // the wavefront's depth - 1
  // The values in flight between the sections, each rounded to 32 bits; the
  // high-pass's output also as the low-pass took it, for the mid section
  // when the low-pass is not in use.
  __m128 afterHighpass = _mm_setzero_ps(), intoLowpass = _mm_setzero_ps(), afterLowpass = _mm_setzero_ps(),
         afterMid = _mm_setzero_ps(), afterLowShelf = _mm_setzero_ps();
  __m128i flushed = _mm_setzero_si128();
  __m128d limitedLanes = _mm_setzero_pd();
  auto round32 = [&](__m128d x) __attribute__((always_inline)) { return Round32<kCareful>(x, limitedLanes); };
  auto highShelf = [&](__m128d x) __attribute__((always_inline)) {
    const __m128d y = Step(hs, x);
    Limit<kCareful>(y, limitedLanes);  // noted only: the output stage limits it
    return y;
  };
  // The waveshaper's rounded output, infinite where it was limited; an
  // absurd level is noted as a limit is.
  auto input = [&](int n) __attribute__((always_inline)) {
    const __m128d x = _mm_loadu_pd(in + 2 * n);
    if (kCareful)
      limitedLanes = _mm_or_pd(limitedLanes, _mm_cmpge_pd(_mm_andnot_pd(_mm_set1_pd(-0.0), x),
                                                          _mm_set1_pd(kAbsurdLevel)));
    return Limit<kCareful>(x, limitedLanes);
  };

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
      _mm_storeu_pd(out + 2 * (n - kLast), highShelf(Widen(afterLowShelf)));
    if (runs(kLast - 1))
      afterLowShelf = round32(Step(ls, Widen(afterMid)));
    if (runs(kLast - 2))
      afterMid = round32(Step(mid, Widen(kUseLowpass ? afterLowpass : intoLowpass)));
    if (runs(1))
    {
      intoLowpass = afterHighpass;
      afterLowpass = Step<kCareful>(lp, afterHighpass, flushed);
    }
    if (runs(0))
      afterHighpass = round32(Step(hp, input(n)));
  };
  // The same with the stages chosen at run time, for blocks shorter than
  // the wavefront.
  auto passWithin = [&](int n) {
    if (n - kLast >= 0 && n - kLast < frames)
      _mm_storeu_pd(out + 2 * (n - kLast), highShelf(Widen(afterLowShelf)));
    if (n - kLast + 1 >= 0 && n - kLast + 1 < frames)
      afterLowShelf = round32(Step(ls, Widen(afterMid)));
    if (n - kLast + 2 >= 0 && n - kLast + 2 < frames)
      afterMid = round32(Step(mid, Widen(kUseLowpass ? afterLowpass : intoLowpass)));
    if (n - 1 >= 0 && n - 1 < frames)
    {
      intoLowpass = afterHighpass;
      afterLowpass = Step<kCareful>(lp, afterHighpass, flushed);
    }
    if (n < frames)
      afterHighpass = round32(Step(hp, input(n)));
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
    pass(3, Stage<0>(), Stage<3>());
    for (int n = kLast; n < frames; ++n) pass(n, Stage<0>(), Stage<kLast>());
    pass(frames, Stage<1>(), Stage<kLast>());
    pass(frames + 1, Stage<2>(), Stage<kLast>());
    pass(frames + 2, Stage<3>(), Stage<kLast>());
    pass(frames + 3, Stage<4>(), Stage<kLast>());
  }

  if (!kCareful && (_mm_movemask_epi8(flushed) != 0 || !AllBelow(in, 2 * frames, kAbsurdLevel) ||
                    !AllBelow(out, 2 * frames, kRoundsToInfinity)))
    return false;
  limited = _mm_movemask_pd(limitedLanes) != 0;
  Save(lanes.highpass, hp);
  Save(lanes.lowShelf, ls);
  Save(lanes.highShelf, hs);
  Save(lanes.mid, mid);
  Save(lanes.lowpass, lp);
  return true;
}

bool ShapeAndFilter(FilterLanes& lanes, const double* inL, const double* inR, const double* gains, double gain,
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
  bool limited = false;
  if (!lanes.lowpassOn)
  {
    if (!FilterChain<false, false>(lanes, work, out, frames, limited))
      FilterChain<false, true>(lanes, work, out, frames, limited);
  }
  else if (!FilterChain<true, false>(lanes, work, out, frames, limited))
  {
    FilterChain<true, true>(lanes, work, out, frames, limited);
  }
  return limited;
}

constexpr DspKernels kKernels = {Saturate, ShapeAndFilter, Output};
}  // namespace
