#pragma once
// The VST 2.4 binding: one effect record per instance, the five record
// functions a host calls (dispatcher, three process functions, parameter get and
// set), and the host callback through which the plug-in base reaches the host.
//
// Where the code is:
//   IPlugVST.cpp          construction, set-up on open, editor size, latency, and
//                         the process and parameter record functions
//   IPlugVSTDispatch.cpp  the dispatcher: opcodes that need no file of their own,
//                         events, can-do and vendor-specific requests
//   IPlugVSTTexts.cpp     every opcode that copies a text to or from the host
//   IPlugVSTChunks.cpp    program and bank chunks
//   IPlugVSTPins.cpp      pin properties and speaker arrangements
//   IPlugVSTHost.cpp      calls to the host: edits, time, host identity, MIDI out

#include <cstdint>

#include "framework/IPlugBase.h"
#include "framework/StateChunk.h"
#include "vst2/VstInterface.h"

class IPlugVST : public IPlugBase
{
public:
  // `instanceInfo` carries the host callback given to the entry point.
  IPlugVST(IPlugInstanceInfo instanceInfo, int nParams, const char* channelIOStr, int nPresets,
           const char* effectName, const char* productName, const char* makerName, int32_t version,
           int32_t uniqueId, int32_t makerId);
  ~IPlugVST() override;

  // The record handed to the host; lives as long as this object.
  AEffect* GetAEffect() { return &effect; }
  // The instance behind a record, or null for a null record or object.
  static IPlugVST* FromEffect(AEffect* effect);

  // Host-extension flags: bit 0 after "hasCockosExtensions", bit 1 after
  // "hasCockosViewAsConfig". Recorded for plug-ins that use the extensions;
  // nothing in this system reads them.
  int32_t HostExtensionFlags() const { return hostExtensionFlags; }
  const VstSpeakerArrangement& InputArrangement() const { return inputArrangement; }
  const VstSpeakerArrangement& OutputArrangement() const { return outputArrangement; }

  // ---- Plug-in base operations that reach the host (IPlugVSTHost.cpp) ---------------
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
  bool MidiOut(const IMidiMsg& msg) override;
  bool SysExOut(const ISysEx& msg) override;

  // ---- Set-up, editor and latency (IPlugVST.cpp) ---------------------------------------
  void ResizeEditor(int width, int height) override;
  void HostSpecificSetup() override;
  void AttachEditor(IGraphics* editor) override;
  void ChangeLatency(int samples) override;

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
  VstIntPtr ProcessEvents(const VstEvents* events);
  VstIntPtr CanDo(const char* text);
  VstIntPtr VendorSpecific(VstInt32 index, VstIntPtr value, void* ptr, float opt);
  // The text opcodes (IPlugVSTTexts.cpp). Parameter texts (name, label,
  // display, also the vendor-specific display) are cut to this many bytes,
  // terminator included: host buffers come with no size, and every host we
  // know of passes more.
  static constexpr int kParamTextBound = 32;
  VstIntPtr TextRequest(VstInt32 opcode, VstInt32 index, void* ptr);
  VstIntPtr StringToParameter(int index, const char* text);
  // Chunks (IPlugVSTChunks.cpp).
  VstIntPtr GetChunk(bool bank, void** dataOut);
  VstIntPtr SetChunk(bool bank, VstIntPtr size, const void* data);
  // Pins and speaker arrangements (IPlugVSTPins.cpp).
  void InitSpeakerArrangements();
  VstIntPtr PinProperties(bool output, int index, VstPinProperties* props);
  VstIntPtr SetSpeakerArrangement(const VstSpeakerArrangement* in, const VstSpeakerArrangement* out);
  VstIntPtr GetSpeakerArrangement(VstSpeakerArrangement** in, VstSpeakerArrangement** out);
  // Host calls (IPlugVSTHost.cpp).
  VstIntPtr HostCall(VstInt32 opcode, VstInt32 index = 0, VstIntPtr value = 0,
                     void* ptr = nullptr, float opt = 0.0f);
  const VstTimeInfo* HostTime(VstInt32 filter);
  bool SendEventToHost(VstEvent* event);  // in a list of its own; true when taken

  // The three process record functions: 32-bit replacing or accumulating, or 64-bit.
  template <typename Sample>
  static void ProcessFromHost(AEffect* effect, Sample** inputs, Sample** outputs, VstInt32 nFrames,
                              bool accumulate);
  void SetEditorRect();

  ERect editorRect = {0, 0, 0, 0};
  audioMasterCallback hostCallback = nullptr;
  VstSpeakerArrangement inputArrangement;
  VstSpeakerArrangement outputArrangement;
  bool hostSpecificSetupDone = false;
  int32_t hostExtensionFlags = 0;  // see HostExtensionFlags
  // The buffers handed out by effGetChunk, valid until the next request of the
  // same kind. effSetChunk also keeps the host's last chunk in them, but
  // nothing reads that back: effGetChunk writes them afresh.
  StateChunk programChunk;
  StateChunk bankChunk;
  AEffect effect;
};
