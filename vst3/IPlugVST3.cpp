#include "vst3/IPlugVST3.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "graphics/IGraphics.h"
#include "pluginterfaces/base/ibstream.h"
#include "pluginterfaces/vst/ivstcontextmenu.h"
#include "pluginterfaces/vst/ivsthostapplication.h"
#include "vst3/IPlugVST3View.h"

using namespace Steinberg;
using namespace Steinberg::Vst;

// ---- Helpers ----------------------------------------------------------------------------

SpeakerArrangement SpeakerArrangementForChannels(int nChannels)
{
  switch (nChannels)
  {
    case 1: return 0x80000;  // mono
    case 2: return 0x3;      // stereo
    case 3: return 0x103;
    case 4: return 0x33;
    case 5: return 0x37;
    case 6: return 0x3F;
    default: return 0;
  }
}

void WidenToString128(const char* src, String128 dst)
{
  int i = 0;
  if (src)
    for (; i < 127 && src[i]; ++i)
      dst[i] = static_cast<TChar>(static_cast<unsigned char>(src[i]));
  dst[i] = 0;
}

void NarrowFromUTF16(const TChar* src, char* dst, int dstSize)
{
  if (!dst || dstSize <= 0)
    return;
  int i = 0;
  if (src)
    for (; i < dstSize - 1 && src[i]; ++i)
      dst[i] = static_cast<char>(src[i] & 0xFF);
  dst[i] = 0;
}

namespace {

int CountSpeakers(SpeakerArrangement arr)
{
  int n = 0;
  for (; arr; arr &= arr - 1)
    ++n;
  return n;
}

// One channel's array of a host bus, in the sample size the block announced.
void* HostChannel(const AudioBusBuffers& bus, int channel, bool is64)
{
  return is64 ? static_cast<void*>(bus.channelBuffers64[channel])
              : static_cast<void*>(bus.channelBuffers32[channel]);
}

double ClampUnit(double v)
{
  return v < 0.0 ? 0.0 : (v > 1.0 ? 1.0 : v);
}

// Reads up to `count` bytes, following streams that deliver less per call.
int32 ReadFully(IBStream* stream, void* buffer, int32 count)
{
  auto* bytes = static_cast<uint8_t*>(buffer);
  int32 total = 0;
  while (total < count)
  {
    int32 got = 0;
    if (stream->read(bytes + total, count - total, &got) != kResultOk || got <= 0)
      break;
    total += std::min(got, count - total);
  }
  return total;
}

// Parses the whole text (surrounding blanks allowed) as a finite decimal number.
bool ParseNumber(const char* text, double* out)
{
  char* end = nullptr;
  const double v = std::strtod(text, &end);
  if (end == text || !std::isfinite(v))
    return false;
  while (*end == ' ' || *end == '\t')
    ++end;
  if (*end != 0)
    return false;
  *out = v;
  return true;
}

}  // namespace

// ---- IPlugParameter ------------------------------------------------------------------------

IPlugParameter::IPlugParameter(ParamDef* def, int paramIdx, UnitID unitId) : def(def)
{
  info.id = static_cast<ParamID>(paramIdx);
  WidenToString128(def->NameForHost(), info.title);
  info.shortTitle[0] = 0;
  WidenToString128(def->LabelForHost(), info.units);
  info.stepCount = def->Kind() == ParamKindDouble ? 0 : static_cast<int32>(def->Max() - def->Min());
  info.defaultNormalizedValue = def->ToNormalized(def->Default());
  valueNormalized = info.defaultNormalizedValue;
  info.unitId = unitId;
  info.flags = def->CanAutomate() ? ParameterInfo::kCanAutomate : 0;
  precision = def->DisplayPrecision();
}

void IPlugParameter::toString(ParamValue valueNormalized, String128 string) const
{
  if (!string)
    return;
  if (std::isnan(valueNormalized))
  {
    string[0] = 0;
    return;
  }
  char text[ParamDef::kFormatBufferSize] = {};
  def->FormatForHost(ClampUnit(valueNormalized), true, text, true);
  WidenToString128(text, string);
}

