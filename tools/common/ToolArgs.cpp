#include "tools/common/ToolArgs.h"

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>

#include "framework/IPlugBase.h"
#include "plugin/TalvorPresets.h"

namespace tool_args
{
namespace
{
const char* toolName = "talvor";
}  // namespace

void SetToolName(const char* name)
{
  toolName = name;
}

int Fail(const char* fmt, ...)
{
  std::fprintf(stderr, "%s: ", toolName);
  va_list args;
  va_start(args, fmt);
  std::vfprintf(stderr, fmt, args);
  va_end(args);
  std::fputc('\n', stderr);
  return 1;
}

bool ParseInt(const char* text, long lo, long hi, int* out)
{
  if (!text || !*text)
    return false;
  errno = 0;
  char* end = nullptr;
  const long v = std::strtol(text, &end, 10);
  if (errno != 0 || *end != '\0' || v < lo || v > hi)
    return false;
  *out = (int)v;
  return true;
}

bool ParseDouble(const char* text, double* out)
{
  // The plug-in's own number reader: a point is the decimal sign whatever the
  // user's locale, as in the texts the plug-in shows.
  return ParamDef::ReadNumber(text, out);
}

int ApplySetting(IPlugBase& plug, const std::string& setting)
{
  const size_t eq = setting.find('=');
  if (eq == std::string::npos)
    return Fail("bad --set \"%s\" (expected NAME=VALUE)", setting.c_str());
  const std::string name = setting.substr(0, eq);
  const std::string text = setting.substr(eq + 1);
  for (int i = 0; i < plug.ParamCount(); ++i)
  {
    ParamDef* p = plug.ParamAt(i);
    if (name != p->NameForHost())
      continue;
    double v = 0.0;
    if (!ParseDouble(text.c_str(), &v))
      return Fail("bad value \"%s\" for \"%s\"", text.c_str(), name.c_str());
    if (v < p->Min() || v > p->Max())
      return Fail("value %s for \"%s\" is outside %g to %g", text.c_str(), name.c_str(), p->Min(), p->Max());
    IPlugLockGuard lock(&plug);
    plug.SetParamFromHostReal(i, v);  // a stepped parameter takes the nearest position
    return 0;
  }
  return Fail("unknown parameter \"%s\"", name.c_str());
}

int ApplySettings(IPlugBase& plug, const std::vector<Setting>& settings)
{
  for (const Setting& s : settings)
  {
    if (!s.preset)
    {
      if (ApplySetting(plug, s.text) != 0) return 1;
      continue;
    }
    const TalvorFactoryPreset* preset = FindTalvorFactoryPreset(s.text);
    if (!preset) return Fail("unknown preset \"%s\" (--list-presets lists them)", s.text.c_str());
    ApplyTalvorFactoryPreset(plug, *preset);
  }
  return 0;
}

void ListPresets()
{
  for (int i = 0; i < TalvorFactoryPresetCount(); ++i)
  {
    const TalvorFactoryPreset& p = *TalvorFactoryPresetAt(i);
    std::printf("%s\t%s\t%s\n", p.name, p.category, p.description);
  }
}
}  // namespace tool_args
