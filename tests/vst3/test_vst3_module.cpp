// Drives the built TALVOR.vst3 module the way a host does: loaded with dlopen,
// reached only through its exported entry points and the VST3 interfaces. Audio
// is checked against the TALVOR engine run directly on the offline binding.

#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

#include "HostObjects.h"
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
alignas(8) const TUID kTalvorCid = {'\x0D', '\xE7', '\xAE', '\xF2', '\xDE', '\x00', '\x4E', '\x4F',
                                    'S',    'm',    'l',    'b',    'T',    'l',    'v',    '1'};
const double kNaN = std::numeric_limits<double>::quiet_NaN();

struct Module
{
  void* handle = nullptr;
  GetFactoryProc getFactory = nullptr;
};

Module& TheModule()
{
  static Module module = [] {
    Module m;
    m.handle = dlopen(TALVOR_VST3_MODULE_PATH, RTLD_NOW | RTLD_LOCAL);
    if (!m.handle)
      return m;
    auto entry = reinterpret_cast<bool (*)(void*)>(dlsym(m.handle, "ModuleEntry"));
    m.getFactory = reinterpret_cast<GetFactoryProc>(dlsym(m.handle, "GetPluginFactory"));
    if (!entry || !entry(m.handle))
      m.getFactory = nullptr;
    return m;
  }();
  return module;
}

class UnloadModule : public ::testing::Environment
{
public:
  void TearDown() override
  {
    Module& m = TheModule();
    if (!m.handle)
      return;
    if (auto exitFn = reinterpret_cast<bool (*)()>(dlsym(m.handle, "ModuleExit")))
    {
      EXPECT_TRUE(exitFn());
    }
    dlclose(m.handle);
    m = Module();
  }
};
const auto* const kUnload = ::testing::AddGlobalTestEnvironment(new UnloadModule);

IPluginFactory* Factory()
{
  return TheModule().getFactory ? TheModule().getFactory() : nullptr;
}

template <class T>
T* Create(IPluginFactory* factory)
{
  alignas(8) TUID iid;
  T::iid.toTUID(iid);
  void* obj = nullptr;
  return factory->createInstance(kTalvorCid, iid, &obj) == kResultOk ? static_cast<T*>(obj) : nullptr;
}

// One plug-in instance, seen through the interfaces a host uses.
struct Plug
{
  explicit Plug(FUnknown* context = nullptr, bool init = true)
  {
    IPluginFactory* factory = Factory();
    component = Create<IComponent>(factory);
    factory->release();
    processor = Query<IAudioProcessor>(component);
    controller = Query<IEditController>(component);
    units = Query<IUnitInfo>(component);
    if (init)
    {
      EXPECT_EQ(kResultOk, component->initialize(context));
    }
  }
  ~Plug()
  {
    component->terminate();
    units->release();
    controller->release();
    processor->release();
    component->release();
  }
  bool Setup(int32 sampleSize, int32 maxBlock = 512, double rate = 48000.0)
  {
    ProcessSetup setup = {kRealtime, sampleSize, maxBlock, rate};
    return processor->setupProcessing(setup) == kResultOk;
  }
  std::vector<uint8_t> State()
  {
    ByteStream s;
    EXPECT_EQ(kResultOk, controller->getState(&s));
    return s.bytes;
  }
  IComponent* component = nullptr;
  IAudioProcessor* processor = nullptr;
  IEditController* controller = nullptr;
  IUnitInfo* units = nullptr;
};

// A host's stereo buffers, in either sample size.
template <class S>
struct Buffers
{
  Buffers(int channels, int frames) : data(channels, std::vector<S>(frames)), ptrs(channels)
  {
    for (int c = 0; c < channels; ++c)
      ptrs[c] = data[c].data();
  }
  std::vector<std::vector<S>> data;
  std::vector<S*> ptrs;
};

double TestSignal(int c, int i)
{
  return 0.45 * std::sin(0.031 * i + c) + 0.2 * std::sin(0.0037 * i * (c + 1));
}

template <class S>
tresult Process(Plug& plug, Buffers<S>& in, Buffers<S>& out, int frames, ParamChanges* changes = nullptr)
{
  AudioBusBuffers inBus, outBus;
  inBus.numChannels = (int32)in.ptrs.size();
  outBus.numChannels = (int32)out.ptrs.size();
  if constexpr (sizeof(S) == 8)
  {
    inBus.channelBuffers64 = in.ptrs.data();
    outBus.channelBuffers64 = out.ptrs.data();
  }
  else
  {
    inBus.channelBuffers32 = in.ptrs.data();
    outBus.channelBuffers32 = out.ptrs.data();
  }
  ProcessData data;
  data.symbolicSampleSize = sizeof(S) == 8 ? kSample64 : kSample32;
  data.numSamples = frames;
  data.numInputs = data.numOutputs = 1;
  data.inputs = &inBus;
  data.outputs = &outBus;
  data.inputParameterChanges = changes;
  return plug.processor->process(data);
}

