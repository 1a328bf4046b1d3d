// Construction of the LV2 binding, the host's features and options, the ports,
// run and activation.
#include "lv2/IPlugLV2.h"

#include <lv2/atom/atom.h>
#include <lv2/buf-size/buf-size.h>
#include <lv2/options/options.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstring>

#include "lv2/LV2Uris.h"

namespace
{
uint32_t BitsOf(float v)
{
  uint32_t bits;
  std::memcpy(&bits, &v, sizeof bits);
  return bits;
}

const void* FeatureData(const LV2_Feature* const* features, const char* uri)
{
  if (!features) return nullptr;
  for (const LV2_Feature* const* f = features; *f; ++f)
    if ((*f)->URI && std::strcmp((*f)->URI, uri) == 0) return (*f)->data;
  return nullptr;
}

// Hosts name at most a handful of options; a list without its terminator
// must not send the search through memory for ever.
constexpr int kMaxOptions = 256;
}  // namespace

IPlugLV2::IPlugLV2(IPlugInstanceInfo, int nParams, const char* channelIOStr, int nPresets,
                   const char* effectName, const char* productName, const char* makerName,
                   int32_t version, int32_t uniqueId, int32_t makerId)
  : IPlugBase(nParams, channelIOStr, nPresets, effectName, productName, makerName, version,
              uniqueId, makerId, kApiLV2),
    controlPorts((size_t)std::max(nParams, 0), nullptr),
    appliedBits((size_t)std::max(nParams, 0), 0),
    audioIn((size_t)NInChannels(), nullptr),
    audioOut((size_t)NOutChannels(), nullptr)
{
  ConnectInputs(0, NInChannels(), true);
  ConnectOutputs(0, NOutChannels(), true);
}

IPlugLV2::~IPlugLV2() = default;

bool IPlugLV2::Configure(int channels, double sampleRate, const LV2_Feature* const* features)
{
  if (channels < 1 || !LegalIO(channels, channels)) return false;
  if (!std::isfinite(sampleRate) || sampleRate <= 0.0) return false;
  IPlugLockGuard hold(this);
  nChannels = channels;
  // Channels beyond the plug-in's own read silence and go nowhere.
  ConnectInputs(channels, NInChannels() - channels, false);
  ConnectOutputs(channels, NOutChannels() - channels, false);
  audioIn.resize((size_t)channels);
  audioOut.resize((size_t)channels);

  map = static_cast<LV2_URID_Map*>(const_cast<void*>(FeatureData(features, LV2_URID__map)));
  if (map && map->map)
  {
    stateKey = map->map(map->handle, TALVOR_LV2_STATE_KEY);
    chunkType = map->map(map->handle, LV2_ATOM__Chunk);
  }
  else
    map = nullptr;
  ReadOptions(features);

  SetSampleRate(sampleRate);
  OnReset();
  // A fresh instance holds the defaults: a port that still holds its default
  // at the first run changes nothing.
  for (int i = 0; i < ParamCount(); ++i) appliedBits[(size_t)i] = BitsOf((float)ParamAt(i)->Value());
  return true;
}

// The largest block the host will pass sizes the scratch buffers; without it
// (or without urid:map to read it) the host-block helper serves any length all
// the same, in pieces.
void IPlugLV2::ReadOptions(const LV2_Feature* const* features)
{
  const auto* options = static_cast<const LV2_Options_Option*>(FeatureData(features, LV2_OPTIONS__options));
  if (!map || !options) return;
  const LV2_URID maxLength = map->map(map->handle, LV2_BUF_SIZE__maxBlockLength);
  const LV2_URID nominalLength = map->map(map->handle, LV2_BUF_SIZE__nominalBlockLength);
  const LV2_URID intType = map->map(map->handle, LV2_ATOM__Int);
  int maxFrames = 0, nominalFrames = 0;
  for (int i = 0; i < kMaxOptions && (options[i].key || options[i].value); ++i)
  {
    const LV2_Options_Option& o = options[i];
    if (o.context != LV2_OPTIONS_INSTANCE || o.type != intType || o.size != sizeof(int32_t) || !o.value) continue;
    const int32_t v = *static_cast<const int32_t*>(o.value);
    if (o.key == maxLength) maxFrames = v;
    if (o.key == nominalLength) nominalFrames = v;
  }
  const int frames = maxFrames > 0 ? maxFrames : nominalFrames;
  if (frames > 0) ChangeBlockSize(std::min(frames, (int)kMaxBlockSize));
}

uint32_t IPlugLV2::PortCount() const
{
  return (uint32_t)(ParamCount() + 2 * nChannels);
}

void IPlugLV2::ConnectPort(uint32_t port, void* data)
{
  const uint32_t nParams = (uint32_t)ParamCount(), nCh = (uint32_t)nChannels;
  if (port < nParams)
    controlPorts[port] = static_cast<const float*>(data);
  else if (port < nParams + nCh)
    audioIn[port - nParams] = static_cast<float*>(data);
  else if (port < nParams + 2 * nCh)
    audioOut[port - nParams - nCh] = static_cast<float*>(data);
}

void IPlugLV2::Activate()
{
  IPlugLockGuard hold(this);
  ActivationChanged(true);
}

void IPlugLV2::Deactivate()
{
  IPlugLockGuard hold(this);
  ActivationChanged(false);
  OnReset();
}

void IPlugLV2::ApplyControlPorts()
{
  for (int i = 0; i < ParamCount(); ++i)
  {
    const float* port = controlPorts[(size_t)i];
    if (!port) continue;
    const float v = *port;
    const uint32_t bits = BitsOf(v);
    if (bits == appliedBits[(size_t)i]) continue;
    // Out-of-range values are limited to the range; NaN is refused, once.
    appliedBits[(size_t)i] = bits;
    SetParamFromHostReal(i, v);
  }
}

void IPlugLV2::TakePortsAsApplied()
{
  for (int i = 0; i < ParamCount(); ++i)
    if (const float* port = controlPorts[(size_t)i]) appliedBits[(size_t)i] = BitsOf(*port);
}

void IPlugLV2::Run(uint32_t nFrames)
{
  IPlugLockGuard hold(this);
  ApplyControlPorts();
  // An empty run still runs the plug-in once, as the other bindings' empty
  // blocks do: its per-block preparation applies what changed.
  const int frames = (int)std::min<uint32_t>(nFrames, (uint32_t)INT_MAX);
  ProcessHostBlock32(audioIn.data(), nChannels, audioOut.data(), nChannels, frames, false);
}

void IPlugLV2::TimeSignature(int* numerator, int* denominator)
{
  if (numerator) *numerator = 0;
  if (denominator) *denominator = 0;
}