bool IPlugParameter::fromString(const TChar* string, ParamValue& valueNormalized) const
{
  if (!string)
    return false;
  char text[128];
  NarrowFromUTF16(string, text, sizeof(text));
  double plain = 0.0;
  int32_t listed = 0;
  if (def->DisplayTextCount() > 0 && def->ValueFromDisplayText(text, &listed))
  {
    plain = listed;
  }
  else
  {
    // Text that is not a number is refused rather than read as 0: a typing slip
    // must not throw the parameter to an arbitrary value.
    if (!ParseNumber(text, &plain))
      return false;
    if (def->NegateDisplay())
      plain = -plain;  // the display shows the value negated; undo that
  }
  valueNormalized = def->ToNormalized(plain);
  return true;
}

ParamValue IPlugParameter::toPlain(ParamValue valueNormalized) const
{
  if (std::isnan(valueNormalized))
    return def->Min();
  return def->FromNormalized(ClampUnit(valueNormalized));
}

ParamValue IPlugParameter::toNormalized(ParamValue plainValue) const
{
  if (std::isnan(plainValue))
    return 0.0;
  return def->ToNormalized(plainValue);
}

// ---- Construction ---------------------------------------------------------------------------

IPlugVST3::IPlugVST3(IPlugInstanceInfo, int nParams, const char* channelIOStr, int nPresets,
                     const char* effectName, const char* productName, const char* makerName,
                     int32_t version, int32_t uniqueId, int32_t makerId)
  : IPlugBase(nParams, channelIOStr, nPresets, effectName, productName, makerName, version, uniqueId,
              makerId, kApiVST3)
{
  std::memset(&lastProcessContext, 0, sizeof(lastProcessContext));

  ConnectInputs(0, NInChannels(), true);
  ConnectOutputs(0, NOutChannels(), true);
  if (NInChannels() > 0)
    CreateBypassDelayLine(NInChannels(), NOutChannels(), Latency());

  InputBusLabels().clear();
  InputBusLabels().push_back("Main Input");
  if (sideChainChannels > 0)
    InputBusLabels().push_back("Aux Input");
  OutputBusLabels().clear();
  if (IsInstrument())
  {
    char label[32];
    for (int pair = 0; pair < NOutChannels() / 2; ++pair)
    {
      std::snprintf(label, sizeof(label), "Output %i", pair + 1);
      OutputBusLabels().push_back(label);
    }
  }
  else
  {
    OutputBusLabels().push_back("Output");
  }

  hostIn.assign(static_cast<size_t>(NInChannels()), nullptr);
  hostOut.assign(static_cast<size_t>(NOutChannels()), nullptr);
  packedIn64.assign(static_cast<size_t>(NInChannels()), nullptr);
  packedOut64.assign(static_cast<size_t>(NOutChannels()), nullptr);
  packedIn32.assign(static_cast<size_t>(NInChannels()), nullptr);
  packedOut32.assign(static_cast<size_t>(NOutChannels()), nullptr);
  inWasConnected.assign(static_cast<size_t>(NInChannels()), 1);
}

IPlugVST3::~IPlugVST3()
{
  // A host that never called terminate still gets its handler and context back.
  SingleComponentEffect::terminate();
}

// ---- IPluginBase --------------------------------------------------------------------------

