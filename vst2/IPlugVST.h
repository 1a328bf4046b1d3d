#pragma once
// The VST 2.4 binding: one effect record per instance, the five record
// functions a host calls (dispatcher, three process functions, parameter get and
// set), and the host callback through which the plug-in base reaches the host.

#include <cstdint>

#include "framework/IPlugBase.h"
#include "framework/StateChunk.h"
#include "vst2/VstInterface.h"

struct IPlugInstanceInfo
{
  audioMasterCallback hostCallback = nullptr;
};

class IPlugVST : public IPlugBase
{
public:
  IPlugVST(IPlugInstanceInfo instanceInfo, int nParams, const char* channelIOStr, int nPresets,
           const char* effectName, const char* productName, const char* makerName, int32_t version,
           int32_t uniqueId, int32_t makerId);
  ~IPlugVST() override;

  // The record handed to the host; lives as long as this object.
  AEffect* GetAEffect() { return &effect; }
  // The instance behind a record, or null for a null record or object.
  static IPlugVST* FromEffect(AEffect* effect);

  // Host-extension flags: bit 0 after "hasCockosExtensions", bit 1 after
  // "hasCockosViewAsConfig".
  int32_t HostExtensionFlags() const { return hostExtensionFlags; }
  const VstSpeakerArrangement& InputArrangement() const { return inputArrangement; }
  const VstSpeakerArrangement& OutputArrangement() const { return outputArrangement; }

  // ---- Plug-in base operations that reach the host ----------------------------------
  void BeginParamGesture(int paramIdx) override;
  void SendParamToHost(int paramIdx, double normalizedValue) override;
  void EndParamGesture(int paramIdx) override;
  void SendProgramChangeToHost() override;
  bool IsOfflineRender() override;
  int32_t SamplePosition() override;
  double Tempo() override;
  void TimeSignature(int* numerator, int* denominator) override;
  void TransportInfo(TimeInfo* info) override;
  int32_t HostId() override;
  void ResizeEditor(int width, int height) override;
  void HostSpecificSetup() override;
  void AttachEditor(IGraphics* editor) override;
  void ChangeLatency(int samples) override;
  bool MidiOut(const IMidiMsg& msg) override;
  bool SysExOut(const ISysEx& msg) override;

  // ---- Record functions ---------------------------------------------------------------
  static VstIntPtr VSTCALLBACK VSTDispatcher(AEffect* effect, VstInt32 opcode, VstInt32 index,
                                             VstIntPtr value, void* ptr, float opt);
  static void VSTCALLBACK VSTProcess(AEffect* effect, float** inputs, float** outputs,
                                     VstInt32 nFrames);
  static void VSTCALLBACK VSTProcessReplacing(AEffect* effect, float** inputs, float** outputs,
                                              VstInt32 nFrames);
  static void VSTCALLBACK VSTProcessDoubleReplacing(AEffect* effect, double** inputs,
                                                    double** outputs, VstInt32 nFrames);
  static float VSTCALLBACK VSTGetParameter(AEffect* effect, VstInt32 index);
  static void VSTCALLBACK VSTSetParameter(AEffect* effect, VstInt32 index, float value);

  // Largest chunk accepted from a host; anything bigger is refused unread.
  static constexpr VstIntPtr kMaxChunkBytes = 16 * 1024 * 1024;

private:
  // Everything but effClose, with the lock held.
  VstIntPtr Dispatch(VstInt32 opcode, VstInt32 index, VstIntPtr value, void* ptr, float opt);
  VstIntPtr HostCall(VstInt32 opcode, VstInt32 index = 0, VstIntPtr value = 0,
                     void* ptr = nullptr, float opt = 0.0f);
  const VstTimeInfo* HostTime(VstInt32 filter);
  VstIntPtr GetChunk(bool bank, void** dataOut);
  VstIntPtr SetChunk(bool bank, VstIntPtr size, const void* data);
  VstIntPtr StringToParameter(int index, const char* text);
  VstIntPtr PinProperties(bool output, int index, VstPinProperties* props);
  VstIntPtr CanDo(const char* text);
  VstIntPtr VendorSpecific(VstInt32 index, VstIntPtr value, void* ptr, float opt);
  bool ProcessPrepare(VstInt32 nFrames);
  void SetEditorRect();

  ERect editorRect = {0, 0, 0, 0};
  audioMasterCallback hostCallback = nullptr;
  VstSpeakerArrangement inputArrangement;
  VstSpeakerArrangement outputArrangement;
  bool hostSpecificSetupDone = false;
  int32_t hostExtensionFlags = 0;
  StateChunk programChunk;
  StateChunk bankChunk;
  AEffect effect;
};
