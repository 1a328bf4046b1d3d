#pragma once
// The waveshaper's formula as templates over the value type (double, or a
// vector of doubles in the kernels), so that the one-value code and every
// kernel run the same operations in the same order on each value. Internal
// linkage, as FastMath.h.
//
//   y = x + 0.1 ((0.6 atan(x^7) + (t1 - (0.05 t2 + t3))) + (t1 - (0.6 t4 + t3)))
//
// with tk = tanh(x^k) and the powers by repeated multiplication. The grouping
// and the powers are part of the sound: keep them as they are.

#include "dsp/FastMath.h"

namespace waveshaper
{
template <class T>
TALVOR_MATH_INLINE T Combine(T x, T a7, T t1, T t2, T t3, T t4)
{
  return x + 0.1 * ((0.6 * a7 + (t1 - (0.05 * t2 + t3))) + (t1 - (0.6 * t4 + t3)));
}

// For any x (NaN and infinities too); the kernels' range forms of tanh and
// atan give the same bits as these.
TALVOR_MATH_INLINE double ShapeAnywhere(double x)
{
  const double x2 = x * x;
  const double x3 = x2 * x;
  const double x4 = x3 * x;
  const double x7 = x4 * x * x * x;
  const double t1 = fastmath::Tanh(x);
  const double t3 = fastmath::Tanh(x3);
  return Combine(x, fastmath::Atan(x7), t1, fastmath::Tanh<true>(x2), t3, fastmath::Tanh<true>(x4));
}

// For |x| below 0.75, where most programme lies, with forms fitted to each
// power's smaller range. The powers are formed from |x|: each has the
// magnitude of the signed power, bit for bit (rounding is symmetric), and
// the odd functions take x's sign at the end.
template <class T>
TALVOR_MATH_INLINE T ShapeBelowThreeQuarters(T x)
{
  // (Unqualified, so that the kernels' vector packs find their own.)
  using fastmath::Abs;
  using fastmath::SignBit;
  using fastmath::WithSign;
  const T ax = Abs(x);
  const auto sign = SignBit(x);
  const T x2 = ax * ax;
  const T x3 = x2 * ax;
  const T x4 = x3 * ax;
  const T x7 = x4 * ax * ax * ax;
  // Each form's square and cube of its argument, from the powers at hand
  // (x^2 and x^6 serve two forms each).
  const T x6 = x3 * x3;
  const T x8 = x4 * x4;
  const T x9 = x3 * x6;
  const T x12 = x4 * x8;
  const T x14 = x7 * x7;
  const T x21 = x7 * x14;
  // (atan has the longest chain of dependent operations: it goes first.)
  const T a7 = WithSign(fastmath::AtanOfSmall(x7, x14, x21), sign);
  const T t1 = WithSign(fastmath::TanhPade9(ax, x2, x3), sign);
  const T t2 = fastmath::TanhPade7(x2, x4, x6);
  const T t3 = WithSign(fastmath::TanhPade7(x3, x6, x9), sign);
  const T t4 = fastmath::TanhPade7(x4, x8, x12);
  return Combine(x, a7, t1, t2, t3, t4);
}

TALVOR_MATH_INLINE double Shape(double x)
{
  return fastmath::Abs(x) < 0.75 ? ShapeBelowThreeQuarters(x) : ShapeAnywhere(x);
}
}  // namespace waveshaper
