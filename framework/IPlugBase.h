#pragma once
// The base of every plug-in instance, whatever plug-in standard hosts it:
// identity, parameters, presets, channel configuration and buffers, sample
// rate and block size, the attached editor, the host code and the one lock.
//
// Three parties meet here: the plug-in class overrides the processing and
// notification hooks, each binding implements the operations that reach its
// host, and the editor calls in when the user moves a control.

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "framework/ParamDef.h"
#include "framework/StateChunk.h"

class IGraphics;

// Plug-in standard codes, as `PluginApi` reports them.
enum PluginApiCode : int32_t
{
  kApiVST2 = 0,
  kApiVST3 = 1,
  kApiOffline = 2,  // the renderer, the snapshot tool and the tests
  kApiLV2 = 3,      // the LV2 plug-in and its editor module
};

// What a binding's entry point hands to the plug-in class's constructor, which
// passes it on to its binding class. Only the VST2 entry fills it in: the
// host's callback, kept in the one generic function pointer type so that the
// base needs no plug-in standard's header (IPlugVST converts it back).
struct IPlugInstanceInfo
{
  void (*hostCallback)() = nullptr;
};

struct ChannelPair
{
  int32_t inputs = 0;
  int32_t outputs = 0;
};

struct IMidiMsg
{
  int32_t offset = 0;
  uint8_t status = 0, data1 = 0, data2 = 0;
};

struct ISysEx
{
  int32_t offset = 0;
  int32_t size = 0;
  const uint8_t* data = nullptr;
};

// Filled by the bindings' TransportInfo for plug-ins that follow the host's
// transport; TALVOR asks for none of it.
struct TimeInfo
{
  double tempo = 0.0;
  double samplePos = 0.0;
  double ppqPos = 0.0;
  double lastBar = 0.0;
  double cycleStart = 0.0;
  double cycleEnd = 0.0;
  int32_t numerator = 0;
  int32_t denominator = 0;
  bool transportIsRunning = false;
  bool transportLoopEnabled = false;
};

struct PresetSlot
{
  bool used = false;
  char name[256] = "empty";
  StateChunk state;
};

// The channel labels are reported by the VST2 pin properties, but nothing in
// this system sets them: they stay empty and the hosts see numbered defaults.
struct InputChannel
{
  bool connected = false;
  double** sourceSlot = nullptr;  // this channel's entry of inputPointers
  std::vector<double> scratch;
  std::string label;  // never set (see above)
};

struct OutputChannel
{
  bool connected = false;
  double** destinationSlot = nullptr;  // this channel's entry of outputPointers
  float* floatDestination = nullptr;   // host array for the 32-bit paths
  std::vector<double> scratch;
  std::string label;  // never set (see above)
};

// Fixed delay used by PassThrough when the plug-in reports a latency.
struct BypassDelayLine
{
  std::vector<double> buffer;  // one run of `delay` samples per input channel
  int32_t writePos = 0;
  int32_t nInputs = 0;
  int32_t nOutputs = 0;
  int32_t delay = 0;
};

class IPlugBase
{
public:
  IPlugBase(int nParams, const char* channelIOStr, int nPresets, const char* effectName,
            const char* productName, const char* makerName, int32_t version, int32_t uniqueId,
            int32_t makerId, int32_t api);
  virtual ~IPlugBase();
  IPlugBase(const IPlugBase&) = delete;
  IPlugBase& operator=(const IPlugBase&) = delete;

