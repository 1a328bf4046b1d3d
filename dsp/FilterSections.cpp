#include "dsp/FilterSections.h"

#include <algorithm>
#include <cmath>
#include <initializer_list>

namespace
{
constexpr double kPi = 3.14159265358979323846;
constexpr double kTwoPi = 2.0 * kPi;

// Highest design frequency, as a fraction of the sample rate. At and above
// the Nyquist frequency the bilinear designs turn unstable (their poles leave
// the unit circle), so a corner the sample rate cannot represent is designed
// just below Nyquist instead.
constexpr double kMaxDesignRatio = 0.49;

inline bool allFinite(std::initializer_list<double> values)
{
  for (double v : values)
    if (!std::isfinite(v))
      return false;
  return true;
}
}  // namespace

// ---- OnePoleSmoother -------------------------------------------------------------

void OnePoleSmoother::design(double fcHz, double fsHz)
{
  b = std::exp(-kTwoPi * fcHz / fsHz);
  a = 1.0 - b;
}

// ---- BiquadSection ---------------------------------------------------------------

void BiquadSection::design()
{
  const double V = std::pow(10.0, std::fabs(gainDb) / 20.0);
  const double K = std::tan(kPi * (fc < kMaxDesignRatio ? fc : kMaxDesignRatio));
  const double K2 = K * K;
  const bool boost = gainDb >= 0.0;
  double n;

  switch (type)
  {
  case Lowpass:
    n = 1.0 / (1.0 + K / q + K2);
    b0 = K2 * n;
    b1 = 2.0 * b0;
    b2 = b0;
    a1 = 2.0 * (K2 - 1.0) * n;
    a2 = (1.0 - K / q + K2) * n;
    break;
  case Highpass:
    n = 1.0 / (1.0 + K / q + K2);
    b0 = n;
    b1 = -2.0 * n;
    b2 = n;
    a1 = 2.0 * (K2 - 1.0) * n;
    a2 = (1.0 - K / q + K2) * n;
    break;
  case Bandpass:
    n = 1.0 / (1.0 + K / q + K2);
    b0 = K / q * n;
    b1 = 0.0;
    b2 = -b0;
    a1 = 2.0 * (K2 - 1.0) * n;
    a2 = (1.0 - K / q + K2) * n;
    break;
  case Notch:
    n = 1.0 / (1.0 + K / q + K2);
    b0 = (1.0 + K2) * n;
    b1 = 2.0 * (K2 - 1.0) * n;
    b2 = b0;
    a1 = b1;
    a2 = (1.0 - K / q + K2) * n;
    break;
  case Peak:
    if (boost)
    {
      n = 1.0 / (1.0 + K / q + K2);
      b0 = (1.0 + V * K / q + K2) * n;
      b1 = 2.0 * (K2 - 1.0) * n;
      b2 = (1.0 - V * K / q + K2) * n;
      a1 = b1;
      a2 = (1.0 - K / q + K2) * n;
    }
    else
    {
      n = 1.0 / (1.0 + V * K / q + K2);
      b0 = (1.0 + K / q + K2) * n;
      b1 = 2.0 * (K2 - 1.0) * n;
      b2 = (1.0 - K / q + K2) * n;
      a1 = b1;
      a2 = (1.0 - V * K / q + K2) * n;
    }
    break;
  case LowShelf:
    if (boost)
    {
      n = 1.0 / (1.0 + K / q + K2);
      b0 = (1.0 + V * K / q + V * K2) * n;
      b1 = 2.0 * (V * K2 - 1.0) * n;
      b2 = (1.0 - V * K / q + V * K2) * n;
      a1 = 2.0 * (K2 - 1.0) * n;
      a2 = (1.0 - K / q + K2) * n;
    }
    else
    {
      n = 1.0 / (1.0 + V * K / q + V * K2);
      b0 = (1.0 + K / q + K2) * n;
      b1 = 2.0 * (K2 - 1.0) * n;
      b2 = (1.0 - K / q + K2) * n;
      a1 = 2.0 * (V * K2 - 1.0) * n;
      a2 = (1.0 - V * K / q + V * K2) * n;
    }
    break;
  case HighShelf:
    if (boost)
    {
      n = 1.0 / (1.0 + K / q + K2);
      b0 = (V + V * K / q + K2) * n;
      b1 = 2.0 * (K2 - V) * n;
      b2 = (V - V * K / q + K2) * n;
      a1 = 2.0 * (K2 - 1.0) * n;
      a2 = (1.0 - K / q + K2) * n;
    }
    else
    {
      n = 1.0 / (V + V * K / q + K2);
      b0 = (1.0 + K / q + K2) * n;
      b1 = 2.0 * (K2 - 1.0) * n;
      b2 = (1.0 - K / q + K2) * n;
      a1 = 2.0 * (K2 - V) * n;
      a2 = (V - V * K / q + K2) * n;
    }
    break;
  default:
    // Unknown types keep whatever coefficients the section had.
    break;
  }
}