tresult PLUGIN_API IPlugVST3::initialize(FUnknown* context)
{
  // A second initialisation is refused without touching anything: reloading the
  // default preset here would throw away the user's settings.
  if (initialized)
    return kResultFalse;
  const tresult result = SingleComponentEffect::initialize(context);
  if (result != kResultOk)
    return result;
  initialized = true;

  if (context)
  {
    IHostApplication* app = nullptr;
    alignas(8) TUID appIid;
    IHostApplication::iid.toTUID(appIid);
    if (context->queryInterface(appIid, reinterpret_cast<void**>(&app)) == kResultOk && app)
    {
      String128 name = {};
      if (app->getName(name) == kResultOk)
      {
        name[127] = 0;
        char narrow[128];
        NarrowFromUTF16(name, narrow, sizeof(narrow));
        IdentifyHost(narrow, 0);
      }
      app->release();
    }
  }

  String128 busName;
  const int mainInputs = NInChannels() - sideChainChannels;
  if (SpeakerArrangement arr = SpeakerArrangementForChannels(mainInputs))
  {
    WidenToString128(InputBusLabels().empty() ? "" : InputBusLabels()[0].c_str(), busName);
    addAudioInput(busName, arr, kMain, BusInfo::kDefaultActive);
  }
  if (IsInstrument())
  {
    for (int pair = 0; pair < NOutChannels() / 2; ++pair)
    {
      const auto& labels = OutputBusLabels();
      WidenToString128(pair < (int)labels.size() ? labels[pair].c_str() : "", busName);
      addAudioOutput(busName, SpeakerArrangementForChannels(2), kMain, BusInfo::kDefaultActive);
    }
  }
  else
  {
    WidenToString128(OutputBusLabels().empty() ? "" : OutputBusLabels()[0].c_str(), busName);
    addAudioOutput(busName, SpeakerArrangementForChannels(NOutChannels()), kMain,
                   BusInfo::kDefaultActive);
  }
  if (sideChainChannels > 0)
  {
    sideChainChannels = std::min(sideChainChannels, 2);
    WidenToString128(InputBusLabels().size() > 1 ? InputBusLabels()[1].c_str() : "", busName);
    addAudioInput(busName, SpeakerArrangementForChannels(sideChainChannels), kAux, 0);
  }
  if (DoesMidi())
  {
    WidenToString128("MIDI Input", busName);
    addEventInput(busName, 1, kMain, BusInfo::kDefaultActive);
  }
  CreateParameterObjects();

  HostIdentified();
  RecallPreset(0);
  return kResultOk;
}

tresult PLUGIN_API IPlugVST3::terminate()
{
  unitGroups.clear();
  initialized = false;
  return SingleComponentEffect::terminate();
}

int IPlugVST3::UnitForGroup(const char* group)
{
  if (!group || !group[0])
    return kRootUnitId;
  for (size_t i = 0; i < unitGroups.size(); ++i)
    if (unitGroups[i] == group)
      return static_cast<int>(i) + 1;
  unitGroups.push_back(group);
  return static_cast<int>(unitGroups.size());
}

void IPlugVST3::CreateParameterObjects()
{
  String128 title;
  const TChar empty[1] = {0};
  if (PresetCount() > 0)
  {
    WidenToString128("Preset", title);
    auto* preset = new Parameter(title, kVST3PresetParamId, empty, 0.0, PresetCount(),
                                 ParameterInfo::kIsProgramChange, kRootUnitId, empty);
    preset->setPrecision(4);
    parameters.addParameter(preset);
  }
  if (!IsInstrument())
  {
    WidenToString128("Bypass", title);
    auto* bypass = new StringListParameter(
        title, kVST3BypassParamId, empty,
        ParameterInfo::kCanAutomate | ParameterInfo::kIsList | ParameterInfo::kIsBypass, kRootUnitId,
        empty);
    String128 entry;
    WidenToString128("off", entry);
    bypass->appendString(entry);
    WidenToString128("on", entry);
    bypass->appendString(entry);
    parameters.addParameter(bypass);
  }
  for (int i = 0; i < ParamCount(); ++i)
  {
    ParamDef* def = ParamAt(i);
    parameters.addParameter(new IPlugParameter(def, i, UnitForGroup(def->Group())));
  }
}

// ---- IComponent / IAudioProcessor ---------------------------------------------------------

tresult PLUGIN_API IPlugVST3::setActive(TBool state)
{
  ActivationChanged(state != 0);
  return kResultOk;
}