  // ---- Virtual operations, in declaration order --------------------------------
  virtual void OnReset();
  virtual void ParamChanged(int paramIdx);
  virtual void ProcessBlock(double** inputs, double** outputs, int nFrames);
  // A 32-bit host's block, for a plug-in that reads and writes such buffers
  // itself: as ProcessBlock, with a null array where a channel reads silence
  // or is not written, and each output sample limited to the float range (NaN
  // passed) as the conversion after ProcessBlock would give it. Returns false
  // when it did nothing; the block then runs through ProcessBlock, converted
  // to and from 64 bits. (Served in place of ProcessBlock for replacing
  // 32-bit blocks only.)
  virtual bool ProcessBlock32(float** /*inputs*/, float** /*outputs*/, int /*nFrames*/) { return false; }
  virtual void EditorOpened() {}
  virtual void EditorClosed() {}
  virtual void ActivationChanged(bool active);
  // Whether ProcessBlock serves the host's bypass itself (reading
  // IsBypassed(), to cross-fade into it); otherwise the binding passes the
  // audio through without calling it.
  virtual bool HandlesHostBypass() const { return false; }
  virtual void MidiIn(const IMidiMsg& msg) { MidiOut(msg); }
  virtual void SysExIn(const ISysEx&) {}
  virtual bool NoteNameFor(int noteNumber, char* outText);  // out holds >= 64 bytes
  virtual bool SaveState(StateChunk& chunk) { return SerializeParams(chunk); }
  virtual int LoadState(const StateChunk& chunk, int startPos) { return UnserializeParams(chunk, startPos); }
  virtual void WindowResized() {}
  virtual void HostIdentified() {}
  virtual void ShowHostParamMenu(int /*paramIdx*/, int /*x*/, int /*y*/) {}
  virtual void SetParamFromEditor(int paramIdx, double normalizedValue);
  virtual void BeginParamGesture(int paramIdx) = 0;
  virtual void SendParamToHost(int paramIdx, double normalizedValue) = 0;
  virtual void EndParamGesture(int paramIdx) = 0;
  virtual void SendProgramChangeToHost() = 0;
  virtual bool IsOfflineRender() { return false; }
  virtual int32_t SamplePosition() = 0;
  virtual double Tempo() = 0;
  virtual void TimeSignature(int* numerator, int* denominator) = 0;
  virtual void TransportInfo(TimeInfo* info) = 0;
  virtual int32_t HostId() { return hostKind; }
  virtual int32_t PluginApi() { return api; }
  virtual void ResizeEditor(int width, int height) = 0;
  virtual void HostSpecificSetup() {}
  virtual void AttachEditor(IGraphics* editor);
  virtual void ChangeLatency(int samples);
  virtual bool MidiOut(const IMidiMsg& msg) = 0;
  virtual bool SysExOut(const ISysEx&) { return false; }
  virtual void RefreshParamControls();
  virtual void PresetsChanged() {}
  virtual void ChangeBlockSize(int nFrames);

  // ---- Lock ------------------------------------------------------------------------
  // The instance's one re-entrant lock. Bindings hold it around every host call
  // that touches parameters, state or audio.
  void Lock() { mutex.lock(); }
  void Unlock() { mutex.unlock(); }
  std::recursive_mutex& Mutex() { return mutex; }

  // ---- Accessors -------------------------------------------------------------------
  int ParamCount() const { return (int)params.size(); }
  ParamDef* ParamAt(int idx);
  const ParamDef* ParamAt(int idx) const;
  int PresetCount() const { return (int)presets.size(); }
  int CurrentPresetIndex() const { return currentPresetIndex; }
  const char* PresetName(int idx) const;  // "" outside the slots
  PresetSlot* PresetAt(int idx);          // null outside the slots
  const char* EffectName() const { return effectName; }
  const char* ProductName() const { return productName; }
  const char* MakerName() const { return makerName; }
  int32_t UniqueId() const { return uniqueId; }
  int32_t MakerId() const { return makerId; }  // read by nothing: the VST3 class id spells it out
  int32_t Version() const { return version; }
  int32_t DecimalVersion() const;  // major * 10000 + minor * 100 + third
  int32_t HostVersion() const { return hostVersion; }  // kept for plug-ins; TALVOR reads none
  int NInChannels() const { return (int)inputChannels.size(); }
  int NOutChannels() const { return (int)outputChannels.size(); }
  bool IsInChannelConnected(int idx) const;
  bool IsOutChannelConnected(int idx) const;
  const std::vector<ChannelPair>& ChannelPairs() const { return channelPairs; }
  double SampleRate() const { return sampleRate; }
  void SetSampleRate(double hz) { sampleRate = hz; }
  int BlockSize() const { return blockSize; }
  int Latency() const { return latency; }
  int TailSize() const { return tailSize; }
  bool IsBypassed() const { return isBypassed.load(std::memory_order_relaxed); }
  void SetBypassed(bool b) { isBypassed.store(b, std::memory_order_relaxed); }
  bool DoesStateChunks() const { return doesStateChunks; }
  bool IsInstrument() const { return isInstrument; }
  bool DoesMidi() const { return doesMidi; }
  IGraphics* Editor() { return editor; }
  std::vector<std::string>& InputBusLabels() { return inputBusLabels; }
  std::vector<std::string>& OutputBusLabels() { return outputBusLabels; }
  const std::string& InChannelLabel(int idx) const;   // "" outside the channels
  const std::string& OutChannelLabel(int idx) const;  // "" outside the channels

