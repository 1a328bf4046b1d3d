#include "plugin/TalvorLegends.h"

#include <charconv>
#include <cmath>
#include <complex>
#include <cstdio>
#include <cstring>

#include "dsp/TalvorEngine.h"
#include "framework/IPlugBase.h"
#include "plugin/TalvorParams.h"

namespace {

constexpr int kGainPositions = 11;
constexpr int kFreqPositions = 5;
constexpr int kFullBoost = kGainPositions - 1;
// The panel's shelf legends are measured at this rate.
constexpr double kLegendRate = 48000.0;
constexpr double kPi = 3.14159265358979323846;

// Fixed-point with `decimals` decimals, without trailing zeros: 2.50 -> "2.5",
// 12.00 -> "12". Always with a point: a host's locale must not change the
// legends (hosts may run under a comma-decimal one).
std::string Trimmed(double v, int decimals)
{
  char text[32];
  const std::to_chars_result r = std::to_chars(text, text + sizeof text - 1, v, std::chars_format::fixed, decimals);
  *(r.ec == std::errc() ? r.ptr : text) = '\0';
  if (std::strchr(text, '.'))
  {
    char* end = text + std::strlen(text);
    while (end[-1] == '0') *--end = '\0';
    if (end[-1] == '.') end[-1] = '\0';
  }
  return text;
}

std::string DbLegend(double db)
{
  if (db == 0.0) return "0 dB";
  return (db > 0.0 ? "+" : "-") + Trimmed(std::fabs(db), 2) + " dB";
}

// Two significant figures, as the legends are engraved.
std::string HzLegend(double hz)
{
  const int digits = 1 - (int)std::floor(std::log10(hz));
  const double scale = std::pow(10.0, digits);
  const double r = std::round(hz * scale) / scale;
  if (r >= 1000.0) return Trimmed(r / 1000.0, 1) + " kHz";
  return Trimmed(r, 0) + " Hz";
}

double ResponseDb(const BiquadSection& s, double hz, double fs)
{
  const std::complex<double> z1 = std::polar(1.0, -2.0 * kPi * hz / fs);
  const std::complex<double> num = s.b0 + s.b1 * z1 + s.b2 * z1 * z1;
  const std::complex<double> den = 1.0 + s.a1 * z1 + s.a2 * z1 * z1;
  return 20.0 * std::log10(std::abs(num / den));
}

// The shelf of a band as the engine designs it once settled at full boost and
// the given frequency position.
BiquadSection SettledShelf(bool low, int freqPosition)
{
  TalvorEngine engine;
  if (low)
  {
    engine.SetLowGain(kFullBoost);
    engine.SetLowFreq(freqPosition);
  }
  else
  {
    engine.SetHighGain(kFullBoost);
    engine.SetHighFreq(freqPosition);
  }
  // The smoothers glide geometrically: step them until the design stops changing.
  BiquadSection last;
  for (int block = 0; block < 100000; ++block)
  {
    engine.PrepareBlock(kLegendRate, TalvorSwitches());
    const BiquadSection& s = low ? engine.Sections(0).lowShelf : engine.Sections(0).highShelf;
    if (s.b0 == last.b0 && s.b1 == last.b1 && s.b2 == last.b2 && s.a1 == last.a1 && s.a2 == last.a2) break;
    last = s;
  }
  return last;
}

// Where a shelf at full boost reaches half its boost in dB: the frequencies
// the panel's shelf selectors show, since the corner values mean little on
// their own at this Q.
double HalfGainHz(bool low, int freqPosition)
{
  const BiquadSection s = SettledShelf(low, freqPosition);
  const double half = s.gainDb / 2.0;
  double lo = 1.0, hi = kLegendRate / 2.0 * 0.9999;
  for (int i = 0; i < 100; ++i)  // bisection on a log axis: the response is monotonic here
  {
    const double mid = std::sqrt(lo * hi);
    // The low shelf falls through the half point, the high shelf rises.
    if ((ResponseDb(s, mid, kLegendRate) > half) == low)
      lo = mid;
    else
      hi = mid;
  }
  return std::sqrt(lo * hi);
}

}  // namespace

std::string TalvorPositionLegend(int paramIdx, int position)
{
  const bool gain = paramIdx == kLowGain || paramIdx == kMidGain || paramIdx == kHighGain;
  const bool freq = paramIdx == kLowFreq || paramIdx == kMidFreq || paramIdx == kHighFreq;
  if (!(gain || freq) || position < 0 || position >= (gain ? kGainPositions : kFreqPositions)) return "";

  TalvorEngine engine;
  switch (paramIdx)
  {
    case kLowGain: engine.SetLowGain(position); return DbLegend(engine.Targets().lowGainDb);
    case kMidGain: engine.SetMidGain(position); return DbLegend(engine.Targets().midGainDb);
    case kHighGain: engine.SetHighGain(position); return DbLegend(engine.Targets().highGainDb);
    case kMidFreq: engine.SetMidFreq(position); return HzLegend(engine.Targets().midFreq);
    case kLowFreq: return HzLegend(HalfGainHz(true, position));
    default: return HzLegend(HalfGainHz(false, position));
  }
}

namespace {

// Gain knobs have the most positions.
struct LegendTable
{
  std::string text[kHighFreq + 1][kGainPositions];
  LegendTable()
  {
    for (int param = kLowGain; param <= kHighFreq; ++param)
      for (int position = 0; position < kGainPositions; ++position)
        text[param][position] = TalvorPositionLegend(param, position);
  }
};

}  // namespace

const char* TalvorPositionLegendText(int paramIdx, int position)
{
  static const LegendTable table;  // built once, thread-safe
  if (paramIdx < kLowGain || paramIdx > kHighFreq || position < 0 || position >= kGainPositions) return "";
  return table.text[paramIdx][position].c_str();
}

void DescribeTalvorParams(IPlugBase& plug)
{
  for (int i = kLowGain; i <= kHighFreq; ++i)
  {
    ParamDef* p = plug.ParamAt(i);
    for (int position = (int)p->Min(); position <= (int)p->Max(); ++position)
      p->SetDisplayText(position, TalvorPositionLegendText(i, position));
  }
  for (int i : {kInput, kOutput})
  {
    plug.ParamAt(i)->SetLabel("dB");
    plug.ParamAt(i)->SetDisplayPlusSign(true);
  }
  // "Bypass" is active-high: 1 keeps the equaliser in, as the editor's "EQ IN" says.
  plug.ParamAt(kBypass)->SetDisplayText(0, "EQ out");
  plug.ParamAt(kBypass)->SetDisplayText(1, "EQ in");
  for (int i : {kFilter, kLink})
  {
    plug.ParamAt(i)->SetDisplayText(0, "off");
    plug.ParamAt(i)->SetDisplayText(1, "on");
  }
}