// TALVOR on the offline binding, fed what the host sent the module.
struct Reference
{
  explicit Reference(double rate)
  {
    plug.SetSampleRate(rate);
    plug.OnReset();
    plug.RecallPreset(0);
  }
  void Apply(ParamID id, double v)
  {
    if (std::isnan(v))
      return;
    v = std::clamp(v, 0.0, 1.0);
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
    if (bypass)
      for (int c = 0; c < 2; ++c)
        std::memcpy(out[c], in[c], sizeof(double) * frames);
    else
      plug.ProcessBlock(in, out, frames);
  }
  TALVOR plug{IPlugInstanceInfo()};
  bool bypass = false;
};

struct Change
{
  ParamID id;
  std::vector<double> points;  // only the last point counts
};

struct BlockPlan
{
  int frames;
  std::vector<Change> changes;
};

// Sends the plan through the module and the reference; each block's output
// must match exactly (64-bit) or after the host's float conversion (32-bit).
template <class S>
void ExpectMatchesEngine(const std::vector<BlockPlan>& plan, int maxBlock)
{
  const double rate = 44100.0;
  Plug plug;
  ASSERT_EQ(kResultOk, plug.component->activateBus(kAudio, Vst::kOutput, 0, true));
  ASSERT_TRUE(plug.Setup(sizeof(S) == 8 ? kSample64 : kSample32, maxBlock, rate));
  Reference ref(rate);
  const int slice = std::max(maxBlock, (int)IPlugBase::kMinScratchFrames);

  int position = 0;
  for (size_t b = 0; b < plan.size(); ++b)
  {
    const BlockPlan& block = plan[b];
    Buffers<S> in(2, block.frames), out(2, block.frames);
    Buffers<double> refIn(2, block.frames), refOut(2, block.frames);
    for (int c = 0; c < 2; ++c)
      for (int i = 0; i < block.frames; ++i)
      {
        in.data[c][i] = (S)TestSignal(c, position + i);
        refIn.data[c][i] = (double)in.data[c][i];
      }
    ParamChanges changes;
    for (const Change& ch : block.changes)
    {
      changes.Add(ch.id, ch.points);
      if (!ch.points.empty())
        ref.Apply(ch.id, ch.points.back());
    }
    ASSERT_EQ(kResultOk, Process(plug, in, out, block.frames, &changes));

    // The module serves a block longer than its scratch buffers in slices.
    for (int done = 0; done < block.frames || (block.frames == 0 && done == 0);)
    {
      const int n = std::min(block.frames - done, slice);
      double* inP[2] = {refIn.ptrs[0] + done, refIn.ptrs[1] + done};
      double* outP[2] = {refOut.ptrs[0] + done, refOut.ptrs[1] + done};
      ref.Process(inP, outP, n);
      done += n;
      if (n == 0)
        break;
    }
    for (int c = 0; c < 2; ++c)
      for (int i = 0; i < block.frames; ++i)
        ASSERT_EQ((S)refOut.data[c][i], out.data[c][i]) << "block " << b << " channel " << c << " frame " << i;
    position += block.frames;
  }
}

const std::vector<BlockPlan> kAutomationPlan = {
    {256, {}},
    {1, {{2, {0.1, 0.9}}, {6, {0.75}}}},               // several points: only the last applies
    {511, {{9, {1.0}}, {0x12345, {0.3}}, {4, {}}}},     // unknown id and empty queue ignored
    {0, {{0, {0.2}}}},                                   // parameter flush without audio
    {512, {{7, {2.5}}, {3, {-1.0}}, {5, {kNaN}}}},      // outside [0, 1] limited; NaN ignored
    {300, {{kBypassId, {1.0}}}},                         // host bypass
    {300, {{kBypassId, {0.5}}, {10, {1.0}}}},            // exactly 0.5 is not bypassed
    {2500, {{1, {0.6}}}},                                // longer than announced
    {64, {{kPresetId, {0.0}}}},                          // back to the default preset
};

}  // namespace

