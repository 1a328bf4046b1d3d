// The dispatcher: every opcode a VST2 host sends. Texts, chunks, and pins and
// speaker arrangements are answered in their own files; the rest is here,
// together with incoming events, can-do and vendor-specific requests.
#include <algorithm>
#include <climits>
#include <cmath>
#include <cstring>

#include "framework/TextCopy.h"
#include "graphics/IGraphics.h"
#include "vst2/IPlugVST.h"
#if TALVOR_X11_EDITOR
#include "graphics/IGraphicsX11.h"
#endif

namespace
{
constexpr VstIntPtr kIdentifyAnswer = 0x4E764566;  // 'NvEf'
constexpr VstIntPtr kVendorAnswer = 0xBEEF;
constexpr VstIntPtr kCockosAnswer = (VstIntPtr)0xBEEF0000u;
// The content-scale request hosts send through effVendorSpecific.
constexpr VstInt32 kContentScaleIndex = 0x50726553;  // 'PreS'
constexpr VstIntPtr kContentScaleValue = 0x41654373;  // 'AeCs'

// An int from a host's pointer-sized value; values that do not fit become -1,
// which every index check refuses.
int IntFromHost(VstIntPtr value)
{
  return (value < INT_MIN || value > INT_MAX) ? -1 : (int)value;
}
}  // namespace

VstIntPtr IPlugVST::VSTDispatcher(AEffect* effect, VstInt32 opcode, VstInt32 index, VstIntPtr value,
                                  void* ptr, float opt)
{
  IPlugVST* plug = FromEffect(effect);
  if (!plug) return 0;
  if (opcode == effEditIdle)
  {
    // The editor's events and redraw tick (Linux; Windows has its own timer).
    // They run outside the instance lock, as a window procedure does, so that
    // painting never holds up the audio thread; an edit takes the lock itself.
#if TALVOR_X11_EDITOR
    if (auto* x11 = dynamic_cast<IGraphicsX11*>(plug->Editor())) x11->Idle();
#endif
    return 0;
  }
  if (opcode == effClose)
  {
    // Wait for any call still running on another thread, then let go: the lock
    // dies with the object.
    plug->Lock();
    plug->Unlock();
    delete plug;
    return 0;
  }
  try
  {
    IPlugLockGuard hold(plug);
    return plug->Dispatch(opcode, index, value, ptr, opt);
  }
  catch (...)
  {
    // Nothing may unwind into the host; a request that ran out of memory fails.
    return 0;
  }
}

VstIntPtr IPlugVST::Dispatch(VstInt32 opcode, VstInt32 index, VstIntPtr value, void* ptr, float opt)
{
  switch (opcode)
  {
    // Texts to and from the host (IPlugVSTTexts.cpp).
    case effSetProgramName:
    case effGetProgramName:
    case effGetParamLabel:
    case effGetParamDisplay:
    case effGetParamName:
    case effString2Parameter:
    case effGetProgramNameIndexed:
    case effGetEffectName:
    case effGetVendorString:
    case effGetProductString:
    case effGetMidiKeyName:
      return TextRequest(opcode, index, ptr);

    // Chunks (IPlugVSTChunks.cpp).
    case effGetChunk:
      return GetChunk(index == 0, static_cast<void**>(ptr));
    case effSetChunk:
      return SetChunk(index == 0, value, ptr);

    // Pins and speaker arrangements (IPlugVSTPins.cpp).
    case effGetInputProperties:
      return PinProperties(false, index, static_cast<VstPinProperties*>(ptr));
    case effGetOutputProperties:
      return PinProperties(true, index, static_cast<VstPinProperties*>(ptr));
    case effSetSpeakerArrangement:
      return SetSpeakerArrangement(reinterpret_cast<const VstSpeakerArrangement*>(value),
                                   static_cast<const VstSpeakerArrangement*>(ptr));
    case effGetSpeakerArrangement:
      return GetSpeakerArrangement(reinterpret_cast<VstSpeakerArrangement**>(value),
                                   static_cast<VstSpeakerArrangement**>(ptr));

    case effOpen:
      if (!hostSpecificSetupDone)
      {
        hostSpecificSetupDone = true;
        HostSpecificSetup();
      }
      NotifyAllParamsChanged();
      return 0;

    case effSetProgram:
      if (!DoesStateChunks()) ModifyCurrentPreset();
      RecallPreset(IntFromHost(value));
      return 0;

    case effGetProgram:
      return CurrentPresetIndex();

    case effSetSampleRate:
      // A rate of zero, below zero or not a number would break every filter design.
      if (std::isfinite(opt) && opt > 0.0f)
      {
        SetSampleRate(opt);
        OnReset();
      }
      return 0;

    case effSetBlockSize:
      if (value > 0)
      {
        ChangeBlockSize((int)std::min<VstIntPtr>(value, kMaxBlockSize));
        OnReset();
      }
      return 0;

    case effMainsChanged:
      ActivationChanged(value != 0);
      if (value == 0) OnReset();
      return 0;

    case effEditGetRect:
      if (!ptr || !Editor()) return 0;
      Editor()->FollowDisplayScale();
      SetEditorRect();
      *static_cast<ERect**>(ptr) = &editorRect;
      return 1;

    case effEditOpen:
      if (!Editor() || !ptr || !Editor()->OpenWindow(ptr)) return 0;
      EditorOpened();
      return 1;

    case effEditClose:
      if (!Editor()) return 0;
      EditorClosed();
      Editor()->CloseWindow();
      return 1;

    case effIdentify:
      return kIdentifyAnswer;

    case effProcessEvents:
      return ProcessEvents(static_cast<const VstEvents*>(ptr));

    case effCanBeAutomated:
      return 1;

    case effGetPlugCategory:
      return IsInstrument() ? kPlugCategSynth : kPlugCategEffect;

    case effProcessVarIo:
      return 0;

    case effGetVendorVersion:
      return DecimalVersion();

    case effVendorSpecific:
      return VendorSpecific(index, value, ptr, opt);

    case effCanDo:
      return CanDo(static_cast<const char*>(ptr));

    case effGetTailSize:
      return TailSize();

    case effGetVstVersion:
      return kVstVersion;

    default:
      return 0;
  }
}