  // ---- Channel configuration and buffers ------------------------------------------
  bool LegalIO(int nIn, int nOut) const;
  void ConnectInputs(int first, int count, bool connected);
  void ConnectOutputs(int first, int count, bool connected);
  void RestrictToStereo();
  // Each connected channel of [first, first + count) takes the next host array.
  // 64-bit arrays are used in place; 32-bit input arrays are converted into the
  // channels' scratch buffers, and 32-bit output arrays are filled from them
  // when the block has run. Defined for float and double samples.
  template <typename Sample>
  void AttachInputs(int first, int count, Sample** hostArrays, int nFrames);
  template <typename Sample>
  void AttachOutputs(int first, int count, Sample** hostArrays);
  void RunProcess(int nFrames);
  void RunProcessAccumulating(int nFrames);
  void PassThrough(int nFrames);
  void ClearScratch();
  void CreateBypassDelayLine(int nInputs, int nOutputs, int delay);
  BypassDelayLine* GetBypassDelayLine() { return bypassDelay.get(); }

  // Largest block the channel scratch buffers can serve. The host-block helpers
  // below, through which both bindings process, split any longer host block
  // into pieces of at most this many frames, so a host that passes more than it
  // announced is still served without allocating. RunProcess,
  // RunProcessAccumulating and PassThrough cut what they are given to this many
  // frames; only the host-block helpers serve longer blocks whole.
  int MaxChunkFrames() const { return scratchFrames; }

  // Scratch buffers never hold fewer frames than this, so a host that never
  // announced a block size is still served.
  static constexpr int kMinScratchFrames = 1024;
  // ChangeBlockSize caps what a host announces at this many frames.
  static constexpr int kMaxBlockSize = 1 << 16;
  // ChangeLatency and CreateBypassDelayLine cap delays at this many samples.
  static constexpr int kMaxLatency = 1 << 20;

  // ---- Host-block helpers (called by the bindings, lock held, audio thread) -------
  // Process one host block of `nFrames` frames. `in` holds `nIn` host channel
  // arrays and `out` holds `nOut`; the connected input (output) channels take
  // them in order, as AttachInputs/AttachOutputs do from channel 0. The block is
  // processed in successive pieces of at most MaxChunkFrames() frames, with the
  // host pointers advanced for every piece, so any block length is served.
  // A null `in`/`out`, a missing entry (index >= nIn/nOut) or a null entry is
  // safe: a missing input reads silence, a missing output is discarded. A block
  // of 0 frames still runs the plug-in once (with 0 frames); a negative count
  // does nothing.
  // The 32-bit form replaces the host's output samples, or adds to them when
  // `accumulate` is set; a replacing piece goes to ProcessBlock32 first, with
  // each channel's host array (null for silence or not written). Nothing is
  // allocated. The caller sets up the channel connections before.
  void ProcessHostBlock32(float** in, int nIn, float** out, int nOut, int nFrames, bool accumulate);
  void ProcessHostBlock64(double** in, int nIn, double** out, int nOut, int nFrames);
  // The same walk with PassThrough instead of processing (bypass): a copy, or
  // the bypass delay line when a latency is set.
  void PassThroughHostBlock32(float** in, int nIn, float** out, int nOut, int nFrames);
  void PassThroughHostBlock64(double** in, int nIn, double** out, int nOut, int nFrames);

  // ---- Parameter paths ------------------------------------------------------------
  // Every change of a parameter's value from outside the plug-in comes through
  // here or through SetParamFromEditor (above), so that each source applies it
  // with one sequence. The host paths take no lock: the bindings hold it.
  enum class HostParamUpdate
  {
    Apply,      // store, show on the editor's controls, then ParamChanged
    StoreOnly,  // store only (a VST3 controller call; its processor hears the
                // change through the parameter queue)
  };
  // A host's normalised position for parameter `idx`, limited to [0, 1]; the
  // editor's controls are shown the limited position. False, changing nothing,
  // for a bad index or NaN.
  bool SetParamFromHost(int idx, double normalizedValue, HostParamUpdate update = HostParamUpdate::Apply);
  // A text typed in a host for parameter `idx`, read by the parameter's one
  // parse (ParamDef::ValueFromHostText), then applied as a real value limited
  // to the range. False, changing nothing, for a bad index or a text that
  // names no value.
  bool SetParamFromHostText(int idx, const char* text);
  // A host's real value for parameter `idx`, for hosts that speak real values
  // (LV2 control ports, the command line): limited to the range, and for a
  // stepped parameter rounded to its nearest position. False, changing nothing,
  // for a bad index or NaN.
  bool SetParamFromHostReal(int idx, double value);
  void NotifyAllParamsChanged();

