// Drives the built TALVOR.vst3 module the way a host does: loaded with dlopen,
// reached only through its exported entry points and the VST3 interfaces. Audio
// is checked against the TALVOR engine run directly on the offline binding.
// The controller side (state, parameters, units, views) is in
// test_vst3_controller.cpp.

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>
#include <thread>

#include "ModuleHost.h"
#include "ModuleInfoCheck.h"
#include "plugin/TALVOR.h"
#include "tests/dsp/LoudRuns.h"
#include "pluginterfaces/vst/ivstmessage.h"

using namespace vst3test;

namespace {

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
      plug.SetBypassed(v > 0.5);
    else if (id == kPresetId)
      plug.RecallPreset((int)(v * kNumPresets));
    else if (id < (ParamID)kNumParams)
    {
      plug.ParamAt((int)id)->SetFromNormalized(v);
      plug.ParamChanged((int)id);
    }
  }
  // The host's bypass cross-fades inside the plug-in, as "Bypass" does.
  void Process(double** in, double** out, int frames) { plug.ProcessBlock(in, out, frames); }
  TALVOR plug{IPlugInstanceInfo()};
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
    // Terminate and initialise again: buses and parameters are rebuilt once,
    // and the user's settings stay.
    ASSERT_EQ(kResultOk, plug.controller->setParamNormalized(2, 0.9));
    ASSERT_EQ(kResultOk, plug.controller->setParamNormalized(kBypassId, 1.0));
    const std::vector<uint8_t> settings = plug.State();
    plug.component->terminate();
    EXPECT_EQ(kResultOk, plug.component->initialize(&app));
    EXPECT_EQ(1, plug.component->getBusCount(kAudio, Vst::kInput));
    EXPECT_EQ(1, plug.component->getBusCount(kAudio, Vst::kOutput));
    EXPECT_EQ(13, plug.controller->getParameterCount());
    EXPECT_EQ(settings, plug.State());
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

  // Refused, whatever the reason: the buses stay exactly as they were.
  SpeakerArrangement twoMono[2] = {mono, mono};
  EXPECT_EQ(kResultFalse, plug.processor->setBusArrangements(&mono, 1, &stereo, 1));
  EXPECT_EQ(kResultFalse, plug.processor->setBusArrangements(&mono, 1, nullptr, 1));
  EXPECT_EQ(kResultFalse, plug.processor->setBusArrangements(twoMono, 2, &mono, 1));  // no side chain
  EXPECT_EQ("Main Input/2/1", bus(Vst::kInput));
  EXPECT_EQ("Output/2/1", bus(Vst::kOutput));
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

TEST(Vst3Module, HostBypassSurvivesANewSetup)
{
  Plug plug;
  ASSERT_TRUE(plug.Setup(kSample32, 128));
  ParamChanges bypassOn{{kBypassId, {1.0}}};
  Buffers<float> in(2, 128, 0), out(2, 128);
  in.data[1][5] = 3.5f;  // beyond what the equaliser would pass unchanged
  ASSERT_EQ(kResultOk, Process(plug, in, out, 128, &bypassOn));
  EXPECT_EQ(in.data, out.data);

  // A new sample rate and sample size: the insert stays bypassed, and says so.
  ASSERT_TRUE(plug.Setup(kSample64, 256, 96000.0));
  EXPECT_EQ(1.0, plug.Norm(kBypassId));
  EXPECT_EQ(1, plug.State()[88]);
  Buffers<double> in64(2, 128, 0), out64(2, 128);
  ASSERT_EQ(kResultOk, Process(plug, in64, out64, 128));
  EXPECT_EQ(in64.data, out64.data);
}

// The module's left output for 0.4 s of the test signal at 48 kHz in blocks
// of `block` frames, `start` sent with the first block and `change` with
// the block at frame changeAt.
Buffer RenderBlocks(int block, ParamChanges& start, size_t changeAt = 0, ParamChanges* change = nullptr)
{
  Plug plug;
  EXPECT_TRUE(plug.Setup(kSample64, 4096, 48000.0));
  const int frames = 19200;
  Buffers<double> in(2, frames, 0), out(2, frames);
  for (int pos = 0; pos < frames; pos += block)
  {
    double* i2[2] = {in.ptrs[0] + pos, in.ptrs[1] + pos};
    double* o2[2] = {out.ptrs[0] + pos, out.ptrs[1] + pos};
    ParamChanges* changes = pos == 0 ? &start : (size_t)pos == changeAt ? change : nullptr;
    EXPECT_EQ(kResultOk, ProcessOneBus(plug.processor, i2, 2, o2, 2, std::min(block, frames - pos), changes));
  }
  return Buffer(out.data[0].begin(), out.data[0].end());
}

