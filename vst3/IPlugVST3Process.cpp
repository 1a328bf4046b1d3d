// VST3 processing: the set-up a host announces, and each process call with its
// parameter queue, its events and its host buffers.
#include <algorithm>
#include <cmath>
#include <cstring>

#include "vst3/IPlugVST3.h"

using namespace Steinberg;
using namespace Steinberg::Vst;

namespace {

// One channel's array of a host bus, in the sample size the block announced.
void* HostChannel(const AudioBusBuffers& bus, int channel, bool is64)
{
  return is64 ? static_cast<void*>(bus.channelBuffers64[channel])
              : static_cast<void*>(bus.channelBuffers32[channel]);
}

}  // namespace

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
try
{
  if (canProcessSampleSize(setup.symbolicSampleSize) != kResultOk)
    return kResultFalse;
  // A rate or block size that cannot be processed is refused before anything
  // changes, so the previous setup stays usable.
  if (!std::isfinite(setup.sampleRate) || setup.sampleRate <= 0.0 || setup.maxSamplesPerBlock <= 0)
    return kResultFalse;

  IPlugLockGuard lock(this);  // keeps the scratch buffers still while they change
  // The host bypass is the user's setting, not part of the setup: a bypassed
  // insert stays bypassed through a new sample rate or block size.
  SetSampleRate(setup.sampleRate);
  ChangeBlockSize(setup.maxSamplesPerBlock);  // the base caps what it allocates
  OnReset();
  processSetup = setup;
  return kResultOk;
}
catch (...)
{
  return kOutOfMemory;  // nothing may unwind into the host
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
    value = ParamDef::ClampNormalized(value);

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
      SetParamFromHost(static_cast<int>(id), value);
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
    if (IsBypassed() && !HandlesHostBypass())
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
    if (IsBypassed() && !HandlesHostBypass())
      PassThroughHostBlock64(in, nInArrays, out, nOutArrays, nFrames);
    else
      ProcessHostBlock64(in, nInArrays, out, nOutArrays, nFrames);
  }
  else
  {
    float** in = packedIn32.data();
    float** out = packedOut32.data();
    if (IsBypassed() && !HandlesHostBypass())
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
