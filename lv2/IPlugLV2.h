#pragma once
// The LV2 binding of the processing instance: the ports a host connects, the
// run call that applies changed control ports through the plug-in base's
// host-value path and processes through its 32-bit host-block helper, the
// activation, the host's options, and the state extension.
//
// Ports, in index order: one control input per parameter (port i is parameter
// i, in its real value), then the audio inputs, then the audio outputs (one
// each for the mono plug-in, two for the stereo one).
//
// Where the code is:
//   IPlugLV2.cpp       construction, features and options, ports, run, activation
//   IPlugLV2State.cpp  the state extension (the parameter state)
//   LV2Entry.cpp       the module's descriptors: TALVOR's stereo and mono plug-ins
// The editor is a module of its own (IPlugLV2UI).

#include <lv2/core/lv2.h>
#include <lv2/state/state.h>
#include <lv2/urid/urid.h>

#include <cstdint>
#include <vector>

#include "framework/IPlugBase.h"

class IPlugLV2 : public IPlugBase
{
public:
  IPlugLV2(IPlugInstanceInfo instanceInfo, int nParams, const char* channelIOStr, int nPresets,
           const char* effectName, const char* productName, const char* makerName, int32_t version,
           int32_t uniqueId, int32_t makerId);
  ~IPlugLV2() override;

  // Set-up after construction, from the host's instantiate call: the number of
  // audio channels each way of this plug-in (1 or 2 for TALVOR), the sample
  // rate, and the features (may be null), of which urid:map and options
  // (the block lengths) are used when given. False for a channel count the
  // configuration has no pair for, or a rate that is not a positive number.
  bool Configure(int nChannels, double sampleRate, const LV2_Feature* const* features);

  uint32_t PortCount() const;
  // A port outside the plug-in's is ignored; a null buffer disconnects.
  void ConnectPort(uint32_t port, void* data);
  void Activate();
  void Deactivate();
  void Run(uint32_t nFrames);

  LV2_State_Status SaveToHost(LV2_State_Store_Function store, LV2_State_Handle handle);
  LV2_State_Status RestoreFromHost(LV2_State_Retrieve_Function retrieve, LV2_State_Handle handle);

  // ---- Plug-in base operations that would reach the host ------------------------------
  // The processing instance has no editor (LV2 hosts run it as a module of its
  // own) and LV2 offers no transport here that TALVOR reads, so these answer
  // locally.
  void BeginParamGesture(int) override {}
  void SendParamToHost(int, double) override {}
  void EndParamGesture(int) override {}
  void SendProgramChangeToHost() override {}
  int32_t SamplePosition() override { return 0; }
  double Tempo() override { return 0.0; }
  void TimeSignature(int* numerator, int* denominator) override;
  void TransportInfo(TimeInfo*) override {}
  void ResizeEditor(int, int) override {}
  bool MidiOut(const IMidiMsg&) override { return false; }

private:
  void ReadOptions(const LV2_Feature* const* features);
  // Applies every control port whose value changed since it was last applied.
  void ApplyControlPorts();
  // The ports' present values count as applied: a restored state stands until
  // the host changes a port.
  void TakePortsAsApplied();

  int nChannels = 0;
  LV2_URID_Map* map = nullptr;
  LV2_URID stateKey = 0, chunkType = 0;
  std::vector<const float*> controlPorts;  // by parameter index
  std::vector<uint32_t> appliedBits;       // the bits of each port's last applied value
  std::vector<float*> audioIn, audioOut;
};