TEST(Vst3Module, FactoryDescribesOneClassAlikeInEveryForm)
{
  ASSERT_NE(nullptr, TheModule().handle) << dlerror();
  IPluginFactory* f1 = Factory();
  IPluginFactory* f2 = Factory();
  ASSERT_NE(nullptr, f1);
  EXPECT_EQ(f1, f2);
  EXPECT_EQ(3u, f1->addRef());
  EXPECT_EQ(2u, f1->release());

  PFactoryInfo fi;
  ASSERT_EQ(kResultOk, f1->getFactoryInfo(&fi));
  EXPECT_STREQ("SilverMeadowLab", fi.vendor);
  EXPECT_EQ(16, fi.flags);
  EXPECT_NE(0u, std::strlen(fi.url));
  EXPECT_NE(0u, std::strlen(fi.email));
  EXPECT_EQ(1, f1->countClasses());

  auto* f3 = Query<IPluginFactory3>(f1);
  ASSERT_NE(nullptr, f3);
  PClassInfo ci;
  PClassInfo2 ci2;
  PClassInfoW ciw;
  ASSERT_EQ(kResultOk, f3->getClassInfo(0, &ci));
  ASSERT_EQ(kResultOk, f3->getClassInfo2(0, &ci2));
  ASSERT_EQ(kResultOk, f3->getClassInfoUnicode(0, &ciw));
  for (const char* name : {ci.name, ci2.name})
    EXPECT_STREQ("TALVOR", name);
  EXPECT_EQ("TALVOR", Narrow(ciw.name));
  for (const char* category : {ci.category, ci2.category, ciw.category})
    EXPECT_STREQ("Audio Module Class", category);
  for (const TUID* cid : {&ci.cid, &ci2.cid, &ciw.cid})
    EXPECT_EQ(0, std::memcmp(*cid, kTalvorCid, sizeof(TUID)));
  for (int32 cardinality : {ci.cardinality, ci2.cardinality, ciw.cardinality})
    EXPECT_EQ(0x7FFFFFFF, cardinality);
  EXPECT_STREQ("Fx|EQ", ci2.subCategories);
  EXPECT_STREQ("Fx|EQ", ciw.subCategories);
  EXPECT_EQ(2u, ci2.classFlags);
  EXPECT_EQ(2u, ciw.classFlags);
  EXPECT_STREQ("2.0.0", ci2.version);
  EXPECT_EQ("2.0.0", Narrow(ciw.version));
  EXPECT_STREQ("VST 3.6.12", ci2.sdkVersion);
  EXPECT_EQ("VST 3.6.12", Narrow(ciw.sdkVersion));
  EXPECT_STREQ("", ci2.vendor);

  // Bad requests are answered, not crashed on.
  EXPECT_NE(kResultOk, f3->getClassInfo(1, &ci));
  EXPECT_NE(kResultOk, f3->getClassInfo2(-1, &ci2));
  EXPECT_NE(kResultOk, f3->getClassInfoUnicode(0, nullptr));
  EXPECT_NE(kResultOk, f1->getFactoryInfo(nullptr));

  f3->release();
  f2->release();
  EXPECT_EQ(0u, f1->release());
  // The last release destroyed the factory; the next request builds a new one.
  IPluginFactory* again = Factory();
  ASSERT_NE(nullptr, again);
  EXPECT_EQ(1, again->countClasses());
  again->release();
}

TEST(Vst3Module, CreatesOnlyTheMatchingClassAndInterfaces)
{
  IPluginFactory* f = Factory();
  alignas(8) TUID iid;
  void* obj = &obj;
  IComponent::iid.toTUID(iid);
  alignas(8) TUID wrongCid;
  std::memcpy(wrongCid, kTalvorCid, sizeof(TUID));
  wrongCid[15] = '2';
  EXPECT_EQ(kNoInterface, f->createInstance(wrongCid, iid, &obj));
  EXPECT_EQ(nullptr, obj);
  IPlugView::iid.toTUID(iid);
  obj = &obj;
  EXPECT_EQ(kNoInterface, f->createInstance(kTalvorCid, iid, &obj));
  EXPECT_EQ(nullptr, obj);
  EXPECT_NE(kResultOk, f->createInstance(kTalvorCid, iid, nullptr));

  auto* processor = Create<IAudioProcessor>(f);
  f->release();
  ASSERT_NE(nullptr, processor);
  auto* connection = Query<IConnectionPoint>(processor);
  EXPECT_EQ(nullptr, connection);
  for (FUnknown* i : std::initializer_list<FUnknown*>{
           Query<IComponent>(processor), Query<IEditController>(processor),
           Query<IEditController2>(processor), Query<IUnitInfo>(processor)})
  {
    EXPECT_NE(nullptr, i);
    if (i)
      i->release();
  }
  EXPECT_EQ(kNotImplemented, processor->setProcessing(true));
  processor->release();
}

