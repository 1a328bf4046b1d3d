// The waveshaper's own tanh and atan against the C library (with long double
// as the reference), the waveshaper's known values, and its many-values form
// against the one-value form.
#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <vector>

#include "dsp/FastMath.h"
#include "dsp/Waveshaper.h"

namespace
{
const double kInf = std::numeric_limits<double>::infinity();
const double kNaN = std::numeric_limits<double>::quiet_NaN();
const double kDenormMin = std::numeric_limits<double>::denorm_min();

// The spacing of doubles at the true value r.
double UlpAt(long double r)
{
  const double a = std::fabs((double)r);
  if (a < DBL_MIN)
    return kDenormMin;
  int e = 0;
  std::frexp(a, &e);
  return std::ldexp(1.0, e - 53);
}

struct ErrorStats
{
  double maxAbs = 0.0;
  double maxUlp = 0.0;
  double worstX = 0.0;
  long count = 0;
};

template <class Fast, class Reference>
void Measure(ErrorStats& stats, double x, Fast fast, Reference reference)
{
  for (double v : {x, -x})
  {
    const long double r = reference((long double)v);
    const long double err = std::fabs((long double)fast(v) - r);
    const double ulps = (double)(err / UlpAt(r));
    stats.maxAbs = std::fmax(stats.maxAbs, (double)err);
    if (ulps > stats.maxUlp)
    {
      stats.maxUlp = ulps;
      stats.worstX = v;
    }
    ++stats.count;
  }
}

// Random arguments in every binade from the smallest subnormal to 1e300,
// a dense uniform grid where the functions curve, and runs of neighbouring
// doubles on both sides of each point where the evaluation changes method.
template <class Fast, class Reference>
ErrorStats Sweep(Fast fast, Reference reference, std::initializer_list<double> seams)
{
  ErrorStats stats;
  std::mt19937_64 rng(20240611);
  for (int e = -1074; e < 997; ++e)
  {
    std::uniform_real_distribution<double> in(std::ldexp(1.0, e), std::ldexp(1.0, e + 1));
    for (int i = 0; i < (e > -60 && e < 8 ? 2000 : 20); ++i)
      Measure(stats, in(rng), fast, reference);
  }
  for (double x = 0.0; x < 24.0; x += 1.0 / 8192)
    Measure(stats, x, fast, reference);
  for (double seam : seams)
  {
    double x = seam;
    for (int i = 0; i < 1000; ++i)
      x = std::nextafter(x, 0.0);
    for (int i = 0; i < 2000; ++i, x = std::nextafter(x, kInf))
      Measure(stats, x, fast, reference);
  }
  return stats;
}

bool SameValue(double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0 || (a != a && b != b); }
}  // namespace

TEST(FastMath, TanhStaysWithinAnUlpOfTheTrueValue)
{
  const ErrorStats s = Sweep([](double x) { return fastmath::Tanh(x); }, [](long double x) { return tanhl(x); },
                             {0.75, 19.0615, 22.0});
  EXPECT_LE(s.maxAbs, 2e-16);
  EXPECT_LE(s.maxUlp, 1.5) << "at " << s.worstX;
  EXPECT_GT(s.count, 300000);
}

TEST(FastMath, AtanStaysWithinAnUlpOfTheTrueValue)
{
  const ErrorStats s = Sweep([](double x) { return fastmath::Atan(x); }, [](long double x) { return atanl(x); },
                             {0.4375, 0.6875, 1.1875, 2.4375});
  EXPECT_LE(s.maxAbs, 2e-16);
  EXPECT_LE(s.maxUlp, 1.5) << "at " << s.worstX;
}

TEST(FastMath, SpecialArgumentsGiveWhatTheLibraryGives)
{
  // Zeros keep their sign, tiny values come back unchanged, and large ones
  // give +-1 and +-pi/2 rounded.
  for (double x : {0.0, kDenormMin, 3 * kDenormMin, DBL_MIN, 1e-200, 30.0, 1e5, 1e300, DBL_MAX, kInf})
    for (double v : {x, -x})
    {
      EXPECT_EQ(fastmath::Tanh(v), std::tanh(v)) << v;
      EXPECT_EQ(std::signbit(fastmath::Tanh(v)), std::signbit(v)) << v;
    }
  for (double x : {0.0, kDenormMin, 3 * kDenormMin, DBL_MIN, 1e-200, 1e17, 1e300, DBL_MAX, kInf})
    for (double v : {x, -x})
    {
      EXPECT_EQ(fastmath::Atan(v), std::atan(v)) << v;
      EXPECT_EQ(std::signbit(fastmath::Atan(v)), std::signbit(v)) << v;
    }
  for (double nan : {kNaN, -kNaN})
  {
    EXPECT_TRUE(std::isnan(fastmath::Tanh(nan)));
    EXPECT_TRUE(std::isnan(fastmath::Atan(nan)));
  }
}

