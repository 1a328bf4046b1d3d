#include "vst2/IPlugVST.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "framework/HostId.h"
#include "graphics/IGraphics.h"
#if TALVOR_X11_EDITOR
#include "graphics/IGraphicsX11.h"
#endif

namespace
{
// Host buffers come with no size. Names are copied whole up to these bounds
// (terminator included), which every host we know of exceeds; longer texts are
// cut rather than written past a buffer of the published size class.
constexpr int kParamTextBound = 32;    // effGetParamName/Label/Display, vendor display
constexpr int kProgNameBound = kVstMaxProgNameLen;
constexpr int kEffectNameBound = kVstMaxEffectNameLen;
constexpr int kVendorBound = kVstMaxVendorStrLen;
constexpr int kProductBound = kVstMaxProductStrLen;
constexpr int kPinLabelBound = kVstMaxLabelLen;
constexpr int kKeyNameBound = kVstMaxNameLen;
// Longest text read from a host (program names, parameter texts).
constexpr int kHostTextBound = 256;

constexpr VstIntPtr kIdentifyAnswer = 0x4E764566;  // 'NvEf'
constexpr VstIntPtr kVendorAnswer = 0xBEEF;
constexpr VstIntPtr kCockosAnswer = (VstIntPtr)0xBEEF0000u;
constexpr VstInt32 kTransportFilter = kVstPpqPosValid | kVstTempoValid | kVstBarsValid |
                                      kVstCyclePosValid | kVstTimeSigValid;  // 0x3E00

void CopyToHost(void* dest, const char* text, int bound)
{
  char* out = static_cast<char*>(dest);
  int n = 0;
  if (text)
    while (n < bound - 1 && text[n]) ++n;
  std::memcpy(out, text ? text : "", (size_t)n);
  out[n] = '\0';
}

// Copies a host text into `out` (kHostTextBound bytes), stopping at the bound
// even when the host forgot the terminator.
void CopyFromHost(char* out, const void* src)
{
  const char* text = static_cast<const char*>(src);
  int n = 0;
  while (n < kHostTextBound - 1 && text[n]) ++n;
  std::memcpy(out, text, (size_t)n);
  out[n] = '\0';
}

// A decimal number at the start of `text` (leading blanks and a sign allowed,
// units after it ignored), independent of the host's locale. Fails for text
// without a number and for infinities and NaN.
bool ParseDecimal(const char* text, double* out)
{
  while (*text == ' ' || *text == '\t') ++text;
  bool negative = false;
  if (*text == '+' || *text == '-')
  {
    negative = (*text == '-');
    ++text;
  }
  if (!(std::isdigit((unsigned char)*text) || (*text == '.' && std::isdigit((unsigned char)text[1]))))
    return false;
  double v = 0.0;
  const char* end = text + std::strlen(text);
  std::from_chars_result r = std::from_chars(text, end, v, std::chars_format::general);
  if (r.ec != std::errc() || !std::isfinite(v)) return false;
  *out = negative ? -v : v;
  return true;
}

// An int from a host's pointer-sized value; values that do not fit become -1,
// which every index check refuses.
int IntFromHost(VstIntPtr value)
{
  return (value < INT_MIN || value > INT_MAX) ? -1 : (int)value;
}

VstInt32 SpeakerArrangementType(int nChannels)
{
  switch (nChannels)
  {
    case 0: return kSpeakerArrEmpty;
    case 1: return kSpeakerArrMono;
    case 2: return kSpeakerArrStereo;
    default: return kSpeakerArrUserDefined;
  }
}

int16_t ClampToInt16(int v)
{
  return (int16_t)std::clamp(v, 0, 32767);
}
}  // namespace