tresult PLUGIN_API IPlugVST3::setBusArrangements(SpeakerArrangement* inputs, int32 numIns,
                                                 SpeakerArrangement* outputs, int32 numOuts)
{
  // Held although hosts must not process meanwhile: a host that does anyway
  // would otherwise have its block read buses being replaced.
  IPlugLockGuard lock(this);
  // Before initialize there are no buses to rearrange.
  if (audioInputs.empty() || audioOutputs.empty())
    return kResultFalse;

  ConnectInputs(0, NInChannels(), false);
  ConnectOutputs(0, NOutChannels(), false);

  if (numIns < 1 || numOuts < 1 || !inputs || !outputs)
    return kResultFalse;
  const int nIn = CountSpeakers(inputs[0]);
  const int nOut = CountSpeakers(outputs[0]);
  if (!LegalIO(nIn, nOut))
    return kResultFalse;

  // A new layout replaces the bus; the host's activation carries over, since a
  // host need not activate a bus again after a new arrangement.
  String128 name;
  auto* mainIn = FCast<AudioBus>(audioInputs.at(0).get());
  if (!mainIn || CountSpeakers(mainIn->getArrangement()) != nIn)
  {
    const TBool wasActive = mainIn ? mainIn->isActive() : false;
    audioInputs.clear();
    WidenToString128("Input", name);
    addAudioInput(name, SpeakerArrangementForChannels(nIn), kMain, BusInfo::kDefaultActive)
        ->setActive(wasActive);
  }
  auto* mainOut = FCast<AudioBus>(audioOutputs.at(0).get());
  if (!mainOut || CountSpeakers(mainOut->getArrangement()) != nOut)
  {
    const TBool wasActive = mainOut ? mainOut->isActive() : false;
    audioOutputs.clear();
    WidenToString128("Output", name);
    addAudioOutput(name, SpeakerArrangementForChannels(nOut), kMain, BusInfo::kDefaultActive)
        ->setActive(wasActive);
  }

  if (sideChainChannels <= 0)
    return numIns == 1 ? kResultOk : kResultFalse;

  if (numIns != 2)
    return kResultFalse;
  const int nSide = CountSpeakers(inputs[1]);
  auto* side = audioInputs.size() > 1 ? FCast<AudioBus>(audioInputs.at(1).get()) : nullptr;
  if (!side || CountSpeakers(side->getArrangement()) != nSide)
  {
    audioInputs.clear();
    WidenToString128("Input", name);
    addAudioInput(name, SpeakerArrangementForChannels(nIn), kMain, BusInfo::kDefaultActive);
    WidenToString128("Sidechain Input", name);
    addAudioInput(name, SpeakerArrangementForChannels(sideChainChannels), kAux, 0);
  }
  return kResultOk;
}

tresult PLUGIN_API IPlugVST3::canProcessSampleSize(int32 symbolicSampleSize)
{
  return symbolicSampleSize == kSample32 || symbolicSampleSize == kSample64 ? kResultOk
                                                                             : kResultFalse;
}

uint32 PLUGIN_API IPlugVST3::getLatencySamples()
{
  return static_cast<uint32>(std::max(0, Latency()));
}

uint32 PLUGIN_API IPlugVST3::getTailSamples()
{
  return static_cast<uint32>(std::max(0, TailSize()));
}

tresult PLUGIN_API IPlugVST3::setupProcessing(ProcessSetup& setup)
{
  if (canProcessSampleSize(setup.symbolicSampleSize) != kResultOk)
    return kResultFalse;
  // A rate or block size that cannot be processed is refused before anything
  // changes, so the previous setup stays usable.
  if (!std::isfinite(setup.sampleRate) || setup.sampleRate <= 0.0 || setup.maxSamplesPerBlock <= 0)
    return kResultFalse;

  IPlugLockGuard lock(this);  // keeps the scratch buffers still while they change
  SetSampleRate(setup.sampleRate);
  SetBypassed(false);
  ChangeBlockSize(setup.maxSamplesPerBlock);  // the base caps what it allocates
  OnReset();
  processSetup = setup;
  return kResultOk;
}

void IPlugVST3::ApplyParameterChanges(IParameterChanges* changes)
{
  if (!changes)
    return;
  const int32 nQueues = changes->getParameterCount();
  for (int32 q = 0; q < nQueues; ++q)
  {
    IParamValueQueue* queue = changes->getParameterData(q);
    if (!queue)
      continue;
    const int32 nPoints = queue->getPointCount();
    if (nPoints <= 0)
      continue;
    int32 offset = 0;
    ParamValue value = 0.0;
    if (queue->getPoint(nPoints - 1, offset, value) != kResultOk)
      continue;
    // Automation beyond the normalised range is limited to it; a value that is
    // not a number changes nothing.
    if (!std::isfinite(value))
      continue;
    value = ClampUnit(value);

    const ParamID id = queue->getParameterId();
    if (id == kVST3BypassParamId)
    {
      SetBypassed(value > 0.5);
    }
    else if (id == kVST3PresetParamId)
    {
      RecallPreset(static_cast<int>(value * PresetCount()));
    }
    else if (id < static_cast<ParamID>(ParamCount()))
    {
      const int idx = static_cast<int>(id);
      ParamAt(idx)->SetFromNormalized(value);
      if (IGraphics* editor = Editor())
        editor->ShowParameterValue(idx, value, true);
      ParamChanged(idx);
    }
  }
}

