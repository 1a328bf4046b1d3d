// Drives the built TALVOR.vst3 module the way a host does: loaded with dlopen,
// reached only through its exported entry points and the VST3 interfaces. Audio
// is checked against the TALVOR engine run directly on the offline binding.

#include <dlfcn.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <limits>
#include <thread>

#include "HostObjects.h"
#include "ModuleInfoCheck.h"
#include "plugin/TALVOR.h"
#include "pluginterfaces/base/ipluginbase.h"
#include "pluginterfaces/vst/ivstaudioprocessor.h"
#include "pluginterfaces/vst/ivstcomponent.h"
#include "pluginterfaces/vst/ivstmessage.h"
#include "pluginterfaces/vst/ivstunits.h"

using namespace vst3test;

namespace {

const ParamID kBypassId = 0x62706173;
const ParamID kPresetId = 0x70727374;
// kTalvorCidText in this platform's byte layout.
alignas(8) const TUID kTalvorCid = INLINE_UID(0xF2AEE70D, 0x00DE4F4E, 0x536D6C62, 0x546C7631);
const double kNaN = std::numeric_limits<double>::quiet_NaN();
const double kInf = std::numeric_limits<double>::infinity();

void* ModuleHandle()
{
  static void* handle = [] {
    void* h = dlopen(TALVOR_VST3_MODULE_PATH, RTLD_NOW | RTLD_LOCAL);
    auto entry = h ? reinterpret_cast<bool (*)(void*)>(dlsym(h, "ModuleEntry")) : nullptr;
    return entry && entry(h) ? h : nullptr;
  }();
  return handle;
}

IPluginFactory* Factory()
{
  auto get = reinterpret_cast<GetFactoryProc>(dlsym(ModuleHandle(), "GetPluginFactory"));
  return get ? get() : nullptr;
}

// One instance, seen through the interfaces a host uses.
struct Plug
{
  explicit Plug(FUnknown* context = nullptr, bool init = true)
  {
    IPluginFactory* factory = Factory();
    alignas(8) TUID iid;
    IComponent::iid.toTUID(iid);
    void* obj = nullptr;
    factory->createInstance(kTalvorCid, iid, &obj);
    factory->release();
    component = static_cast<IComponent*>(obj);
    processor = Query<IAudioProcessor>(component);
    controller = Query<IEditController>(component);
    units = Query<IUnitInfo>(component);
    if (init && component->initialize(context) != kResultOk)
      ADD_FAILURE() << "initialize";
    component->activateBus(kAudio, Vst::kOutput, 0, true);
  }
  ~Plug()
  {
    component->terminate();
    for (FUnknown* i : std::initializer_list<FUnknown*>{units, controller, processor, component})
      i->release();
  }
  bool Setup(int32 sampleSize, int32 maxBlock = 512, double rate = 44100.0)
  {
    ProcessSetup setup = {kRealtime, sampleSize, maxBlock, rate};
    return processor->setupProcessing(setup) == kResultOk;
  }
  std::vector<uint8_t> State()
  {
    ByteStream s;
    controller->getState(&s);
    return s.bytes;
  }
  double Norm(ParamID id) { return controller->getParamNormalized(id); }
  IComponent* component = nullptr;
  IAudioProcessor* processor = nullptr;
  IEditController* controller = nullptr;
  IUnitInfo* units = nullptr;
};

// A host's channel buffers, in either sample size.
template <class S>
struct Buffers
{
  Buffers(int channels, int frames, int offset = -1) : data(channels, std::vector<S>(frames)), ptrs(channels)
  {
    for (int c = 0; c < channels; ++c)
    {
      ptrs[c] = data[c].data();
      for (int i = 0; offset >= 0 && i < frames; ++i)  // a signal that drives the saturation
        data[c][i] = (S)(0.45 * std::sin(0.031 * (i + offset) + c) + 0.2 * std::sin(0.0037 * (i + offset)));
    }
  }
  std::vector<std::vector<S>> data;
  std::vector<S*> ptrs;
};

template <class S>
tresult Process(Plug& plug, Buffers<S>& in, Buffers<S>& out, int frames, ParamChanges* changes = nullptr)
{
  AudioBusBuffers inBus, outBus;
  inBus.numChannels = (int32)in.ptrs.size();
  outBus.numChannels = (int32)out.ptrs.size();
  // The union holds either width; the host fills the one it announced.
  inBus.channelBuffers64 = reinterpret_cast<Sample64**>(in.ptrs.data());
  outBus.channelBuffers64 = reinterpret_cast<Sample64**>(out.ptrs.data());
  ProcessData data;
  data.symbolicSampleSize = sizeof(S) == 8 ? kSample64 : kSample32;
  data.numSamples = frames;
  data.numInputs = data.numOutputs = 1;
  data.inputs = &inBus;
  data.outputs = &outBus;
  data.inputParameterChanges = changes;
  return plug.processor->process(data);
}

// TALVOR on the offline binding, sent what the host sent the module.
struct Reference
{
  explicit Reference(double rate)
  {
    plug.SetSampleRate(rate);
    plug.RecallPreset(0);
  }
  void Apply(ParamID id, const std::vector<double>& points)
  {
    if (points.empty() || std::isnan(points.back()))
      return;
    const double v = std::clamp(points.back(), 0.0, 1.0);
    if (id == kBypassId)
      bypass = v > 0.5;
    else if (id == kPresetId)
      plug.RecallPreset((int)(v * kNumPresets));
    else if (id < (ParamID)kNumParams)
    {
      plug.ParamAt((int)id)->SetFromNormalized(v);
      plug.ParamChanged((int)id);
    }
  }
  void Process(double** in, double** out, int frames)
  {
    if (!bypass)
      return plug.ProcessBlock(in, out, frames);
    for (int c = 0; c < 2; ++c)
      std::copy_n(in[c], frames, out[c]);
  }
  TALVOR plug{IPlugInstanceInfo()};
  bool bypass = false;
};

struct BlockPlan
{
  int frames;
  std::vector<std::pair<ParamID, std::vector<double>>> changes;
};

const std::vector<BlockPlan> kAutomationPlan = {
    {256, {}},
    {1, {{2, {0.1, 0.9}}, {6, {0.75}}}},            // several points: only the last applies
    {511, {{9, {1.0}}, {0x12345, {0.3}}, {4, {}}}},  // unknown id and empty queue ignored
    {0, {{0, {0.2}}}},                               // parameter flush without audio
    {512, {{7, {2.5}}, {3, {-1.0}}, {5, {kNaN}}}},   // outside [0, 1] limited; NaN ignored
    {300, {{kBypassId, {1.0}}}},                     // host bypass
    {300, {{kBypassId, {0.5}}, {10, {1.0}}}},        // exactly 0.5 is not bypassed
    {2500, {{1, {0.6}}}},                            // longer than announced
    {64, {{kPresetId, {0.0}}}},                      // back to the default preset
};

// Each block's output must equal the engine's exactly (64-bit) or after the
// host's float conversion (32-bit).
template <class S>
void ExpectMatchesEngine(int maxBlock)
{
  Plug plug;
  ASSERT_TRUE(plug.Setup(sizeof(S) == 8 ? kSample64 : kSample32, maxBlock));
  Reference ref(44100.0);
  // Longer blocks than the scratch buffers are processed in slices of this size.
  const int slice = std::max(maxBlock, (int)IPlugBase::kMinScratchFrames);
  int position = 0;
  for (const BlockPlan& block : kAutomationPlan)
  {
    Buffers<S> in(2, block.frames, position), out(2, block.frames);
    Buffers<double> refIn(2, block.frames), refOut(2, block.frames);
    for (int c = 0; c < 2; ++c)
      std::copy(in.data[c].begin(), in.data[c].end(), refIn.data[c].begin());
    ParamChanges changes;
    for (const auto& [id, points] : block.changes)
    {
      changes.Add(id, points);
      ref.Apply(id, points);
    }
    ASSERT_EQ(kResultOk, Process(plug, in, out, block.frames, &changes));
    int done = 0;
    do
    {
      const int n = std::min(block.frames - done, slice);
      double* inP[2] = {refIn.ptrs[0] + done, refIn.ptrs[1] + done};
      double* outP[2] = {refOut.ptrs[0] + done, refOut.ptrs[1] + done};
      ref.Process(inP, outP, n);
      done += n;
    } while (done < block.frames);
    for (int c = 0; c < 2; ++c)
      for (int i = 0; i < block.frames; ++i)
        ASSERT_EQ((S)refOut.data[c][i], out.data[c][i]) << "at " << position << "+" << i << " ch " << c;
    position += block.frames;
  }
}

}  // namespace