IPlugVST::IPlugVST(IPlugInstanceInfo instanceInfo, int nParams, const char* channelIOStr,
                   int nPresets, const char* effectName, const char* productName,
                   const char* makerName, int32_t version, int32_t uniqueId, int32_t makerId)
  : IPlugBase(nParams, channelIOStr, nPresets, effectName, productName, makerName, version,
              uniqueId, makerId, kApiVST2),
    hostCallback(instanceInfo.hostCallback)
{
  std::memset(&effect, 0, sizeof(effect));
  effect.magic = kEffectMagic;
  effect.dispatcher = VSTDispatcher;
  effect.process = VSTProcess;
  effect.setParameter = VSTSetParameter;
  effect.getParameter = VSTGetParameter;
  effect.numPrograms = PresetCount();
  effect.numParams = ParamCount();
  effect.numInputs = NInChannels();
  effect.numOutputs = NOutChannels();
  effect.flags = effFlagsCanReplacing | effFlagsCanDoubleReplacing;
  if (LegalIO(1, -1)) effect.flags |= effFlagsCanMono;
  effect.initialDelay = Latency();
  effect.ioRatio = 1.0f;
  effect.object = this;
  effect.uniqueID = UniqueId();
  effect.version = DecimalVersion();
  effect.processReplacing = VSTProcessReplacing;
  effect.processDoubleReplacing = VSTProcessDoubleReplacing;

  std::memset(&inputArrangement, 0, sizeof(inputArrangement));
  std::memset(&outputArrangement, 0, sizeof(outputArrangement));
  inputArrangement.type = SpeakerArrangementType(NInChannels());
  inputArrangement.numChannels = NInChannels();
  outputArrangement.type = SpeakerArrangementType(NOutChannels());
  outputArrangement.numChannels = NOutChannels();

  ConnectInputs(0, NInChannels(), true);
  ConnectOutputs(0, NOutChannels(), true);
  if (BlockSize() != 1024) ChangeBlockSize(1024);
}

IPlugVST::~IPlugVST() = default;

IPlugVST* IPlugVST::FromEffect(AEffect* effect)
{
  return effect ? static_cast<IPlugVST*>(effect->object) : nullptr;
}

// ---- Host calls ---------------------------------------------------------------------

VstIntPtr IPlugVST::HostCall(VstInt32 opcode, VstInt32 index, VstIntPtr value, void* ptr, float opt)
{
  return hostCallback ? hostCallback(&effect, opcode, index, value, ptr, opt) : 0;
}

void IPlugVST::BeginParamGesture(int paramIdx)
{
  HostCall(audioMasterBeginEdit, paramIdx);
}

void IPlugVST::SendParamToHost(int paramIdx, double normalizedValue)
{
  HostCall(audioMasterAutomate, paramIdx, 0, nullptr, (float)normalizedValue);
}

void IPlugVST::EndParamGesture(int paramIdx)
{
  HostCall(audioMasterEndEdit, paramIdx);
}

void IPlugVST::SendProgramChangeToHost()
{
  HostCall(audioMasterUpdateDisplay);
}

bool IPlugVST::IsOfflineRender()
{
  return HostCall(audioMasterGetCurrentProcessLevel) == kVstProcessLevelOffline;
}

const VstTimeInfo* IPlugVST::HostTime(VstInt32 filter)
{
  return reinterpret_cast<const VstTimeInfo*>(HostCall(audioMasterGetTime, 0, filter));
}

int32_t IPlugVST::SamplePosition()
{
  const VstTimeInfo* t = HostTime(0);
  if (!t || !(t->samplePos >= 0.0)) return 0;
  // Past about 12 hours at 48 kHz the position no longer fits; hold it there.
  if (t->samplePos + 0.5 >= (double)INT32_MAX) return INT32_MAX;
  return (int32_t)(t->samplePos + 0.5);
}

double IPlugVST::Tempo()
{
  const VstTimeInfo* t = HostTime(kVstTempoValid);
  if (t && (t->flags & kVstTempoValid) && t->tempo >= 0.0 && std::isfinite(t->tempo)) return t->tempo;
  return 0.0;
}

