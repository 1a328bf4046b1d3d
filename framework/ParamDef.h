#pragma once
// One automatable parameter: its declaration, its current value, and every
// conversion between real values, normalised positions and host texts.

#include <cstdint>
#include <vector>

enum ParamKind : int32_t
{
  ParamKindNone = 0,
  ParamKindBool = 1,
  ParamKindInt = 2,
  ParamKindEnum = 3,
  ParamKindDouble = 4,
};

struct DisplayTextEntry
{
  int32_t value = 0;
  char text[32] = {};
};

class ParamDef
{
public:
  static constexpr int kTextSize = 32;

  // Declaration.
  void InitContinuous(const char* name, double defaultValue, double minValue, double maxValue,
                      double step, double shape = 1.0);
  void InitInteger(const char* name, double defaultValue, double minValue, double maxValue);
  void SetShape(double shape);
  void SetDisplayText(int32_t value, const char* text);  // appends an entry
  void SetNegateDisplay(bool negate) { negateDisplay = negate; }
  void SetCanAutomate(bool can) { canAutomate = can; }
  void SetLabel(const char* text);
  void SetGroup(const char* text);

  // Value access.
  void SetClamped(double v);
  double FromNormalized(double x) const;
  double ToNormalized(double v) const;
  double NormalizedValue() const { return ToNormalized(value); }
  void SetFromNormalized(double x);
  double Value() const { return value; }
  int IntValue() const;  // value truncated toward zero, 0 for NaN

  // Presentation. `out` must hold at least kFormatBufferSize bytes.
  static constexpr int kFormatBufferSize = 64;
  void FormatForHost(double v, bool isNormalized, char* out, bool useDisplayTexts) const;
  const char* DisplayTextFor(int32_t value) const;
  int DisplayTextCount() const { return (int)displayTexts.size(); }
  bool ValueFromDisplayText(const char* text, int32_t* outValue) const;
  const char* LabelForHost() const;
  const char* NameForHost() const { return name; }
  const char* Group() const { return group; }

  ParamKind Kind() const { return kind; }
  double Min() const { return minValue; }
  double Max() const { return maxValue; }
  double Step() const { return step; }
  double Shape() const { return shape; }
  double Default() const { return defaultValue; }
  int DisplayPrecision() const { return displayPrecision; }
  bool NegateDisplay() const { return negateDisplay; }
  bool CanAutomate() const { return canAutomate; }

private:
  ParamKind kind = ParamKindNone;
  double value = 0.0;
  double minValue = 0.0;
  double maxValue = 1.0;
  double step = 1.0;
  double shape = 1.0;
  double defaultValue = 0.0;
  int32_t displayPrecision = 0;
  char name[kTextSize] = {};
  char label[kTextSize] = {};
  char group[kTextSize] = {};
  bool negateDisplay = false;
  bool canAutomate = true;
  std::vector<DisplayTextEntry> displayTexts;
};
