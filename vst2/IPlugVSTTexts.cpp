// Every opcode that copies a text to or from a VST2 host: program, parameter,
// effect, vendor, product and MIDI key names, parameter labels and displays,
// and the text a host's user typed for a parameter.
#include "framework/TextCopy.h"
#include "vst2/IPlugVST.h"

namespace
{
// Host buffers come with no size. Names are copied whole up to these bounds
// (terminator included), which every host we know of exceeds; longer texts are
// cut rather than written past a buffer of the published size class.
constexpr int kProgNameBound = kVstMaxProgNameLen;
constexpr int kEffectNameBound = kVstMaxEffectNameLen;
constexpr int kVendorBound = kVstMaxVendorStrLen;
constexpr int kProductBound = kVstMaxProductStrLen;
constexpr int kKeyNameBound = kVstMaxNameLen;
// Longest text read from a host (program names, parameter texts); a host that
// forgot the terminator is read up to here.
constexpr int kHostTextBound = 256;

// The effect, vendor and product names: 1 when copied, 0 without a buffer.
VstIntPtr CopyIdentity(char* out, int bound, const char* name)
{
  if (!out) return 0;
  CopyText(out, bound, name);
  return 1;
}
}  // namespace

VstIntPtr IPlugVST::TextRequest(VstInt32 opcode, VstInt32 index, void* ptr)
{
  char* text = static_cast<char*>(ptr);
  const ParamDef* param = ParamAt(index);
  switch (opcode)
  {
    case effSetProgramName:
      if (text)
      {
        char name[kHostTextBound];
        CopyText(name, text);
        ModifyCurrentPreset(name);
        PresetsChanged();
      }
      return 0;

    case effGetProgramName:
      if (text) CopyText(text, kProgNameBound, PresetName(CurrentPresetIndex()));
      return 0;

    case effGetProgramNameIndexed:
      if (!text) return 0;
      CopyText(text, kProgNameBound, PresetName(index));
      return text[0] ? 1 : 0;

    case effGetParamLabel:
      if (text && param) CopyText(text, kParamTextBound, param->LabelForHost());
      return 0;

    case effGetParamDisplay:
      if (text && param)
      {
        char display[ParamDef::kFormatBufferSize] = {};
        param->FormatForHost(param->Value(), false, display, true);
        CopyText(text, kParamTextBound, display);
      }
      return 0;

    case effGetParamName:
      if (text && param) CopyText(text, kParamTextBound, param->NameForHost());
      return 0;

    case effString2Parameter:
      return StringToParameter(index, text);

    case effGetEffectName:
      return CopyIdentity(text, kEffectNameBound, EffectName());
    case effGetVendorString:
      return CopyIdentity(text, kVendorBound, MakerName());
    case effGetProductString:
      return CopyIdentity(text, kProductBound, ProductName());

    case effGetMidiKeyName:
    {
      if (!ptr) return 0;
      MidiKeyName* key = static_cast<MidiKeyName*>(ptr);
      key->keyName[0] = '\0';
      char name[kKeyNameBound + 1] = {};
      const bool named = NoteNameFor(key->thisKeyNumber, name);
      CopyText(key->keyName, name);
      return named ? 1 : 0;
    }

    default:
      return 0;
  }
}

VstIntPtr IPlugVST::StringToParameter(int index, const char* text)
{
  if (!ParamAt(index)) return 0;
  if (!text) return 1;
  char typed[kHostTextBound];
  CopyText(typed, text);
  return SetParamFromHostText(index, typed) ? 1 : 0;
}