TEST(Vst3Module, FactoryDescribesOneClassAlikeInEveryForm)
{
  ASSERT_NE(nullptr, ModuleHandle()) << dlerror();
  auto entry = reinterpret_cast<bool (*)(void*)>(dlsym(ModuleHandle(), "ModuleEntry"));
  auto moduleExit = reinterpret_cast<bool (*)()>(dlsym(ModuleHandle(), "ModuleExit"));
  EXPECT_TRUE(entry(ModuleHandle()) && moduleExit() && moduleExit());  // repeatable
  IPluginFactory* f1 = Factory();
  IPluginFactory* f2 = Factory();
  ASSERT_EQ(f1, f2);
  EXPECT_EQ(3u, f1->addRef());  // one reference per request
  f1->release();

  PFactoryInfo fi;
  ASSERT_EQ(kResultOk, f1->getFactoryInfo(&fi));
  EXPECT_STREQ("SilverMeadowLab", fi.vendor);
  EXPECT_EQ(16, fi.flags);
  EXPECT_EQ(1, f1->countClasses());

  auto* f3 = Query<IPluginFactory3>(f1);
  ASSERT_NE(nullptr, f3);
  PClassInfo ci;
  PClassInfo2 ci2;
  PClassInfoW ciw;
  ASSERT_EQ(kResultOk, f3->getClassInfo(0, &ci));
  ASSERT_EQ(kResultOk, f3->getClassInfo2(0, &ci2));
  ASSERT_EQ(kResultOk, f3->getClassInfoUnicode(0, &ciw));
  for (const std::string& name : {std::string(ci.name), std::string(ci2.name), Narrow(ciw.name)})
    EXPECT_EQ("TALVOR", name);
  for (const char* category : {ci.category, ci2.category, ciw.category})
    EXPECT_STREQ("Audio Module Class", category);
  for (const TUID* cid : {&ci.cid, &ci2.cid, &ciw.cid})
  {
    EXPECT_EQ(0, std::memcmp(*cid, kTalvorCid, sizeof(TUID)));
    EXPECT_EQ(kTalvorCidText, CidText(*cid));
  }
  // The bundle's moduleinfo.json says what the factory says.
  for (const std::string& mismatch : ModuleInfoMismatches(ModuleInfoPath(TALVOR_VST3_MODULE_PATH), fi, ci2))
    ADD_FAILURE() << mismatch;
  EXPECT_EQ(0x7FFFFFFF, ci.cardinality);
  EXPECT_STREQ("Fx|EQ", ci2.subCategories);
  EXPECT_STREQ("Fx|EQ", ciw.subCategories);
  EXPECT_EQ(2u, ciw.classFlags);
  EXPECT_EQ("2.0.0", Narrow(ciw.version));
  EXPECT_STREQ("2.0.0", ci2.version);
  EXPECT_STREQ("VST 3.6.12", ci2.sdkVersion);
  EXPECT_EQ("", Narrow(ciw.vendor));
  EXPECT_NE(kResultOk, f3->getClassInfo(1, &ci));
  EXPECT_NE(kResultOk, f3->getClassInfoUnicode(0, nullptr));

  // Creation matches class and interface; the instance refuses a peer connection.
  alignas(8) TUID iid, wrongCid;
  void* obj = &obj;
  IComponent::iid.toTUID(iid);
  std::memcpy(wrongCid, kTalvorCid, sizeof(TUID));
  wrongCid[15] = '2';
  EXPECT_EQ(kNoInterface, f1->createInstance(wrongCid, iid, &obj));
  EXPECT_EQ(nullptr, obj);
  IPlugView::iid.toTUID(iid);
  EXPECT_EQ(kNoInterface, f1->createInstance(kTalvorCid, iid, &obj));
  EXPECT_NE(kResultOk, f1->createInstance(kTalvorCid, iid, nullptr));
  IAudioProcessor::iid.toTUID(iid);
  ASSERT_EQ(kResultOk, f1->createInstance(kTalvorCid, iid, &obj));
  auto* processor = static_cast<IAudioProcessor*>(obj);
  EXPECT_EQ(nullptr, Query<IConnectionPoint>(processor));
  auto* controller2 = Query<IEditController2>(processor);
  ASSERT_NE(nullptr, controller2);
  controller2->release();
  EXPECT_EQ(0u, processor->release());

  f3->release();
  f2->release();
  EXPECT_EQ(0u, f1->release());
  IPluginFactory* again = Factory();  // a new factory after the last release
  ASSERT_NE(nullptr, again);
  EXPECT_EQ(0u, again->release());
}

