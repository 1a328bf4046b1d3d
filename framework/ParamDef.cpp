#include "framework/ParamDef.h"

#include <charconv>
#include <cmath>
#include <cstring>

#include "framework/TextCopy.h"

namespace
{
// Room for the longest fixed-point text of a double (309 digits before the
// point, the sign, the point and six decimals) before it is cut to fit.
constexpr int kNumberTextSize = 330;

bool IsBlank(char c) { return c == ' ' || c == '\t'; }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// The number writer behind every display text: "%d" of an integer and "%.*f"
// of a double as the C locale writes them, whatever the process's locale.
void WriteNumber(char* out, int32_t whole)
{
  char text[kNumberTextSize];
  *std::to_chars(text, text + sizeof(text) - 1, whole).ptr = '\0';
  CopyText(out, ParamDef::kFormatBufferSize, text);
}

void WriteNumber(char* out, double v, int decimals)
{
  char text[kNumberTextSize];
  const std::to_chars_result r =
      std::to_chars(text, text + sizeof(text) - 1, v, std::chars_format::fixed, decimals);
  *(r.ec == std::errc() ? r.ptr : text) = '\0';
  CopyText(out, ParamDef::kFormatBufferSize, text);
}

// The number reader behind every typed value: blanks, an optional sign, then a
// decimal number (digits with an optional point and exponent), whatever the
// process's locale. Returns where the number ends, or null when there is none;
// infinities, NaN and numbers beyond a double are none.
const char* ReadDecimal(const char* text, double* out)
{
  while (IsBlank(*text)) ++text;
  bool negative = false;
  if (*text == '+' || *text == '-')
  {
    negative = (*text == '-');
    ++text;
  }
  if (!(IsDigit(*text) || (*text == '.' && IsDigit(text[1])))) return nullptr;
  double v = 0.0;
  const std::from_chars_result r =
      std::from_chars(text, text + std::strlen(text), v, std::chars_format::general);
  if (r.ec != std::errc() || !std::isfinite(v)) return nullptr;
  *out = negative ? -v : v;
  return r.ptr;
}

bool IsUnitChar(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '%'; }

// What may follow a number: blanks, then at most one unit (`label` when it is
// not empty, or a word of letters or "%"), then blanks.
bool IsUnitOnly(const char* rest, const char* label)
{
  while (IsBlank(*rest)) ++rest;
  const size_t labelLength = std::strlen(label);
  if (labelLength && std::strncmp(rest, label, labelLength) == 0)
    rest += labelLength;
  else
    while (IsUnitChar(*rest)) ++rest;
  while (IsBlank(*rest)) ++rest;
  return *rest == '\0';
}

// Truncation toward zero that stays defined for NaN and for values beyond int32.
int32_t TruncateToInt32(double v)
{
  if (std::isnan(v)) return 0;
  if (v >= 2147483647.0) return INT32_MAX;
  if (v <= -2147483648.0) return INT32_MIN;
  return (int32_t)v;
}
}  // namespace

void ParamDef::InitContinuous(const char* nameText, double defaultVal, double minVal,
                              double maxVal, double stepVal, double shapeVal)
{
  if (kind == ParamKindNone) kind = ParamKindDouble;
  CopyText(name, nameText);
  label[0] = '\0';
  group[0] = '\0';
  minValue = minVal;
  Store(defaultVal);
  step = stepVal;
  defaultValue = defaultVal;
  maxValue = std::fmax(maxVal, minVal + stepVal);

  displayPrecision = 0;
  for (double s = stepVal; s != std::floor(s) && displayPrecision < 6; s *= 10.0)
    ++displayPrecision;

  if (shapeVal != 0.0) shape = shapeVal;
}

void ParamDef::InitInteger(const char* nameText, double defaultVal, double minVal, double maxVal)
{
  if (kind == ParamKindNone) kind = ParamKindInt;
  InitContinuous(nameText, defaultVal, minVal, maxVal, 1.0, 1.0);
}

void ParamDef::SetShape(double shapeVal)
{
  if (shapeVal != 0.0) shape = shapeVal;
}

void ParamDef::SetDisplayText(int32_t v, const char* text)
{
  DisplayTextEntry entry;
  entry.value = v;
  CopyText(entry.text, text);
  displayTexts.push_back(entry);
}

void ParamDef::SetLabel(const char* text) { CopyText(label, text); }

void ParamDef::SetGroup(const char* text) { CopyText(group, text); }

