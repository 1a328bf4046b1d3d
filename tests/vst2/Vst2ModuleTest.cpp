// Loads the built VST 2.4 module and drives it the way a host does, checking
// its answers, its chunks and its audio against the engine run directly.

#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <memory>

#include "framework/HostId.h"
#include "plugin/TALVOR.h"
#include "tests/vst2/Vst2TestHost.h"

namespace
{
using EntryProc = AEffect* (*)(audioMasterCallback);

struct Module
{
  void* handle = nullptr;
  EntryProc pluginMain = nullptr;
  EntryProc legacyMain = nullptr;
};

const Module& LoadedModule()
{
  static Module m = [] {
    Module mod;
    mod.handle = dlopen(TALVOR_VST2_MODULE_PATH, RTLD_NOW | RTLD_LOCAL);
    if (mod.handle)
    {
      mod.pluginMain = reinterpret_cast<EntryProc>(dlsym(mod.handle, "VSTPluginMain"));
      mod.legacyMain = reinterpret_cast<EntryProc>(dlsym(mod.handle, "main"));
    }
    return mod;
  }();
  return m;
}

// One hosted instance with its own recording host.
struct Instance
{
  TestHost host;
  HostedEffect fx;
  Instance() : fx(LoadedModule().pluginMain(TestHost::Callback), &host) {}
  IPlugBase* Plug() { return static_cast<IPlugBase*>(fx.effect->object); }
  std::vector<uint8_t> Chunk(bool bank)
  {
    void* data = nullptr;
    VstIntPtr n = fx.Dispatch(effGetChunk, bank ? 0 : 1, 0, &data);
    return n > 0 ? std::vector<uint8_t>((uint8_t*)data, (uint8_t*)data + n) : std::vector<uint8_t>();
  }
  VstIntPtr SetChunk(bool bank, std::vector<uint8_t> bytes)
  {
    return fx.Dispatch(effSetChunk, bank ? 0 : 1, (VstIntPtr)bytes.size(), bytes.data());
  }
  std::vector<float> Params()
  {
    std::vector<float> v;
    for (int i = 0; i < kNumParams; ++i) v.push_back(fx.effect->getParameter(fx.effect, i));
    return v;
  }
};

// The engine on the offline binding, fed the same calls.
struct Reference
{
  TALVOR plug{IPlugInstanceInfo{}};
  explicit Reference(double sampleRate)
  {
    plug.NotifyAllParamsChanged();
    plug.SetSampleRate(sampleRate);
    plug.OnReset();
  }
  void Set(int idx, float x)
  {
    plug.ParamAt(idx)->SetFromNormalized(x);
    plug.ParamChanged(idx);
  }
  // Processes in pieces of at most `piece` frames, as the binding does.
  void Process(double* in[2], double* out[2], int n, int piece)
  {
    for (int done = 0; done < n; done += piece)
    {
      double* i2[2] = {in[0] + done, in[1] + done};
      double* o2[2] = {out[0] + done, out[1] + done};
      plug.ProcessBlock(i2, o2, std::min(piece, n - done));
    }
  }
};

float Noise(uint32_t& s)
{
  s = s * 1664525u + 1013904223u;
  return (float)((s >> 8) & 0xFFFF) / 65536.0f - 0.5f;
}

std::vector<uint8_t> Bytes(std::initializer_list<int> list)
{
  return std::vector<uint8_t>(list.begin(), list.end());
}
}  // namespace

TEST(Vst2Module, EntryPointsBuildSeparateRecordsAsPublished)
{
  const Module& m = LoadedModule();
  ASSERT_NE(m.handle, nullptr) << dlerror();
  ASSERT_NE(m.pluginMain, nullptr);
  ASSERT_NE(m.legacyMain, nullptr);

  const int orphansBefore = TestHost::OrphanCalls();
  TestHost h1, h2;
  HostedEffect a(m.pluginMain(TestHost::Callback), &h1);
  HostedEffect b(m.legacyMain(TestHost::Callback), &h2);
  EXPECT_EQ(TestHost::OrphanCalls(), orphansBefore) << "nothing is sent to the host during creation";
  ASSERT_NE(a.effect, nullptr);
  ASSERT_NE(b.effect, nullptr);
  EXPECT_NE(a.effect, b.effect);
  EXPECT_NE(a.effect->object, b.effect->object);

  const AEffect& e = *a.effect;
  EXPECT_EQ(e.magic, 0x56737450);
  EXPECT_EQ(e.flags, 0x1019);
  EXPECT_EQ(e.version, 20000);
  EXPECT_EQ(e.uniqueID, ('T' << 24) | ('l' << 16) | ('v' << 8) | '1');
  EXPECT_EQ(e.numPrograms, 1);
  EXPECT_EQ(e.numParams, 11);
  EXPECT_EQ(e.numInputs, 2);
  EXPECT_EQ(e.numOutputs, 2);
  EXPECT_EQ(e.initialDelay, 0);
  EXPECT_EQ(e.ioRatio, 1.0f);
  EXPECT_TRUE(e.dispatcher && e.process && e.processReplacing && e.processDoubleReplacing &&
              e.setParameter && e.getParameter);
  EXPECT_EQ(a.Text(effGetProgramNameIndexed, 0), "-");
}

