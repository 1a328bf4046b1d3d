#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>

#include "framework/ParamDef.h"

namespace
{
std::string Format(const ParamDef& p, double v, bool normalized = false, bool texts = true)
{
  char out[ParamDef::kFormatBufferSize];
  p.FormatForHost(v, normalized, out, texts);
  return out;
}
}  // namespace

TEST(ParamDef, SteppedPositionsRoundToWholeStepsAndStayInRange)
{
  ParamDef p;
  p.InitInteger("Mid Gain", 5, 0, 10);
  const double positions[] = {0.5, 0.54, 0.55, 0.999, -0.5, 1.7, NAN};
  const double expected[] = {5, 5, 6, 10, 0, 10, 10};  // NaN changes nothing
  for (int i = 0; i < 7; ++i)
  {
    p.SetFromNormalized(positions[i]);
    EXPECT_EQ(p.Value(), expected[i]) << "position " << positions[i];
  }
  // Steps count from zero, not from the minimum; InitInteger's kind survives.
  p.InitContinuous("Odd", 1, 1, 9, 2);
  EXPECT_EQ(p.Kind(), ParamKindInt);
  p.SetFromNormalized(0.0);
  EXPECT_EQ(p.Value(), 2.0);

  ParamDef c;
  c.InitContinuous("Input", 0, -12, 12, 0.01);
  c.SetFromNormalized(0.123456);
  EXPECT_DOUBLE_EQ(c.Value(), -12 + 0.123456 * 24) << "continuous values are not rounded";
}

TEST(ParamDef, DeclarationAndConversions)
{
  const double steps[] = {1.0, 0.5, 0.1, 0.01, 0.25, 0.001, 1e-9};
  const int precision[] = {0, 1, 1, 2, 2, 3, 6};
  for (int i = 0; i < 7; ++i)
  {
    ParamDef p;
    p.InitContinuous("x", 0, 0, 10, steps[i]);
    EXPECT_EQ(p.DisplayPrecision(), precision[i]) << "step " << steps[i];
  }

  ParamDef p;
  p.InitContinuous("A name that is far longer than thirty-one bytes", 0.25, 0, 0.5, 1, 2.0);
  EXPECT_EQ(p.Max(), 1.0) << "range widened to min + step";
  EXPECT_EQ(std::strlen(p.NameForHost()), 31u);
  p.SetShape(0.0);
  EXPECT_EQ(p.Shape(), 2.0);
  EXPECT_DOUBLE_EQ(p.FromNormalized(0.5), 0.25);
  EXPECT_DOUBLE_EQ(p.ToNormalized(0.25), 0.5);
  EXPECT_EQ(p.ToNormalized(7.0), 1.0);
  EXPECT_EQ(p.ToNormalized(-7.0), 0.0);
  EXPECT_EQ(p.ToNormalized(NAN), 0.0);

  // NaN from a stream falls back to the default; infinities clamp.
  p.InitInteger("Low Gain", 5, 0, 10);
  const double in[] = {3, NAN, INFINITY, -INFINITY};
  const double out[] = {3, 5, 10, 0};
  for (int i = 0; i < 4; ++i)
  {
    p.SetClamped(in[i]);
    EXPECT_EQ(p.Value(), out[i]);
  }
  p.InitContinuous("Wide", 0, -1e12, 1e12, 1);
  p.SetClamped(1e12);
  EXPECT_EQ(p.IntValue(), INT32_MAX);
}

TEST(ParamDef, FormatForHost)
{
  ParamDef i;
  i.InitInteger("Low Gain", 5, 0, 10);
  EXPECT_EQ(Format(i, 5.7), "5");
  EXPECT_EQ(Format(i, -0.5), "0");
  EXPECT_EQ(Format(i, 0.5, true), "5");
  i.SetNegateDisplay(true);
  EXPECT_EQ(Format(i, 3), "-3");

  ParamDef g;
  g.InitContinuous("Input", 0, -12, 12, 0.01);
  EXPECT_EQ(Format(g, -12), "-12.00");
  EXPECT_EQ(Format(g, 0), "0.00");
  EXPECT_EQ(Format(g, -0.004), "-0.00");
  g.SetNegateDisplay(true);
  EXPECT_EQ(Format(g, 0.5, true), "0.00") << "a negated zero shows no sign";
  EXPECT_EQ(Format(g, 1.5), "-1.50");

  // The text never runs past the buffer, however large the value.
  ParamDef fine;
  fine.InitContinuous("Fine", 0, -1e300, 1e300, 1e-6);
  char out[ParamDef::kFormatBufferSize + 16];
  std::memset(out, 'x', sizeof(out));
  fine.FormatForHost(1e300, false, out, true);
  EXPECT_EQ(std::strlen(out), (size_t)ParamDef::kFormatBufferSize - 1);
  EXPECT_EQ(out[ParamDef::kFormatBufferSize], 'x');
}

TEST(ParamDef, DisplayTextsAndLabels)
{
  ParamDef p;
  p.InitInteger("Mode", 0, 0, 3);
  p.SetLabel("dB");
  p.SetDisplayText(1, "On");
  p.SetDisplayText(2, "");
  p.SetDisplayText(1, "Later");
  EXPECT_EQ(Format(p, 1.9), "On") << "first entry, truncated value";
  EXPECT_EQ(Format(p, 1, false, false), "1");
  EXPECT_EQ(Format(p, 2), "2") << "an empty text counts as no entry";

  int32_t v = -1;
  EXPECT_TRUE(p.ValueFromDisplayText("On", &v));
  EXPECT_EQ(v, 1);
  EXPECT_FALSE(p.ValueFromDisplayText("on", &v));

  p.SetClamped(2);
  EXPECT_STREQ(p.LabelForHost(), "dB") << "empty display text leaves the label";
  p.SetClamped(1);
  EXPECT_STREQ(p.LabelForHost(), "");
}
