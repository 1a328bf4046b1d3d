#pragma once
// The equaliser's building blocks: small value types with their coefficients
// kept apart from their running state, so that a section can be redesigned
// every block without disturbing the signal flowing through it.

#include <cfloat>
#include <cmath>
#include <cstdint>

enum BiquadType : int32_t
{
  Lowpass = 0,
  Highpass = 1,
  Bandpass = 2,
  Notch = 3,
  Peak = 4,
  LowShelf = 5,
  HighShelf = 6,
};

// First-order low-pass used to glide targets: state = a * x + b * state.
struct OnePoleSmoother
{
  double a = 1.0;
  double b = 0.0;
  double state = 0.0;

  // Corner frequency fc at sample rate fs (both Hz).
  void design(double fc, double fs);
  double process(double x)
  {
    state = a * x + b * state;
    return state;
  }
  // One step toward x that lands on x once within `tolerance` of it: a
  // glide ends on its target's exact value instead of creeping toward it
  // forever, so that a settled control gives exactly its own design.
  double glide(double x, double tolerance)
  {
    process(x);
    if (std::fabs(state - x) <= tolerance)
      state = x;
    return state;
  }
};

// 64-bit bilinear-transform section in transposed direct form II.
struct BiquadSection
{
  BiquadType type = Lowpass;
  double b0 = 1.0, b1 = 0.0, b2 = 0.0;
  double a1 = 0.0, a2 = 0.0;
  double fc = 0.5;  // cycles per sample
  double q = 0.707;
  double gainDb = 0.0;
  double z1 = 0.0, z2 = 0.0;

  // Recomputes the coefficients from type, fc, q and gainDb. The state is kept.
  void design();
  void design(BiquadType newType, double newFc, double newQ, double newGainDb)
  {
    type = newType;
    fc = newFc;
    q = newQ;
    gainDb = newGainDb;
    design();
  }

  double process(double x)
  {
    const double y = b0 * x + z1;
    z1 = b1 * x + z2 - a1 * y;
    z2 = b2 * x - a2 * y;
    return y;
  }

  void reset() { z1 = z2 = 0.0; }
  bool stateIsFinite() const;
  bool coefficientsAreFinite() const;
  void makeTransparent();
};

// 64-bit peaking section in direct form I with a Nyquist gain matched to the
// analog prototype, so that peaks near the top of the band keep their shape.
struct ParametricSection
{
  double b0 = 0.0, b1 = 0.0, b2 = 0.0;
  double a1 = 0.0, a2 = 0.0;
  double fs = 0.0;  // Hz, set before each design
  double pi;
  double sqrt2;
  double x1 = 0.0, x2 = 0.0, y1 = 0.0, y2 = 0.0;

  ParametricSection();

  // gainDb at centre frequency f (Hz) with bandwidth factor w; uses fs.
  void design(double gainDb, double f, double w);

  double process(double x)
  {
    const double y = b0 * x + b1 * x1 + b2 * x2 - a1 * y1 - a2 * y2;
    x2 = x1;
    x1 = x;
    y2 = y1;
    y1 = y;
    return y;
  }

  void reset() { x1 = x2 = y1 = y2 = 0.0; }
  bool stateIsFinite() const;
  bool coefficientsAreFinite() const;
  void makeTransparent();
};

// 32-bit low-pass whose magnitude follows the analog prototype up to the
// Nyquist frequency instead of being squeezed to zero there.
struct MatchedLowpass
{
  float x1 = 0.0f, x2 = 0.0f, y1 = 0.0f, y2 = 0.0f;
  float b0 = 0.0f, b1 = 0.0f, b2 = 0.0f, a1 = 0.0f, a2 = 0.0f;

  void design(float fc, float q, float fs);

  float process(float x)
  {
    float y = b1 * x1 + b0 * x + b2 * x2 - a1 * y1 - a2 * y2;
    // Inputs near the float limit can overflow the sums: infinity, or NaN
    // from infinity minus infinity, would stay in the recursion. Such a
    // result becomes the largest float of its sign (NaN: positive); the
    // engine starts the filters afresh after a block that reached it.
    if (!(y <= FLT_MAX))
      y = FLT_MAX;
    else if (y < -FLT_MAX)
      y = -FLT_MAX;
    // Flush results at or below the smallest normal float: subnormal
    // arithmetic is very slow on some processors.
    const double yd = y;
    if ((yd > 0.0 && yd < 1.175494351e-38) || (yd < 0.0 && yd > -1.175494351e-38))
      y = 0.0f;
    x2 = x1;
    x1 = x;
    y2 = y1;
    y1 = y;
    return y;
  }

  void reset() { x1 = x2 = y1 = y2 = 0.0f; }
  bool stateIsFinite() const;
  bool coefficientsAreFinite() const;
  void makeTransparent();
};