TEST(Vst2Dispatcher, HostIsIdentifiedOnceAtFirstOpen)
{
  Instance in;
  in.host.product = "Adobe Audition";
  in.host.vendorVersion = 10203;
  in.fx.Dispatch(effOpen);
  in.fx.Dispatch(effOpen);
  EXPECT_EQ(in.host.Opcodes(), (std::vector<VstInt32>{audioMasterGetProductString, audioMasterGetVendorVersion}));
  EXPECT_EQ(in.Plug()->HostId(), kHostAudition);
  EXPECT_EQ(in.Plug()->HostVersion(), 0x00010203);
  // Restricting to stereo leaves a two-channel plug-in as it was.
  EXPECT_EQ(in.fx.effect->numInputs, 2);
  EXPECT_EQ(in.fx.effect->numOutputs, 2);

  Instance silent;
  silent.host.product = "";
  silent.fx.Dispatch(effOpen);
  EXPECT_EQ(silent.host.Opcodes(), (std::vector<VstInt32>{audioMasterGetProductString}));
  EXPECT_EQ(silent.Plug()->HostId(), 0);

  Instance odd;  // a vendor version that cannot be packed is no version
  odd.host.vendorVersion = -5;
  odd.fx.Dispatch(effOpen);
  EXPECT_EQ(odd.Plug()->HostId(), kHostReaper);
  EXPECT_EQ(odd.Plug()->HostVersion(), 0);
}

TEST(Vst2Dispatcher, FixedAnswersStringsAndUnhandledOpcodes)
{
  Instance in;
  HostedEffect& fx = in.fx;
  EXPECT_EQ(fx.Dispatch(effIdentify), 0x4E764566);
  EXPECT_EQ(fx.Dispatch(effGetVendorVersion), 20000);
  EXPECT_EQ(fx.Dispatch(effGetVstVersion), 2400);
  EXPECT_EQ(fx.Dispatch(effGetPlugCategory), kPlugCategEffect);
  EXPECT_EQ(fx.Dispatch(effGetTailSize), 0);
  EXPECT_EQ(fx.Dispatch(effCanBeAutomated, 3), 1);
  EXPECT_EQ(fx.Text(effGetEffectName), "TALVOR");
  EXPECT_EQ(fx.Text(effGetVendorString), "SilverMeadowLab");
  char product[8] = "xxxxxxx";
  EXPECT_EQ(fx.Dispatch(effGetProductString, 0, 0, product), 1);
  EXPECT_STREQ(product, "");
  for (VstInt32 op : {effGetEffectName, effGetVendorString, effGetProductString, effGetProgramNameIndexed,
                      effGetInputProperties, effGetChunk, effSetChunk, effProcessEvents, effCanDo,
                      effGetMidiKeyName, effEditGetRect, effEditOpen})
    EXPECT_EQ(fx.Dispatch(op, 0, 0, nullptr), 0) << "opcode " << op;
  // Nothing of these is handled, and a pointer the host passes stays untouched.
  for (VstInt32 op : {9, 16, 17, 18, 19, 20, 21, 28, 30, 31, 32, 36, 37, 38, 39, 40, 41, 43, 44, 46,
                      53, 54, 55, 56, 57, 59, 60, 61, 62, 63, 64, 65, 67, 68, 70, 71, 72, 73, 77, 78, 79, 120})
  {
    char buf[64];
    std::memset(buf, 0x5A, sizeof(buf));
    EXPECT_EQ(fx.Dispatch(op, 1, 1, buf, 1.0f), 0) << "opcode " << op;
    EXPECT_EQ(buf[0], 0x5A) << "opcode " << op;
  }
  MidiKeyName key = {};
  key.thisKeyNumber = 60;
  std::strcpy(key.keyName, "stale");
  EXPECT_EQ(fx.Dispatch(effGetMidiKeyName, 0, 0, &key), 0);
  EXPECT_STREQ(key.keyName, "");

  // A record without an object, or none at all, is answered with 0.
  AEffect copy = *fx.effect;
  copy.object = nullptr;
  EXPECT_EQ(copy.dispatcher(&copy, effIdentify, 0, 0, nullptr, 0.0f), 0);
  EXPECT_EQ(copy.dispatcher(nullptr, effClose, 0, 0, nullptr, 0.0f), 0);
  copy.processReplacing(&copy, nullptr, nullptr, 16);
  copy.setParameter(&copy, 0, 0.5f);
  EXPECT_EQ(copy.getParameter(&copy, 0), 0.0f);
}

