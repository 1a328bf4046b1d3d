#pragma once
// tanh and atan in double precision as straight-line code: no branches, no
// tables and no library calls. Both stay within about one unit in the last
// place of the true value over the whole real line, and give what std::tanh
// and std::atan give for signed zeros, infinities and NaN.
//
// Every function is a template over its value type: double for one value, or
// a GCC vector of doubles (one value per lane) in the per-instruction-set
// kernels. Both forms run the same operations in the same order on each
// value, so they give the same bits. For the kernels, each range of the
// argument also has a form of its own, exact for arguments in that range:
// a kernel that finds a whole group of values in one range skips the others.
//
// Everything here has internal linkage: each file that includes it gets its
// own copy, compiled for its own instruction set, so the linker can never
// hand the baseline code a copy built for AVX2.

#include <cstdint>
#include <cstring>

// Inlined always, so that a vector's operations stay in registers.
#define TALVOR_MATH_INLINE static inline __attribute__((always_inline))

namespace fastmath
{
// ---- The steps that differ between one value and a vector of values ----

TALVOR_MATH_INLINE double Abs(double x) { return __builtin_fabs(x); }
TALVOR_MATH_INLINE double CopySign(double magnitude, double sign) { return __builtin_copysign(magnitude, sign); }
TALVOR_MATH_INLINE double Select(bool c, double a, double b) { return c ? a : b; }
// 2^n from the shifter sum kd, whose low bits hold n.
TALVOR_MATH_INLINE double TwoToN(double kd)
{
  uint64_t bits;
  std::memcpy(&bits, &kd, sizeof bits);
  bits = (bits + 1023) << 52;
  double d;
  std::memcpy(&d, &bits, sizeof d);
  return d;
}

// A vector's lanes as integers of the same width (what its comparisons give).
template <class V>
using LaneBits = decltype(V{} < V{});

template <class V>
TALVOR_MATH_INLINE V Abs(V x)
{
  return (V)((LaneBits<V>)x & 0x7fffffffffffffffLL);
}
template <class V>
TALVOR_MATH_INLINE V CopySign(V magnitude, V sign)
{
  const long long kMagnitude = 0x7fffffffffffffffLL;
  return (V)(((LaneBits<V>)magnitude & kMagnitude) | ((LaneBits<V>)sign & ~kMagnitude));
}
template <class M, class V>
TALVOR_MATH_INLINE V Select(M c, V a, V b)
{
  return c ? a : b;
}
template <class V>
TALVOR_MATH_INLINE V TwoToN(V kd)
{
  return (V)(((LaneBits<V>)kd + 1023) << 52);
}

// The sign bit of x alone, and a magnitude (+0 or more) given that sign: a
// function of |x| that is odd in x takes x's sign in one step this way.
TALVOR_MATH_INLINE uint64_t SignBit(double x)
{
  uint64_t bits;
  std::memcpy(&bits, &x, sizeof bits);
  return bits & 0x8000000000000000ULL;
}
TALVOR_MATH_INLINE double WithSign(double magnitude, uint64_t sign)
{
  uint64_t bits;
  std::memcpy(&bits, &magnitude, sizeof bits);
  bits |= sign;
  std::memcpy(&magnitude, &bits, sizeof magnitude);
  return magnitude;
}
template <class V>
TALVOR_MATH_INLINE LaneBits<V> SignBit(V x)
{
  return (LaneBits<V>)x & (long long)0x8000000000000000ULL;
}
template <class V>
TALVOR_MATH_INLINE V WithSign(V magnitude, LaneBits<V> sign)
{
  return (V)((LaneBits<V>)magnitude | sign);
}

// A constant as a value of type T (every lane of a vector).
template <class T>
TALVOR_MATH_INLINE T Splat(double c)
{
  return T{} + c;
}

// ---- tanh ----

// Below 0.75: the [9/8] Pade approximant, written as x + x^3 P(x^2) / Q(x^2)
// so that rounding only touches the small correction term. Its integer
// coefficients are exact; its own error there is below 2e-19. Gives the
// numerator x^3 P(x^2) and the denominator Q(x^2) for ax = |x|.
template <class T>
TALVOR_MATH_INLINE void TanhPade(T ax, T& num, T& den)
{
  const T z = ax * ax;
  const T p = -11486475.0 + z * (-810810.0 + z * (-12870.0 + z * -44.0));
  const T q = 34459425.0 + z * (16216200.0 + z * (945945.0 + z * (13860.0 + z * 45.0)));
  num = (ax * z) * p;
  den = q;
}

// From 0.75 up: 1 - 2 / (exp(2|x|) + 1), where 2 / (exp + 1) is at most 0.37
// and so damps the error of exp. exp(y) = 2^n exp(r) with |r| <= ln2 / 2;
// the shifter rounds y / ln2 to the integer n (also found in the low bits of
// kd), ln2 is split so that n * kLn2Hi is exact. Past 22 tanh rounds to 1,
// and capping y at 44 keeps 2^n in range; NaN passes the cap and every
// later step, and so comes out as NaN. Gives exp(2 ax).
template <class T>
TALVOR_MATH_INLINE T TanhExp(T ax)
{
  constexpr double kShifter = 0x1.8p52;
  constexpr double kLog2e = 0x1.71547652b82fep0;
  constexpr double kLn2Hi = 0x1.62e42ffp-1;
  constexpr double kLn2Lo = -0x1.718432a1b0e26p-35;
  const T y = Select(44.0 < ax + ax, Splat<T>(44.0), ax + ax);
  const T kd = y * kLog2e + kShifter;
  const T n = kd - kShifter;
  const T r = (y - n * kLn2Hi) - n * kLn2Lo;
  // exp(r) = 1 + r + r^2 c(r): a minimax fit with relative error below 4e-18.
  const T c =
    0x1.000000000000ap-1 +
    r * (0x1.55555555554fep-3 +
         r * (0x1.55555555506cp-5 +
              r * (0x1.1111111126b38p-7 +
                   r * (0x1.6c16c18475a3ep-10 +
                        r * (0x1.a01a012febae5p-13 +
                             r * (0x1.a0199963bc0cbp-16 +
                                  r * (0x1.71df18fd0c7a2p-19 + r * (0x1.28adf7b4cc4b2p-22 + r * 0x1.ad92c5d9cb043p-26))))))));
  const T expR = 1.0 + (r + (r * r) * c);
  return expR * TwoToN(kd);
}

template <bool kNonNegative = false, class T>
TALVOR_MATH_INLINE T Tanh(T x)
{
  const T ax = kNonNegative ? x : Abs(x);
  T num, den;
  TanhPade(ax, num, den);
  const T e = TanhExp(ax);
  // Both forms as a + b / d, so that one division serves either.
  const auto small = ax < 0.75;
  const T a = Select(small, ax, Splat<T>(1.0));
  const T b = Select(small, num, Splat<T>(-2.0));
  const T d = Select(small, den, e + 1.0);
  const T r = a + b / d;
  return kNonNegative ? r : CopySign(r, x);
}

// Tanh for arguments whose magnitude is below 0.75 (not NaN). kNonNegative:
// x is known to be +0 or more, so that it is its own magnitude and the
// result (never -0) needs no sign.
template <bool kNonNegative = false, class T>
TALVOR_MATH_INLINE T TanhBelowThreeQuarters(T x)
{
  const T ax = kNonNegative ? x : Abs(x);
  T num, den;
  TanhPade(ax, num, den);
  const T r = ax + num / den;
  return kNonNegative ? r : CopySign(r, x);
}

// The small-signal forms below take their argument u (+0 or more) with
// its square z and cube c as the caller has them from its powers of one x:
// each may be rounded differently from u u and u z, which touches only the
// small correction term. Both rational forms are scaled so that the
// denominator's leading coefficient is 1 (one multiplication less); the
// scaled coefficients are exact but for the numerator's last.

// Tanh of u below 0.75 by the [9/8] Pade approximant (error below 2e-19).
template <class T>
TALVOR_MATH_INLINE T TanhPade9(T u, T z, T c)
{
  const T p = -255255.0 + z * (-18018.0 + z * (-286.0 + z * (-44.0 / 45.0)));
  const T q = 765765.0 + z * (360360.0 + z * (21021.0 + z * (308.0 + z)));
  return u + (c * p) / q;
}

// Tanh of u up to 0.5625 by the [7/6] Pade approximant: its own error is
// below 0.2 units in the last place up to 0.42 and 0.003 up to 0.32, and
// reaches 9 at 0.5625. (The waveshaper takes it for x^2, x^3 and x^4 of an x
// below 0.75 in magnitude; what it contributes of x^2 is scaled down by
// 0.005 x^2 next to x.)
template <class T>
TALVOR_MATH_INLINE T TanhPade7(T u, T z, T c)
{
  const T p = -1608.75 + z * (-99.0 + z * (-27.0 / 28.0));
  const T q = 4826.25 + z * (2227.5 + z * (112.5 + z));
  return u + (c * p) / q;
}

// Tanh for arguments whose magnitude is 0.75 or more, or NaN; kNonNegative
// as above (the result is then +0 or more as well).
template <bool kNonNegative = false, class T>
TALVOR_MATH_INLINE T TanhFromThreeQuarters(T x)
{
  const T r = 1.0 + -2.0 / (TanhExp(kNonNegative ? x : Abs(x)) + 1.0);
  return kNonNegative ? r : CopySign(r, x);
}

// ---- atan ----

// atan(u) = u + u z s(z), z = u^2: a minimax fit with relative error below
// 5e-18. Gives s.
template <class T>
TALVOR_MATH_INLINE T AtanSeries(T u)
{
  const T z = u * u;
  return z * (-0x1.555555555550bp-2 +
              z * (0x1.999999998e7ecp-3 +
                   z * (-0x1.2492491ff377bp-3 +
                        z * (0x1.c71c6fdb3159dp-4 +
                             z * (-0x1.745cdba6c7885p-4 +
                                  z * (0x1.3b0f20802ed09p-4 +
                                       z * (-0x1.10d602ed6c59bp-4 +
                                            z * (0x1.ddddbea20cc66p-5 +
                                                 z * (-0x1.97a0c640b13d2p-5 +
                                                      z * (0x1.2b183a9a975e2p-5 + z * -0x1.0a7fb29981aefp-6))))))))));
}

template <class T>
TALVOR_MATH_INLINE T Atan(T x)
{
  const T t = Abs(x);

  // atan(t) = atan(k) + atan((t - k) / (1 + k t)) with k = 0, 1/2, 1, 3/2 on
  // [0, 7/16), [7/16, 11/16), [11/16, 19/16), [19/16, 39/16), and
  // atan(t) = pi/2 + atan(-1/t) above: the reduced argument stays within
  // 7/16, and small next to atan(k) wherever k > 0. Each atan(k) is split in
  // two doubles so that it adds no rounding error of its own.
  const auto r1 = t >= 0.4375;
  const auto r2 = t >= 0.6875;
  const auto r3 = t >= 1.1875;
  const auto r4 = t >= 2.4375;
  const T k = Select(r3, Splat<T>(1.5), Select(r2, Splat<T>(1.0), Select(r1, Splat<T>(0.5), Splat<T>(0.0))));
  const T num = Select(r4, Splat<T>(-1.0), t - k);
  const T den = Select(r4, t, 1.0 + k * t);
  const T hi = Select(r4, Splat<T>(0x1.921fb54442d18p0),
                      Select(r3, Splat<T>(0x1.f730bd281f69bp-1),
                             Select(r2, Splat<T>(0x1.921fb54442d18p-1),
                                    Select(r1, Splat<T>(0x1.dac670561bb4fp-2), Splat<T>(0.0)))));
  const T lo = Select(r4, Splat<T>(0x1.1a62633145c07p-54),
                      Select(r3, Splat<T>(0x1.007887af0cbbdp-56),
                             Select(r2, Splat<T>(0x1.1a62633145c07p-55),
                                    Select(r1, Splat<T>(0x1.a2b7f222f65e2p-56), Splat<T>(0.0)))));
  const T u = num / den;
  // NaN runs through every step above and comes out as NaN.
  return CopySign(hi + (u + (u * AtanSeries(u) + lo)), x);
}

// Atan of u from 0 up to 0.75^7 (0.1335, the largest x^7 the waveshaper's
// small-signal form meets), with z and c as above: a fit of degree 5 in z,
// relative error below 0.05 units in the last place there.
template <class T>
TALVOR_MATH_INLINE T AtanOfSmall(T u, T z, T c)
{
  const T s = -0x1.555555555541fp-2 +
              z * (0x1.99999998f5eb9p-3 +
                   z * (-0x1.2492483d6eee2p-3 +
                        z * (0x1.c71b44909bd74p-4 + z * (-0x1.73f9826d09daap-4 + z * 0x1.2ac7673d078d1p-4))));
  return u + c * s;
}

// Atan for finite arguments whose magnitude is below 7/16. There k = 0, so
// the reduced argument (t - 0) / (1 + 0 t) is t itself, exactly, and hi and
// lo are +0: adding them changes nothing, since u = t is +0 or more and
// u + u s is then never -0.
template <class T>
TALVOR_MATH_INLINE T AtanBelowSevenSixteenths(T x)
{
  const T u = Abs(x);
  return CopySign(u + u * AtanSeries(u), x);
}
}  // namespace fastmath