void IPlugVST3::ForwardEvents(IEventList* events)
{
  if (!events)
    return;
  const int32 n = events->getEventCount();
  for (int32 i = 0; i < n; ++i)
  {
    Event e = {};
    if (events->getEvent(i, e) != kResultOk)
      continue;
    IMidiMsg msg;
    msg.offset = e.sampleOffset;
    if (e.type == Event::kNoteOnEvent)
    {
      const float v = std::isfinite(e.noteOn.velocity) ? std::clamp(e.noteOn.velocity, 0.0f, 1.0f) : 0.0f;
      msg.status = static_cast<uint8_t>(0x90 | (e.noteOn.channel & 0x0F));
      msg.data1 = static_cast<uint8_t>(e.noteOn.pitch & 0x7F);
      msg.data2 = static_cast<uint8_t>(v * 127.0f);
    }
    else if (e.type == Event::kNoteOffEvent)
    {
      msg.status = static_cast<uint8_t>(0x80 | (e.noteOff.channel & 0x0F));
      msg.data1 = static_cast<uint8_t>(e.noteOff.pitch & 0x7F);
      msg.data2 = 0;
    }
    else
    {
      continue;
    }
    MidiIn(msg);
  }
}

void IPlugVST3::MapBuses(const ProcessData& data, bool is64)
{
  const int nIn = NInChannels();
  const int nOut = NOutChannels();

  // Inputs: bus 0 feeds the plug-in's channels in order. A channel without a host
  // buffer (missing bus, fewer channels, null pointer) is disconnected and reads
  // its own scratch buffer, which is cleared when it stops being fed so that it
  // never replays old samples or reads a host buffer that has gone away.
  std::fill(hostIn.begin(), hostIn.end(), nullptr);
  if (data.numInputs > 0 && data.inputs)
  {
    const AudioBusBuffers& bus = data.inputs[0];
    const int nCh = std::clamp<int>(bus.numChannels, 0, nIn);
    for (int c = 0; c < nCh && bus.channelBuffers64; ++c)
      hostIn[c] = HostChannel(bus, c, is64);
  }
  bool clearScratch = false;
  for (int c = 0; c < nIn; ++c)
  {
    const bool connected = hostIn[c] != nullptr;
    if (!connected && inWasConnected[c])
      clearScratch = true;
    inWasConnected[c] = connected ? 1 : 0;
    ConnectInputs(c, 1, connected);
  }
  if (clearScratch)
    ClearScratch();

  // Outputs: the host's buses follow each other across the plug-in's channels.
  // Only buses the host activated are written; the rest go to scratch.
  std::fill(hostOut.begin(), hostOut.end(), nullptr);
  if (data.numOutputs > 0 && data.outputs)
  {
    int first = 0;
    for (int32 b = 0; b < data.numOutputs && first < nOut; ++b)
    {
      const AudioBusBuffers& bus = data.outputs[b];
      const int busChannels = std::max<int32>(bus.numChannels, 0);
      const bool active = b < static_cast<int32>(audioOutputs.size()) && audioOutputs.at(b)->isActive();
      const int span = std::min(busChannels, nOut - first);
      for (int k = 0; k < span; ++k)
        hostOut[first + k] = active && bus.channelBuffers64 ? HostChannel(bus, k, is64) : nullptr;
      first += span;
    }
  }
  for (int c = 0; c < nOut; ++c)
    ConnectOutputs(c, 1, hostOut[c] != nullptr);
}