TEST(Vst3Module, FixedSettingsRenderTheSameBytesAtEveryBlockSize)
{
  ParamChanges settings{{0, {0.8}}, {2, {0.3}}, {3, {0.5}}, {4, {0.9}}, {6, {0.75}}, {7, {0.375}}, {9, {1.0}}};
  const Buffer first = RenderBlocks(1, settings);
  for (int block : {64, 512, 4096})
    EXPECT_EQ(0, std::memcmp(first.data(), RenderBlocks(block, settings).data(), first.size() * sizeof(double)))
      << block;
}

TEST(Vst3Module, HostBypassCrossFadesAndTheChainRunsOn)
{
  // A boosted band; the host's bypass on and off again.
  const size_t at = 8192, ms = 48;
  for (double bypass : {1.0, 0.0})
  {
    ParamChanges start{{2, {1.0}}, {kBypassId, {1.0 - bypass}}}, change{{kBypassId, {bypass}}},
      after{{2, {1.0}}, {kBypassId, {bypass}}};
    const Buffer out = RenderBlocks(512, start, at, &change), settled = RenderBlocks(512, after);
    const double own = std::max(LargestStep(out, at - 20 * ms, at), LargestStep(out, at + 50 * ms, at + 70 * ms));
    EXPECT_LE(LargestStep(out, at, at + 20 * ms), 2.0 * own) << bypass;
    EXPECT_LE(ResidueDb(out, settled, at + 15 * ms, at + 100 * ms), -54.0) << bypass;
  }
}

// One sample beyond the 32-bit range, from a 64-bit host or through the input
// gain, must not turn the rest of its block into infinities and NaN; nor may
// runs of them near the float limit, in either sample size.
TEST(Vst3Module, LoudSamplesLeaveEveryOutputFinite)
{
  struct Case
  {
    int32 sampleSize;
    double loud, inputPosition, filter;
  } const cases[] = {{kSample64, 1e39, 0.5, 0}, {kSample64, -1e300, 1.0, 1}, {kSample32, 3e38, 1.0, 0},
                     {kSample32, -3.4e38, 1.0, 1}};
  for (const Case& c : cases)
  {
    Plug plug;
    ASSERT_TRUE(plug.Setup(c.sampleSize, 512));
    ParamChanges settings{{6, {c.inputPosition}}, {9, {c.filter}}, {4, {1.0}}};
    auto run = [&](auto sample) {
      using S = decltype(sample);
      Buffers<S> in(2, 512, 0), out(2, 512);
      Process(plug, in, out, 512, &settings);
      in.data[0][100] = (S)c.loud;
      ASSERT_EQ(kResultOk, Process(plug, in, out, 512));
      for (int ch = 0; ch < 2; ++ch)
        for (int i = 0; i < 512; ++i)
          ASSERT_TRUE(std::isfinite(out.data[ch][i])) << c.loud << " ch " << ch << " at " << i;
    };
    if (c.sampleSize == kSample64)
      run(0.0);
    else
      run(0.0f);
  }

  auto runs = [](auto sample) {
    using S = decltype(sample);
    return [](const loud::Settings& settings, const Buffer& x) {
      Plug plug;
      EXPECT_TRUE(plug.Setup(sizeof(S) == 8 ? kSample64 : kSample32, loud::kBlock, 48000.0));
      ParamChanges changes;
      for (const loud::Setting& s : settings)
        changes.Add((ParamID)s.param, {s.normalized});
      Buffer left;
      for (size_t pos = 0; pos < x.size(); pos += loud::kBlock)
      {
        Buffers<S> in(2, loud::kBlock), out(2, loud::kBlock);
        for (int i = 0; i < loud::kBlock; ++i)
          in.data[0][(size_t)i] = in.data[1][(size_t)i] = (S)x[pos + (size_t)i];
        EXPECT_EQ(kResultOk, Process(plug, in, out, loud::kBlock, pos == 0 ? &changes : nullptr));
        left.insert(left.end(), out.data[0].begin(), out.data[0].end());
      }
      return left;
    };
  };
  loud::ExpectSurvived("vst3 64-bit", true, runs(0.0));
  loud::ExpectSurvived("vst3 32-bit", false, runs(0.0f));
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
