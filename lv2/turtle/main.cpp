// Writes the LV2 bundle's Turtle at build time from the plug-in itself: the
// parameters of an offline TALVOR become the control ports (name, symbol,
// range, default, integer or toggled, and the editor's legends as scale
// points), so the description cannot disagree with the code. The factory
// presets (plugin/TalvorPresets.h) become pset:Preset resources that apply to
// both plug-ins.
//
//   talvor-lv2-turtle BUNDLE_DIR DSP_BINARY UI_BINARY
// writes BUNDLE_DIR/manifest.ttl, BUNDLE_DIR/TALVOR.ttl and BUNDLE_DIR/presets.ttl.
#include <cctype>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

#include "lv2/LV2Uris.h"
#include "plugin/TALVOR.h"
#include "plugin/TalvorLegends.h"
#include "plugin/TalvorPresets.h"

namespace {

const char* const kPrefixes =
    "@prefix doap:  <http://usefulinc.com/ns/doap#> .\n"
    "@prefix foaf:  <http://xmlns.com/foaf/0.1/> .\n"
    "@prefix lv2:   <http://lv2plug.in/ns/lv2core#> .\n"
    "@prefix opts:  <http://lv2plug.in/ns/ext/options#> .\n"
    "@prefix pset:  <http://lv2plug.in/ns/ext/presets#> .\n"
    "@prefix bufsz: <http://lv2plug.in/ns/ext/buf-size#> .\n"
    "@prefix rdf:   <http://www.w3.org/1999/02/22-rdf-syntax-ns#> .\n"
    "@prefix rdfs:  <http://www.w3.org/2000/01/rdf-schema#> .\n"
    "@prefix state: <http://lv2plug.in/ns/ext/state#> .\n"
    "@prefix ui:    <http://lv2plug.in/ns/extensions/ui#> .\n"
    "@prefix units: <http://lv2plug.in/ns/extensions/units#> .\n"
    "@prefix urid:  <http://lv2plug.in/ns/ext/urid#> .\n\n";

struct Variant
{
  const char* uri;
  const char* name;
  int channels;
};
const Variant kVariants[] = {
  {TALVOR_LV2_STEREO_URI, TALVOR_NAME, 2},
  {TALVOR_LV2_MONO_URI, TALVOR_NAME " Mono", 1},
};

// "Low Gain" -> "low_gain": a port symbol (a C identifier) from a parameter name.
std::string Symbol(const char* name)
{
  std::string s;
  for (const char* c = name; *c; ++c)
    s += std::isalnum((unsigned char)*c) ? (char)std::tolower((unsigned char)*c) : '_';
  if (s.empty() || std::isdigit((unsigned char)s[0])) s.insert(0, "p");
  return s;
}

std::string Number(double v)
{
  char text[32];
  std::snprintf(text, sizeof text, "%.9g", v);
  return text;
}

// A literal that lilv reads as a float ("5.0", not the integer "5"): hosts
// such as Ardour and Jalv apply preset values of that type only.
std::string Decimal(double v)
{
  std::string text = Number(v);
  if (text.find_first_of(".e") == std::string::npos) text += ".0";
  return text;
}

std::string Quoted(const std::string& text)
{
  std::string q = "\"";
  for (char c : text)
  {
    if (c == '"' || c == '\\') q += '\\';
    q += c;
  }
  return q + "\"";
}

void ControlPort(std::ostream& out, const ParamDef& p, int index)
{
  out << "    lv2:port [\n"
      << "        a lv2:InputPort , lv2:ControlPort ;\n"
      << "        lv2:index " << index << " ;\n"
      << "        lv2:symbol " << Quoted(Symbol(p.NameForHost())) << " ;\n"
      << "        lv2:name " << Quoted(p.NameForHost()) << " ;\n"
      << "        lv2:default " << Number(p.Default()) << " ;\n"
      << "        lv2:minimum " << Number(p.Min()) << " ;\n"
      << "        lv2:maximum " << Number(p.Max()) << " ;\n";
  if (index == kBypass)
    // 1 keeps the equaliser in circuit: exactly what lv2:enabled means.
    out << "        lv2:designation lv2:enabled ;\n";
  if (p.Kind() == ParamKindDouble)
    // The input and output gains, the plug-in's only continuous parameters.
    out << "        units:unit units:db ;\n";
  else if (p.Min() == 0.0 && p.Max() == 1.0)
    out << "        lv2:portProperty lv2:toggled ;\n";
  else
  {
    std::ostringstream points;
    int named = 0;
    for (int v = (int)p.Min(); v <= (int)p.Max(); ++v)
    {
      const std::string legend = TalvorPositionLegend(index, v);
      if (legend.empty()) continue;
      points << (named++ ? " , " : "") << "[\n            rdfs:label " << Quoted(legend)
             << " ;\n            rdf:value " << v << "\n        ]";
    }
    // Every position has a name: hosts may show the names instead of numbers.
    out << "        lv2:portProperty lv2:integer" << (named ? " , lv2:enumeration" : "") << " ;\n";
    if (named) out << "        lv2:scalePoint " << points.str() << " ;\n";
  }
  out << "    ]";
}

void AudioPort(std::ostream& out, bool output, int channel, int channels, int index)
{
  static const char* const kSide[] = {"l", "r"};
  std::string symbol = output ? "out" : "in";
  std::string name = output ? "Out" : "In";
  if (channels > 1)
  {
    symbol += std::string("_") + kSide[channel];
    name += std::string(" ") + (char)std::toupper(kSide[channel][0]);
  }
  out << "    lv2:port [\n"
      << "        a lv2:AudioPort , " << (output ? "lv2:OutputPort" : "lv2:InputPort") << " ;\n"
      << "        lv2:index " << index << " ;\n"
      << "        lv2:symbol " << Quoted(symbol) << " ;\n"
      << "        lv2:name " << Quoted(name) << "\n"
      << "    ]";
}

void Plugin(std::ostream& out, IPlugBase& plug, const Variant& v)
{
  out << "<" << v.uri << ">\n"
      << "    a lv2:Plugin , lv2:EQPlugin , doap:Project ;\n"
      << "    doap:name " << Quoted(v.name) << " ;\n"
      << "    doap:license <https://spdx.org/licenses/GPL-3.0-or-later> ;\n"
      << "    doap:maintainer [\n"
      << "        foaf:name " << Quoted(plug.MakerName()) << " ;\n"
      << "        foaf:homepage <" << TALVOR_URL << "> ;\n"
      << "        foaf:mbox <mailto:" << TALVOR_EMAIL << ">\n"
      << "    ] ;\n"
      // LV2 versions are minor.micro; the major version is part of the URI.
      << "    lv2:minorVersion " << TALVOR_VERSION_MINOR << " ;\n"
      << "    lv2:microVersion " << TALVOR_VERSION_PATCH << " ;\n"
      << "    lv2:optionalFeature lv2:hardRTCapable , urid:map , opts:options ;\n"
      << "    opts:supportedOption bufsz:maxBlockLength , bufsz:nominalBlockLength ;\n"
      << "    lv2:extensionData state:interface ;\n"
      << "    ui:ui <" << TALVOR_LV2_UI_URI << "> ;\n";
  // Ports in index order: the controls, the inputs, the outputs.
  for (int i = 0; i < plug.ParamCount(); ++i)
  {
    ControlPort(out, *plug.ParamAt(i), i);
    out << " ;\n";
  }
  int index = plug.ParamCount();
  for (int output = 0; output < 2; ++output)
    for (int c = 0; c < v.channels; ++c)
    {
      AudioPort(out, output == 1, c, v.channels, index++);
      out << (index == plug.ParamCount() + 2 * v.channels ? " .\n\n" : " ;\n");
    }
}

// "Vocal De-Mud" -> ".../presets/vocal-de-mud".
std::string PresetUri(const char* name)
{
  std::string slug;
  for (const char* c = name; *c; ++c)
  {
    if (std::isalnum((unsigned char)*c))
      slug += (char)std::tolower((unsigned char)*c);
    else if (!slug.empty() && slug.back() != '-')
      slug += '-';
  }
  while (!slug.empty() && slug.back() == '-') slug.pop_back();
  return std::string(TALVOR_LV2_PRESET_URI_PREFIX) + slug;
}

// Both plug-ins have the same control ports, so every preset applies to both.
std::string AppliesTo()
{
  std::string list;
  for (const Variant& v : kVariants) list += std::string(list.empty() ? "" : " , ") + "<" + v.uri + ">";
  return list;
}

void Preset(std::ostream& out, IPlugBase& plug, const TalvorFactoryPreset& preset)
{
  out << "<" << PresetUri(preset.name) << ">\n"
      << "    a pset:Preset ;\n"
      << "    lv2:appliesTo " << AppliesTo() << " ;\n"
      << "    rdfs:label " << Quoted(preset.name) << " ;\n"
      << "    rdfs:comment " << Quoted(std::string(preset.category) + ": " + preset.description);
  for (int i = 0; i < plug.ParamCount(); ++i)
    out << " ;\n    lv2:port [\n        lv2:symbol " << Quoted(Symbol(plug.ParamAt(i)->NameForHost()))
        << " ;\n        pset:value " << Decimal(preset.values[i]) << "\n    ]";
  out << " .\n\n";
}

bool Write(const std::string& path, const std::string& text)
{
  std::ofstream file(path, std::ios::binary | std::ios::trunc);
  file << text;
  file.close();
  if (!file) std::fprintf(stderr, "talvor-lv2-turtle: cannot write %s\n", path.c_str());
  return (bool)file;
}

}  // namespace