void ParamDef::SetClamped(double v)
{
  // A NaN (from a damaged state, say) must not become the value: the plug-in
  // indexes tables with it. The default is the one value known to be meant.
  if (std::isnan(v)) v = defaultValue;
  if (std::isnan(v)) v = minValue;
  if (v > maxValue) v = maxValue;
  if (v < minValue) v = minValue;
  Store(v);
}

double ParamDef::FromNormalized(double x) const
{
  return minValue + std::pow(x, shape) * (maxValue - minValue);
}

double ParamDef::ToNormalized(double v) const
{
  const double range = maxValue - minValue;
  if (std::isnan(v) || !(range > 0.0)) return 0.0;
  if (v > maxValue) v = maxValue;
  if (v < minValue) v = minValue;
  const double x = std::pow((v - minValue) / range, 1.0 / shape);
  // Hosts must only ever see positions inside [0, 1].
  if (!(x >= 0.0)) return 0.0;
  return x > 1.0 ? 1.0 : x;
}

void ParamDef::SetFromNormalized(double x)
{
  if (std::isnan(x)) return;
  if (x < 0.0) x = 0.0;
  if (x > 1.0) x = 1.0;
  double v = FromNormalized(x);
  // Stepped kinds snap to a multiple of the step counted from zero.
  if (kind != ParamKindDouble && step > 0.0) v = std::floor(v / step + 0.5) * step;
  Store(v < maxValue ? v : maxValue);
}

int ParamDef::IntValue() const { return TruncateToInt32(Value()); }

void ParamDef::FormatForHost(double v, bool isNormalized, char* out, bool useDisplayTexts) const
{
  if (!out) return;
  if (isNormalized)
  {
    v = FromNormalized(std::isnan(v) ? 0.0 : ClampNormalized(v));
    // A stepped parameter shows the position the host's value selects: the
    // one SetFromNormalized would round to (0.9f of 0 to 10 is 8.9999998).
    if (kind != ParamKindDouble && step > 0.0) v = std::fmin(std::floor(v / step + 0.5) * step, maxValue);
  }

  if (useDisplayTexts)
  {
    const char* text = DisplayTextFor(TruncateToInt32(v));
    if (text[0])
    {
      CopyText(out, kFormatBufferSize, text);
      return;
    }
  }

  // Subtracting from +0 instead of negating keeps a zero from showing as "-0".
  if (negateDisplay) v = 0.0 - v;

  if (displayPrecision == 0)
    WriteNumber(out, TruncateToInt32(v));
  else
    WriteNumber(out, v, displayPrecision);

  // A plus sign only in front of a number that shows as more than zero, so
  // that "0.00" stays unsigned and what is shown reads back as shown.
  if (displayPlusSign && out[0] != '-' && std::strpbrk(out, "123456789"))
  {
    char signedText[kFormatBufferSize];
    signedText[0] = '+';
    CopyText(signedText + 1, kFormatBufferSize - 1, out);
    CopyText(out, kFormatBufferSize, signedText);
  }
}

bool ParamDef::ValueFromHostText(const char* text, double* outValue) const
{
  if (!text || !outValue) return false;
  int32_t listed = 0;
  if (ValueFromDisplayText(text, &listed))
  {
    *outValue = listed;
    return true;
  }
  double v = 0.0;
  const char* rest = ReadDecimal(text, &v);
  if (!rest || !IsUnitOnly(rest, label)) return false;
  // The display shows the value negated; undo that.
  *outValue = negateDisplay ? -v : v;
  return true;
}

bool ParamDef::ReadNumber(const char* text, double* outValue)
{
  double v = 0.0;
  const char* rest = text && outValue ? ReadDecimal(text, &v) : nullptr;
  if (!rest) return false;
  while (IsBlank(*rest)) ++rest;
  if (*rest) return false;
  *outValue = v;
  return true;
}

const char* ParamDef::DisplayTextFor(int32_t v) const
{
  for (const DisplayTextEntry& entry : displayTexts)
    if (entry.value == v) return entry.text;
  return "";
}

bool ParamDef::ValueFromDisplayText(const char* text, int32_t* outValue) const
{
  if (!text) return false;
  for (const DisplayTextEntry& entry : displayTexts)
  {
    if (std::strcmp(entry.text, text) == 0)
    {
      if (outValue) *outValue = entry.value;
      return true;
    }
  }
  return false;
}

const char* ParamDef::LabelForHost() const
{
  return DisplayTextFor(IntValue())[0] ? "" : label;
}