TEST(Vst2Dispatcher, CanDoAndVendorRequests)
{
  Instance in;
  HostedEffect& fx = in.fx;
  auto canDo = [&](const char* s) { return fx.Dispatch(effCanDo, 0, 0, const_cast<char*>(s)); };
  EXPECT_EQ(canDo("receiveVstTimeInfo"), 1);
  for (const char* midi : {"sendVstEvents", "sendVstMidiEvent", "receiveVstEvents", "receiveVstMidiEvent"})
    EXPECT_EQ(canDo(midi), 0) << midi;
  EXPECT_EQ(canDo("receiveVstTimeInfoX"), 0);
  EXPECT_EQ(canDo("hasCockosExtensions"), (VstIntPtr)0xBEEF0000u);
  EXPECT_EQ(canDo("hasCockosViewAsConfig"), (VstIntPtr)0xBEEF0000u);

  char text[64];
  std::memset(text, 'X', sizeof(text));
  EXPECT_EQ(fx.Dispatch(effVendorSpecific, 7, kInput, text, 0.75f), 0xBEEF);
  EXPECT_STREQ(text, "6.00");
  EXPECT_EQ(fx.Dispatch(effVendorSpecific, 7, kLowGain, text, 0.3f), 0xBEEF);
  EXPECT_STREQ(text, "3");  // the position's value, unrounded, shown whole
  EXPECT_EQ(fx.Dispatch(effVendorSpecific, 7, kInput, text, std::nanf("")), 0xBEEF);
  EXPECT_STREQ(text, "-12.00");
  std::strcpy(text, "keep");
  EXPECT_EQ(fx.Dispatch(effVendorSpecific, 7, 99, text, 0.5f), 0xBEEF);
  EXPECT_STREQ(text, "keep");
  EXPECT_EQ(fx.Dispatch(effVendorSpecific, 7, kInput, nullptr, 0.5f), 0);
  EXPECT_EQ(fx.Dispatch(effVendorSpecific, 8, kLowGain), 0xBEEF);
  EXPECT_EQ(fx.Dispatch(effVendorSpecific, 8, kInput), 0);
  EXPECT_EQ(fx.Dispatch(effVendorSpecific, 8, -1), 0);
  EXPECT_EQ(fx.Dispatch(effVendorSpecific, 8, 11), 0);
  EXPECT_EQ(fx.Dispatch(effVendorSpecific, 9, kLowGain, text), 0);
}