TEST(Vst3Module, InitialisesOnceWithOrWithoutHostApplication)
{
  HostApplication app("VST3PluginTestHost");
  {
    Plug plug(&app);
    EXPECT_EQ(1, app.nameRequests);
    EXPECT_EQ(kResultFalse, plug.component->initialize(&app));
    // Terminate and initialise again: buses and parameters are rebuilt once.
    plug.component->terminate();
    EXPECT_EQ(kResultOk, plug.component->initialize(&app));
    EXPECT_EQ(1, plug.component->getBusCount(kAudio, Vst::kInput));
    EXPECT_EQ(1, plug.component->getBusCount(kAudio, Vst::kOutput));
    EXPECT_EQ(13, plug.controller->getParameterCount());
  }
  EXPECT_EQ(1, app.refs);  // every reference the plug-in took came back
  BareContext bare;
  Plug withoutApp(&bare);
  EXPECT_EQ(13, withoutApp.controller->getParameterCount());
  EXPECT_EQ(2, bare.refs);
}

TEST(Vst3Module, BusLayoutsStereoByDefaultMonoOnRequest)
{
  SpeakerArrangement stereo = 0x3, mono = 0x80000, arr = 0;
  Plug uninit(nullptr, false);
  EXPECT_EQ(kResultFalse, uninit.processor->setBusArrangements(&mono, 1, &mono, 1));

  Plug plug;
  auto bus = [&](BusDirection dir) {
    BusInfo info = {};
    EXPECT_EQ(kResultOk, plug.component->getBusInfo(kAudio, dir, 0, info));
    return Narrow(info.name) + "/" + std::to_string(info.channelCount) + "/" + std::to_string(info.flags);
  };
  EXPECT_EQ("Main Input/2/1", bus(Vst::kInput));
  EXPECT_EQ("Output/2/1", bus(Vst::kOutput));
  EXPECT_EQ(0, plug.component->getBusCount(kEvent, Vst::kInput));
  BusInfo info;
  EXPECT_NE(kResultOk, plug.component->getBusInfo(kAudio, Vst::kOutput, 1, info));
  EXPECT_NE(kResultOk, plug.component->activateBus(kAudio, Vst::kInput, -1, true));
  EXPECT_EQ(kResultOk, plug.processor->getBusArrangement(Vst::kInput, 0, arr));
  EXPECT_EQ(stereo, arr);

  EXPECT_EQ(kResultFalse, plug.processor->setBusArrangements(&mono, 1, &stereo, 1));
  EXPECT_EQ(kResultFalse, plug.processor->setBusArrangements(&mono, 1, nullptr, 1));
  EXPECT_EQ("Main Input/2/1", bus(Vst::kInput));  // refused: unchanged
  ASSERT_EQ(kResultOk, plug.processor->setBusArrangements(&mono, 1, &mono, 1));
  EXPECT_EQ("Input/1/1", bus(Vst::kInput));
  EXPECT_EQ("Output/1/1", bus(Vst::kOutput));
  EXPECT_EQ(kResultOk, plug.processor->getBusArrangement(Vst::kOutput, 0, arr));
  EXPECT_EQ(mono, arr);

  // The host activated the output before the change and need not again: the
  // mono block reaches it, equal to channel 0 of the engine fed silence beside.
  ASSERT_TRUE(plug.Setup(kSample64, 256));
  Buffers<double> in(1, 256, 0), out(1, 256), refIn(2, 256), refOut(2, 256);
  ASSERT_EQ(kResultOk, Process(plug, in, out, 256));
  refIn.data[0] = in.data[0];
  Reference(44100.0).Process(refIn.ptrs.data(), refOut.ptrs.data(), 256);
  EXPECT_EQ(refOut.data[0], out.data[0]);
}

