#pragma once
// The binding used when no plug-in host is involved: the renderer, the snapshot
// tool and the tests. It answers the host-facing operations locally and records
// the editor's gestures so that tests can check them.

#include <vector>

#include "framework/IPlugBase.h"

class IPlugOffline : public IPlugBase
{
public:
  struct HostEvent
  {
    enum Kind { Begin, Perform, End } kind;
    int paramIdx;
    double value;
  };

  IPlugOffline(IPlugInstanceInfo, int nParams, const char* channelIOStr, int nPresets,
               const char* effectName, const char* productName, const char* makerName,
               int32_t version, int32_t uniqueId, int32_t makerId)
    : IPlugBase(nParams, channelIOStr, nPresets, effectName, productName, makerName, version,
                uniqueId, makerId, kApiOffline)
  {
    ConnectInputs(0, NInChannels(), true);
    ConnectOutputs(0, NOutChannels(), true);
  }

  void BeginParamGesture(int idx) override { hostEvents.push_back({HostEvent::Begin, idx, 0.0}); }
  void SendParamToHost(int idx, double v) override { hostEvents.push_back({HostEvent::Perform, idx, v}); }
  void EndParamGesture(int idx) override { hostEvents.push_back({HostEvent::End, idx, 0.0}); }
  void SendProgramChangeToHost() override {}
  int32_t SamplePosition() override { return 0; }
  double Tempo() override { return 0.0; }
  void TimeSignature(int* num, int* den) override { if (num) *num = 0; if (den) *den = 0; }
  void TransportInfo(TimeInfo*) override {}
  void ResizeEditor(int, int) override { WindowResized(); }
  bool MidiOut(const IMidiMsg&) override { return false; }

  // Lets tests stand in for a VST3 or VST2 host in the editor's mouse dispatch.
  void SetPluginApiForTest(int32_t code) { apiOverride = code; }
  int32_t PluginApi() override { return apiOverride >= 0 ? apiOverride : IPlugBase::PluginApi(); }

  std::vector<HostEvent> hostEvents;

private:
  int32_t apiOverride = -1;
};