tresult PLUGIN_API IPlugVST3::process(ProcessData& data)
{
  IPlugLockGuard lock(this);

  if (data.processContext)
    lastProcessContext = *data.processContext;
  ApplyParameterChanges(data.inputParameterChanges);
  if (DoesMidi())
    ForwardEvents(data.inputEvents);

  const bool is64 = data.symbolicSampleSize == kSample64;
  if (!is64 && data.symbolicSampleSize != kSample32)
    return kResultOk;  // no buffers of a size we know: parameters applied, audio untouched

  MapBuses(data, is64);

  // The connected channels take the host arrays in channel order.
  const int nIn = NInChannels();
  const int nOut = NOutChannels();
  int nInArrays = 0, nOutArrays = 0;
  for (int c = 0; c < nIn; ++c)
  {
    if (!hostIn[c])
      continue;
    packedIn64[nInArrays] = static_cast<double*>(hostIn[c]);
    packedIn32[nInArrays++] = static_cast<float*>(hostIn[c]);
  }
  for (int c = 0; c < nOut; ++c)
  {
    if (!hostOut[c])
      continue;
    packedOut64[nOutArrays] = static_cast<double*>(hostOut[c]);
    packedOut32[nOutArrays++] = static_cast<float*>(hostOut[c]);
  }

  const int nFrames = std::max<int32>(data.numSamples, 0);
  if (nFrames == 0)
  {
    // A block without samples (a host flushing parameters) still runs the
    // plug-in's per-block preparation.
    if (is64)
    {
      AttachInputs(0, nIn, packedIn64.data(), 0);
      AttachOutputs(0, nOut, packedOut64.data());
    }
    else
    {
      AttachInputs(0, nIn, packedIn32.data(), 0);
      AttachOutputs(0, nOut, packedOut32.data());
    }
    if (IsBypassed())
      PassThrough(0);
    else
      RunProcess(0);
    return kResultOk;
  }

  // Longer blocks than the scratch buffers hold (a host passing more than it
  // announced) are served in pieces by the base.
  if (is64)
  {
    double** in = packedIn64.data();
    double** out = packedOut64.data();
    if (IsBypassed())
      PassThroughHostBlock64(in, nInArrays, out, nOutArrays, nFrames);
    else
      ProcessHostBlock64(in, nInArrays, out, nOutArrays, nFrames);
  }
  else
  {
    float** in = packedIn32.data();
    float** out = packedOut32.data();
    if (IsBypassed())
      PassThroughHostBlock32(in, nInArrays, out, nOutArrays, nFrames);
    else
      ProcessHostBlock32(in, nInArrays, out, nOutArrays, nFrames, false);
  }
  SilenceUnusedOutputs(data, is64, nFrames);
  return kResultOk;
}

// Host output arrays that no plug-in channel wrote (a bus the host left
// inactive, a bus or channel beyond the plug-in's own) get silence, so the host
// never plays whatever they held before, such as its input when it processes in
// place. Done after processing, since such an array may also be an input.
void IPlugVST3::SilenceUnusedOutputs(const ProcessData& data, bool is64, int nFrames)
{
  if (data.numOutputs <= 0 || !data.outputs || nFrames <= 0)
    return;
  const size_t bytes = static_cast<size_t>(nFrames) * (is64 ? sizeof(Sample64) : sizeof(Sample32));
  for (int32 b = 0; b < data.numOutputs; ++b)
  {
    const AudioBusBuffers& bus = data.outputs[b];
    if (!bus.channelBuffers64)
      continue;
    for (int32 k = 0; k < bus.numChannels; ++k)
    {
      void* channel = HostChannel(bus, k, is64);
      // An array the plug-in wrote, also when the host passed it twice, keeps its samples.
      if (channel && std::find(hostOut.begin(), hostOut.end(), channel) == hostOut.end())
        std::memset(channel, 0, bytes);
    }
  }
}

// ---- State ----------------------------------------------------------------------------

tresult PLUGIN_API IPlugVST3::getState(IBStream* stream)
{
  if (!stream)
    return kInvalidArgument;
  IPlugLockGuard lock(this);
  StateChunk chunk;
  if (!SaveState(chunk) || chunk.Size() <= 0)
    return kResultFalse;
  int32 written = 0;
  stream->write(chunk.Data(), chunk.Size(), &written);
  const int32_t bypass = IsBypassed() ? 1 : 0;
  const uint8_t bypassBytes[4] = {static_cast<uint8_t>(bypass), 0, 0, 0};  // little-endian
  stream->write(const_cast<uint8_t*>(bypassBytes), 4, &written);
  return kResultOk;
}