bool BiquadSection::stateIsFinite() const { return allFinite({z1, z2}); }

bool BiquadSection::coefficientsAreFinite() const { return allFinite({b0, b1, b2, a1, a2}); }

void BiquadSection::makeTransparent()
{
  b0 = 1.0;
  b1 = b2 = a1 = a2 = 0.0;
}

// ---- ParametricSection -------------------------------------------------------------

ParametricSection::ParametricSection() : pi(kPi), sqrt2(std::sqrt(2.0)) {}

void ParametricSection::design(double gainDb, double f, double w)
{
  if (!(f < kMaxDesignRatio * fs))
    f = kMaxDesignRatio * fs;
  const double G0 = 1.0;
  const double w0 = (pi + pi) / fs * f;
  const double dw = w0 / (w * 1.588308819);
  const double G = std::pow(10.0, gainDb / 20.0);
  const double GB = std::pow(10.0, gainDb / sqrt2 / 20.0);

  if (G == GB)
  {
    makeTransparent();
    return;
  }

  const double G2 = G * G;
  const double GB2 = GB * GB;
  const double F = std::fabs(G2 - GB2);
  const double G00 = std::fabs(G2 - G0 * G0);
  const double F00 = std::fabs(GB2 - G0 * G0);

  const double pi2 = pi * pi;
  const double dw2 = dw * dw;
  const double d = w0 * w0 - pi2;
  const double d2 = d * d;
  const double G1 = std::sqrt((d2 * (G0 * G0) + G2 * F00 * pi2 * dw2 / F) / (d2 + F00 * pi2 * dw2 / F));

  const double G11 = std::fabs(G2 - G1 * G1);
  const double F11 = std::fabs(GB2 - G1 * G1);
  const double G01 = std::fabs(G2 - G0 * G1);
  const double F01 = std::fabs(GB2 - G0 * G1);

  const double t = std::tan(w0 / 2.0);
  const double W2 = std::sqrt(G11 / G00) * (t * t);
  const double DW = (1.0 + std::sqrt(F00 / F11) * W2) * std::tan(dw / 2.0);

  const double C1 = F11 * (DW * DW) - 2.0 * W2 * (F01 - std::sqrt(F00 * F11));
  const double D1 = 2.0 * W2 * (G01 - std::sqrt(G00 * G11));

  const double A = std::sqrt((C1 + D1) / F);
  const double B = std::sqrt((G2 * C1 + GB2 * D1) / F);
  const double M = 1.0 + W2 + A;

  b0 = (G1 + G0 * W2 + B) / M;
  b1 = -2.0 * (G1 - G0 * W2) / M;
  b2 = (G1 - B + G0 * W2) / M;
  a1 = -2.0 * (1.0 - W2) / M;
  a2 = (1.0 + W2 - A) / M;
}

bool ParametricSection::stateIsFinite() const { return allFinite({x1, x2, y1, y2}); }

