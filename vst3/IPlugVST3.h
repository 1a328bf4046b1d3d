#pragma once
// The VST3 binding: turns the plug-in base into one VST3 object that is
// component, audio processor and edit controller at once. Parameters appear to
// the host as IPlugParameter objects over the base's ParamDef records, plus a
// program-change "Preset" and a host "Bypass" parameter.
//
// Where the code is:
//   IPlugVST3.cpp            construction, initialize and terminate, activation
//   IPlugVST3Buses.cpp       buses and speaker arrangements
//   IPlugVST3Process.cpp     processing set-up and process: parameter queue,
//                            events, host buffers
//   IPlugVST3Parameters.cpp  the parameter objects and the controller's
//                            parameter calls (IPlugParameter.h)
//   IPlugVST3State.cpp       the state stream
//   IPlugVST3Units.cpp       units and the program list
//   IPlugVST3Host.cpp        calls to the host: host name, edits, context menu,
//                            transport, latency
//   IPlugVST3View.cpp        the editor view, createView and editor resizing

#include <cstdint>
#include <string>
#include <vector>

#include "framework/IPlugBase.h"
#include "pluginterfaces/vst/ivstevents.h"
#include "pluginterfaces/vst/ivstparameterchanges.h"
#include "pluginterfaces/vst/ivstprocesscontext.h"
#include "vst3/IPlugParameter.h"
#include "vst3/SingleComponentEffect.h"

class IPlugVST3View;

// Ids of the two parameters the binding adds (four-character codes, first
// character in the most significant byte).
constexpr Steinberg::Vst::ParamID kVST3BypassParamId = 0x62706173;  // 'bpas'
constexpr Steinberg::Vst::ParamID kVST3PresetParamId = 0x70727374;  // 'prst'

// Speaker arrangement for a channel count; 0 (empty) for counts without one.
Steinberg::Vst::SpeakerArrangement SpeakerArrangementForChannels(int nChannels);

class IPlugVST3 : public IPlugBase, public Steinberg::Vst::SingleComponentEffect
{
public:
  IPlugVST3(IPlugInstanceInfo instanceInfo, int nParams, const char* channelIOStr, int nPresets,
            const char* effectName, const char* productName, const char* makerName, int32_t version,
            int32_t uniqueId, int32_t makerId);
  ~IPlugVST3() override;

  // ---- IPluginBase, IComponent (IPlugVST3.cpp) ----------------------------------------
  Steinberg::tresult PLUGIN_API initialize(Steinberg::FUnknown* context) override;
  Steinberg::tresult PLUGIN_API terminate() override;
  Steinberg::tresult PLUGIN_API setActive(Steinberg::TBool state) override;
  bool IsInitialized() const { return initialized; }

  // ---- Buses (IPlugVST3Buses.cpp) -----------------------------------------------------
  Steinberg::tresult PLUGIN_API setBusArrangements(Steinberg::Vst::SpeakerArrangement* inputs,
                                                   Steinberg::int32 numIns,
                                                   Steinberg::Vst::SpeakerArrangement* outputs,
                                                   Steinberg::int32 numOuts) override;

  // ---- Processing (IPlugVST3Process.cpp) ----------------------------------------------
  Steinberg::tresult PLUGIN_API canProcessSampleSize(Steinberg::int32 symbolicSampleSize) override;
  Steinberg::uint32 PLUGIN_API getLatencySamples() override;
  Steinberg::tresult PLUGIN_API setupProcessing(Steinberg::Vst::ProcessSetup& setup) override;
  Steinberg::tresult PLUGIN_API process(Steinberg::Vst::ProcessData& data) override;
  Steinberg::uint32 PLUGIN_API getTailSamples() override;

  // ---- State (IPlugVST3State.cpp); component state travels through the same pair ----
  Steinberg::tresult PLUGIN_API setState(Steinberg::IBStream* state) override;
  Steinberg::tresult PLUGIN_API getState(Steinberg::IBStream* state) override;
  Steinberg::tresult PLUGIN_API setComponentState(Steinberg::IBStream*) override
  {
    return Steinberg::kNotImplemented;
  }

