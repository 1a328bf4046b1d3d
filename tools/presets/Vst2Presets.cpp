// Writes every factory preset as a VST 2.4 program file in the chunk form
// (.fxp, 'FPCh'): the program chunk that the VST2 TALVOR's effGetChunk hands
// out, behind the header hosts read (big-endian, as the format has it).
#include <cstdint>

#include "tools/presets/PresetFiles.h"
#include "vst2/IPlugVST.h"
#include "vst2/VstEntry.h"

namespace {

const char* const kTool = "talvor-vst2-presets";
constexpr size_t kProgramNameBytes = 28;  // 27 characters and the terminator

VstIntPtr VSTCALLBACK NoHost(AEffect*, VstInt32, VstInt32, VstIntPtr, void*, float) { return 0; }

void PutBigEndian(std::vector<uint8_t>& out, uint32_t v)
{
  for (int shift = 24; shift >= 0; shift -= 8) out.push_back((uint8_t)(v >> shift));
}

uint32_t FourCharacters(const char* code)
{
  return (uint32_t)(uint8_t)code[0] << 24 | (uint32_t)(uint8_t)code[1] << 16 | (uint32_t)(uint8_t)code[2] << 8 |
         (uint8_t)code[3];
}

std::vector<uint8_t> ProgramFile(const AEffect& effect, const char* name, const uint8_t* chunk, uint32_t size)
{
  std::vector<uint8_t> body;
  PutBigEndian(body, FourCharacters("FPCh"));
  PutBigEndian(body, 1);  // format version
  PutBigEndian(body, (uint32_t)effect.uniqueID);
  PutBigEndian(body, (uint32_t)effect.version);
  PutBigEndian(body, (uint32_t)effect.numParams);
  char programName[kProgramNameBytes] = {};
  for (size_t i = 0; i + 1 < kProgramNameBytes && name[i]; ++i) programName[i] = name[i];
  body.insert(body.end(), programName, programName + kProgramNameBytes);
  PutBigEndian(body, size);
  body.insert(body.end(), chunk, chunk + size);

  std::vector<uint8_t> file;
  PutBigEndian(file, FourCharacters("CcnK"));
  PutBigEndian(file, (uint32_t)body.size());  // the bytes after this field
  file.insert(file.end(), body.begin(), body.end());
  return file;
}

}  // namespace

int main(int argc, char** argv)
{
  if (!preset_files::Usage(argc, kTool)) return 2;
  const std::string dir = argv[1];
  for (int i = 0; i < TalvorFactoryPresetCount(); ++i)
  {
    const TalvorFactoryPreset& preset = *TalvorFactoryPresetAt(i);
    AEffect* effect = CreateTalvorEffect(NoHost);
    if (!effect) return 1;
    effect->dispatcher(effect, effOpen, 0, 0, nullptr, 0.0f);
    IPlugVST& plug = *IPlugVST::FromEffect(effect);
    bool ok = preset_files::TableFits(plug, kTool);
    if (ok)
    {
      ApplyTalvorFactoryPreset(plug, preset);
      void* chunk = nullptr;
      const VstIntPtr size = effect->dispatcher(effect, effGetChunk, 1, 0, &chunk, 0.0f);  // one program
      ok = size > 0 && chunk;
      if (ok)
      {
        const std::vector<uint8_t> file = ProgramFile(*effect, preset.name, (const uint8_t*)chunk, (uint32_t)size);
        ok = preset_files::WriteFile(dir + "/" + preset.name + ".fxp", file.data(), file.size(), kTool);
      }
      else
      {
        std::fprintf(stderr, "%s: effGetChunk gave nothing\n", kTool);
      }
    }
    effect->dispatcher(effect, effClose, 0, 0, nullptr, 0.0f);
    if (!ok) return 1;
  }
  return 0;
}