TEST(Vst2Dispatcher, PinsAndSpeakerArrangements)
{
  Instance in;
  HostedEffect& fx = in.fx;
  VstPinProperties pin;
  std::memset(&pin, 0, sizeof(pin));
  EXPECT_EQ(fx.Dispatch(effGetInputProperties, 0, 0, &pin), 1);
  EXPECT_STREQ(pin.label, "Input 1");
  EXPECT_EQ(pin.flags, kVstPinIsActive | kVstPinIsStereo);
  EXPECT_EQ(fx.Dispatch(effGetOutputProperties, 1, 0, &pin), 1);
  EXPECT_STREQ(pin.label, "Output 2");
  EXPECT_EQ(pin.flags, kVstPinIsActive);
  EXPECT_EQ(fx.Dispatch(effGetOutputProperties, 2, 0, &pin), 0);
  EXPECT_EQ(fx.Dispatch(effGetInputProperties, -1, 0, &pin), 0);

  VstSpeakerArrangement* arrIn = nullptr;
  VstSpeakerArrangement* arrOut = nullptr;
  EXPECT_EQ(fx.Dispatch(effGetSpeakerArrangement, 0, (VstIntPtr)&arrIn, &arrOut), 1);
  ASSERT_TRUE(arrIn && arrOut);
  EXPECT_EQ(arrIn->type, kSpeakerArrStereo);
  EXPECT_EQ(arrIn->numChannels, 2);
  EXPECT_EQ(arrOut->numChannels, 2);
  EXPECT_EQ(fx.Dispatch(effGetSpeakerArrangement, 0, 0, nullptr), 1);

  VstSpeakerArrangement mono = {}, hostile = {};
  mono.type = kSpeakerArrMono;
  mono.numChannels = 1;
  hostile.numChannels = -7;
  EXPECT_EQ(fx.Dispatch(effSetSpeakerArrangement, 0, (VstIntPtr)&mono, &mono), 1);
  EXPECT_TRUE(in.Plug()->IsInChannelConnected(0));
  EXPECT_FALSE(in.Plug()->IsInChannelConnected(1));
  EXPECT_FALSE(in.Plug()->IsOutChannelConnected(1));
  EXPECT_EQ(fx.Dispatch(effSetSpeakerArrangement, 0, (VstIntPtr)&hostile, nullptr), 1);
  EXPECT_FALSE(in.Plug()->IsInChannelConnected(0));
  EXPECT_TRUE(in.Plug()->IsOutChannelConnected(0));
}

TEST(Vst2Parameters, HostValuesTextsAndBadInput)
{
  Instance in;
  HostedEffect& fx = in.fx;
  AEffect* e = fx.effect;
  const char* names[] = {"Low Gain", "Low Freq", "Mid Gain", "Mid Freq", "High Gain", "High Freq",
                         "Input", "Output", "Bypass", "Filter", "Link"};
  const char* shown[] = {"5", "0", "5", "0", "5", "0", "0.00", "0.00", "1", "0", "0"};
  for (int i = 0; i < kNumParams; ++i)
  {
    EXPECT_EQ(fx.Text(effGetParamName, i), names[i]);
    EXPECT_EQ(fx.Text(effGetParamDisplay, i), shown[i]);
    EXPECT_EQ(fx.Text(effGetParamLabel, i), "");
  }
  char untouched[16] = "keep";
  for (VstInt32 op : {effGetParamName, effGetParamDisplay, effGetParamLabel})
  {
    fx.Dispatch(op, kNumParams, 0, untouched);
    fx.Dispatch(op, -1, 0, untouched);
    fx.Dispatch(op, 0, 0, nullptr);
  }
  EXPECT_STREQ(untouched, "keep");

  EXPECT_FLOAT_EQ(e->getParameter(e, kLowGain), 0.5f);
  e->setParameter(e, kLowGain, 0.54f);  // stepped: rounds to a whole position
  EXPECT_FLOAT_EQ(e->getParameter(e, kLowGain), 0.5f);
  e->setParameter(e, kLowGain, 0.55f);
  EXPECT_EQ(fx.Text(effGetParamDisplay, kLowGain), "6");
  e->setParameter(e, kLowGain, std::nanf(""));
  EXPECT_EQ(fx.Text(effGetParamDisplay, kLowGain), "6");
  e->setParameter(e, kInput, 7.0f);
  EXPECT_EQ(fx.Text(effGetParamDisplay, kInput), "12.00");
  e->setParameter(e, kInput, -3.0f);
  EXPECT_EQ(fx.Text(effGetParamDisplay, kInput), "-12.00");
  e->setParameter(e, 11, 0.5f);
  e->setParameter(e, -1, 0.5f);
  EXPECT_EQ(e->getParameter(e, 11), 0.0f);
  EXPECT_EQ(e->getParameter(e, -1), 0.0f);

  auto fromText = [&](int idx, const char* s) { return fx.Dispatch(effString2Parameter, idx, 0, const_cast<char*>(s)); };
  EXPECT_EQ(fromText(kInput, "-6.5"), 1);
  EXPECT_EQ(fx.Text(effGetParamDisplay, kInput), "-6.50");
  EXPECT_EQ(fromText(kInput, " +2.25 dB"), 1);
  EXPECT_EQ(fx.Text(effGetParamDisplay, kInput), "2.25");
  EXPECT_EQ(fromText(kInput, "100"), 1);
  EXPECT_EQ(fx.Text(effGetParamDisplay, kInput), "12.00");
  for (const char* bad : {"abc", "", "-", ".", "nan", "inf", "dB 3"})
    EXPECT_EQ(fromText(kInput, bad), 0) << bad;
  EXPECT_EQ(fx.Text(effGetParamDisplay, kInput), "12.00");
  EXPECT_EQ(fromText(kMidFreq, "3"), 1);
  EXPECT_EQ(fx.Text(effGetParamDisplay, kMidFreq), "3");
  EXPECT_EQ(fromText(kMidFreq, nullptr), 1);
  EXPECT_EQ(fromText(kNumParams, "3"), 0);
  EXPECT_EQ(fx.Text(effGetParamDisplay, kMidFreq), "3");
}