tresult PLUGIN_API IPlugVST3::setState(IBStream* stream)
{
  if (!stream)
    return kInvalidArgument;
  IPlugLockGuard lock(this);

  // The stream carries no length: the current state's size says how much to read.
  StateChunk chunk;
  SaveState(chunk);
  const int size = chunk.Size();
  if (size <= 0)
    return kResultFalse;

  StateChunk incoming;
  if (!incoming.Resize(size))
    return kResultFalse;
  const int got = ReadFully(stream, incoming.Data(), size);

  // `chunk` still holds the current state. Bytes the stream delivered replace it;
  // what it did not deliver keeps the current values. In the plain parameter
  // format a value that is not a finite number is treated the same way, so a
  // damaged or hostile stream cannot put NaN or infinity into a parameter.
  const bool plainParams = size == 8 * ParamCount();
  if (plainParams)
  {
    for (int i = 0; i + 8 <= got; i += 8)
    {
      double v;
      std::memcpy(&v, incoming.Data() + i, 8);
      if (std::isfinite(v))
        std::memcpy(chunk.Data() + i, incoming.Data() + i, 8);
    }
  }
  else
  {
    std::memcpy(chunk.Data(), incoming.Data(), static_cast<size_t>(got));
  }
  LoadState(chunk, 0);
  // The parameters are loaded whatever follows, so the editor shows them even
  // when the bypass flag is missing.
  RefreshParamControls();

  uint8_t bypassBytes[4] = {};
  if (ReadFully(stream, bypassBytes, 4) != 4)
    return kResultFalse;
  const uint32_t bypass = bypassBytes[0] | (bypassBytes[1] << 8) | (bypassBytes[2] << 16) |
                          (static_cast<uint32_t>(bypassBytes[3]) << 24);
  SetBypassed(bypass != 0);
  return kResultOk;
}

// ---- Parameters ---------------------------------------------------------------------------

ParamValue PLUGIN_API IPlugVST3::getParamNormalized(ParamID id)
{
  if (id == kVST3BypassParamId)
    return IsBypassed() ? 1.0 : 0.0;
  if (id < static_cast<ParamID>(ParamCount()))
    return ParamAt(static_cast<int>(id))->NormalizedValue();
  return 0.0;
}

tresult PLUGIN_API IPlugVST3::setParamNormalized(ParamID id, ParamValue value)
{
  if (id >= static_cast<ParamID>(ParamCount()) || !std::isfinite(value))
    return kResultFalse;
  ParamAt(static_cast<int>(id))->SetFromNormalized(ClampUnit(value));
  return kResultOk;
}

ParamValue PLUGIN_API IPlugVST3::plainParamToNormalized(ParamID id, ParamValue plain)
{
  if (id < static_cast<ParamID>(ParamCount()))
    return std::isnan(plain) ? 0.0 : ParamAt(static_cast<int>(id))->ToNormalized(plain);
  return plain;
}

tresult PLUGIN_API IPlugVST3::getParamStringByValue(ParamID id, ParamValue valueNormalized,
                                                    String128 string)
{
  if (!string)
    return kInvalidArgument;
  if (id >= static_cast<ParamID>(ParamCount()))
    return kResultFalse;
  if (std::isnan(valueNormalized))
  {
    string[0] = 0;
    return kResultFalse;
  }
  Parameter* p = parameters.getParameter(id);
  if (!p)
    return kResultFalse;
  p->toString(valueNormalized, string);
  return kResultOk;
}

tresult PLUGIN_API IPlugVST3::getParamValueByString(ParamID id, TChar* string,
                                                    ParamValue& valueNormalized)
{
  if (!string)
    return kInvalidArgument;
  Parameter* p = parameters.getParameter(id);
  if (p && p->fromString(string, valueNormalized))
    return kResultOk;
  return kResultFalse;
}

// ---- Units and programs ---------------------------------------------------------------------

int32 PLUGIN_API IPlugVST3::getUnitCount()
{
  return static_cast<int32>(unitGroups.size()) + 1;
}

tresult PLUGIN_API IPlugVST3::getUnitInfo(int32 unitIndex, UnitInfo& info)
{
  if (unitIndex == 0)
    return SingleComponentEffect::getUnitInfo(0, info);
  if (unitIndex < 0 || unitIndex > static_cast<int32>(unitGroups.size()))
    return kResultFalse;
  info = {};
  info.id = unitIndex;
  info.parentUnitId = kRootUnitId;
  info.programListId = kNoProgramListId;
  WidenToString128(unitGroups[static_cast<size_t>(unitIndex - 1)].c_str(), info.name);
  return kResultOk;
}

