#pragma once
// The VST3 binding: turns the plug-in base into one VST3 object that is
// component, audio processor and edit controller at once. Parameters appear to
// the host as IPlugParameter objects over the base's ParamDef records, plus a
// program-change "Preset" and a host "Bypass" parameter.

#include <cstdint>
#include <string>
#include <vector>

#include "framework/IPlugBase.h"
#include "pluginterfaces/vst/ivstevents.h"
#include "pluginterfaces/vst/ivstparameterchanges.h"
#include "pluginterfaces/vst/ivstprocesscontext.h"
#include "public.sdk/source/vst/vstparameters.h"
#include "vst3/SingleComponentEffect.h"

struct IPlugInstanceInfo
{
};

class IPlugVST3View;

// Ids of the two parameters the binding adds (four-character codes, first
// character in the most significant byte).
constexpr Steinberg::Vst::ParamID kVST3BypassParamId = 0x62706173;  // 'bpas'
constexpr Steinberg::Vst::ParamID kVST3PresetParamId = 0x70727374;  // 'prst'

// Speaker arrangement for a channel count; 0 (empty) for counts without one.
Steinberg::Vst::SpeakerArrangement SpeakerArrangementForChannels(int nChannels);

// Byte-wise widening and narrowing between the framework's texts and UTF-16.
// Both stop at the destination size less one and always terminate.
void WidenToString128(const char* src, Steinberg::Vst::String128 dst);
void NarrowFromUTF16(const Steinberg::Vst::TChar* src, char* dst, int dstSize);

// One plug-in parameter as the host sees it; converts through its ParamDef.
class IPlugParameter : public Steinberg::Vst::Parameter
{
public:
  IPlugParameter(ParamDef* def, int paramIdx, Steinberg::Vst::UnitID unitId);

  void toString(Steinberg::Vst::ParamValue valueNormalized,
                Steinberg::Vst::String128 string) const override;
  bool fromString(const Steinberg::Vst::TChar* string,
                  Steinberg::Vst::ParamValue& valueNormalized) const override;
  Steinberg::Vst::ParamValue toPlain(Steinberg::Vst::ParamValue valueNormalized) const override;
  Steinberg::Vst::ParamValue toNormalized(Steinberg::Vst::ParamValue plainValue) const override;

  OBJ_METHODS(IPlugParameter, Parameter)

private:
  ParamDef* def;  // owned by the plug-in base
};

class IPlugVST3 : public IPlugBase, public Steinberg::Vst::SingleComponentEffect
{
public:
  IPlugVST3(IPlugInstanceInfo instanceInfo, int nParams, const char* channelIOStr, int nPresets,
            const char* effectName, const char* productName, const char* makerName, int32_t version,
            int32_t uniqueId, int32_t makerId);
  ~IPlugVST3() override;

  // ---- IPluginBase -----------------------------------------------------------------
  Steinberg::tresult PLUGIN_API initialize(Steinberg::FUnknown* context) override;
  Steinberg::tresult PLUGIN_API terminate() override;

  // ---- IComponent ------------------------------------------------------------------
  Steinberg::tresult PLUGIN_API setActive(Steinberg::TBool state) override;

  // ---- IAudioProcessor -------------------------------------------------------------
  Steinberg::tresult PLUGIN_API setBusArrangements(Steinberg::Vst::SpeakerArrangement* inputs,
                                                   Steinberg::int32 numIns,
                                                   Steinberg::Vst::SpeakerArrangement* outputs,
                                                   Steinberg::int32 numOuts) override;
  Steinberg::tresult PLUGIN_API canProcessSampleSize(Steinberg::int32 symbolicSampleSize) override;
  Steinberg::uint32 PLUGIN_API getLatencySamples() override;
  Steinberg::tresult PLUGIN_API setupProcessing(Steinberg::Vst::ProcessSetup& setup) override;
  Steinberg::tresult PLUGIN_API process(Steinberg::Vst::ProcessData& data) override;
  Steinberg::uint32 PLUGIN_API getTailSamples() override;

