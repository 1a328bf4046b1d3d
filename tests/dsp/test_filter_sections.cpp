// The filter sections against their analytic responses, evaluated from the
// designed coefficients on the unit circle.
#include <gtest/gtest.h>

#include <cmath>
#include <complex>

#include "dsp/FilterSections.h"

namespace
{
using cd = std::complex<double>;
const double kPi = 3.14159265358979323846;

template <class S>
cd Response(const S& s, double w)  // w in radians per sample
{
  const cd z1 = std::polar(1.0, -w);
  const cd z2 = z1 * z1;
  return ((double)s.b0 + (double)s.b1 * z1 + (double)s.b2 * z2) / (1.0 + (double)s.a1 * z1 + (double)s.a2 * z2);
}

template <class S>
double Db(const S& s, double w)
{
  return 20.0 * std::log10(std::abs(Response(s, w)));
}

template <class S>
bool Stable(const S& s)
{
  return std::fabs((double)s.a2) < 1.0 && std::fabs((double)s.a1) < 1.0 + (double)s.a2;
}

BiquadSection Designed(BiquadType t, double fc, double q, double gainDb)
{
  BiquadSection s;
  s.design(t, fc, q, gainDb);
  return s;
}

double AnalogLowpassGain(double w, double w0, double q)
{
  const double r = w / w0;
  return 1.0 / std::sqrt((1.0 - r * r) * (1.0 - r * r) + (r / q) * (r / q));
}
// Where fn crosses level between lo and hi, found by bisection.
template <class Fn>
double Crossing(Fn fn, double lo, double hi, double level)
{
  const bool lowBelow = fn(lo) < level;
  for (int i = 0; i < 200; ++i)
  {
    const double mid = 0.5 * (lo + hi);
    ((fn(mid) < level) == lowBelow ? lo : hi) = mid;
  }
  return 0.5 * (lo + hi);
}
}  // namespace

TEST(BiquadSection, ShelvesReachTheirGainAtDcAndNyquist)
{
  for (double g : {-12.15, -3.0, 0.7, 6.0, 12.75})
    for (double fc : {0.0002, 0.01, 0.2, 0.43})
    {
      const BiquadSection low = Designed(LowShelf, fc, 0.13, g);
      const BiquadSection high = Designed(HighShelf, fc, 0.13, g);
      EXPECT_NEAR(Db(low, 0.0), g, 1e-6) << g << " " << fc;
      EXPECT_NEAR(Db(low, kPi), 0.0, 1e-6) << g << " " << fc;
      EXPECT_NEAR(Db(high, 0.0), 0.0, 1e-6) << g << " " << fc;
      EXPECT_NEAR(Db(high, kPi), g, 1e-6) << g << " " << fc;
      EXPECT_TRUE(Stable(low) && Stable(high));
    }
}

TEST(BiquadSection, CutIsTheExactInverseOfBoost)
{
  for (BiquadType t : {LowShelf, HighShelf, Peak})
  {
    const BiquadSection boost = Designed(t, 0.004, 0.13, 12.15);
    const BiquadSection cut = Designed(t, 0.004, 0.13, -12.15);
    for (double w = 0.0; w <= kPi; w += kPi / 97.0)
      EXPECT_NEAR(std::abs(Response(boost, w) * Response(cut, w) - 1.0), 0.0, 1e-9) << t << " " << w;
  }
}

TEST(BiquadSection, ZeroGainIsFlatAndOtherTypesBehave)
{
  for (BiquadType t : {LowShelf, HighShelf, Peak})
  {
    const BiquadSection s = Designed(t, 0.05, 0.13, 0.0);
    EXPECT_EQ(s.b1, s.a1);
    EXPECT_EQ(s.b2, s.a2);
    EXPECT_NEAR(s.b0, 1.0, 1e-15);
  }
  const BiquadSection hp = Designed(Highpass, 0.1, 0.707, 0.0), lp = Designed(Lowpass, 0.1, 0.707, 0.0);
  const double wc = 2 * kPi * 0.1;
  EXPECT_NEAR(std::abs(Response(hp, 0.0)) + std::abs(Response(lp, kPi)), 0.0, 1e-12);
  EXPECT_NEAR(std::abs(Response(hp, kPi)) * std::abs(Response(lp, 0.0)), 1.0, 1e-12);
  EXPECT_NEAR(std::abs(Response(hp, wc)), 0.707, 1e-9);  // gain q at the corner
  EXPECT_NEAR(std::abs(Response(Designed(Bandpass, 0.1, 2.0, 0.0), wc)), 1.0, 1e-12);
  EXPECT_NEAR(std::abs(Response(Designed(Notch, 0.1, 2.0, 0.0), wc)), 0.0, 1e-9);
  EXPECT_NEAR(Db(Designed(Peak, 0.1, 2.0, 7.0), 2 * kPi * 0.1), 7.0, 1e-9);
}