void IPlugVST::TimeSignature(int* numerator, int* denominator)
{
  int num = 0, den = 0;
  const VstTimeInfo* t = HostTime(kVstTimeSigValid);
  if (t && (t->flags & kVstTimeSigValid) && t->timeSigNumerator >= 0 && t->timeSigDenominator >= 0)
  {
    num = t->timeSigNumerator;
    den = t->timeSigDenominator;
  }
  if (numerator) *numerator = num;
  if (denominator) *denominator = den;
}

void IPlugVST::TransportInfo(TimeInfo* info)
{
  if (!info) return;
  const VstTimeInfo* t = HostTime(kTransportFilter);
  if (!t || !(t->flags & kTransportFilter)) return;
  info->samplePos = t->samplePos;
  if ((t->flags & kVstPpqPosValid) && t->ppqPos >= 0.0) info->ppqPos = t->ppqPos;
  if ((t->flags & kVstTempoValid) && t->tempo > 0.0) info->tempo = t->tempo;
  if ((t->flags & kVstBarsValid) && t->barStartPos >= 0.0) info->lastBar = t->barStartPos;
  if ((t->flags & kVstCyclePosValid) && t->cycleStartPos >= 0.0 && t->cycleEndPos >= 0.0)
  {
    info->cycleStart = t->cycleStartPos;
    info->cycleEnd = t->cycleEndPos;
  }
  if ((t->flags & kVstTimeSigValid) && t->timeSigNumerator > 0 && t->timeSigDenominator > 0)
  {
    info->numerator = t->timeSigNumerator;
    info->denominator = t->timeSigDenominator;
  }
  info->transportIsRunning = (t->flags & kVstTransportPlaying) != 0;
  info->transportLoopEnabled = (t->flags & kVstTransportCycleActive) != 0;
}

int32_t IPlugVST::HostId()
{
  if (hostKind != kHostUninit) return hostKind;
  char name[256] = {};
  HostCall(audioMasterGetProductString, 0, 0, name);
  name[sizeof(name) - 1] = '\0';
  int32_t packed = 0;
  if (name[0])
  {
    // Decimal major * 10000 + minor * 100 + third, repacked as 0xMMMMmmtt. A
    // negative answer or one whose major does not fit counts as no version.
    VstIntPtr d = HostCall(audioMasterGetVendorVersion);
    if (d > 0 && d / 10000 <= 32767)
      packed = (int32_t)((d / 10000) * 65536 + ((d % 10000) / 100) * 256 + d % 100);
  }
  IdentifyHost(name, packed);
  return hostKind;
}

bool IPlugVST::MidiOut(const IMidiMsg& msg)
{
  VstMidiEvent ev;
  std::memset(&ev, 0, sizeof(ev));
  ev.type = kVstMidiType;
  ev.byteSize = (VstInt32)sizeof(VstMidiEvent);
  ev.deltaFrames = msg.offset;
  ev.midiData[0] = (char)msg.status;
  ev.midiData[1] = (char)msg.data1;
  ev.midiData[2] = (char)msg.data2;
  VstEvents list;
  std::memset(&list, 0, sizeof(list));
  list.numEvents = 1;
  list.events[0] = reinterpret_cast<VstEvent*>(&ev);
  return HostCall(audioMasterProcessEvents, 0, 0, &list) == 1;
}

bool IPlugVST::SysExOut(const ISysEx& msg)
{
  VstMidiSysexEvent ev;
  std::memset(&ev, 0, sizeof(ev));
  ev.type = kVstSysExType;
  ev.byteSize = (VstInt32)sizeof(VstMidiSysexEvent);
  ev.deltaFrames = msg.offset;
  ev.dumpBytes = msg.size;
  ev.sysexDump = reinterpret_cast<char*>(const_cast<uint8_t*>(msg.data));
  VstEvents list;
  std::memset(&list, 0, sizeof(list));
  list.numEvents = 1;
  list.events[0] = reinterpret_cast<VstEvent*>(&ev);
  return HostCall(audioMasterProcessEvents, 0, 0, &list) == 1;
}

// ---- Set-up ---------------------------------------------------------------------------