TEST(Vst2Programs, NamesSelectionAndBounds)
{
  Instance in;
  HostedEffect& fx = in.fx;
  AEffect* e = fx.effect;
  EXPECT_EQ(fx.Dispatch(effGetProgram), 0);
  EXPECT_EQ(fx.Text(effGetProgramName), "-");
  fx.Dispatch(effSetProgramName, 0, 0, const_cast<char*>("Warm"));
  EXPECT_EQ(fx.Text(effGetProgramName), "Warm");
  char name[64] = "stale";
  EXPECT_EQ(fx.Dispatch(effGetProgramNameIndexed, 0, 0, name), 1);
  EXPECT_STREQ(name, "Warm");
  EXPECT_EQ(fx.Dispatch(effGetProgramNameIndexed, 1, 0, name), 0);
  EXPECT_STREQ(name, "");

  // Selecting the current program keeps the edits made since; a program that
  // does not exist changes nothing.
  e->setParameter(e, kMidGain, 1.0f);
  fx.Dispatch(effSetProgram, 0, 0);
  EXPECT_FLOAT_EQ(e->getParameter(e, kMidGain), 1.0f);
  for (VstIntPtr bad : {(VstIntPtr)1, (VstIntPtr)-1, (VstIntPtr)1 << 32})
    fx.Dispatch(effSetProgram, 0, bad);
  EXPECT_EQ(fx.Dispatch(effGetProgram), 0);
  EXPECT_FLOAT_EQ(e->getParameter(e, kMidGain), 1.0f);

  // Long names are cut to the published program-name size, never written past it.
  std::string longName(300, 'n');
  fx.Dispatch(effSetProgramName, 0, 0, longName.data());
  char buf[128];
  std::memset(buf, 'X', sizeof(buf));
  fx.Dispatch(effGetProgramName, 0, 0, buf);
  EXPECT_EQ(std::strlen(buf), 23u);
  EXPECT_EQ(buf[24], 'X');
  std::memset(buf, 'X', sizeof(buf));
  fx.Dispatch(effGetProgramNameIndexed, 0, 0, buf);
  EXPECT_EQ(std::strlen(buf), 23u);
}

TEST(Vst2Chunks, LayoutAndRoundTrips)
{
  Instance in;
  HostedEffect& fx = in.fx;
  AEffect* e = fx.effect;
  std::vector<uint8_t> state;
  for (double v : {5.0, 0.0, 5.0, 0.0, 5.0, 0.0, 0.0, 0.0, 1.0, 0.0, 0.0})
    state.insert(state.end(), (uint8_t*)&v, (uint8_t*)&v + 8);
  std::vector<uint8_t> program = Bytes({0x74, 0x66, 0x66, 0x70, 0, 0, 1, 0});
  program.insert(program.end(), state.begin(), state.end());
  EXPECT_EQ(in.Chunk(false), program);
  std::vector<uint8_t> bank = Bytes({0x74, 0x66, 0x66, 0x70, 0, 0, 1, 0, 1, 0, 0, 0, 0x2D, 1});
  bank.insert(bank.end(), state.begin(), state.end());
  EXPECT_EQ(in.Chunk(true), bank);

  // Program: values come back.
  e->setParameter(e, kHighFreq, 0.75f);
  e->setParameter(e, kOutput, 0.25f);
  std::vector<uint8_t> saved = in.Chunk(false);
  const std::vector<float> before = in.Params();
  e->setParameter(e, kHighFreq, 0.0f);
  e->setParameter(e, kOutput, 1.0f);
  EXPECT_EQ(in.SetChunk(false, saved), 1);
  EXPECT_EQ(in.Params(), before);

  // Bank: name and values come back.
  fx.Dispatch(effSetProgramName, 0, 0, const_cast<char*>("Warm"));
  std::vector<uint8_t> savedBank = in.Chunk(true);
  fx.Dispatch(effSetProgramName, 0, 0, const_cast<char*>("Cold"));
  e->setParameter(e, kHighFreq, 0.0f);
  EXPECT_EQ(in.SetChunk(true, savedBank), 1);
  EXPECT_EQ(fx.Text(effGetProgramName), "Warm");
  EXPECT_EQ(in.Params(), before);

  // The host may hand back the very buffer it was given.
  void* data = nullptr;
  VstIntPtr n = fx.Dispatch(effGetChunk, 0, 0, &data);
  EXPECT_EQ(fx.Dispatch(effSetChunk, 0, n, data), 1);
  n = fx.Dispatch(effGetChunk, 1, 0, &data);
  EXPECT_EQ(fx.Dispatch(effSetChunk, 1, n, data), 1);
  EXPECT_EQ(in.Params(), before);

  // A bank from an older framework, and a bare state, are read as one program.
  e->setParameter(e, kHighFreq, 0.0f);
  std::vector<uint8_t> old = saved;
  old[6] = 0;
  old[5] = 1;  // version 0x00000100
  EXPECT_EQ(in.SetChunk(true, old), 1);
  EXPECT_EQ(in.Params(), before);
  e->setParameter(e, kHighFreq, 0.0f);
  EXPECT_EQ(in.SetChunk(false, std::vector<uint8_t>(saved.begin() + 8, saved.end())), 1);
  EXPECT_EQ(in.Params(), before);
}