  // ---- IEditController (component state travels through the same pair) ---------------
  Steinberg::tresult PLUGIN_API setState(Steinberg::IBStream* state) override;
  Steinberg::tresult PLUGIN_API getState(Steinberg::IBStream* state) override;
  Steinberg::tresult PLUGIN_API setComponentState(Steinberg::IBStream*) override
  {
    return Steinberg::kNotImplemented;
  }
  Steinberg::Vst::ParamValue PLUGIN_API getParamNormalized(Steinberg::Vst::ParamID id) override;
  Steinberg::tresult PLUGIN_API setParamNormalized(Steinberg::Vst::ParamID id,
                                                   Steinberg::Vst::ParamValue value) override;
  Steinberg::Vst::ParamValue PLUGIN_API plainParamToNormalized(Steinberg::Vst::ParamID id,
                                                               Steinberg::Vst::ParamValue plain) override;
  Steinberg::tresult PLUGIN_API getParamStringByValue(Steinberg::Vst::ParamID id,
                                                      Steinberg::Vst::ParamValue valueNormalized,
                                                      Steinberg::Vst::String128 string) override;
  Steinberg::tresult PLUGIN_API getParamValueByString(Steinberg::Vst::ParamID id,
                                                      Steinberg::Vst::TChar* string,
                                                      Steinberg::Vst::ParamValue& valueNormalized) override;
  Steinberg::IPlugView* PLUGIN_API createView(Steinberg::FIDString name) override;

  // ---- IEditController2 --------------------------------------------------------------
  Steinberg::tresult PLUGIN_API setKnobMode(Steinberg::Vst::KnobMode) override
  {
    return Steinberg::kResultOk;
  }

  // ---- IUnitInfo ---------------------------------------------------------------------
  Steinberg::int32 PLUGIN_API getUnitCount() override;
  Steinberg::tresult PLUGIN_API getUnitInfo(Steinberg::int32 unitIndex,
                                            Steinberg::Vst::UnitInfo& info) override;
  Steinberg::int32 PLUGIN_API getProgramListCount() override { return 0; }
  Steinberg::tresult PLUGIN_API getProgramListInfo(Steinberg::int32 listIndex,
                                                   Steinberg::Vst::ProgramListInfo& info) override;
  Steinberg::tresult PLUGIN_API getProgramName(Steinberg::Vst::ProgramListID listId,
                                               Steinberg::int32 programIndex,
                                               Steinberg::Vst::String128 name) override;

  // ---- IPlugBase operations that reach the host -------------------------------------------
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
  void ResizeEditor(int width, int height) override;
  void ChangeLatency(int samples) override;
  bool MidiOut(const IMidiMsg&) override { return false; }

  // ---- Views -------------------------------------------------------------------------
  // The views created by createView, oldest first. The first one serves resize
  // requests and the host's parameter context menu.
  const std::vector<IPlugVST3View*>& Views() const { return views; }
  void ForgetViews() { views.clear(); }  // a view's destruction empties the list

  const Steinberg::Vst::ProcessContext& LastProcessContext() const { return lastProcessContext; }
  bool IsInitialized() const { return initialized; }

  OBJ_METHODS(IPlugVST3, SingleComponentEffect)
  REFCOUNT_METHODS(SingleComponentEffect)

private:
  void CreateParameterObjects();
  void ApplyParameterChanges(Steinberg::Vst::IParameterChanges* changes);
  void ForwardEvents(Steinberg::Vst::IEventList* events);
  void MapBuses(const Steinberg::Vst::ProcessData& data, bool is64);
  void SilenceUnusedOutputs(const Steinberg::Vst::ProcessData& data, bool is64, int nFrames);
  int UnitForGroup(const char* group);

  int sideChainChannels = 0;
  Steinberg::Vst::ProcessContext lastProcessContext;
  std::vector<IPlugVST3View*> views;
  std::vector<std::string> unitGroups;  // distinct non-empty group names; unit = index + 1
  bool initialized = false;

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