TEST(Vst3Module, InitialisesOnceWithOrWithoutHostApplication)
{
  HostApplication app("VST3PluginTestHost");
  {
    Plug plug(&app);
    EXPECT_EQ(1, app.nameRequests);
    EXPECT_EQ(kResultFalse, plug.component->initialize(&app));
    EXPECT_EQ(1, app.nameRequests);
    // Terminate and initialise again: the buses and parameters are rebuilt once.
    EXPECT_EQ(kResultOk, plug.component->terminate());
    EXPECT_EQ(kResultOk, plug.component->initialize(&app));
    EXPECT_EQ(1, plug.component->getBusCount(kAudio, Vst::kInput));
    EXPECT_EQ(1, plug.component->getBusCount(kAudio, Vst::kOutput));
    EXPECT_EQ(13, plug.controller->getParameterCount());
  }
  EXPECT_EQ(1, app.refs);  // every reference the plug-in took came back

  BareContext bare;
  Plug withoutApp(&bare);
  EXPECT_EQ(13, withoutApp.controller->getParameterCount());
  Plug withNothing(nullptr);
  EXPECT_EQ(kResultFalse, withNothing.component->initialize(&bare));
  EXPECT_EQ(2, bare.refs);  // held by the one instance it initialised
}

TEST(Vst3Module, BusLayoutsStereoByDefaultMonoOnRequest)
{
  Plug uninit(nullptr, false);
  SpeakerArrangement stereo = 0x3, mono = 0x80000;
  EXPECT_EQ(kResultFalse, uninit.processor->setBusArrangements(&mono, 1, &mono, 1));

  Plug plug;
  BusInfo info;
  ASSERT_EQ(kResultOk, plug.component->getBusInfo(kAudio, Vst::kInput, 0, info));
  EXPECT_EQ("Main Input", Narrow(info.name));
  EXPECT_EQ(2, info.channelCount);
  EXPECT_EQ(kMain, info.busType);
  EXPECT_EQ((uint32)BusInfo::kDefaultActive, info.flags);
  ASSERT_EQ(kResultOk, plug.component->getBusInfo(kAudio, Vst::kOutput, 0, info));
  EXPECT_EQ("Output", Narrow(info.name));
  EXPECT_EQ(0, plug.component->getBusCount(kEvent, Vst::kInput));
  EXPECT_NE(kResultOk, plug.component->getBusInfo(kAudio, Vst::kOutput, 1, info));
  EXPECT_NE(kResultOk, plug.component->activateBus(kAudio, Vst::kInput, 5, true));
  SpeakerArrangement arr = 0;
  EXPECT_EQ(kResultOk, plug.processor->getBusArrangement(Vst::kInput, 0, arr));
  EXPECT_EQ(stereo, arr);

  ASSERT_EQ(kResultOk, plug.component->activateBus(kAudio, Vst::kOutput, 0, true));
  EXPECT_EQ(kResultFalse, plug.processor->setBusArrangements(&mono, 1, &stereo, 1));
  EXPECT_EQ(kResultFalse, plug.processor->setBusArrangements(&mono, 1, nullptr, 1));
  ASSERT_EQ(kResultOk, plug.component->getBusInfo(kAudio, Vst::kInput, 0, info));
  EXPECT_EQ(2, info.channelCount);  // refused: unchanged

  ASSERT_EQ(kResultOk, plug.processor->setBusArrangements(&mono, 1, &mono, 1));
  ASSERT_EQ(kResultOk, plug.component->getBusInfo(kAudio, Vst::kInput, 0, info));
  EXPECT_EQ("Input", Narrow(info.name));
  EXPECT_EQ(1, info.channelCount);
  ASSERT_EQ(kResultOk, plug.component->getBusInfo(kAudio, Vst::kOutput, 0, info));
  EXPECT_EQ("Output", Narrow(info.name));
  EXPECT_EQ(1, info.channelCount);
  EXPECT_EQ(kResultOk, plug.processor->getBusArrangement(Vst::kOutput, 0, arr));
  EXPECT_EQ(mono, arr);

  // The host activated the output before the change and need not do it again:
  // a mono block reaches the host's buffer, equal to channel 0 of a stereo run.
  ASSERT_TRUE(plug.Setup(kSample64, 256));
  Buffers<double> in(1, 256), out(1, 256);
  for (int i = 0; i < 256; ++i)
    in.data[0][i] = TestSignal(0, i);
  ASSERT_EQ(kResultOk, Process(plug, in, out, 256));
  Reference ref(48000.0);
  Buffers<double> refIn(2, 256), refOut(2, 256);
  refIn.data[0] = in.data[0];
  ref.Process(refIn.ptrs.data(), refOut.ptrs.data(), 256);
  EXPECT_EQ(refOut.data[0], out.data[0]);
}

