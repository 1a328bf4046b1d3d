#pragma once
// One object that is component, audio processor and edit controller at once,
// for effects whose processing and controller cannot run apart. It carries the
// four bus lists, the processing setup and (through EditController) the
// parameter container and the host's component handler.

#include "pluginterfaces/vst/ivstaudioprocessor.h"
#include "pluginterfaces/vst/ivstcomponent.h"
#include "pluginterfaces/vst/ivstunits.h"
#include "public.sdk/source/vst/vstbus.h"
#include "public.sdk/source/vst/vsteditcontroller.h"

namespace Steinberg {
namespace Vst {

class SingleComponentEffect : public EditController,
                              public IUnitInfo,
                              public IComponent,
                              public IAudioProcessor
{
public:
  SingleComponentEffect();
  ~SingleComponentEffect() override;

  // IPluginBase
  tresult PLUGIN_API initialize(FUnknown* context) override;
  tresult PLUGIN_API terminate() override;

  // IComponent. There is no separate controller class: the host reaches the
  // controller through queryInterface on this object.
  tresult PLUGIN_API getControllerClassId(TUID) override { return kNotImplemented; }
  tresult PLUGIN_API setIoMode(IoMode) override { return kNotImplemented; }
  int32 PLUGIN_API getBusCount(MediaType type, BusDirection dir) override;
  tresult PLUGIN_API getBusInfo(MediaType type, BusDirection dir, int32 index, BusInfo& info) override;
  tresult PLUGIN_API getRoutingInfo(RoutingInfo&, RoutingInfo&) override { return kNotImplemented; }
  tresult PLUGIN_API activateBus(MediaType type, BusDirection dir, int32 index, TBool state) override;
  tresult PLUGIN_API setActive(TBool) override { return kResultOk; }
  // IComponent::setState/getState and IEditController::setState/getState share
  // one signature, so one pair of overrides answers both interfaces.
  tresult PLUGIN_API setState(IBStream*) override { return kNotImplemented; }
  tresult PLUGIN_API getState(IBStream*) override { return kNotImplemented; }

  // IAudioProcessor
  tresult PLUGIN_API setBusArrangements(SpeakerArrangement*, int32, SpeakerArrangement*, int32) override
  {
    return kResultFalse;
  }
  tresult PLUGIN_API getBusArrangement(BusDirection dir, int32 index, SpeakerArrangement& arr) override;
  tresult PLUGIN_API canProcessSampleSize(int32 size) override;
  uint32 PLUGIN_API getLatencySamples() override { return 0; }
  tresult PLUGIN_API setupProcessing(ProcessSetup& setup) override;
  tresult PLUGIN_API setProcessing(TBool) override { return kNotImplemented; }
  tresult PLUGIN_API process(ProcessData&) override { return kNotImplemented; }
  uint32 PLUGIN_API getTailSamples() override { return kNoTail; }

  // IUnitInfo: one root unit and no program lists unless a subclass says otherwise.
  int32 PLUGIN_API getUnitCount() override { return 1; }
  tresult PLUGIN_API getUnitInfo(int32 unitIndex, UnitInfo& info) override;
  int32 PLUGIN_API getProgramListCount() override { return 0; }
  tresult PLUGIN_API getProgramListInfo(int32, ProgramListInfo&) override { return kResultFalse; }
  tresult PLUGIN_API getProgramName(ProgramListID, int32, String128) override { return kResultFalse; }
  tresult PLUGIN_API getProgramInfo(ProgramListID, int32, CString, String128) override
  {
    return kNotImplemented;
  }
  tresult PLUGIN_API hasProgramPitchNames(ProgramListID, int32) override { return kNotImplemented; }
  tresult PLUGIN_API getProgramPitchName(ProgramListID, int32, int16, String128) override
  {
    return kNotImplemented;
  }
  UnitID PLUGIN_API getSelectedUnit() override { return kRootUnitId; }
  tresult PLUGIN_API selectUnit(UnitID) override { return kNotImplemented; }
  tresult PLUGIN_API getUnitByBus(MediaType, BusDirection, int32, int32, UnitID&) override
  {
    return kNotImplemented;
  }
  tresult PLUGIN_API setUnitProgramData(int32, int32, IBStream*) override { return kNotImplemented; }

  // IEditController: the container's own accessors index without a bounds check.
  tresult PLUGIN_API getParameterInfo(int32 paramIndex, ParameterInfo& info) override;

  // Bus helpers for subclasses. addAudioBus appends to the given list (one of
  // the audio bus lists below).
  static AudioBus* addAudioBus(BusList& buses, const TChar* name, SpeakerArrangement arr, BusType type,
                               int32 flags);
  AudioBus* addAudioInput(const TChar* name, SpeakerArrangement arr, BusType type = kMain,
                          int32 flags = BusInfo::kDefaultActive);
  AudioBus* addAudioOutput(const TChar* name, SpeakerArrangement arr, BusType type = kMain,
                           int32 flags = BusInfo::kDefaultActive);
  EventBus* addEventInput(const TChar* name, int32 channels = 16, BusType type = kMain,
                          int32 flags = BusInfo::kDefaultActive);
  void removeAudioBusses();
  void removeEventBusses();
  BusList* getBusList(MediaType type, BusDirection dir);

  const ProcessSetup& getProcessSetup() const { return processSetup; }

  OBJ_METHODS(SingleComponentEffect, EditController)
  tresult PLUGIN_API queryInterface(const TUID iid, void** obj) override;
  REFCOUNT_METHODS(EditController)

protected:
  ProcessSetup processSetup;
  BusList audioInputs;
  BusList audioOutputs;
  BusList eventInputs;
  BusList eventOutputs;
};

}  // namespace Vst
}  // namespace Steinberg
