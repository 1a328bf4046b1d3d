// Writes every factory preset as a VST3 preset file with the SDK's PresetFile:
// the class id, the component state as the VST3 TALVOR's getState writes it,
// and the name and category in the meta information chunk.
#include <memory>

#include "plugin/TALVOR.h"
#include "public.sdk/source/vst/vstpresetfile.h"
#include "tools/presets/PresetFiles.h"

using namespace Steinberg;
using namespace Steinberg::Vst;

namespace {

const char* const kTool = "talvor-vst3-presets";

std::string XmlEscaped(const char* text)
{
  std::string out;
  for (const char* c = text; *c; ++c)
  {
    switch (*c)
    {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      case '\'': out += "&apos;"; break;
      default: out += *c;
    }
  }
  return out;
}

std::string Attribute(const char* id, const std::string& value, bool writeProtected)
{
  return std::string("\t<Attr id=\"") + id + "\" value=\"" + XmlEscaped(value.c_str()) + "\" type=\"string\"" +
         (writeProtected ? " flags=\"writeProtected\"" : "") + "/>\n";
}

// The meta information as VST3 hosts write it for their own presets.
std::string MetaInfo(const TalvorFactoryPreset& preset)
{
  return "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<MetaInfo>\n" +
         Attribute("MediaType", "VstPreset", true) + Attribute("PlugInName", TALVOR_NAME, true) +
         Attribute("PlugInCategory", TALVOR_VST3_CATEGORY, true) + Attribute("Name", preset.name, false) +
         Attribute("MusicalCategory", preset.category, false) + "</MetaInfo>\n";
}

}  // namespace

int main(int argc, char** argv)
{
  if (!preset_files::Usage(argc, kTool)) return 2;
  const std::string dir = argv[1];
  const TUID classId = {TALVOR_VST3_CLASS_ID_BYTES};

  for (int i = 0; i < TalvorFactoryPresetCount(); ++i)
  {
    const TalvorFactoryPreset& preset = *TalvorFactoryPresetAt(i);
    // A fresh instance per preset, set up as a host sets one up.
    TALVOR* plug = new TALVOR(IPlugInstanceInfo());
    bool ok = plug->initialize(nullptr) == kResultOk && preset_files::TableFits(*plug, kTool);
    if (ok)
    {
      ApplyTalvorFactoryPreset(*plug, preset);
      const std::string xml = MetaInfo(preset);
      const std::string path = dir + "/" + preset.name + ".vstpreset";
      IBStream* file = FileStream::open(path.c_str(), "wb");
      ok = file && PresetFile::savePreset(file, FUID::fromTUID(classId), static_cast<IComponent*>(plug), nullptr,
                                          xml.c_str(), (int32)xml.size());
      if (file) file->release();
      if (!ok) std::fprintf(stderr, "%s: cannot write %s\n", kTool, path.c_str());
    }
    plug->terminate();
    plug->release();
    if (!ok) return 1;
  }
  return 0;
}