void IPlugVST::HostSpecificSetup()
{
  switch (HostId())
  {
    case kHostForte:
    case kHostAudition:
    case kHostOrion:
    case kHostSAWStudio:
      RestrictToStereo();
      break;
    default:
      break;
  }
  effect.numInputs = inputArrangement.numChannels = NInChannels();
  effect.numOutputs = outputArrangement.numChannels = NOutChannels();
  HostIdentified();
}

void IPlugVST::SetEditorRect()
{
  IGraphics* editor = Editor();
  editorRect.top = 0;
  editorRect.left = 0;
  editorRect.bottom = editor ? ClampToInt16(editor->Height()) : 0;
  editorRect.right = editor ? ClampToInt16(editor->Width()) : 0;
}

void IPlugVST::AttachEditor(IGraphics* editor)
{
  IPlugBase::AttachEditor(editor);
  if (Editor())
  {
    effect.flags |= effFlagsHasEditor;
    SetEditorRect();
  }
}

void IPlugVST::ResizeEditor(int, int)
{
  if (!Editor()) return;
  SetEditorRect();
  WindowResized();
}

void IPlugVST::ChangeLatency(int samples)
{
  IPlugBase::ChangeLatency(samples);
  effect.initialDelay = Latency();
}

// ---- Record functions ----------------------------------------------------------------

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

    case effSetProgramName:
      if (ptr)
      {
        char name[kHostTextBound];
        CopyFromHost(name, ptr);
        ModifyCurrentPreset(name);
        PresetsChanged();
      }
      return 0;

    case effGetProgramName:
      if (ptr) CopyToHost(ptr, PresetName(CurrentPresetIndex()), kProgNameBound);
      return 0;

    case effGetParamLabel:
      if (ptr && ParamAt(index)) CopyToHost(ptr, ParamAt(index)->LabelForHost(), kParamTextBound);
      return 0;

    case effGetParamDisplay:
      if (ptr && ParamAt(index))
      {
        char text[ParamDef::kFormatBufferSize] = {};
        ParamAt(index)->FormatForHost(ParamAt(index)->Value(), false, text, true);
        CopyToHost(ptr, text, kParamTextBound);
      }
      return 0;

    case effGetParamName:
      if (ptr && ParamAt(index)) CopyToHost(ptr, ParamAt(index)->NameForHost(), kParamTextBound);
      return 0;

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

    case effGetChunk:
      return GetChunk(index == 0, static_cast<void**>(ptr));

    case effSetChunk:
      return SetChunk(index == 0, value, ptr);

    case effProcessEvents:
    {
      if (!ptr) return 0;
      const VstEvents* list = static_cast<const VstEvents*>(ptr);
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

    case effCanBeAutomated:
      return 1;

    case effString2Parameter:
      return StringToParameter(index, static_cast<const char*>(ptr));

    case effGetProgramNameIndexed:
      if (!ptr) return 0;
      CopyToHost(ptr, PresetName(index), kProgNameBound);
      return static_cast<char*>(ptr)[0] ? 1 : 0;

    case effGetInputProperties:
      return PinProperties(false, index, static_cast<VstPinProperties*>(ptr));

    case effGetOutputProperties:
      return PinProperties(true, index, static_cast<VstPinProperties*>(ptr));

    case effGetPlugCategory:
      return IsInstrument() ? kPlugCategSynth : kPlugCategEffect;

    case effProcessVarIo:
      return 0;

    case effSetSpeakerArrangement:
    {
      const VstSpeakerArrangement* in = reinterpret_cast<const VstSpeakerArrangement*>(value);
      const VstSpeakerArrangement* out = static_cast<const VstSpeakerArrangement*>(ptr);
      if (in)
      {
        int n = std::clamp(in->numChannels, 0, NInChannels());
        ConnectInputs(0, n, true);
        ConnectInputs(n, NInChannels() - n, false);
      }
      if (out)
      {
        int n = std::clamp(out->numChannels, 0, NOutChannels());
        ConnectOutputs(0, n, true);
        ConnectOutputs(n, NOutChannels() - n, false);
      }
      // A disconnected channel now reads its scratch buffer, which may still
      // hold the last block converted into it: silence it.
      ClearScratch();
      return 1;
    }

    case effGetEffectName:
      if (!ptr) return 0;
      CopyToHost(ptr, EffectName(), kEffectNameBound);
      return 1;

    case effGetVendorString:
      if (!ptr) return 0;
      CopyToHost(ptr, MakerName(), kVendorBound);
      return 1;

    case effGetProductString:
      if (!ptr) return 0;
      CopyToHost(ptr, ProductName(), kProductBound);
      return 1;

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

    case effGetMidiKeyName:
    {
      if (!ptr) return 0;
      MidiKeyName* key = static_cast<MidiKeyName*>(ptr);
      key->keyName[0] = '\0';
      char text[kKeyNameBound + 1] = {};
      bool named = NoteNameFor(key->thisKeyNumber, text);
      CopyToHost(key->keyName, text, kKeyNameBound);
      return named ? 1 : 0;
    }

    case effGetSpeakerArrangement:
      if (value) *reinterpret_cast<VstSpeakerArrangement**>(value) = &inputArrangement;
      if (ptr) *static_cast<VstSpeakerArrangement**>(ptr) = &outputArrangement;
      return 1;

    default:
      return 0;
  }
}