TEST(Vst3Module, ProcessingSetupRefusesWhatCannotBeProcessed)
{
  Plug plug;
  EXPECT_EQ(kResultOk, plug.processor->canProcessSampleSize(kSample32));
  EXPECT_EQ(kResultOk, plug.processor->canProcessSampleSize(kSample64));
  EXPECT_EQ(kResultFalse, plug.processor->canProcessSampleSize(2));
  EXPECT_EQ(0u, plug.processor->getLatencySamples());
  EXPECT_EQ(0u, plug.processor->getTailSamples());
  EXPECT_FALSE(plug.Setup(2));
  for (double rate : {0.0, -44100.0, kNaN, std::numeric_limits<double>::infinity()})
    EXPECT_FALSE(plug.Setup(kSample32, 512, rate)) << rate;
  EXPECT_FALSE(plug.Setup(kSample32, 0));
  EXPECT_FALSE(plug.Setup(kSample32, -5));
  EXPECT_TRUE(plug.Setup(kSample32, 1 << 30));  // capped, not allocated
  EXPECT_TRUE(plug.Setup(kSample64, 64, 96000.0));
}

TEST(Vst3Module, AudioMatchesTheEngine64Bit)
{
  ExpectMatchesEngine<double>(kAutomationPlan, 512);
}

TEST(Vst3Module, AudioMatchesTheEngine32Bit)
{
  ExpectMatchesEngine<float>(kAutomationPlan, 512);
}

TEST(Vst3Module, HostBypassPassesAudioThroughUntilSetupAgain)
{
  Plug plug;
  plug.component->activateBus(kAudio, Vst::kOutput, 0, true);
  ASSERT_TRUE(plug.Setup(kSample32, 128));
  ParamChanges bypassOn;
  bypassOn.Add(kBypassId, {1.0});
  Buffers<float> in(2, 128), out(2, 128);
  for (int c = 0; c < 2; ++c)
    for (int i = 0; i < 128; ++i)
      in.data[c][i] = (float)TestSignal(c, i) * 1.7f;
  ASSERT_EQ(kResultOk, Process(plug, in, out, 128, &bypassOn));
  EXPECT_EQ(in.data, out.data);
  EXPECT_EQ(1.0, plug.controller->getParamNormalized(kBypassId));

  Buffers<double> in64(2, 128), out64(2, 128);
  in64.data[1][5] = 3.5;
  ASSERT_TRUE(plug.Setup(kSample64, 128));  // a new setup clears the host bypass
  EXPECT_EQ(0.0, plug.controller->getParamNormalized(kBypassId));
  ASSERT_EQ(kResultOk, Process(plug, in64, out64, 128, &bypassOn));
  EXPECT_EQ(in64.data, out64.data);
}

TEST(Vst3Module, HostileProcessCallsAreSurvived)
{
  Plug plug;
  plug.component->activateBus(kAudio, Vst::kOutput, 0, true);
  ASSERT_TRUE(plug.Setup(kSample32, 64));
  ProcessData empty;
  empty.numSamples = 64;
  EXPECT_EQ(kResultOk, plug.processor->process(empty));
  empty.numInputs = empty.numOutputs = 3;  // counts without arrays
  EXPECT_EQ(kResultOk, plug.processor->process(empty));
  empty.symbolicSampleSize = 7;
  EXPECT_EQ(kResultOk, plug.processor->process(empty));

  Buffers<float> in(2, 64), out(2, 64);
  for (auto& ch : out.data)
    std::fill(ch.begin(), ch.end(), 42.0f);
  AudioBusBuffers inBus, outBus;
  inBus.numChannels = 2;
  inBus.channelBuffers32 = nullptr;  // no channel array at all
  float* outPtrs[2] = {nullptr, out.ptrs[1]};
  outBus.numChannels = 2;
  outBus.channelBuffers32 = outPtrs;
  ProcessData data;
  data.numSamples = 64;
  data.numInputs = data.numOutputs = 1;
  data.inputs = &inBus;
  data.outputs = &outBus;
  EXPECT_EQ(kResultOk, plug.processor->process(data));
  for (float v : out.data[1])
    EXPECT_TRUE(std::isfinite(v) && v != 42.0f);
  EXPECT_EQ(42.0f, out.data[0][0]);  // the missing channel stayed untouched

  outBus.numChannels = -3;
  data.numSamples = -100;
  EXPECT_EQ(kResultOk, plug.processor->process(data));
  outBus.numChannels = 2;
  data.numSamples = 0;
  EXPECT_EQ(kResultOk, plug.processor->process(data));

  // An inactive output bus is not written.
  plug.component->activateBus(kAudio, Vst::kOutput, 0, false);
  std::fill(out.data[1].begin(), out.data[1].end(), 7.0f);
  data.numSamples = 64;
  outPtrs[0] = out.ptrs[0];
  EXPECT_EQ(kResultOk, plug.processor->process(data));
  EXPECT_EQ(7.0f, out.data[1][10]);
}

