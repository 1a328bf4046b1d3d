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
  // A normalised position limited to [0, 1]; NaN stays NaN for the caller to refuse.
  static double ClampNormalized(double x) { return x < 0.0 ? 0.0 : (x > 1.0 ? 1.0 : x); }
  double FromNormalized(double x) const;
  double ToNormalized(double v) const;
  double NormalizedValue() const { return ToNormalized(value); }
  void SetFromNormalized(double x);
  double Value() const { return value; }
  int IntValue() const;  // value truncated toward zero, 0 for NaN

  // Presentation: the one format and the one parse of values shown to and typed
  // by hosts. Both are independent of the process's locale.
  //
  // The text of a real value, or of a normalised position (limited to [0, 1],
  // NaN shown as 0) when `isNormalized`. `out` must hold at least
  // kFormatBufferSize bytes; longer texts are cut to fit.
  static constexpr int kFormatBufferSize = 64;
  void FormatForHost(double v, bool isNormalized, char* out, bool useDisplayTexts) const;

  // What else a host's text may hold besides the value (ValueFromHostText).
  enum HostTextRules : unsigned
  {
    kTextIsWholeNumber = 0,           // a number with blanks around it and nothing else
    kTextUnitsAfterNumber = 1u << 0,  // whatever follows the number ("2.25 dB") is ignored
    kTextNumberBesideDisplayTexts = 1u << 1,  // with display texts, a text matching none
                                              // may still be a number
  };
  // The real value a host's text stands for: the value of the display text it
  // equals exactly, else the decimal number it holds with the sign of a negated
  // display undone. A parameter with display texts takes only those unless the
  // rules allow numbers beside them. False, leaving `outValue` alone, for a
  // null or unreadable text; infinities and NaN are no numbers here. The value
  // is not limited to the range.
  bool ValueFromHostText(const char* text, unsigned rules, double* outValue) const;
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
