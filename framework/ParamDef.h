#pragma once
// One automatable parameter: its declaration, its current value, and every
// conversion between real values, normalised positions and host texts.

#include <atomic>
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
  // Shows values above zero with a "+" in front ("+3.50"), as gains are written.
  void SetDisplayPlusSign(bool show) { displayPlusSign = show; }
  void SetCanAutomate(bool can) { canAutomate = can; }
  void SetLabel(const char* text);
  void SetGroup(const char* text);

  // Value access.
  void SetClamped(double v);
  // A normalised position limited to [0, 1]; NaN stays NaN for the caller to refuse.
  static double ClampNormalized(double x) { return x < 0.0 ? 0.0 : (x > 1.0 ? 1.0 : x); }
  double FromNormalized(double x) const;
  double ToNormalized(double v) const;
  double NormalizedValue() const { return ToNormalized(Value()); }
  void SetFromNormalized(double x);
  double Value() const { return value.load(std::memory_order_relaxed); }
  int IntValue() const;  // value truncated toward zero, 0 for NaN

  // Presentation: the one format and the one parse of values shown to and typed
  // by hosts. Both are independent of the process's locale.
  //
  // The text of a real value, or of a normalised position (limited to [0, 1],
  // NaN shown as 0; a stepped parameter's rounded to the position it selects)
  // when `isNormalized`. `out` must hold at least
  // kFormatBufferSize bytes; longer texts are cut to fit.
  static constexpr int kFormatBufferSize = 64;
  void FormatForHost(double v, bool isNormalized, char* out, bool useDisplayTexts) const;

  // The real value a host's text stands for, by one rule for every binding:
  // the value of the display text it equals exactly; else a decimal number
  // ("-1.5", "2e-3"; a point, never a comma) optionally followed by a unit
  // (the parameter's label, or a word of letters or "%", such as "dB"), with
  // blanks around either, and the sign of a negated display undone. False,
  // leaving `outValue` alone, for a null text or any other text ("1,5",
  // "3 4", "nan", "dB 3"). The value is not limited to the range.
  bool ValueFromHostText(const char* text, double* outValue) const;
  // The whole of `text` as a finite decimal number, blanks around it allowed;
  // the same reader, for texts that carry no unit (command lines).
  static bool ReadNumber(const char* text, double* outValue);
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
  bool DisplayPlusSign() const { return displayPlusSign; }
  bool CanAutomate() const { return canAutomate; }

private:
  void Store(double v) { value.store(v, std::memory_order_relaxed); }

  ParamKind kind = ParamKindNone;
  // Hosts read and write values from their user-interface thread while the
  // audio thread and the editor write them under the instance's lock. A
  // relaxed atomic makes each a whole 64-bit load or store without adding a
  // lock to the audio path; nothing else is ordered by it.
  std::atomic<double> value{0.0};
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
  bool displayPlusSign = false;
  bool canAutomate = true;
  std::vector<DisplayTextEntry> displayTexts;
};