TEST(Vst2Chunks, DamagedChunksAreRefusedAndChangeNothing)
{
  Instance in;
  HostedEffect& fx = in.fx;
  AEffect* e = fx.effect;
  e->setParameter(e, kLowGain, 0.9f);
  e->setParameter(e, kInput, 0.3f);
  fx.Dispatch(effSetProgramName, 0, 0, const_cast<char*>("Mine"));
  const std::vector<uint8_t> program = in.Chunk(false), bank = in.Chunk(true);
  const std::vector<float> before = in.Params();

  // Each damaged chunk goes the way a host would send it: short ones both ways,
  // the rest as the kind they were cut from.
  std::vector<std::pair<std::vector<uint8_t>, bool>> bad;
  for (size_t n = 0; n < 8; ++n)
    for (bool asBank : {false, true})
    {
      bad.push_back({std::vector<uint8_t>(program.begin(), program.begin() + n), asBank});
      bad.push_back({std::vector<uint8_t>(program.begin() + 8, program.begin() + 8 + n), asBank});
    }
  bad.push_back({std::vector<uint8_t>(program.begin(), program.end() - 1), false});
  bad.push_back({std::vector<uint8_t>(bank.begin(), bank.end() - 1), true});
  bad.push_back({std::vector<uint8_t>(bank.begin(), bank.begin() + 20), true});
  std::vector<uint8_t> hugeName = bank;  // a name length far past the end
  hugeName[8] = 0xFF;
  hugeName[11] = 0x7F;
  bad.push_back({hugeName, true});

  for (const auto& [chunk, asBank] : bad)
  {
    EXPECT_EQ(in.SetChunk(asBank, chunk), 0) << chunk.size() << " bytes, bank " << asBank;
    ASSERT_EQ(in.Params(), before) << chunk.size() << " bytes, bank " << asBank;
    ASSERT_EQ(fx.Text(effGetProgramName), "Mine") << chunk.size() << " bytes, bank " << asBank;
  }
  // A value that is not a number loads as the parameter's default (0 dB).
  const double qnan = std::numeric_limits<double>::quiet_NaN();
  for (bool asBank : {false, true})
  {
    std::vector<uint8_t> nan = asBank ? bank : program;
    std::memcpy(nan.data() + nan.size() - 88 + 8 * kInput, &qnan, 8);
    EXPECT_EQ(in.SetChunk(asBank, nan), 1);
    EXPECT_EQ(fx.effect->getParameter(fx.effect, kInput), 0.5f);
    EXPECT_EQ(in.SetChunk(asBank, asBank ? bank : program), 1);
  }

  std::vector<uint8_t> small = program;
  for (VstIntPtr size : {(VstIntPtr)-1, (VstIntPtr)-96, (VstIntPtr)17 * 1024 * 1024, (VstIntPtr)1 << 40})
    EXPECT_EQ(fx.Dispatch(effSetChunk, 1, size, small.data()), 0);
  EXPECT_EQ(fx.Dispatch(effSetChunk, 1, 96, nullptr), 0);
  EXPECT_EQ(in.Params(), before);
  EXPECT_EQ(in.Chunk(true), bank);
}