  // ---- Parameters (IPlugVST3Parameters.cpp) -------------------------------------------
  Steinberg::Vst::ParamValue PLUGIN_API getParamNormalized(Steinberg::Vst::ParamID id) override;
  Steinberg::tresult PLUGIN_API setParamNormalized(Steinberg::Vst::ParamID id,
                                                   Steinberg::Vst::ParamValue value) override;
  Steinberg::Vst::ParamValue PLUGIN_API normalizedParamToPlain(Steinberg::Vst::ParamID id,
                                                               Steinberg::Vst::ParamValue valueNormalized) override;
  Steinberg::Vst::ParamValue PLUGIN_API plainParamToNormalized(Steinberg::Vst::ParamID id,
                                                               Steinberg::Vst::ParamValue plain) override;
  Steinberg::tresult PLUGIN_API getParamStringByValue(Steinberg::Vst::ParamID id,
                                                      Steinberg::Vst::ParamValue valueNormalized,
                                                      Steinberg::Vst::String128 string) override;
  Steinberg::tresult PLUGIN_API getParamValueByString(Steinberg::Vst::ParamID id,
                                                      Steinberg::Vst::TChar* string,
                                                      Steinberg::Vst::ParamValue& valueNormalized) override;
  // IEditController2: the knob mode is the host's business.
  Steinberg::tresult PLUGIN_API setKnobMode(Steinberg::Vst::KnobMode) override
  {
    return Steinberg::kResultOk;
  }

  // ---- Units and programs (IPlugVST3Units.cpp) ----------------------------------------
  Steinberg::int32 PLUGIN_API getUnitCount() override;
  Steinberg::tresult PLUGIN_API getUnitInfo(Steinberg::int32 unitIndex,
                                            Steinberg::Vst::UnitInfo& info) override;
  Steinberg::int32 PLUGIN_API getProgramListCount() override { return 0; }
  Steinberg::tresult PLUGIN_API getProgramListInfo(Steinberg::int32 listIndex,
                                                   Steinberg::Vst::ProgramListInfo& info) override;
  Steinberg::tresult PLUGIN_API getProgramName(Steinberg::Vst::ProgramListID listId,
                                               Steinberg::int32 programIndex,
                                               Steinberg::Vst::String128 name) override;

  // ---- Plug-in base operations that reach the host (IPlugVST3Host.cpp) ----------------
  void BeginParamGesture(int paramIdx) override;
  void SendParamToHost(int paramIdx, double normalizedValue) override;
  void EndParamGesture(int paramIdx) override;
  void ShowHostParamMenu(int paramIdx, int x, int y) override;
  void SendProgramChangeToHost() override {}
  bool IsOfflineRender() override;
  int32_t SamplePosition() override;
  double Tempo() override;
  void TimeSignature(int* numerator, int* denominator) override;
  void TransportInfo(TimeInfo* info) override;
  void ChangeLatency(int samples) override;
  bool MidiOut(const IMidiMsg&) override { return false; }
  const Steinberg::Vst::ProcessContext& LastProcessContext() const { return lastProcessContext; }

  // ---- Views (IPlugVST3View.cpp) ------------------------------------------------------
  Steinberg::IPlugView* PLUGIN_API createView(Steinberg::FIDString name) override;
  void ResizeEditor(int width, int height) override;
  // The views created by createView, oldest first. The first one serves resize
  // requests and the host's parameter context menu.
  const std::vector<IPlugVST3View*>& Views() const { return views; }
  void ForgetViews() { views.clear(); }  // a view's destruction empties the list

  OBJ_METHODS(IPlugVST3, SingleComponentEffect)
  REFCOUNT_METHODS(SingleComponentEffect)

private:
  void IdentifyHostFromContext(Steinberg::FUnknown* context);  // IPlugVST3Host.cpp
  void SetUpBusLabels();                                        // IPlugVST3Buses.cpp
  void AddBuses();                                              // IPlugVST3Buses.cpp
  void CreateParameterObjects();                                // IPlugVST3Parameters.cpp
  int UnitForGroup(const char* group);                          // IPlugVST3Units.cpp
  // IPlugVST3Process.cpp
  void ApplyParameterChanges(Steinberg::Vst::IParameterChanges* changes);
  void ForwardEvents(Steinberg::Vst::IEventList* events);
  void MapBuses(const Steinberg::Vst::ProcessData& data, bool is64);
  void SilenceUnusedOutputs(const Steinberg::Vst::ProcessData& data, bool is64, int nFrames);

  // Plug-in input channels that form a side-chain bus. No plug-in of this
  // system has one, so it stays 0 and the side-chain paths never run.
  int sideChainChannels = 0;
  Steinberg::Vst::ProcessContext lastProcessContext;
  std::vector<IPlugVST3View*> views;
  std::vector<std::string> unitGroups;  // distinct non-empty group names; unit = index + 1
  // The "Preset" parameter's value: the normalised position from 0 to 1.
  ParamDef presetPosition;
  bool initialized = false;
  bool defaultPresetRecalled = false;  // by the first initialize only

  // Per-block host buffer bookkeeping, sized at construction so that processing
  // allocates nothing: the host array of every plug-in channel (null when the
  // channel is not connected), and the packed arrays handed to the base.
  std::vector<void*> hostIn;
  std::vector<void*> hostOut;
  std::vector<double*> packedIn64;
  std::vector<double*> packedOut64;
  std::vector<float*> packedIn32;
  std::vector<float*> packedOut32;
  std::vector<char> inWasConnected;
};