TEST(Sections, DesignsPastNyquistStayFiniteAndStable)
{
  // A 19 kHz shelf at a 32 kHz rate, or any corner past Nyquist.
  for (double fc : {0.49, 0.5, 0.59375, 0.9, 3.0})
    for (BiquadType t : {Highpass, LowShelf, HighShelf})
      EXPECT_TRUE(Stable(Designed(t, fc, 0.13, 12.0))) << fc << " " << t;
  ParametricSection p;
  p.fs = 8000.0;
  for (double g : {-12.1, 12.4})
  {
    p.design(g, 5010.0, 0.55);
    EXPECT_TRUE(std::isfinite(p.b0) && std::isfinite(p.b2) && Stable(p));
  }
}

TEST(ParametricSection, MatchesItsAnalogPrototypeFromDcToNyquist)
{
  ParametricSection flat;
  flat.fs = 48000.0;
  flat.design(0.0, 1000.0, 0.18);
  EXPECT_TRUE(flat.b0 == 1.0 && flat.b1 == 0.0 && flat.b2 == 0.0 && flat.a1 == 0.0 && flat.a2 == 0.0);
  for (double fs : {44100.0, 96000.0})
    for (double g : {-12.1, 2.3, 12.4})
      for (double f : {394.0, 5010.0})
        for (double w : {0.18, 0.55})
        {
          ParametricSection p;
          p.fs = fs;
          p.design(g, f, w);
          ASSERT_TRUE(Stable(p));
          // Unity at DC, the full gain at the centre, and the band-edge gain
          // (the peak's dB over sqrt 2) at two frequencies the bandwidth
          // factor's width apart.
          const double w0 = 2 * kPi * f / fs, width = w0 / (w * 1.588308819);
          const double G = std::pow(10.0, g / 20), GB = std::pow(10.0, g / std::sqrt(2.0) / 20);
          auto digital = [&](double v) { return std::abs(Response(p, v)); };
          EXPECT_NEAR(Db(p, 0.0), 0.0, 1e-9);
          EXPECT_NEAR(Db(p, w0), g, 1e-6);
          EXPECT_NEAR(Crossing(digital, w0, kPi, GB) - Crossing(digital, 0.0, w0, GB), width, 1e-9);
          // At Nyquist, the gain of the analog peak with the same centre, gain
          // and band edges; its damping follows from measuring its own width.
          auto analog = [&](double damping, double v) {
            const cd s(0.0, v);
            return std::abs((s * s + G * damping * s + w0 * w0) / (s * s + damping * s + w0 * w0));
          };
          auto unitDamped = [&](double v) { return analog(1.0, v); };
          const double damping = width / (Crossing(unitDamped, w0, 1e6, GB) - Crossing(unitDamped, 0.0, w0, GB));
          EXPECT_NEAR(digital(kPi), analog(damping, kPi), 1e-9);
        }
}

TEST(MatchedLowpass, UnityAtDcAnalogGainAtNyquistStable)
{
  // Down to rates whose Nyquist frequency lies below the corner.
  for (float fs : {44100.f, 48000.f, 96000.f, 32000.f, 22050.f, 8000.f})
  {
    MatchedLowpass m;
    m.design(19100.f, 0.707f, fs);
    EXPECT_TRUE(Stable(m)) << fs;
    EXPECT_NEAR(m.b0 + m.b1 + m.b2, 1.0f + m.a1 + m.a2, 1e-6f) << fs;
    const double g1 = AnalogLowpassGain(kPi, 2 * kPi * 19100.0 / fs, 0.707);
    EXPECT_NEAR(std::abs(Response(m, kPi)), g1, 2e-3) << fs;
  }
}

TEST(MatchedLowpass, DecaysToExactZeroWithoutSubnormals)
{
  MatchedLowpass m;
  m.design(19100.f, 0.707f, 44100.f);
  float y = m.process(1.0f);
  int n = 0;
  for (; n < 100000 && y != 0.0f; ++n)
  {
    y = m.process(0.0f);
    ASSERT_FALSE(std::fpclassify(y) == FP_SUBNORMAL);
  }
  EXPECT_LT(n, 100000);
  for (int i = 0; i < 4; ++i)
    EXPECT_EQ(m.process(0.0f), 0.0f);
  // The smallest normal value is flushed as well.
  MatchedLowpass pass;
  pass.makeTransparent();
  EXPECT_EQ(pass.process(1.17549435e-38f), 0.0f);
  EXPECT_EQ(pass.process(-2e-38f), -2e-38f);
}