TEST(Vst3Module, ProcessingSetupRefusesWhatCannotBeProcessed)
{
  Plug plug;
  EXPECT_EQ(kResultOk, plug.processor->canProcessSampleSize(kSample64));
  EXPECT_EQ(kResultFalse, plug.processor->canProcessSampleSize(2));
  EXPECT_EQ(0u, plug.processor->getLatencySamples());
  EXPECT_EQ(0u, plug.processor->getTailSamples());
  EXPECT_FALSE(plug.Setup(2));
  for (double rate : {0.0, -44100.0, kNaN, kInf})
    EXPECT_FALSE(plug.Setup(kSample32, 512, rate)) << rate;
  EXPECT_FALSE(plug.Setup(kSample32, 0));
  EXPECT_TRUE(plug.Setup(kSample32, 1 << 30));  // capped, not allocated
}

TEST(Vst3Module, AudioMatchesTheEngine64Bit)
{
  ExpectMatchesEngine<double>(512);
}

TEST(Vst3Module, AudioMatchesTheEngine32Bit)
{
  ExpectMatchesEngine<float>(512);
}

TEST(Vst3Module, HostBypassPassesAudioThroughUntilSetupAgain)
{
  Plug plug;
  ASSERT_TRUE(plug.Setup(kSample32, 128));
  ParamChanges bypassOn{{kBypassId, {1.0}}};
  Buffers<float> in(2, 128, 0), out(2, 128);
  in.data[1][5] = 3.5f;  // beyond what the equaliser would pass unchanged
  ASSERT_EQ(kResultOk, Process(plug, in, out, 128, &bypassOn));
  EXPECT_EQ(in.data, out.data);
  EXPECT_EQ(1.0, plug.Norm(kBypassId));

  ASSERT_TRUE(plug.Setup(kSample64, 128));  // a new setup clears the host bypass
  EXPECT_EQ(0.0, plug.Norm(kBypassId));
  Buffers<double> in64(2, 128, 0), out64(2, 128);
  ASSERT_EQ(kResultOk, Process(plug, in64, out64, 128, &bypassOn));
  EXPECT_EQ(in64.data, out64.data);
}