namespace
{
enum class Path { Double, Replacing, Accumulating };

// Runs one instance through blocks of varied length with parameter changes in
// between and checks every output sample against the engine run directly.
void ExpectMatchesEngine(Instance& in, Path path)
{
  const int kBlocks[] = {512, 1, 100, 3000, 512, 7};
  in.fx.Start(48000.0f, 512);
  Reference ref(48000.0);
  const int piece = in.Plug()->MaxChunkFrames();
  ASSERT_GT(piece, 0);
  uint32_t seed = 1234 + (int)path;
  AEffect* e = in.fx.effect;
  int step = 0;
  for (int n : kBlocks)
  {
    const int idx = (step * 5) % kNumParams;
    const float x = (float)((step * 37) % 100) / 99.0f;
    if (idx != kBypass)
    {
      e->setParameter(e, idx, x);
      ref.Set(idx, x);
    }
    ++step;

    std::vector<float> fin[2], fout[2];
    std::vector<double> din[2], dout[2], rout[2];
    for (int c = 0; c < 2; ++c)
    {
      fin[c].resize(n);
      for (float& s : fin[c]) s = Noise(seed);
      din[c].assign(fin[c].begin(), fin[c].end());
      fout[c].assign(n, 0.25f);
      dout[c].assign(n, 0.25);
      rout[c].assign(n, 0.0);
    }
    float* fi[2] = {fin[0].data(), fin[1].data()};
    float* fo[2] = {fout[0].data(), fout[1].data()};
    double* di[2] = {din[0].data(), din[1].data()};
    double* dout2[2] = {dout[0].data(), dout[1].data()};
    double* ro[2] = {rout[0].data(), rout[1].data()};
    ref.Process(di, ro, n, piece);
    if (path == Path::Double) e->processDoubleReplacing(e, di, dout2, n);
    if (path == Path::Replacing) e->processReplacing(e, fi, fo, n);
    if (path == Path::Accumulating) e->process(e, fi, fo, n);
    for (int c = 0; c < 2; ++c)
      for (int i = 0; i < n; ++i)
      {
        if (path == Path::Double)
          ASSERT_EQ(dout[c][i], rout[c][i]) << "block " << step << " ch " << c << " frame " << i;
        else
        {
          const float want = path == Path::Replacing ? (float)rout[c][i] : 0.25f + (float)rout[c][i];
          ASSERT_EQ(fout[c][i], want) << "block " << step << " ch " << c << " frame " << i;
        }
      }
  }
}
}  // namespace

TEST(Vst2Processing, EveryPathMatchesTheEngineWithInstancesSideBySide)
{
  // Three instances alive at once: each keeps its own state.
  Instance a, b, c;
  ExpectMatchesEngine(a, Path::Double);
  ExpectMatchesEngine(b, Path::Replacing);
  ExpectMatchesEngine(c, Path::Accumulating);
}

TEST(Vst2Processing, MonoArrangementMatchesMonoEngine)
{
  Instance in;
  in.fx.Start(44100.0f, 256);
  VstSpeakerArrangement mono = {};
  mono.numChannels = 1;
  in.fx.Dispatch(effSetSpeakerArrangement, 0, (VstIntPtr)&mono, &mono);
  Reference ref(44100.0);
  in.fx.effect->setParameter(in.fx.effect, kHighGain, 1.0f);
  ref.Set(kHighGain, 1.0f);
  uint32_t seed = 9;
  std::vector<double> x(256), y(256, 0.0), silence(256, 0.0), junk(256), want(256);
  std::vector<double> other(256, 0.5), untouched(256, 3.0);
  for (double& s : x) s = Noise(seed);
  // The host still passes numInputs arrays; the second belongs to no channel.
  double* di[2] = {x.data(), other.data()};
  double* dout[2] = {y.data(), untouched.data()};
  in.fx.effect->processDoubleReplacing(in.fx.effect, di, dout, 256);
  EXPECT_EQ(untouched, std::vector<double>(256, 3.0));
  double* ri[2] = {x.data(), silence.data()};
  double* ro[2] = {want.data(), junk.data()};
  ref.Process(ri, ro, 256, 256);
  EXPECT_EQ(y, want);
}