VstIntPtr IPlugVST::ProcessEvents(const VstEvents* list)
{
  if (!list) return 0;
  for (VstInt32 i = 0; i < list->numEvents; ++i)
  {
    const VstEvent* ev = list->events[i];
    if (!ev) continue;
    if (ev->type == kVstMidiType)
    {
      const VstMidiEvent* midi = reinterpret_cast<const VstMidiEvent*>(ev);
      IMidiMsg msg;
      msg.offset = midi->deltaFrames;
      msg.status = (uint8_t)midi->midiData[0];
      msg.data1 = (uint8_t)midi->midiData[1];
      msg.data2 = (uint8_t)midi->midiData[2];
      MidiIn(msg);
    }
    else if (ev->type == kVstSysExType)
    {
      const VstMidiSysexEvent* sysex = reinterpret_cast<const VstMidiSysexEvent*>(ev);
      if (sysex->dumpBytes < 0 || (sysex->dumpBytes > 0 && !sysex->sysexDump)) continue;
      ISysEx msg;
      msg.offset = sysex->deltaFrames;
      msg.size = sysex->dumpBytes;
      msg.data = reinterpret_cast<const uint8_t*>(sysex->sysexDump);
      SysExIn(msg);
    }
  }
  return 1;
}

VstIntPtr IPlugVST::CanDo(const char* text)
{
  if (!text) return 0;
  if (!std::strcmp(text, "receiveVstTimeInfo")) return 1;
  if (!std::strcmp(text, "sendVstEvents") || !std::strcmp(text, "sendVstMidiEvent") ||
      !std::strcmp(text, "receiveVstEvents") || !std::strcmp(text, "receiveVstMidiEvent"))
    return DoesMidi() ? 1 : 0;
  if (!std::strcmp(text, "hasCockosExtensions"))
  {
    hostExtensionFlags |= 1;
    return kCockosAnswer;
  }
  if (!std::strcmp(text, "hasCockosViewAsConfig"))
  {
    hostExtensionFlags |= 2;
    return kCockosAnswer;
  }
  return 0;
}

VstIntPtr IPlugVST::VendorSpecific(VstInt32 index, VstIntPtr value, void* ptr, float opt)
{
  const bool paramInRange = value >= 0 && value < ParamCount();
  if (index == effGetParamDisplay)
  {
    if (!ptr) return 0;
    if (paramInRange)
    {
      // The text of a normalised position the host asks about; one that is not
      // a finite number is shown as 0, one outside [0, 1] as its nearest end.
      char text[ParamDef::kFormatBufferSize] = {};
      ParamAt((int)value)->FormatForHost(std::isfinite(opt) ? (double)opt : 0.0, true, text, true);
      CopyText(static_cast<char*>(ptr), kParamTextBound, text);
    }
    return kVendorAnswer;
  }
  if (index == effGetParamName)
    return (paramInRange && ParamAt((int)value)->Kind() != ParamKindDouble) ? kVendorAnswer : 0;
  if (index == kContentScaleIndex && value == kContentScaleValue)
  {
    // The host's content scale for the editor, in opt: 1 when taken. The host
    // asks for the new size with effEditGetRect; an open window is resized now
    // and the host told.
    IGraphics* editor = Editor();
    if (!editor) return 0;
    const int w = editor->ScaledWidth(), h = editor->ScaledHeight();
    if (!editor->SetScale((double)opt)) return 0;
    SetEditorRect();
    if (editor->IsWindowOpen() && (editor->ScaledWidth() != w || editor->ScaledHeight() != h))
      HostCall(audioMasterSizeWindow, editor->ScaledWidth(), editor->ScaledHeight());
    return 1;
  }
  return 0;
}
