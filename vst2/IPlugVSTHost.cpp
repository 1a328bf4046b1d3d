// The calls the VST2 binding makes to its host: edits from the editor, time and
// transport, the process level, the host's identity and outgoing MIDI.
#include <climits>
#include <cmath>
#include <cstring>

#include "framework/HostId.h"
#include "vst2/IPlugVST.h"

namespace
{
constexpr VstInt32 kTransportFilter = kVstPpqPosValid | kVstTempoValid | kVstBarsValid |
                                      kVstCyclePosValid | kVstTimeSigValid;  // 0x3E00

// A zeroed event record of `type` for the host, at `offset` frames into the block.
template <typename Event>
Event NewEvent(VstInt32 type, VstInt32 offset)
{
  Event ev;
  std::memset(&ev, 0, sizeof(ev));
  ev.type = type;
  ev.byteSize = (VstInt32)sizeof(Event);
  ev.deltaFrames = offset;
  return ev;
}
}  // namespace

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

bool IPlugVST::SendEventToHost(VstEvent* event)
{
  VstEvents list;
  std::memset(&list, 0, sizeof(list));
  list.numEvents = 1;
  list.events[0] = event;
  return HostCall(audioMasterProcessEvents, 0, 0, &list) == 1;
}

bool IPlugVST::MidiOut(const IMidiMsg& msg)
{
  VstMidiEvent ev = NewEvent<VstMidiEvent>(kVstMidiType, msg.offset);
  ev.midiData[0] = (char)msg.status;
  ev.midiData[1] = (char)msg.data1;
  ev.midiData[2] = (char)msg.data2;
  return SendEventToHost(reinterpret_cast<VstEvent*>(&ev));
}

bool IPlugVST::SysExOut(const ISysEx& msg)
{
  VstMidiSysexEvent ev = NewEvent<VstMidiSysexEvent>(kVstSysExType, msg.offset);
  ev.dumpBytes = msg.size;
  ev.sysexDump = reinterpret_cast<char*>(const_cast<uint8_t*>(msg.data));
  return SendEventToHost(reinterpret_cast<VstEvent*>(&ev));
}