TEST(Waveshaper, KnownValuesAndSmallSignalGain)
{
  EXPECT_NEAR(SaturateSample(1.0), 0.99762, 1e-5);
  EXPECT_NEAR(SaturateSample(-1.0), -1.09663, 1e-5);
  EXPECT_NEAR(SaturateSample(0.5), 0.56305, 1e-5);
  EXPECT_NEAR(SaturateSample(-0.5), -0.57299, 1e-5);
  EXPECT_NEAR(SaturateSample(1e-6) / 1e-6, 1.2, 1e-6);
  EXPECT_EQ(SaturateSample(0.0), 0.0);
}

TEST(Waveshaper, ManyValuesAtOnceMatchOneAtATimeBitForBitOnEveryPath)
{
  std::vector<double> values;
  for (double x = -6.0; x <= 6.0; x += 0.0371)
    values.push_back(x);
  // Zeros, infinities, NaN, and the seams where a form or a range changes.
  for (double x : {0.0, -0.0, 1e-300, -kDenormMin, 0.75, -0.75, 0.7499999999999999, 0.4375, 0.8886, 0.9306, 1.1875,
                   22.0, 1e10, -1e40, 1e200, DBL_MAX, kInf, -kInf, kNaN})
    values.push_back(x);

  const size_t n = values.size();
  for (DspPath path : kDspPaths)
  {
    if (!DspPathSupported(path))
      continue;
    // Every count up to past two groups, from aligned and unaligned starts,
    // so that both the groups and the values left over are seen; nothing is
    // written past the end, and in place works too.
    std::vector<double> out(n + 1);
    for (size_t offset : {0, 1})
      for (int count = 0; count <= 40; ++count)
      {
        const size_t from = n - 40 - offset;
        std::fill(out.begin(), out.end(), 7.0);
        SaturateSamples(values.data() + from, out.data() + offset, count, path);
        for (int i = 0; i < count; ++i)
          EXPECT_TRUE(SameValue(out[offset + i], SaturateSample(values[from + i])))
            << DspPathName(path) << " at " << values[from + i];
        EXPECT_EQ(out[offset + count], 7.0) << DspPathName(path);
      }
    std::vector<double> inPlace = values;
    SaturateSamples(inPlace.data(), inPlace.data(), (int)n, path);
    for (size_t i = 0; i < n; ++i)
      EXPECT_TRUE(SameValue(inPlace[i], SaturateSample(values[i]))) << DspPathName(path) << " at " << values[i];
    SaturateSamples(values.data(), out.data(), -3, path);
  }
}

TEST(Waveshaper, AgreesWithTheLibraryFunctionsToTheLastBits)
{
  // The same expression evaluated with the C library's tanh and atan.
  auto reference = [](double x) {
    const double x2 = x * x, x3 = x2 * x, x4 = x3 * x, x7 = x4 * x * x * x;
    const double t1 = std::tanh(x), t3 = std::tanh(x3);
    return x + 0.1 * ((0.6 * std::atan(x7) + (t1 - (0.05 * std::tanh(x2) + t3))) +
                      (t1 - (0.6 * std::tanh(x4) + t3)));
  };
  long count = 0, floatDiffers = 0;
  double maxUlp = 0.0;
  for (double x = -4.0; x <= 4.0; x += 1.0 / 65536)
  {
    const double got = SaturateSample(x), want = reference(x);
    maxUlp = std::fmax(maxUlp, std::fabs(got - want) / UlpAt(want));
    floatDiffers += (float)got != (float)want;
    ++count;
  }
  // Rounded to 32 bits, as the filters take it, the difference all but vanishes.
  EXPECT_LE(maxUlp, 4.0);
  EXPECT_LE(floatDiffers, count / 100000);
}