TEST(Vst3Module, StateRoundTripIs92Bytes)
{
  Plug a;
  std::vector<uint8_t> fresh = a.State();
  ASSERT_EQ(92u, fresh.size());
  const double defaults[11] = {5, 0, 5, 0, 5, 0, 0, 0, 1, 0, 0};
  EXPECT_EQ(0, std::memcmp(fresh.data(), defaults, 88));
  EXPECT_EQ(std::vector<uint8_t>(4, 0), std::vector<uint8_t>(fresh.begin() + 88, fresh.end()));

  a.component->activateBus(kAudio, Vst::kOutput, 0, true);
  a.Setup(kSample32, 16);
  ParamChanges changes;
  changes.Add(0, {0.9});
  changes.Add(6, {0.25});
  changes.Add(kBypassId, {1.0});
  Buffers<float> in(2, 16), out(2, 16);
  Process(a, in, out, 16, &changes);
  std::vector<uint8_t> saved = a.State();
  ASSERT_EQ(92u, saved.size());
  EXPECT_EQ(1, saved[88]);

  Plug b;
  ByteStream s(saved);
  s.maxPerRead = 3;  // a stream that delivers a few bytes at a time
  ASSERT_EQ(kResultOk, b.controller->setState(&s));
  EXPECT_EQ(saved, b.State());
  EXPECT_DOUBLE_EQ(0.9, b.controller->getParamNormalized(0));
  EXPECT_DOUBLE_EQ(0.25, b.controller->getParamNormalized(6));
  EXPECT_EQ(1.0, b.controller->getParamNormalized(kBypassId));
  EXPECT_EQ(kNotImplemented, b.controller->setComponentState(&s));
}

TEST(Vst3Module, DamagedStateStreamsLoseNothing)
{
  std::vector<uint8_t> state(92, 0);
  const double values[11] = {10, 4, 0, 1, 2, 3, -6, 6, 0, 1, 1};
  std::memcpy(state.data(), values, 88);
  state[88] = 1;

  {  // no bypass flag: parameters restored, failure reported, bypass unchanged
    Plug plug;
    ByteStream s(std::vector<uint8_t>(state.begin(), state.begin() + 88));
    EXPECT_EQ(kResultFalse, plug.controller->setState(&s));
    EXPECT_EQ(1.0, plug.controller->getParamNormalized(0));
    EXPECT_EQ(0.25, plug.controller->getParamNormalized(6));
    EXPECT_EQ(0.0, plug.controller->getParamNormalized(kBypassId));
  }
  {  // cut inside the values: what arrived is loaded, the rest keeps its value
    Plug plug;
    ByteStream s(std::vector<uint8_t>(state.begin(), state.begin() + 20));
    EXPECT_EQ(kResultFalse, plug.controller->setState(&s));
    EXPECT_EQ(1.0, plug.controller->getParamNormalized(0));
    EXPECT_EQ(1.0, plug.controller->getParamNormalized(1));
    EXPECT_EQ(0.5, plug.controller->getParamNormalized(2));  // half-read value: kept
    EXPECT_EQ(1.0, plug.controller->getParamNormalized(8));
  }
  {  // empty, oversized and null streams
    Plug plug;
    const std::vector<uint8_t> before = plug.State();
    ByteStream empty;
    EXPECT_EQ(kResultFalse, plug.controller->setState(&empty));
    EXPECT_EQ(before, plug.State());
    EXPECT_NE(kResultOk, plug.controller->setState(nullptr));
    EXPECT_NE(kResultOk, plug.controller->getState(nullptr));
    std::vector<uint8_t> longer = state;
    longer.resize(4000, 0xAB);
    ByteStream big(longer);
    EXPECT_EQ(kResultOk, plug.controller->setState(&big));
    EXPECT_EQ(state, plug.State());
  }
  {  // values that are not finite numbers are refused one by one
    Plug plug;
    std::vector<uint8_t> hostile = state;
    const double bad[3] = {kNaN, std::numeric_limits<double>::infinity(), -1e308};
    std::memcpy(hostile.data(), bad, sizeof(bad));
    ByteStream s(hostile);
    EXPECT_EQ(kResultOk, plug.controller->setState(&s));
    EXPECT_EQ(0.5, plug.controller->getParamNormalized(0));  // NaN: kept at default
    EXPECT_EQ(0.0, plug.controller->getParamNormalized(1));  // infinity: kept
    EXPECT_EQ(0.0, plug.controller->getParamNormalized(2));  // finite: limited to its range
    for (int i = 0; i < 11; ++i)
      EXPECT_TRUE(std::isfinite(plug.controller->getParamNormalized(i)));
  }
}

