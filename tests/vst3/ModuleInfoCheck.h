#pragma once
// What a VST3 bundle's Contents/Resources/moduleinfo.json must agree on with
// the module's factory, read through its exports. Shared by the Linux and the
// Windows module tests.

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "pluginterfaces/base/funknown.h"
#include "pluginterfaces/base/ipluginbase.h"

namespace vst3test
{
// The class id as hosts and .vstpreset files write it, the same on Linux and
// Windows so that projects and presets move between them.
constexpr const char* kTalvorCidText = "F2AEE70D00DE4F4E536D6C62546C7631";

// A class id printed with the SDK's own text conversion for this platform.
inline std::string CidText(const Steinberg::TUID cid)
{
  char text[33] = {};
  Steinberg::FUID::fromTUID(cid).toString(text);
  return text;
}

// <bundle>/Contents/<arch>/<module> -> <bundle>/Contents/Resources/moduleinfo.json
inline std::string ModuleInfoPath(std::string module)
{
  for (int i = 0; i < 2; ++i)
    module = module.substr(0, module.find_last_of("/\\"));
  return module + "/Resources/moduleinfo.json";
}

// The entries of the file that do not say what the factory says (none when
// they agree).
inline std::vector<std::string> ModuleInfoMismatches(const std::string& path, const Steinberg::PFactoryInfo& fi,
                                                     const Steinberg::PClassInfo2& ci)
{
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  const std::string json = text.str();
  if (json.empty())
    return {"cannot read " + path};

  std::string subs = "\"";
  for (const char* p = ci.subCategories; *p; ++p)
    subs += *p == '|' ? std::string("\", \"") : std::string(1, *p);
  subs += "\"";
  auto field = [](const char* key, const std::string& value) { return "\"" + std::string(key) + "\": " + value; };
  auto quoted = [](const char* s) { return "\"" + std::string(s) + "\""; };
  const std::vector<std::string> expected = {
      field("Name", quoted(ci.name)),
      field("Version", quoted(ci.version)),
      field("Vendor", quoted(fi.vendor)),
      field("URL", quoted(fi.url)),
      field("E-Mail", quoted(fi.email)),
      field("Unicode", (fi.flags & Steinberg::PFactoryInfo::kUnicode) ? "true" : "false"),
      field("CID", quoted(CidText(ci.cid).c_str())),
      field("Category", quoted(ci.category)),
      field("SDKVersion", quoted(ci.sdkVersion)),
      field("Sub Categories", "[" + subs + "]"),
      field("Class Flags", std::to_string(ci.classFlags)),
      field("Cardinality", std::to_string(ci.cardinality)),
  };
  std::vector<std::string> mismatches;
  for (const std::string& entry : expected)
    if (json.find(entry) == std::string::npos)
      mismatches.push_back("no " + entry + " in " + path);
  return mismatches;
}
}  // namespace vst3test