int main(int argc, char** argv)
{
  if (argc != 4)
  {
    std::fprintf(stderr, "usage: talvor-lv2-turtle BUNDLE_DIR DSP_BINARY UI_BINARY\n");
    return 2;
  }
  const std::string dir = argv[1], dsp = argv[2], ui = argv[3];
  const std::string description = std::string(TALVOR_NAME) + ".ttl";
  const std::string presets = "presets.ttl";
  TALVOR plug{IPlugInstanceInfo()};
  const std::string problem = CheckTalvorFactoryPresets(plug);
  if (!problem.empty())
  {
    std::fprintf(stderr, "talvor-lv2-turtle: resources/presets/factory-presets.txt: %s\n", problem.c_str());
    return 1;
  }

  std::ostringstream manifest;
  manifest << kPrefixes;
  for (const Variant& v : kVariants)
    manifest << "<" << v.uri << ">\n    a lv2:Plugin ;\n    lv2:binary <" << dsp << "> ;\n    rdfs:seeAlso <"
             << description << "> .\n\n";
  manifest << "<" << TALVOR_LV2_UI_URI << ">\n    a ui:X11UI ;\n    ui:binary <" << ui << "> ;\n    rdfs:seeAlso <"
           << description << "> .\n";
  std::ostringstream presetTtl;
  presetTtl << kPrefixes;
  for (int i = 0; i < TalvorFactoryPresetCount(); ++i)
  {
    const TalvorFactoryPreset& preset = *TalvorFactoryPresetAt(i);
    manifest << "\n<" << PresetUri(preset.name) << ">\n    a pset:Preset ;\n    lv2:appliesTo " << AppliesTo()
             << " ;\n    rdfs:seeAlso <" << presets << "> .\n";
    Preset(presetTtl, plug, preset);
  }

  std::ostringstream ttl;
  ttl << kPrefixes;
  for (const Variant& v : kVariants) Plugin(ttl, plug, v);
  // The editor: the host's window (ui:parent) and idle calls are what it needs.
  ttl << "<" << TALVOR_LV2_UI_URI << ">\n"
      << "    a ui:X11UI ;\n"
      << "    lv2:requiredFeature ui:idleInterface , ui:parent ;\n"
      << "    lv2:optionalFeature ui:touch , ui:resize , ui:fixedSize , ui:noUserResize ;\n"
      << "    lv2:extensionData ui:idleInterface .\n";

  return Write(dir + "/manifest.ttl", manifest.str()) && Write(dir + "/" + description, ttl.str()) &&
                 Write(dir + "/" + presets, presetTtl.str())
             ? 0
             : 1;
}
