// Parameter texts are a host and file format, not the user's: under a
// comma-decimal locale (de_DE.UTF-8, built for the test by its CTest fixture
// into LOCPATH) both modules show and read numbers with a point, and the
// tools read their settings the same way.

#include <clocale>
#include <cstring>

#include "ModuleHost.h"
#include "tests/vst2/Vst2TestHost.h"
#include "tools/common/ToolArgs.h"

using namespace vst3test;

namespace
{
struct GermanLocale
{
  GermanLocale() : active(std::setlocale(LC_ALL, "de_DE.UTF-8") != nullptr) {}
  ~GermanLocale() { std::setlocale(LC_ALL, "C"); }
  bool active;
};

AEffect* OpenVst2()
{
  static void* module = dlopen(TALVOR_VST2_MODULE_PATH, RTLD_NOW | RTLD_LOCAL);
  auto entry = module ? reinterpret_cast<AEffect* (*)(audioMasterCallback)>(dlsym(module, "VSTPluginMain")) : nullptr;
  return entry ? entry(TestHost::Callback) : nullptr;
}
}  // namespace

TEST(Locale, NumbersKeepTheirPointUnderACommaDecimalLocale)
{
  GermanLocale german;
  const char* path = std::getenv("LOCPATH");
  ASSERT_TRUE(german.active) << "de_DE.UTF-8 could not be set (LOCPATH " << (path ? path : "unset") << ")";
  ASSERT_STREQ(",", std::localeconv()->decimal_point);

  // VST3: typed values, displays and the program position.
  Plug plug;
  auto value = [&](ParamID id, const char* s) {
    String128 w = {};
    std::copy(s, s + std::strlen(s), w);
    ParamValue v = -1;
    return plug.controller->getParamValueByString(id, w, v) == kResultOk ? v : -99.0;
  };
  String128 shown = {};
  ASSERT_EQ(kResultOk, plug.controller->getParamStringByValue(6, 0.5625, shown));
  EXPECT_EQ("+1.50", Narrow(shown));
  ASSERT_EQ(kResultOk, plug.controller->getParamStringByValue(1, 0.5, shown));
  EXPECT_EQ("280 Hz", Narrow(shown));  // the legends' numbers too
  ASSERT_EQ(kResultOk, plug.controller->getParamStringByValue(2, 0.4, shown));
  EXPECT_EQ("-2.15 dB", Narrow(shown));
  EXPECT_DOUBLE_EQ(0.4, value(2, "-2.15 dB"));
  EXPECT_DOUBLE_EQ(0.5625, value(6, "+1.50"));
  EXPECT_DOUBLE_EQ(0.5625, value(6, "1.5"));
  EXPECT_DOUBLE_EQ(0.5625, value(6, "1.5 dB"));
  EXPECT_EQ(-99.0, value(6, "1,5"));
  EXPECT_DOUBLE_EQ(0.25, value(kPresetId, "0.25"));

  // VST2: the same texts through the dispatcher.
  TestHost host;
  HostedEffect fx(OpenVst2(), &host);
  ASSERT_NE(nullptr, fx.effect);
  const VstInt32 kInput = 6;
  EXPECT_EQ(1, fx.Dispatch(effString2Parameter, kInput, "1.5"));
  EXPECT_EQ("+1.50", fx.Text(effGetParamDisplay, kInput));
  EXPECT_EQ(0, fx.Dispatch(effString2Parameter, kInput, "2,5"));
  EXPECT_EQ("+1.50", fx.Text(effGetParamDisplay, kInput));
  char text[32] = {};
  EXPECT_EQ(0xBEEF, fx.Dispatch(effVendorSpecific, effGetParamDisplay, kInput, text, 0.75f));
  EXPECT_STREQ("+6.00", text);

  // The tools' settings.
  double v = 0.0;
  EXPECT_TRUE(tool_args::ParseDouble("-1.25", &v));
  EXPECT_EQ(-1.25, v);
  EXPECT_FALSE(tool_args::ParseDouble("1,5", &v));
}