bool ParametricSection::coefficientsAreFinite() const { return allFinite({b0, b1, b2, a1, a2}); }

void ParametricSection::makeTransparent()
{
  b0 = 1.0;
  b1 = b2 = a1 = a2 = 0.0;
}

// ---- MatchedLowpass ----------------------------------------------------------------

void MatchedLowpass::design(float fcHz, float Q, float fsHz)
{
  const float w0 = (float)(kTwoPi * (double)fcHz / (double)fsHz);
  const float w0Q = w0 * Q;

  const double nyq1 = kTwoPi / (double)w0Q;
  const double nyq2 = 2.0 - (std::sqrt(2.0) * kPi / (double)w0) * (std::sqrt(2.0) * kPi / (double)w0);
  const float g1 = (float)(2.0 / std::sqrt(nyq1 * nyq1 + nyq2 * nyq2));

  float Os;
  if ((double)Q > std::sqrt(0.5))
  {
    // Resonant form: match the height of the resonance peak.
    const float Q2 = Q * Q;
    const float gr = 2.0f * Q2 / std::sqrt(4.0f * Q2 - 1.0f);
    const float wr = w0 * std::sqrt(1.0f - 1.0f / (2.0f * Q2));
    const float Or = std::tan(wr / 2.0f);
    Os = Or * std::pow((gr * gr - g1 * g1) / (gr * gr - 1.0f), 0.25f);
  }
  else
  {
    const float Q2 = Q * Q;
    const float Q4 = Q2 * Q2;
    const float s = std::sqrt((1.0f - 4.0f * Q2) / Q4 + 4.0f / g1);
    const float wm = w0 * std::sqrt((2.0f - 1.0f / (2.0f * Q2) + s) / 2.0f);
    Os = w0 * std::pow(1.0f - g1 * g1, 0.25f) / 2.0f;
    // Once wm reaches pi its tangent wraps to negative values, which would
    // select an unstable design; the bound then no longer limits anything.
    if ((double)wm < kPi)
      Os = std::min(Os, std::tan(wm / 2.0f));
  }

  const float wp = 2.0f * std::atan(Os);
  const float sg1 = std::sqrt(g1);
  const float wz = 2.0f * std::atan(Os / sg1);

  const float rp = wp / w0;
  const float rz = wz / w0;
  const float tp = wp / (w0 * Q);
  const float tz = wz / (w0 * Q);
  const float up = 1.0f - rp * rp;
  const float uz = 1.0f - rz * rz;
  const float gp = 1.0f / std::sqrt(tp * tp + up * up);
  const float gz = 1.0f / std::sqrt(tz * tz + uz * uz);

  const float gp2 = gp * gp;
  const float gz2 = gz * gz;
  const float g1m = (g1 - 1.0f) * (g1 - 1.0f);
  const float qp = std::sqrt(g1 * (gp2 - gz2) / ((gz2 + g1) * g1m));
  const float qz = std::sqrt(g1 * g1 * (gp2 - gz2) / ((gp2 + g1) * gz2 * g1m));

  const float Os2 = Os * Os;
  const float n = Os2 + Os / qp + 1.0f;
  b0 = (Os2 + sg1 * Os / qz + g1) / n;
  b1 = 2.0f * (Os2 - g1) / n;
  b2 = (Os2 - sg1 * Os / qz + g1) / n;
  a1 = 2.0f * (Os2 - 1.0f) / n;
  a2 = (Os2 - Os / qp + 1.0f) / n;
}

bool MatchedLowpass::stateIsFinite() const
{
  return std::isfinite(x1) && std::isfinite(x2) && std::isfinite(y1) && std::isfinite(y2);
}

bool MatchedLowpass::coefficientsAreFinite() const
{
  return std::isfinite(b0) && std::isfinite(b1) && std::isfinite(b2) && std::isfinite(a1) &&
         std::isfinite(a2);
}

void MatchedLowpass::makeTransparent()
{
  b0 = 1.0f;
  b1 = b2 = a1 = a2 = 0.0f;
}