VstIntPtr IPlugVST::GetChunk(bool bank, void** dataOut)
{
  if (!dataOut) return 0;
  StateChunk& chunk = bank ? bankChunk : programChunk;
  WriteVersionHeader(chunk);
  bool ok;
  if (bank)
  {
    ModifyCurrentPreset();
    ok = SerializePresets(chunk);
  }
  else
  {
    ok = SaveState(chunk);
  }
  if (!ok || chunk.Size() <= 0) return 0;
  *dataOut = chunk.Data();
  return chunk.Size();
}

VstIntPtr IPlugVST::SetChunk(bool bank, VstIntPtr size, const void* data)
{
  if (!data || size < 0 || size > kMaxChunkBytes) return 0;

  // Read from a private copy: the host may hand back the very buffer it got
  // from effGetChunk, and that buffer is about to be replaced.
  StateChunk incoming;
  if (size > 0 && incoming.PutBytes(data, (int)size) != (int)size) return 0;

  // A chunk that fails to load must not leave half-loaded parameters or presets
  // behind: keep what is there now and put it back on failure.
  StateChunk savedParams, savedPresets;
  if (!SaveState(savedParams) || !SerializePresets(savedPresets)) return 0;

  int pos = 0;
  int32_t version = ReadVersionHeader(incoming, &pos);
  int end;
  if (bank && version >= kFrameworkStateVersion)
  {
    end = UnserializePresets(incoming, pos);
  }
  else
  {
    end = LoadState(incoming, pos);
    ModifyCurrentPreset();
  }

  if (end < 0)
  {
    UnserializePresets(savedPresets, 0);
    LoadState(savedParams, 0);
    RefreshParamControls();
    return 0;
  }

  StateChunk& kept = bank ? bankChunk : programChunk;
  kept.Clear();
  if (incoming.Size() > 0) kept.PutChunk(incoming);
  RefreshParamControls();
  return 1;
}

VstIntPtr IPlugVST::StringToParameter(int index, const char* text)
{
  ParamDef* param = ParamAt(index);
  if (!param) return 0;
  if (!text) return 1;
  char buf[kHostTextBound];
  CopyFromHost(buf, text);
  double v;
  if (param->DisplayTextCount() == 0)
  {
    // Text that holds no number is refused rather than read as 0.
    if (!ParseDecimal(buf, &v)) return 0;
    if (param->NegateDisplay()) v = -v;
  }
  else
  {
    int32_t iv = 0;
    if (!param->ValueFromDisplayText(buf, &iv)) return 0;
    v = iv;
  }
  if (Editor()) Editor()->ShowParameterValue(index, v, false);
  param->SetClamped(v);
  ParamChanged(index);
  return 1;
}

