#pragma once
// tanh and atan in double precision as straight-line code: no branches, no
// tables and no library calls, so that a loop applying them to an array
// vectorises with plain SSE2. Both stay within about one unit in the last
// place of the true value over the whole real line, and give what std::tanh
// and std::atan give for signed zeros, infinities and NaN.
//
// The range selections are written as two-way choices. GCC turns them into
// vector blends only when it may evaluate both sides, so loops over these
// functions belong in a file compiled with -fno-trapping-math (which changes
// no result, only what the compiler may assume about exceptions).

#include <cmath>
#include <cstdint>
#include <cstring>

#if defined(__GNUC__)
#define TALVOR_FORCE_INLINE inline __attribute__((always_inline))
#else
#define TALVOR_FORCE_INLINE inline
#endif

namespace fastmath
{
TALVOR_FORCE_INLINE double FromBits(uint64_t bits)
{
  double d;
  std::memcpy(&d, &bits, sizeof d);
  return d;
}

TALVOR_FORCE_INLINE uint64_t ToBits(double d)
{
  uint64_t bits;
  std::memcpy(&bits, &d, sizeof bits);
  return bits;
}

// The compiler's own forms: some C libraries (MinGW-w64's) define copysign
// inline with a union, which keeps a loop from vectorising.
TALVOR_FORCE_INLINE double Abs(double x)
{
#if defined(__GNUC__)
  return __builtin_fabs(x);
#else
  return std::fabs(x);
#endif
}

TALVOR_FORCE_INLINE double CopySign(double magnitude, double sign)
{
#if defined(__GNUC__)
  return __builtin_copysign(magnitude, sign);
#else
  return std::copysign(magnitude, sign);
#endif
}

// c ? a : b, one choice at a time: GCC vectorises chains of two-way choices
// but not a single many-way one.
TALVOR_FORCE_INLINE double Select(bool c, double a, double b) { return c ? a : b; }

TALVOR_FORCE_INLINE double Tanh(double x)
{
  const double ax = Abs(x);

  // Below 0.75: the [9/8] Pade approximant, written as x + x^3 P(x^2) / Q(x^2)
  // so that rounding only touches the small correction term. Its integer
  // coefficients are exact; its own error there is below 2e-19.
  const double z = ax * ax;
  const double p = -11486475.0 + z * (-810810.0 + z * (-12870.0 + z * -44.0));
  const double q = 34459425.0 + z * (16216200.0 + z * (945945.0 + z * (13860.0 + z * 45.0)));

  // From 0.75 up: 1 - 2 / (exp(2|x|) + 1), where 2 / (exp + 1) is at most 0.37
  // and so damps the error of exp. exp(y) = 2^n exp(r) with |r| <= ln2 / 2;
  // the shifter rounds y / ln2 to the integer n (also found in the low bits of
  // kd), ln2 is split so that n * kLn2Hi is exact. Past 22 tanh rounds to 1,
  // and capping y at 44 keeps 2^n in range; NaN passes the cap and every
  // later step, and so comes out as NaN.
  constexpr double kShifter = 0x1.8p52;
  constexpr double kLog2e = 0x1.71547652b82fep0;
  constexpr double kLn2Hi = 0x1.62e42ffp-1;
  constexpr double kLn2Lo = -0x1.718432a1b0e26p-35;
  const double y = Select(44.0 < ax + ax, 44.0, ax + ax);
  const double kd = y * kLog2e + kShifter;
  const double n = kd - kShifter;
  const double r = (y - n * kLn2Hi) - n * kLn2Lo;
  // exp(r) = 1 + r + r^2 c(r): a minimax fit with relative error below 4e-18.
  const double c =
    0x1.000000000000ap-1 +
    r * (0x1.55555555554fep-3 +
         r * (0x1.55555555506cp-5 +
              r * (0x1.1111111126b38p-7 +
                   r * (0x1.6c16c18475a3ep-10 +
                        r * (0x1.a01a012febae5p-13 +
                             r * (0x1.a0199963bc0cbp-16 +
                                  r * (0x1.71df18fd0c7a2p-19 + r * (0x1.28adf7b4cc4b2p-22 + r * 0x1.ad92c5d9cb043p-26))))))));
  const double expR = 1.0 + (r + (r * r) * c);
  const double twoToN = FromBits((ToBits(kd) + 1023) << 52);
  const double e = expR * twoToN;

  // Both forms as a + b / d, so that one division serves either.
  const bool small = ax < 0.75;
  const double a = Select(small, ax, 1.0);
  const double b = Select(small, (ax * z) * p, -2.0);
  const double d = Select(small, q, e + 1.0);
  return CopySign(a + b / d, x);
}

TALVOR_FORCE_INLINE double Atan(double x)
{
  const double t = Abs(x);

  // atan(t) = atan(k) + atan((t - k) / (1 + k t)) with k = 0, 1/2, 1, 3/2 on
  // [0, 7/16), [7/16, 11/16), [11/16, 19/16), [19/16, 39/16), and
  // atan(t) = pi/2 + atan(-1/t) above: the reduced argument stays within
  // 7/16, and small next to atan(k) wherever k > 0. Each atan(k) is split in
  // two doubles so that it adds no rounding error of its own.
  const bool r1 = t >= 0.4375;
  const bool r2 = t >= 0.6875;
  const bool r3 = t >= 1.1875;
  const bool r4 = t >= 2.4375;
  const double k = Select(r3, 1.5, Select(r2, 1.0, Select(r1, 0.5, 0.0)));
  const double num = Select(r4, -1.0, t - k);
  const double den = Select(r4, t, 1.0 + k * t);
  const double hi =
    Select(r4, 0x1.921fb54442d18p0,
           Select(r3, 0x1.f730bd281f69bp-1, Select(r2, 0x1.921fb54442d18p-1, Select(r1, 0x1.dac670561bb4fp-2, 0.0))));
  const double lo =
    Select(r4, 0x1.1a62633145c07p-54,
           Select(r3, 0x1.007887af0cbbdp-56, Select(r2, 0x1.1a62633145c07p-55, Select(r1, 0x1.a2b7f222f65e2p-56, 0.0))));
  const double u = num / den;

  // atan(u) = u + u z s(z), z = u^2: a minimax fit with relative error below 5e-18.
  const double z = u * u;
  const double s =
    z * (-0x1.555555555550bp-2 +
         z * (0x1.999999998e7ecp-3 +
              z * (-0x1.2492491ff377bp-3 +
                   z * (0x1.c71c6fdb3159dp-4 +
                        z * (-0x1.745cdba6c7885p-4 +
                             z * (0x1.3b0f20802ed09p-4 +
                                  z * (-0x1.10d602ed6c59bp-4 +
                                       z * (0x1.ddddbea20cc66p-5 +
                                            z * (-0x1.97a0c640b13d2p-5 +
                                                 z * (0x1.2b183a9a975e2p-5 + z * -0x1.0a7fb29981aefp-6))))))))));
  // NaN runs through every step above and comes out as NaN.
  return CopySign(hi + (u + (u * s + lo)), x);
}
}  // namespace fastmath