TEST(Vst3Module, HostileProcessCallsAreSurvived)
{
  Plug plug;
  ASSERT_TRUE(plug.Setup(kSample32, 64));
  ProcessData empty;
  empty.numSamples = 64;
  EXPECT_EQ(kResultOk, plug.processor->process(empty));
  empty.numInputs = empty.numOutputs = 3;  // counts without arrays
  empty.symbolicSampleSize = 7;
  EXPECT_EQ(kResultOk, plug.processor->process(empty));

  Buffers<float> out(2, 64);
  for (auto& ch : out.data)
    std::fill(ch.begin(), ch.end(), 42.0f);
  float* outPtrs[2] = {nullptr, out.ptrs[1]};
  AudioBusBuffers inBus, outBus;
  inBus.numChannels = outBus.numChannels = 2;
  inBus.channelBuffers32 = nullptr;  // no channel array at all: silence
  outBus.channelBuffers32 = outPtrs;
  ProcessData data;
  data.numSamples = 64;
  data.numInputs = data.numOutputs = 1;
  data.inputs = &inBus;
  data.outputs = &outBus;
  EXPECT_EQ(kResultOk, plug.processor->process(data));
  EXPECT_EQ(42.0f, out.data[0][0]);  // the missing channel stayed untouched
  for (float v : out.data[1])
    ASSERT_TRUE(std::isfinite(v) && std::fabs(v) < 1e-3f);
  outBus.numChannels = -3;
  data.numSamples = -100;
  EXPECT_EQ(kResultOk, plug.processor->process(data));
}

// Host output arrays the plug-in does not fill (an inactive bus, a bus or
// channel beyond its own) must not keep what the host left in them.
TEST(Vst3Module, OutputsThePlugInDoesNotFillGetSilence)
{
  auto stale = [](auto& buffers) {
    for (auto& ch : buffers.data)
      std::fill(ch.begin(), ch.end(), 7.0f);
  };
  auto silent = [](const auto& channel) {
    return std::all_of(channel.begin(), channel.end(), [](auto v) { return v == 0; });
  };
  Plug plug;
  ASSERT_TRUE(plug.Setup(kSample32, 64));
  Buffers<float> in(2, 64, 0), out(2, 64), extra(2, 64);

  plug.component->activateBus(kAudio, Vst::kOutput, 0, false);
  stale(out);
  ASSERT_EQ(kResultOk, Process(plug, in, out, 64));
  EXPECT_TRUE(silent(out.data[0]) && silent(out.data[1]));
  plug.component->activateBus(kAudio, Vst::kOutput, 0, true);

  // A second output bus the plug-in does not have; one of its channels is the
  // host's own alias of a main output, which keeps the processed signal.
  AudioBusBuffers inBus, outBuses[2];
  float* extraPtrs[2] = {extra.ptrs[0], out.ptrs[1]};
  inBus.numChannels = outBuses[0].numChannels = outBuses[1].numChannels = 2;
  inBus.channelBuffers32 = in.ptrs.data();
  outBuses[0].channelBuffers32 = out.ptrs.data();
  outBuses[1].channelBuffers32 = extraPtrs;
  ProcessData data;
  data.numSamples = 64;
  data.numInputs = 1;
  data.numOutputs = 2;
  data.inputs = &inBus;
  data.outputs = outBuses;
  stale(out);
  stale(extra);
  ASSERT_EQ(kResultOk, plug.processor->process(data));
  EXPECT_TRUE(silent(extra.data[0]));
  EXPECT_FALSE(silent(out.data[0]) || silent(out.data[1]));
  EXPECT_NE(7.0f, out.data[1][10]);

  // A main bus wider than the plug-in: the channel beyond its two is silenced.
  ASSERT_TRUE(plug.Setup(kSample64, 64));
  Buffers<double> in64(2, 64, 0), out64(3, 64);
  stale(out64);
  ASSERT_EQ(kResultOk, Process(plug, in64, out64, 64));
  EXPECT_TRUE(silent(out64.data[2]));
  EXPECT_FALSE(silent(out64.data[0]));
}