  // ---- State and presets ------------------------------------------------------------
  bool SerializeParams(StateChunk& chunk);
  int UnserializeParams(const StateChunk& chunk, int startPos);
  bool SerializePresets(StateChunk& chunk);
  int UnserializePresets(const StateChunk& chunk, int startPos);
  void ModifyCurrentPreset(const char* name = nullptr);
  bool RecallPreset(int idx);
  void FillDefaultPresets(const char* name, int count);
  void EnsureDefaultPresets() { FillDefaultPresets("Empty", PresetCount()); }
  static void WriteVersionHeader(StateChunk& chunk);
  static int32_t ReadVersionHeader(const StateChunk& chunk, int* pos);

  // ---- Host identification -----------------------------------------------------------
  void IdentifyHost(const char* name, int32_t version);

protected:
  int32_t hostKind = -1;
  int32_t hostVersion = 0;
  int32_t latency = 0;

private:
  void SetUpChannels(const char* channelIOStr);  // construction: pairs, channels, buffers
  void ResizeScratch(int nFrames);
  void WriteFloatOutputs(int nFrames, bool accumulate);
  bool RunProcess32(float** in, float** out, int nFrames);
  void RunBypassDelay(int nFrames);
  enum class HostBlockMode { Replace, Accumulate, PassThrough };
  // The walk behind the four host-block helpers, for either sample size;
  // `pieceIn`/`pieceOut` are the preallocated per-piece pointer arrays.
  template <typename Sample>
  void RunHostBlock(Sample** in, int nIn, Sample** out, int nOut, int nFrames, HostBlockMode mode,
                    std::vector<Sample*>& pieceIn, std::vector<Sample*>& pieceOut);

  std::vector<ChannelPair> channelPairs;
  std::recursive_mutex mutex;
  char effectName[128] = {};
  char productName[128] = {};
  char makerName[128] = {};
  int32_t uniqueId = 0;
  int32_t makerId = 0;
  int32_t version = 0;
  int32_t api = 0;
  // The next three and tailSize are never changed in this system: the
  // bindings read them, but their state-chunk, instrument and MIDI paths never
  // run and the tail they report is always 0.
  bool doesStateChunks = false;
  bool isInstrument = false;
  bool doesMidi = false;
  // Set by a VST3 host's controller calls on its user-interface thread, read
  // by process on the audio thread: one relaxed atomic, no lock.
  std::atomic<bool> isBypassed{false};
  int32_t currentPresetIndex = 0;
  double sampleRate = 44100.0;
  int32_t blockSize = 0;
  int32_t tailSize = 0;  // never changed (see above)
  int32_t scratchFrames = 0;
  std::unique_ptr<BypassDelayLine> bypassDelay;
  IGraphics* editor = nullptr;  // owned once attached
  std::vector<std::unique_ptr<ParamDef>> params;
  std::vector<std::unique_ptr<PresetSlot>> presets;
  std::vector<double*> inputPointers;
  std::vector<double*> outputPointers;
  std::vector<InputChannel> inputChannels;
  std::vector<OutputChannel> outputChannels;
  std::vector<std::string> inputBusLabels;
  std::vector<std::string> outputBusLabels;
  // Per-piece host pointers of the host-block helpers, sized once at construction
  // so that processing allocates nothing.
  std::vector<float*> pieceIn32, pieceOut32;
  std::vector<double*> pieceIn64, pieceOut64;
  // Each channel's host array of a piece for ProcessBlock32.
  std::vector<float*> channelIn32, channelOut32;
};

// Scoped hold of an instance's lock.
class IPlugLockGuard
{
public:
  explicit IPlugLockGuard(IPlugBase* plug) : plug(plug) { if (plug) plug->Lock(); }
  ~IPlugLockGuard() { if (plug) plug->Unlock(); }
  IPlugLockGuard(const IPlugLockGuard&) = delete;
  IPlugLockGuard& operator=(const IPlugLockGuard&) = delete;

private:
  IPlugBase* plug;
};