TEST(Vst3Module, ParametersAsTheHostSeesThem)
{
  Plug plug;
  IEditController* c = plug.controller;
  ASSERT_EQ(13, c->getParameterCount());
  struct Expect
  {
    ParamID id;
    const char* title;
    int32 steps;
    int32 flags;
    double def;
  };
  const Expect expected[13] = {
      {kPresetId, "Preset", 1, 0x8000, 0.0}, {kBypassId, "Bypass", 1, 0x10009, 0.0},
      {0, "Low Gain", 10, 1, 0.5},           {1, "Low Freq", 4, 1, 0.0},
      {2, "Mid Gain", 10, 1, 0.5},           {3, "Mid Freq", 4, 1, 0.0},
      {4, "High Gain", 10, 1, 0.5},          {5, "High Freq", 4, 1, 0.0},
      {6, "Input", 0, 1, 0.5},               {7, "Output", 0, 1, 0.5},
      {8, "Bypass", 1, 1, 1.0},              {9, "Filter", 1, 1, 0.0},
      {10, "Link", 1, 1, 0.0}};
  for (int i = 0; i < 13; ++i)
  {
    ParameterInfo info;
    ASSERT_EQ(kResultOk, c->getParameterInfo(i, info));
    EXPECT_EQ(expected[i].id, info.id) << i;
    EXPECT_EQ(expected[i].title, Narrow(info.title)) << i;
    EXPECT_EQ("", Narrow(info.shortTitle));
    EXPECT_EQ("", Narrow(info.units));
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
    return c->getParamStringByValue(id, v, s) == kResultOk ? Narrow(s) : std::string("<refused>");
  };
  EXPECT_EQ("0.00", text(6, 0.5));
  EXPECT_EQ("-12.00", text(7, 0.0));
  EXPECT_EQ("12.00", text(6, 3.0));  // outside the range: limited
  EXPECT_EQ("5", text(0, 0.54));     // display without step rounding, whole numbers
  EXPECT_EQ("1", text(8, 1.0));
  for (ParamID id : {kBypassId, kPresetId, (ParamID)11})
    EXPECT_EQ("<refused>", text(id, 0.5));
  EXPECT_EQ("<refused>", text(6, kNaN));
  EXPECT_NE(kResultOk, c->getParamStringByValue(6, 0.5, nullptr));

  auto value = [&](ParamID id, const char* s) {
    String128 w = {};
    for (int i = 0; s[i]; ++i)
      w[i] = (TChar)s[i];
    ParamValue v = -1;
    return c->getParamValueByString(id, w, v) == kResultOk ? v : -99.0;
  };
  EXPECT_DOUBLE_EQ(0.75, value(6, "6"));
  EXPECT_DOUBLE_EQ(0.75, value(6, " 6.00 "));
  EXPECT_DOUBLE_EQ(0.0, value(6, "-40"));
  EXPECT_DOUBLE_EQ(0.3, value(0, "3"));
  EXPECT_EQ(1.0, value(kBypassId, "on"));
  for (const char* junk : {"abc", "", "6dB", "nan", "inf"})
    EXPECT_EQ(-99.0, value(6, junk)) << junk;
  EXPECT_EQ(-99.0, value(99, "1"));
  ParamValue v = 0;
  EXPECT_NE(kResultOk, c->getParamValueByString(6, nullptr, v));

  EXPECT_DOUBLE_EQ(6.0, c->normalizedParamToPlain(6, 0.75));
  EXPECT_DOUBLE_EQ(0.75, c->plainParamToNormalized(6, 6.0));
  EXPECT_DOUBLE_EQ(1.0, c->plainParamToNormalized(6, 100.0));
  EXPECT_EQ(0.3, c->plainParamToNormalized(kBypassId, 0.3));

  EXPECT_EQ(kResultOk, c->setParamNormalized(0, 0.54));
  EXPECT_EQ(0.5, c->getParamNormalized(0));  // stepped: rounded to position 5
  EXPECT_EQ(kResultFalse, c->setParamNormalized(0, kNaN));
  EXPECT_EQ(0.5, c->getParamNormalized(0));
  EXPECT_EQ(kResultFalse, c->setParamNormalized(kBypassId, 1.0));
  EXPECT_EQ(0.0, c->getParamNormalized(kPresetId));
  EXPECT_EQ(0.0, c->getParamNormalized(0xDEAD));
}