// A host that rearranges the buses while its audio thread is still processing
// breaks the protocol, but must not bring the plug-in down.
TEST(Vst3Module, BusesRearrangedDuringProcessingAreSurvived)
{
  Plug plug;
  ASSERT_TRUE(plug.Setup(kSample32, 64));
  std::atomic<bool> stop{false};
  std::thread audio([&] {
    Buffers<float> in(2, 64, 0), out(2, 64);
    while (!stop)
      Process(plug, in, out, 64);
  });
  SpeakerArrangement layouts[2] = {0x80000, 0x3};
  for (int i = 0; i < 5000; ++i)
    plug.processor->setBusArrangements(&layouts[i & 1], 1, &layouts[i & 1], 1);
  stop = true;
  audio.join();
}

TEST(Vst3Module, StateRoundTripIs92Bytes)
{
  Plug a;
  std::vector<uint8_t> fresh = a.State();
  ASSERT_EQ(92u, fresh.size());
  const double defaults[11] = {5, 0, 5, 0, 5, 0, 0, 0, 1, 0, 0};
  EXPECT_EQ(0, std::memcmp(fresh.data(), defaults, 88));
  EXPECT_EQ(std::vector<uint8_t>(4, 0), std::vector<uint8_t>(fresh.begin() + 88, fresh.end()));

  a.Setup(kSample32, 16);
  ParamChanges changes{{0, {0.9}}, {6, {0.25}}, {kBypassId, {1.0}}};
  Buffers<float> in(2, 16), out(2, 16);
  Process(a, in, out, 16, &changes);
  const std::vector<uint8_t> saved = a.State();
  ASSERT_EQ(92u, saved.size());
  EXPECT_EQ(1, saved[88]);

  Plug b;
  ByteStream s(saved);
  s.maxPerRead = 3;  // a stream that delivers a few bytes at a time
  ASSERT_EQ(kResultOk, b.controller->setState(&s));
  EXPECT_EQ(saved, b.State());
  EXPECT_DOUBLE_EQ(0.9, b.Norm(0));
  EXPECT_EQ(1.0, b.Norm(kBypassId));
  // Component state is the same stream (one object is both halves).
  ByteStream componentState;
  ASSERT_EQ(kResultOk, b.component->getState(&componentState));
  EXPECT_EQ(saved, componentState.bytes);
  EXPECT_EQ(kNotImplemented, b.controller->setComponentState(&componentState));
}

TEST(Vst3Module, DamagedStateStreamsLoseNothing)
{
  std::vector<uint8_t> state(92, 0);
  const double values[11] = {10, 4, 0, 1, 2, 3, -6, 6, 0, 1, 1};
  std::memcpy(state.data(), values, 88);
  state[88] = 1;
  auto load = [](Plug& plug, std::vector<uint8_t> bytes) {
    ByteStream s(std::move(bytes));
    return plug.controller->setState(&s);
  };
  {  // no bypass flag: parameters restored, failure reported, bypass unchanged
    Plug plug;
    EXPECT_EQ(kResultFalse, load(plug, {state.begin(), state.begin() + 88}));
    EXPECT_EQ(1.0, plug.Norm(0));
    EXPECT_EQ(0.25, plug.Norm(6));
    EXPECT_EQ(0.0, plug.Norm(kBypassId));
  }
  {  // cut inside the values: what arrived is loaded, the rest keeps its value
    Plug plug;
    EXPECT_EQ(kResultFalse, load(plug, {state.begin(), state.begin() + 20}));
    EXPECT_EQ(1.0, plug.Norm(1));
    EXPECT_EQ(0.5, plug.Norm(2));  // only half of it arrived
    EXPECT_EQ(1.0, plug.Norm(8));
  }
  {  // empty, oversized and null streams
    Plug plug;
    const std::vector<uint8_t> before = plug.State();
    EXPECT_EQ(kResultFalse, load(plug, {}));
    EXPECT_EQ(before, plug.State());
    EXPECT_NE(kResultOk, plug.controller->setState(nullptr));
    EXPECT_NE(kResultOk, plug.controller->getState(nullptr));
    std::vector<uint8_t> longer = state;
    longer.resize(4000, 0xAB);
    EXPECT_EQ(kResultOk, load(plug, longer));
    EXPECT_EQ(state, plug.State());
  }
  {  // values that are not finite numbers are refused one by one
    Plug plug;
    std::vector<uint8_t> hostile = state;
    const double bad[3] = {kNaN, kInf, -1e308};
    std::memcpy(hostile.data(), bad, sizeof(bad));
    EXPECT_EQ(kResultOk, load(plug, hostile));
    EXPECT_EQ(0.5, plug.Norm(0));  // kept at its default
    EXPECT_EQ(0.0, plug.Norm(1));
    EXPECT_EQ(0.0, plug.Norm(2));  // finite: limited to its range
    EXPECT_EQ(0.25, plug.Norm(6));
  }
}