TEST(Vst2Processing, HostileBuffersAndSettings)
{
  Instance in;
  HostedEffect& fx = in.fx;
  AEffect* e = fx.effect;
  fx.Start(48000.0f, 64);
  for (float rate : {0.0f, -44100.0f, std::nanf(""), std::numeric_limits<float>::infinity()})
    fx.Dispatch(effSetSampleRate, 0, 0, nullptr, rate);
  EXPECT_EQ(in.Plug()->SampleRate(), 48000.0);
  for (VstIntPtr size : {(VstIntPtr)0, (VstIntPtr)-512})
    fx.Dispatch(effSetBlockSize, 0, size);
  EXPECT_EQ(in.Plug()->BlockSize(), 64);
  fx.Dispatch(effSetBlockSize, 0, (VstIntPtr)1 << 40);
  EXPECT_EQ(in.Plug()->BlockSize(), IPlugBase::kMaxBlockSize);
  fx.Dispatch(effSetBlockSize, 0, 64);

  std::vector<float> l(200, 0.1f), r(200, 0.1f), ol(200, 7.0f), orr(200, 7.0f);
  float* ins[2] = {l.data(), r.data()};
  float* outs[2] = {ol.data(), orr.data()};
  for (int frames : {0, -1, INT32_MIN})
  {
    e->processReplacing(e, ins, outs, frames);
    e->process(e, ins, outs, frames);
  }
  EXPECT_EQ(ol[0], 7.0f) << "no frames, no change";
  float* nullIn[2] = {nullptr, r.data()};
  float* nullOut[2] = {ol.data(), nullptr};
  e->processReplacing(e, nullptr, outs, 200);
  e->processReplacing(e, ins, nullptr, 200);
  e->processReplacing(e, nullIn, nullOut, 200);
  e->process(e, nullIn, nullOut, 200);
  double* dnull[2] = {nullptr, nullptr};
  e->processDoubleReplacing(e, dnull, dnull, 200);
  e->processDoubleReplacing(e, nullptr, nullptr, 200);
  for (float s : ol) ASSERT_TRUE(std::isfinite(s));
}

TEST(Vst2Events, IncomingEventsAreReadSafely)
{
  Instance in;
  HostedEffect& fx = in.fx;
  VstMidiEvent note = {};
  note.type = kVstMidiType;
  note.byteSize = sizeof(VstMidiEvent);
  note.deltaFrames = 12;
  note.midiData[0] = (char)0x90;
  note.midiData[1] = 60;
  note.midiData[2] = 100;
  VstMidiSysexEvent broken = {};
  broken.type = kVstSysExType;
  broken.dumpBytes = 16;  // but no dump
  VstMidiSysexEvent negative = {};
  negative.type = kVstSysExType;
  negative.dumpBytes = -3;
  struct { VstInt32 numEvents; VstIntPtr reserved; VstEvent* events[4]; } list = {
    4, 0, {nullptr, (VstEvent*)&broken, (VstEvent*)&negative, (VstEvent*)&note}};
  EXPECT_EQ(fx.Dispatch(effProcessEvents, 0, 0, &list), 1);
  // An effect with no MIDI use of its own passes short messages on.
  ASSERT_EQ(in.host.midiEvents.size(), 1u);
  EXPECT_EQ(in.host.midiEvents[0].deltaFrames, 12);
  EXPECT_EQ((uint8_t)in.host.midiEvents[0].midiData[0], 0x90);
  EXPECT_EQ(in.host.midiEvents[0].byteSize, 32);
  list.numEvents = -5;
  EXPECT_EQ(fx.Dispatch(effProcessEvents, 0, 0, &list), 1);
  EXPECT_EQ(in.host.midiEvents.size(), 1u);
}

TEST(Vst2Editor, RectangleOpenAndClose)
{
  Instance in;
  HostedEffect& fx = in.fx;
  ERect* rect = nullptr;
  EXPECT_EQ(fx.Dispatch(effEditGetRect, 0, 0, &rect), 1);
  ASSERT_NE(rect, nullptr);
  EXPECT_EQ(rect->top, 0);
  EXPECT_EQ(rect->left, 0);
  EXPECT_EQ(rect->bottom, 566);
  EXPECT_EQ(rect->right, 346);
  int parent = 0;
  // No window host on this platform: opening fails cleanly.
  EXPECT_EQ(fx.Dispatch(effEditOpen, 0, 0, &parent), 0);
  EXPECT_EQ(fx.Dispatch(effEditClose), 1);
}