TEST(Vst3Module, UnitsProgramsAndPresetRecall)
{
  Plug plug;
  IUnitInfo* u = plug.units;
  ASSERT_EQ(1, u->getUnitCount());
  UnitInfo unit;
  ASSERT_EQ(kResultOk, u->getUnitInfo(0, unit));
  EXPECT_EQ(0, unit.id);
  EXPECT_EQ(-1, unit.parentUnitId);
  EXPECT_EQ(-1, unit.programListId);
  EXPECT_EQ("Root Unit", Narrow(unit.name));
  EXPECT_EQ(kResultFalse, u->getUnitInfo(1, unit));
  EXPECT_EQ(0, u->getSelectedUnit());

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
  EXPECT_EQ(kNotImplemented, u->selectUnit(0));

  // The program-change parameter recalls preset floor(v * count); 1.0 asks for
  // a preset that does not exist and changes nothing.
  plug.component->activateBus(kAudio, Vst::kOutput, 0, true);
  plug.Setup(kSample32, 16);
  Buffers<float> in(2, 16), out(2, 16);
  ParamChanges moveKnobs;
  moveKnobs.Add(2, {1.0});
  Process(plug, in, out, 16, &moveKnobs);
  ParamChanges noSuchPreset;
  noSuchPreset.Add(kPresetId, {1.0});
  Process(plug, in, out, 16, &noSuchPreset);
  EXPECT_EQ(1.0, plug.controller->getParamNormalized(2));
  ParamChanges recall;
  recall.Add(kPresetId, {0.0});
  Process(plug, in, out, 16, &recall);
  EXPECT_EQ(0.5, plug.controller->getParamNormalized(2));
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
    ASSERT_NE(nullptr, views[0]);
    ASSERT_NE(nullptr, views[1]);
    EXPECT_NE(views[0], views[1]);
  }
  // The plug-in's other interfaces are gone; the views still work.
  for (IPlugView* view : views)
  {
    for (FIDString type : {"HWND", "X11EmbedWindowID", "NSView", (const char*)nullptr})
      EXPECT_EQ(kResultFalse, view->isPlatformTypeSupported(type));
    ViewRect r;
    ASSERT_EQ(kResultOk, view->getSize(&r));
    EXPECT_EQ(0, r.left);
    EXPECT_EQ(0, r.top);
    EXPECT_EQ(346, r.right);
    EXPECT_EQ(566, r.bottom);
    EXPECT_NE(kResultOk, view->getSize(nullptr));
    ViewRect stored(0, 0, 800, 900);
    EXPECT_EQ(kResultOk, view->onSize(&stored));
    EXPECT_EQ(kResultOk, view->onSize(nullptr));
    ASSERT_EQ(kResultOk, view->getSize(&r));
    EXPECT_EQ(346, r.right);  // the editor's size, whatever the host stored
    EXPECT_EQ(kResultTrue, view->attached(nullptr, "X11EmbedWindowID"));
    EXPECT_EQ(kResultFalse, view->attached(nullptr, "X11EmbedWindowID"));  // already attached
    EXPECT_EQ(kResultOk, view->removed());
    EXPECT_EQ(kResultOk, view->removed());
    EXPECT_EQ(kResultFalse, view->onWheel(1.0f));
    EXPECT_EQ(kResultFalse, view->canResize());
  }
  views[1]->attached(nullptr, "X11EmbedWindowID");  // released while attached
  EXPECT_EQ(0u, views[1]->release());
  EXPECT_EQ(0u, views[0]->release());
}