TEST(Vst3Module, ParametersAsTheHostSeesThem)
{
  Plug plug;
  IEditController* c = plug.controller;
  ASSERT_EQ(13, c->getParameterCount());
  struct
  {
    ParamID id;
    const char* title;
    int32 steps, flags;
    double def;
  } const expected[13] = {{kPresetId, "Preset", 1, 0x8000, 0}, {kBypassId, "Bypass", 1, 0x10009, 0},
                          {0, "Low Gain", 10, 1, 0.5},        {1, "Low Freq", 4, 1, 0},
                          {2, "Mid Gain", 10, 1, 0.5},        {3, "Mid Freq", 4, 1, 0},
                          {4, "High Gain", 10, 1, 0.5},       {5, "High Freq", 4, 1, 0},
                          {6, "Input", 0, 1, 0.5},            {7, "Output", 0, 1, 0.5},
                          {8, "Bypass", 1, 1, 1},             {9, "Filter", 1, 1, 0},
                          {10, "Link", 1, 1, 0}};
  for (int i = 0; i < 13; ++i)
  {
    ParameterInfo info;
    ASSERT_EQ(kResultOk, c->getParameterInfo(i, info));
    EXPECT_EQ(expected[i].id, info.id) << i;
    EXPECT_EQ(expected[i].title, Narrow(info.title)) << i;
    EXPECT_EQ("", Narrow(info.shortTitle) + Narrow(info.units)) << i;
    EXPECT_EQ(expected[i].steps, info.stepCount) << i;
    EXPECT_EQ(expected[i].flags, info.flags) << i;
    EXPECT_EQ(expected[i].def, info.defaultNormalizedValue) << i;
    EXPECT_EQ(0, info.unitId);
  }
  ParameterInfo info;
  EXPECT_EQ(kResultFalse, c->getParameterInfo(13, info));
  EXPECT_EQ(kResultFalse, c->getParameterInfo(-1, info));

  auto text = [&](ParamID id, double v) {
    String128 s = {};
    return c->getParamStringByValue(id, v, s) == kResultOk ? Narrow(s) : "<refused>";
  };
  EXPECT_EQ("0.00", text(6, 0.5));
  EXPECT_EQ("-12.00", text(7, 0.0));
  EXPECT_EQ("12.00", text(6, 3.0));  // outside the range: limited
  EXPECT_EQ("5", text(0, 0.54));     // shown without step rounding, as a whole number
  for (ParamID id : {kBypassId, kPresetId, (ParamID)11})
    EXPECT_EQ("<refused>", text(id, 0.5));
  EXPECT_EQ("<refused>", text(6, kNaN));
  EXPECT_NE(kResultOk, c->getParamStringByValue(6, 0.5, nullptr));

  auto value = [&](ParamID id, const char* s) {
    String128 w = {};
    std::copy(s, s + std::strlen(s), w);
    ParamValue v = -1;
    return c->getParamValueByString(id, w, v) == kResultOk ? v : -99.0;
  };
  EXPECT_DOUBLE_EQ(0.75, value(6, " 6.00 "));
  EXPECT_DOUBLE_EQ(0.0, value(6, "-40"));
  EXPECT_DOUBLE_EQ(0.3, value(0, "3"));
  EXPECT_EQ(1.0, value(kBypassId, "on"));  // the host bypass is the list "off", "on"
  EXPECT_EQ(0.0, value(kBypassId, "off"));
  for (const char* junk : {"abc", "", "6dB", "nan", "inf"})
    EXPECT_EQ(-99.0, value(6, junk)) << junk;
  EXPECT_EQ(-99.0, value(99, "1"));
  ParamValue v = 0;
  EXPECT_NE(kResultOk, c->getParamValueByString(6, nullptr, v));

  EXPECT_DOUBLE_EQ(6.0, c->normalizedParamToPlain(6, 0.75));
  EXPECT_DOUBLE_EQ(1.0, c->plainParamToNormalized(6, 100.0));
  EXPECT_EQ(0.3, c->plainParamToNormalized(kBypassId, 0.3));
  EXPECT_EQ(kResultOk, c->setParamNormalized(0, 0.54));
  EXPECT_EQ(0.5, c->getParamNormalized(0));  // stepped: rounded to position 5
  EXPECT_EQ(kResultFalse, c->setParamNormalized(0, kNaN));
  EXPECT_EQ(kResultFalse, c->setParamNormalized(kBypassId, 1.0));
  EXPECT_EQ(0.0, c->getParamNormalized(kPresetId));
  EXPECT_EQ(0.0, c->getParamNormalized(0xDEAD));
}