tresult PLUGIN_API IPlugVST3::getProgramListInfo(int32 listIndex, ProgramListInfo& info)
{
  if (listIndex != 0)
    return kResultFalse;
  info = {};
  info.id = static_cast<ProgramListID>(kVST3PresetParamId);
  WidenToString128("Factory Presets", info.name);
  info.programCount = PresetCount();
  return kResultOk;
}

tresult PLUGIN_API IPlugVST3::getProgramName(ProgramListID listId, int32 programIndex, String128 name)
{
  if (!name)
    return kInvalidArgument;
  if (listId != static_cast<ProgramListID>(kVST3PresetParamId))
    return kResultFalse;
  WidenToString128(PresetName(programIndex), name);
  return kResultOk;
}

// ---- Editor -------------------------------------------------------------------------------

IPlugView* PLUGIN_API IPlugVST3::createView(FIDString name)
{
  if (!name || std::strcmp(name, "editor") != 0)
    return nullptr;
  auto* view = new IPlugVST3View(this);
  views.push_back(view);
  return view;
}

void IPlugVST3::BeginParamGesture(int paramIdx)
{
  beginEdit(static_cast<ParamID>(paramIdx));
}

void IPlugVST3::SendParamToHost(int paramIdx, double normalizedValue)
{
  performEdit(static_cast<ParamID>(paramIdx), normalizedValue);
}

void IPlugVST3::EndParamGesture(int paramIdx)
{
  endEdit(static_cast<ParamID>(paramIdx));
}

void IPlugVST3::ShowHostParamMenu(int paramIdx, int x, int y)
{
  if (!componentHandler || views.empty())
    return;
  IComponentHandler3* handler3 = nullptr;
  alignas(8) TUID iid;
  IComponentHandler3::iid.toTUID(iid);
  if (componentHandler->queryInterface(iid, reinterpret_cast<void**>(&handler3)) != kResultOk ||
      !handler3)
    return;
  const ParamID id = static_cast<ParamID>(paramIdx);
  if (IContextMenu* menu = handler3->createContextMenu(views.front(), &id))
  {
    menu->popup(x, y);
    menu->release();
  }
  handler3->release();
}

void IPlugVST3::ResizeEditor(int width, int height)
{
  if (!Editor() || views.empty())
    return;
  IPlugVST3View* view = views.front();
  IPlugFrame* frame = view->Frame();
  if (!frame)
    return;
  view->ExpectNewSize();
  ViewRect r(0, 0, width, height);
  frame->resizeView(view, &r);
}

// ---- Transport and latency ------------------------------------------------------------------

bool IPlugVST3::IsOfflineRender()
{
  return processSetup.processMode == kOffline;
}

int32_t IPlugVST3::SamplePosition()
{
  return static_cast<int32_t>(lastProcessContext.projectTimeSamples);
}

double IPlugVST3::Tempo()
{
  return lastProcessContext.tempo;
}

void IPlugVST3::TimeSignature(int* numerator, int* denominator)
{
  if (numerator)
    *numerator = lastProcessContext.timeSigNumerator;
  if (denominator)
    *denominator = lastProcessContext.timeSigDenominator;
}

void IPlugVST3::TransportInfo(TimeInfo* info)
{
  if (!info)
    return;
  const ProcessContext& ctx = lastProcessContext;
  info->tempo = ctx.tempo;
  info->samplePos = static_cast<double>(ctx.projectTimeSamples);
  info->ppqPos = ctx.projectTimeMusic;
  info->lastBar = ctx.barPositionMusic;
  info->cycleStart = ctx.cycleStartMusic;
  info->cycleEnd = ctx.cycleEndMusic;
  info->numerator = ctx.timeSigNumerator;
  info->denominator = ctx.timeSigDenominator;
  info->transportIsRunning = (ctx.state & ProcessContext::kPlaying) != 0;
  info->transportLoopEnabled = (ctx.state & ProcessContext::kCycleActive) != 0;
}

void IPlugVST3::ChangeLatency(int samples)
{
  IPlugBase::ChangeLatency(samples);
  if (componentHandler)
    componentHandler->restartComponent(kLatencyChanged);
}
