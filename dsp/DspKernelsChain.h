// The filter chain of the vector kernels and the kernels' table; part of
// DspKernelsImpl.h (included at its end, under the same rules).

namespace
{
// ---- The filter chain: both channels of a section in one register ----

// Two doubles, and four floats of which the low-pass uses two, as GCC vector
// extensions: SSE2 registers on x86-64 (with the VEX forms where the file is
// built for AVX), NEON ones on AArch64.
typedef double Pair __attribute__((vector_size(16)));
typedef decltype(Pair{} < Pair{}) PairBits;
typedef float Quad __attribute__((vector_size(16)));
typedef decltype(Quad{} < Quad{}) QuadBits;

template <class V>
struct BiquadRegsOf
{
  V b0, b1, b2, a1, a2, z1, z2;
};
using BiquadRegs = BiquadRegsOf<Pair>;
struct ParametricRegs
{
  Pair b0, b1, b2, a1, a2, x1, x2, y1, y2;
};
// The low-pass's inputs two frames to a register: x12 is [x1 left, right,
// x2 left, right], and likewise the coefficient pair b12 (a register fewer
// for the chain to keep). Its outputs keep a register each: the shuffles
// that pack them would lie on its recurrence.
struct LowpassRegs
{
  Quad b0, b12, a1, a2, x12, y1, y2;
};

template <class V, class T, size_t N>
TALVOR_KERNEL_INLINE V LoadLanes(const T (&v)[N])
{
  static_assert(sizeof(V) == sizeof v, "one register per array");
  V r;
  __builtin_memcpy(&r, v, sizeof r);
  return r;
}
template <class V, class T, size_t N>
TALVOR_KERNEL_INLINE void StoreLanes(T (&v)[N], V r)
{
  static_assert(sizeof(V) == sizeof v, "one register per array");
  __builtin_memcpy(v, &r, sizeof r);
}
TALVOR_KERNEL_INLINE Pair LoadPair(const double* p)
{
  Pair r;
  __builtin_memcpy(&r, p, sizeof r);
  return r;
}
TALVOR_KERNEL_INLINE void StorePair(double* p, Pair r) { __builtin_memcpy(p, &r, sizeof r); }

inline BiquadRegs Load(const FilterLanes::Biquad& s)
{
  return {LoadLanes<Pair>(s.b0), LoadLanes<Pair>(s.b1), LoadLanes<Pair>(s.b2), LoadLanes<Pair>(s.a1),
          LoadLanes<Pair>(s.a2), LoadLanes<Pair>(s.z1), LoadLanes<Pair>(s.z2)};
}
inline void Save(FilterLanes::Biquad& s, const BiquadRegs& r)
{
  StoreLanes(s.z1, r.z1);
  StoreLanes(s.z2, r.z2);
}
inline ParametricRegs Load(const FilterLanes::Parametric& s)
{
  return {LoadLanes<Pair>(s.b0), LoadLanes<Pair>(s.b1), LoadLanes<Pair>(s.b2), LoadLanes<Pair>(s.a1),
          LoadLanes<Pair>(s.a2), LoadLanes<Pair>(s.x1), LoadLanes<Pair>(s.x2), LoadLanes<Pair>(s.y1),
          LoadLanes<Pair>(s.y2)};
}
inline void Save(FilterLanes::Parametric& s, const ParametricRegs& r)
{
  StoreLanes(s.x1, r.x1);
  StoreLanes(s.x2, r.x2);
  StoreLanes(s.y1, r.y1);
  StoreLanes(s.y2, r.y2);
}
// Lanes 0 and 1 of a, then lanes 0 and 1 of b.
TALVOR_KERNEL_INLINE Quad LowAndLow(Quad a, Quad b) { return __builtin_shufflevector(a, b, 0, 1, 4, 5); }
// Lanes 2 and 3 of a where lanes 0 and 1 were (the rest do not matter).
TALVOR_KERNEL_INLINE Quad HighDown(Quad a) { return __builtin_shufflevector(a, a, 2, 3, 2, 3); }

inline LowpassRegs Load(const FilterLanes::Lowpass& s)
{
  auto two = [](const float (&a)[4], const float (&b)[4]) { return LowAndLow(LoadLanes<Quad>(a), LoadLanes<Quad>(b)); };
  return {LoadLanes<Quad>(s.b0), two(s.b1, s.b2), LoadLanes<Quad>(s.a1), LoadLanes<Quad>(s.a2), two(s.x1, s.x2),
          LoadLanes<Quad>(s.y1), LoadLanes<Quad>(s.y2)};
}
inline void Save(FilterLanes::Lowpass& s, const LowpassRegs& r)
{
  StoreLanes(s.x1, LowAndLow(r.x12, Quad{}));
  StoreLanes(s.x2, LowAndLow(HighDown(r.x12), Quad{}));
  StoreLanes(s.y1, LowAndLow(r.y1, Quad{}));
  StoreLanes(s.y2, LowAndLow(r.y2, Quad{}));
}

// BiquadSection::process: y = b0 x + z1; z1 = b1 x + z2 - a1 y; z2 = b2 x - a2 y.
template <class V>
TALVOR_KERNEL_INLINE V Step(BiquadRegsOf<V>& s, V x)
{
  const V y = s.b0 * x + s.z1;
  s.z1 = (s.b1 * x + s.z2) - s.a1 * y;
  s.z2 = s.b2 * x - s.a2 * y;
  return y;
}

// ParametricSection::process: y = b0 x + b1 x1 + b2 x2 - a1 y1 - a2 y2.
TALVOR_KERNEL_INLINE Pair Step(ParametricRegs& s, Pair x)
{
  const Pair y = (((s.b0 * x + s.b1 * s.x1) + s.b2 * s.x2) - s.a1 * s.y1) - s.a2 * s.y2;
  s.x2 = s.x1;
  s.x1 = x;
  s.y2 = s.y1;
  s.y1 = y;
  return y;
}

// Set where the low-pass flushes a float result to +0: on the magnitude's bits
// m, where 1 <= m <= 0x00800000 (the smallest normal); m + 0x7fffffff wraps
// exactly those to the lowest signed values.
template <class Bits, class V>
TALVOR_KERNEL_INLINE Bits FlushLanesOf(V y)
{
  typedef unsigned Words __attribute__((vector_size(sizeof(V))));
  const Words shifted = ((Words)y & 0x7fffffffu) + 0x7fffffffu;
  return (Bits)shifted < (int)0x80800000u;
}
TALVOR_KERNEL_INLINE QuadBits FlushLanes(Quad y) { return FlushLanesOf<QuadBits>(y); }

// MatchedLowpass::process: y = b1 x1 + b0 x + b2 x2 - a1 y1 - a2 y2, limited
// to the float range (NaN to the largest float), and results strictly between
// zero and the smallest normal float, or equal to it, become +0 (the same set
// as its comparison in 64 bits). With kCareful false the results are neither
// limited nor flushed: where FlushLanes finds none that would have been, the
// results are the same. (Only an absurd level into the chain, which sends the
// block to the careful run, can take the low-pass near the float limit.)
// Lanes 2 and 3 of the result are of no use (the flush check ignores them).
template <bool kCareful>
TALVOR_KERNEL_INLINE Quad Step(LowpassRegs& s, Quad x)
{
  const Quad bx = s.b12 * s.x12;  // [b1 x1, b2 x2]
  Quad y = (((bx + s.b0 * x) + HighDown(bx)) - s.a1 * s.y1) - s.a2 * s.y2;
  if (kCareful)
  {
    const Quad kMax = Quad{} + __FLT_MAX__;
    y = y < kMax ? y : kMax;  // NaN fails the comparison
    y = y > -kMax ? y : -kMax;
  }
  if (kCareful)
    y = (Quad)((QuadBits)y & ~FlushLanes(y));
  s.x12 = LowAndLow(x, s.x12);
  s.y2 = s.y1;
  s.y1 = y;
  return y;
}

// The low-pass's two lanes as doubles, and two doubles as its lanes (the
// unused two zero): one instruction each.
TALVOR_KERNEL_INLINE Pair Widen(Quad x)
{
#if defined(__SSE2__)
  return (Pair)_mm_cvtps_pd((__m128)x);
#else
  return (Pair)vcvt_f64_f32(vget_low_f32((float32x4_t)x));
#endif
}
TALVOR_KERNEL_INLINE Quad Narrow(Pair x)
{
#if defined(__SSE2__)
  return (Quad)_mm_cvtpd_ps((__m128d)x);
#else
  return (Quad)vcombine_f32(vcvt_f32_f64((float64x2_t)x), vdup_n_f32(0.0f));
#endif
}

TALVOR_KERNEL_INLINE Pair Magnitude(Pair x) { return (Pair)((PairBits)x & 0x7fffffffffffffffL); }

// kLimit: as the engine's Round32, each lane at or beyond kRoundsToInfinity
// in magnitude (infinity too) becomes the largest float of its sign and sets
// its lane in limited; NaN passes. Else nothing changes.
template <bool kLimit>
TALVOR_KERNEL_INLINE Pair Limit(Pair x, PairBits& limited)
{
  if (!kLimit) return x;
  limited |= Magnitude(x) >= kRoundsToInfinity;
  const Pair kMax = Pair{} + (double)__FLT_MAX__;
  const Pair high = x > kMax ? kMax : x;  // NaN fails the comparisons
  return high < -kMax ? -kMax : high;
}
template <bool kLimit>
TALVOR_KERNEL_INLINE Quad Round32(Pair x, PairBits& limited)
{
  return Narrow(Limit<kLimit>(x, limited));
}


template <class Bits>
TALVOR_KERNEL_INLINE bool AnyLane(Bits m)
{
  bool any = false;
  for (size_t j = 0; j < sizeof m / sizeof m[0]; ++j) any = any || m[j] != 0;
  return any;
}

// Whether every one of count values is below bound in magnitude (so none is
// infinite or NaN).
inline bool AllBelow(const double* a, double bound, int count)
{
  constexpr unsigned kAll = (1u << kLanes) - 1;
  unsigned within = kAll;
  int k = 0;
  for (; k + kLanes <= count; k += kLanes) within &= LanesBelow(fastmath::Abs(LoadVec(a + k)), bound);
  bool all = within == kAll;
  for (; k < count; ++k) all = all && fastmath::Abs(a[k]) < bound;
  return all;
}

// Whether test, given a vector of floats, sets a lane for any of count floats
// at p, a vector's width at a time (zeros pad the last vector: test must
// leave +0 unset).
typedef float Floats __attribute__((vector_size(sizeof(Vec))));
typedef decltype(Floats{} < Floats{}) FloatsBits;
template <class Test>
TALVOR_KERNEL_INLINE bool AnyFloatFound(const float* p, int count, Test test)
{
  constexpr int kFloats = sizeof(Floats) / sizeof(float);
  FloatsBits found = {};
  int k = 0;
  for (; k + kFloats <= count; k += kFloats)
  {
    Floats v;
    __builtin_memcpy(&v, p + k, sizeof v);
    found |= test(v);
  }
  Floats last = {};
  for (int j = 0; k < count; ++j, ++k) last[j] = p[k];
  return AnyLane(found | test(last));
}
// Whether the low-pass would have flushed any of count results stored at p
// (two floats a frame, its lanes 0 and 1).
inline bool AnyFlushIn(const float* p, int count)
{
  return AnyFloatFound(p, count, [](Floats v) { return FlushLanesOf<FloatsBits>(v); });
}
// Whether none of count floats is infinite or NaN.
inline bool AllFinite(const float* p, int count)
{
  return !AnyFloatFound(p, count, [](Floats v) { return (FloatsBits)((FloatsBits)v & 0x7fffffff) >= 0x7f800000; });
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
// them (kCareful false), noting whether any result would have been flushed
// (in the steady passes from the results stored for a run of frames, checked
// after it, off the loop that carries the recurrences), and checking that no
// input reaches the absurd level (unless inBelowOne: the waveshaper found
// every value small) and every output is in range (a value that a rounding
// would have limited makes every later section's output at that frame
// infinite or NaN); only where that fails is it run again, carefully, from
// the same state. Returns false, leaving lanes unchanged, when that is
// needed; else sets limited where a value was limited or reached the
// engine's absurd level.
template <int K>
struct Stage
{
  static constexpr int value = K;
};

template <bool kUseLowpass, bool kCareful>
bool FilterChain(FilterLanes& lanes, const double* in, bool inBelowOne, float* out, int frames, bool& limited)
{
  BiquadRegs hp = Load(lanes.highpass), ls = Load(lanes.lowShelf), hs = Load(lanes.highShelf);
  ParametricRegs mid = Load(lanes.mid);
  LowpassRegs lp = Load(lanes.lowpass);
  constexpr int kLast = 4;  // the wavefront's depth - 1
  constexpr int kCheckFrames = 128;  // the steady passes' run between flush checks
  // The values in flight between the sections, each rounded to 32 bits; the
  // high-pass's output also as the low-pass took it, for the mid section
  // when the low-pass is not in use.
  Quad afterHighpass = {}, intoLowpass = {}, afterLowpass = {}, afterMid = {}, afterLowShelf = {};
  QuadBits flushed = {};
  bool flushedInRuns = false;
  PairBits limitedLanes = {};
  auto round32 = [&](Pair x) __attribute__((always_inline)) { return Round32<kCareful>(x, limitedLanes); };
  // The high shelf's output rounded to 32 bits, as the output stage takes it,
  // stored at frame m.
  auto highShelf = [&](int m) __attribute__((always_inline)) {
    const Quad y = Round32<kCareful>(Step(hs, Widen(afterLowShelf)), limitedLanes);
    __builtin_memcpy(out + 2 * m, &y, 2 * sizeof(float));
  };
  // The waveshaper's rounded output, infinite where it was limited; an
  // absurd level is noted as a limit is.
  auto input = [&](int n) __attribute__((always_inline)) {
    const Pair x = LoadPair(in + 2 * n);
    if (kCareful)
      limitedLanes |= Magnitude(x) >= kAbsurdLevel;
    return Limit<kCareful>(x, limitedLanes);
  };
  // The low-pass's step; in the fast run its result is checked for a flush
  // at once (low null) or stored at low for a check after the run.
  auto lowpass = [&](float* low) __attribute__((always_inline)) {
    intoLowpass = afterHighpass;
    afterLowpass = Step<kCareful>(lp, afterHighpass);
    if (kCareful) return;
    if (low)
      __builtin_memcpy(low, &afterLowpass, 2 * sizeof(float));
    else
      flushed |= FlushLanes(afterLowpass);
  };

  // One pass of the loop: pass n runs stage k on frame n - k for the stages
  // First to Last. Each stage takes what the stage before it gave in the
  // pass before, so the later stages go first. (Two sections sharing a
  // register, as four doubles to one would allow, tie their recurrences into
  // one cycle through the stages between them, longer than either: the
  // high-pass and the low shelf in one took 15 % longer. Each section keeps
  // its own.)
  auto pass = [&](int n, auto first, auto last, float* low) __attribute__((always_inline)) {
    constexpr int kFirst = decltype(first)::value, kLastRun = decltype(last)::value;
    auto runs = [&](int stage) __attribute__((always_inline)) { return stage >= kFirst && stage <= kLastRun; };
    if (runs(kLast))
      highShelf(n - kLast);
    if (runs(kLast - 1))
      afterLowShelf = round32(Step(ls, Widen(afterMid)));
    if (runs(kLast - 2))
      afterMid = round32(Step(mid, Widen(kUseLowpass ? afterLowpass : intoLowpass)));
    if (runs(1))
      lowpass(low);
    if (runs(0))
      afterHighpass = round32(Step(hp, input(n)));
  };
  // The same with the stages chosen at run time, for blocks shorter than
  // the wavefront.
  auto passWithin = [&](int n) {
    if (n - kLast >= 0 && n - kLast < frames)
      highShelf(n - kLast);
    if (n - kLast + 1 >= 0 && n - kLast + 1 < frames)
      afterLowShelf = round32(Step(ls, Widen(afterMid)));
    if (n - kLast + 2 >= 0 && n - kLast + 2 < frames)
      afterMid = round32(Step(mid, Widen(kUseLowpass ? afterLowpass : intoLowpass)));
    if (n - 1 >= 0 && n - 1 < frames)
      lowpass(nullptr);
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
    pass(0, Stage<0>(), Stage<0>(), nullptr);
    pass(1, Stage<0>(), Stage<1>(), nullptr);
    pass(2, Stage<0>(), Stage<2>(), nullptr);
    pass(3, Stage<0>(), Stage<3>(), nullptr);
    float lows[2 * kCheckFrames];
    for (int n = kLast; n < frames;)
    {
      const int start = n, end = frames - n > kCheckFrames ? n + kCheckFrames : frames;
      for (; n < end; ++n) pass(n, Stage<0>(), Stage<kLast>(), kCareful ? nullptr : lows + 2 * (n - start));
      if (!kCareful)
        flushedInRuns = flushedInRuns || AnyFlushIn(lows, 2 * (end - start));
    }
    pass(frames, Stage<1>(), Stage<kLast>(), nullptr);
    pass(frames + 1, Stage<2>(), Stage<kLast>(), nullptr);
    pass(frames + 2, Stage<3>(), Stage<kLast>(), nullptr);
    pass(frames + 3, Stage<4>(), Stage<kLast>(), nullptr);
  }

  if (!kCareful && (flushedInRuns || AnyLane(__builtin_shufflevector(flushed, flushed, 0, 1)) ||
                    !(inBelowOne || AllBelow(in, kAbsurdLevel, 2 * frames)) ||
                    !AllFinite(out, 2 * frames)))
    return false;
  limited = AnyLane(limitedLanes);
  Save(lanes.highpass, hp);
  Save(lanes.lowShelf, ls);
  Save(lanes.highShelf, hs);
  Save(lanes.mid, mid);
  Save(lanes.lowpass, lp);
  return true;
}

template <class Sample>
bool ShapeAndFilter(FilterLanes& lanes, const Sample* inL, const Sample* inR, const double* gains, double gain,
                    double* work, float* out, int frames)
{
  bool belowOne;
  if (gains)
  {
    Input(inL, inR, gains, gain, work, frames);
    belowOne = SaturateRun<true>(work, work, 2 * frames);
  }
  else
  {
    belowOne = InputAndShape(inL, inR, gain, work, frames);
  }
  bool limited = false;
  if (!lanes.lowpassOn)
  {
    if (!FilterChain<false, false>(lanes, work, belowOne, out, frames, limited))
      FilterChain<false, true>(lanes, work, belowOne, out, frames, limited);
  }
  else if (!FilterChain<true, false>(lanes, work, belowOne, out, frames, limited))
  {
    FilterChain<true, true>(lanes, work, belowOne, out, frames, limited);
  }
  return limited;
}

constexpr DspKernels kKernels = {Saturate, ShapeAndFilter<double>, Output<double>, ShapeAndFilter<float>,
                                 Output<float>};
}  // namespace