TEST(Vst3Module, UnitsProgramsAndPresetRecall)
{
  Plug plug;
  IUnitInfo* u = plug.units;
  UnitInfo unit;
  ASSERT_EQ(1, u->getUnitCount());
  ASSERT_EQ(kResultOk, u->getUnitInfo(0, unit));
  EXPECT_EQ("Root Unit/0/-1/-1", Narrow(unit.name) + "/" + std::to_string(unit.id) + "/" +
                                      std::to_string(unit.parentUnitId) + "/" +
                                      std::to_string(unit.programListId));
  EXPECT_EQ(kResultFalse, u->getUnitInfo(1, unit));
  EXPECT_EQ(0, u->getProgramListCount());
  ProgramListInfo list;
  ASSERT_EQ(kResultOk, u->getProgramListInfo(0, list));
  EXPECT_EQ((ProgramListID)kPresetId, list.id);
  EXPECT_EQ("Factory Presets", Narrow(list.name));
  EXPECT_EQ(1, list.programCount);
  EXPECT_EQ(kResultFalse, u->getProgramListInfo(1, list));
  String128 name = {};
  ASSERT_EQ(kResultOk, u->getProgramName(kPresetId, 0, name));
  EXPECT_EQ("-", Narrow(name));
  ASSERT_EQ(kResultOk, u->getProgramName(kPresetId, 7, name));
  EXPECT_EQ("", Narrow(name));
  EXPECT_EQ(kResultFalse, u->getProgramName(1, 0, name));

  // The program-change parameter recalls preset floor(v * count); 1.0 asks for
  // a preset that does not exist and changes nothing.
  plug.Setup(kSample32, 16);
  Buffers<float> in(2, 16), out(2, 16);
  ParamChanges moveKnob{{2, {1.0}}}, noSuchPreset{{kPresetId, {1.0}}}, recall{{kPresetId, {0.0}}};
  Process(plug, in, out, 16, &moveKnob);
  Process(plug, in, out, 16, &noSuchPreset);
  EXPECT_EQ(1.0, plug.Norm(2));
  Process(plug, in, out, 16, &recall);
  EXPECT_EQ(0.5, plug.Norm(2));
}

TEST(Vst3Module, ViewsOutliveTheirPlugInAndReportTheEditor)
{
  IPlugView* views[2] = {};
  {
    Plug plug;
    EXPECT_EQ(nullptr, plug.controller->createView("other"));
    EXPECT_EQ(nullptr, plug.controller->createView(nullptr));
    views[0] = plug.controller->createView("editor");
    views[1] = plug.controller->createView("editor");
    ASSERT_TRUE(views[0] && views[1] && views[0] != views[1]);
  }
  // The plug-in's other interfaces are gone; the views still work.
  for (IPlugView* view : views)
  {
    for (FIDString type : {"HWND", "X11EmbedWindowID", (const char*)nullptr})
      EXPECT_EQ(kResultFalse, view->isPlatformTypeSupported(type));
    ViewRect stored(0, 0, 800, 900), r;
    EXPECT_EQ(kResultOk, view->onSize(&stored));
    EXPECT_EQ(kResultOk, view->onSize(nullptr));
    ASSERT_EQ(kResultOk, view->getSize(&r));
    EXPECT_EQ(ViewRect(0, 0, 346, 566).right, r.right);  // the editor's size, not the host's
    EXPECT_EQ(566, r.bottom);
    EXPECT_NE(kResultOk, view->getSize(nullptr));
    EXPECT_EQ(kResultTrue, view->attached(nullptr, "X11EmbedWindowID"));
    EXPECT_EQ(kResultFalse, view->attached(nullptr, "X11EmbedWindowID"));  // already attached
    EXPECT_EQ(kResultOk, view->removed());
  }
  views[1]->attached(nullptr, "X11EmbedWindowID");  // released while attached
  EXPECT_EQ(0u, views[1]->release());
  EXPECT_EQ(0u, views[0]->release());
}