VstIntPtr IPlugVST::PinProperties(bool output, int index, VstPinProperties* props)
{
  int count = output ? NOutChannels() : NInChannels();
  if (!props || index < 0 || index >= count) return 0;
  props->flags = kVstPinIsActive;
  if (index % 2 == 0 && index < count - 1) props->flags |= kVstPinIsStereo;
  const std::string& label = output ? OutChannelLabel(index) : InChannelLabel(index);
  if (!label.empty())
    CopyToHost(props->label, label.c_str(), kPinLabelBound);
  else
    std::snprintf(props->label, kPinLabelBound, output ? "Output %d" : "Input %d", index + 1);
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
      // The text of a normalised position the host asks about; a position
      // outside [0, 1] is shown as its nearest end.
      double x = std::isfinite(opt) ? std::clamp((double)opt, 0.0, 1.0) : 0.0;
      char text[ParamDef::kFormatBufferSize] = {};
      ParamAt((int)value)->FormatForHost(x, true, text, true);
      CopyToHost(ptr, text, kParamTextBound);
    }
    return kVendorAnswer;
  }
  if (index == effGetParamName)
    return (paramInRange && ParamAt((int)value)->Kind() != ParamKindDouble) ? kVendorAnswer : 0;
  return 0;
}

void IPlugVST::VSTProcess(AEffect* effect, float** inputs, float** outputs, VstInt32 nFrames)
{
  IPlugVST* plug = FromEffect(effect);
  if (!plug) return;
  IPlugLockGuard hold(plug);
  if (!plug->ProcessPrepare(nFrames)) return;
  plug->ProcessHostBlock32(inputs, plug->effect.numInputs, outputs, plug->effect.numOutputs, nFrames,
                           true);
}

void IPlugVST::VSTProcessReplacing(AEffect* effect, float** inputs, float** outputs, VstInt32 nFrames)
{
  IPlugVST* plug = FromEffect(effect);
  if (!plug) return;
  IPlugLockGuard hold(plug);
  if (!plug->ProcessPrepare(nFrames)) return;
  plug->ProcessHostBlock32(inputs, plug->effect.numInputs, outputs, plug->effect.numOutputs, nFrames,
                           false);
}

void IPlugVST::VSTProcessDoubleReplacing(AEffect* effect, double** inputs, double** outputs,
                                         VstInt32 nFrames)
{
  IPlugVST* plug = FromEffect(effect);
  if (!plug) return;
  IPlugLockGuard hold(plug);
  if (!plug->ProcessPrepare(nFrames)) return;
  plug->ProcessHostBlock64(inputs, plug->effect.numInputs, outputs, plug->effect.numOutputs, nFrames);
}

bool IPlugVST::ProcessPrepare(VstInt32 nFrames)
{
  // An empty block still runs the plug-in: its per-block preparation applies
  // what changed since the last block.
  if (nFrames < 0) return false;
  if (DoesMidi()) HostCall(audioMasterWantMidi);
  return true;
}

float IPlugVST::VSTGetParameter(AEffect* effect, VstInt32 index)
{
  IPlugVST* plug = FromEffect(effect);
  if (!plug) return 0.0f;
  IPlugLockGuard hold(plug);
  const ParamDef* param = plug->ParamAt(index);
  return param ? (float)param->NormalizedValue() : 0.0f;
}

void IPlugVST::VSTSetParameter(AEffect* effect, VstInt32 index, float value)
{
  IPlugVST* plug = FromEffect(effect);
  if (!plug) return;
  IPlugLockGuard hold(plug);
  ParamDef* param = plug->ParamAt(index);
  // Not a position at all: keep the current value.
  if (!param || std::isnan(value)) return;
  double x = std::clamp((double)value, 0.0, 1.0);
  if (plug->Editor()) plug->Editor()->ShowParameterValue(index, x, true);
  param->SetFromNormalized(x);
  plug->ParamChanged(index);
}
