// Loads the built VST 2.4 module and drives it the way a host does, checking
// its answers, its texts, its chunks, the factory preset files and its audio
// against the engine run directly.

#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <memory>

#include "framework/HostId.h"
#include "plugin/TALVOR.h"
#include "plugin/TalvorPresets.h"
#include "tests/dsp/LoudRuns.h"
#include "tests/vst2/HostileProgramme.h"
#include "tests/vst2/Vst2Module.h"

namespace
{
// The engine on the offline binding, fed the same calls as the module.
struct Reference
{
  TALVOR plug{IPlugInstanceInfo{}};
  explicit Reference(double rate)
  {
    plug.NotifyAllParamsChanged();
    plug.SetSampleRate(rate);
    plug.OnReset();
  }
  void Set(int idx, float x)
  {
    plug.ParamAt(idx)->SetFromNormalized(x);
    plug.ParamChanged(idx);
  }
  // In pieces of at most `piece` frames, as the binding splits long blocks.
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
}  // namespace

TEST(Vst2Module, EntryPointsBuildSeparateRecordsAsPublished)
{
  ASSERT_TRUE(Entry("VSTPluginMain") && Entry("main")) << dlerror();
  TestHost h1, h2;
  HostedEffect a(Entry("VSTPluginMain")(TestHost::Callback), &h1);
  HostedEffect b(Entry("main")(TestHost::Callback), &h2);
  EXPECT_EQ(TestHost::orphanCalls, 0) << "nothing is sent to the host during creation";
  ASSERT_TRUE(a.effect && b.effect);
  EXPECT_NE(a.effect->object, b.effect->object);
  const AEffect& e = *a.effect;
  EXPECT_EQ(e.magic, 0x56737450);
  EXPECT_EQ(e.flags, 0x1019);
  EXPECT_EQ(e.version, 20000);
  EXPECT_EQ(e.uniqueID, 0x546C7631);
  EXPECT_EQ(e.numPrograms * 1000 + e.numParams * 10 + e.numInputs + e.numOutputs, 1114);
  EXPECT_EQ(e.initialDelay, 0);
  EXPECT_EQ(e.ioRatio, 1.0f);
  EXPECT_TRUE(e.process && e.processReplacing && e.processDoubleReplacing && e.setParameter && e.getParameter);
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
  EXPECT_EQ(in.e->numInputs + in.e->numOutputs, 4) << "stereo restriction leaves two channels";

  Instance unnamed, oddVersion;
  unnamed.host.product = "";
  unnamed.fx.Dispatch(effOpen);
  EXPECT_EQ(unnamed.host.Opcodes(), (std::vector<VstInt32>{audioMasterGetProductString}));
  EXPECT_EQ(unnamed.Plug()->HostId(), 0);
  oddVersion.host.vendorVersion = -5;  // cannot be packed: no version
  oddVersion.fx.Dispatch(effOpen);
  EXPECT_EQ(oddVersion.Plug()->HostId(), kHostReaper);
  EXPECT_EQ(oddVersion.Plug()->HostVersion(), 0);
}

TEST(Vst2Dispatcher, FixedAnswersAndUnhandledOpcodes)
{
  Instance in;
  HostedEffect& fx = in.fx;
  EXPECT_EQ(fx.Dispatch(effIdentify), 0x4E764566);
  EXPECT_EQ(fx.Dispatch(effGetVendorVersion), 20000);
  EXPECT_EQ(fx.Dispatch(effGetVstVersion), 2400);
  EXPECT_EQ(fx.Dispatch(effGetPlugCategory), kPlugCategEffect);
  EXPECT_EQ(fx.Dispatch(effCanBeAutomated, 3), 1);
  EXPECT_EQ(fx.Text(effGetEffectName) + "|" + fx.Text(effGetVendorString) + "|" + fx.Text(effGetProductString),
            "TALVOR|SilverMeadowLab|");
  for (VstInt32 op : {effGetEffectName, effGetVendorString, effGetProductString, effGetProgramNameIndexed,
                      effGetInputProperties, effGetChunk, effSetChunk, effProcessEvents, effCanDo,
                      effGetMidiKeyName, effEditGetRect, effEditOpen})
    EXPECT_EQ(fx.Dispatch(op), 0) << "null pointer, opcode " << op;
  // Unhandled: answered 0, and a pointer the host passes stays untouched.
  for (VstInt32 op : {9, 16, 19, 21, 28, 30, 32, 36, 40, 41, 43, 44, 46, 53, 57, 59, 65, 67, 68, 70, 77, 120})
  {
    char buf[8] = "keep";
    EXPECT_EQ(fx.Dispatch(op, 1, 1, buf, 1.0f), 0) << "opcode " << op;
    EXPECT_STREQ(buf, "keep") << "opcode " << op;
  }
  MidiKeyName key = {0, 60, "stale", 0, 0};
  EXPECT_EQ(fx.Dispatch(effGetMidiKeyName, 0, 0, &key), 0);
  EXPECT_STREQ(key.keyName, "");

  // A record without an object is answered with nothing.
  AEffect copy = *in.e;
  copy.object = nullptr;
  EXPECT_EQ(copy.dispatcher(&copy, effIdentify, 0, 0, nullptr, 0.0f), 0);
  EXPECT_EQ(copy.dispatcher(nullptr, effClose, 0, 0, nullptr, 0.0f), 0);
  copy.processReplacing(&copy, nullptr, nullptr, 16);
  copy.setParameter(&copy, 0, 0.5f);
  EXPECT_EQ(copy.getParameter(&copy, 0), 0.0f);
}

TEST(Vst2Dispatcher, CanDoVendorRequestsPinsAndSpeakers)
{
  Instance in;
  HostedEffect& fx = in.fx;
  EXPECT_EQ(fx.Dispatch(effCanDo, 0, "receiveVstTimeInfo"), 1);
  for (const char* s : {"receiveVstEvents", "sendVstMidiEvent", "receiveVstTimeInfoX", ""})
    EXPECT_EQ(fx.Dispatch(effCanDo, 0, s), 0) << s;
  EXPECT_EQ(fx.Dispatch(effCanDo, 0, "hasCockosExtensions"), (VstIntPtr)0xBEEF0000u);

  char text[32] = {};
  EXPECT_EQ(fx.Dispatch(effVendorSpecific, 7, kInput, text, 0.75f), 0xBEEF);
  EXPECT_STREQ(text, "+6.00");
  EXPECT_EQ(fx.Dispatch(effVendorSpecific, 7, kInput, text, std::nanf("")), 0xBEEF);
  EXPECT_STREQ(text, "-12.00") << "a NaN position shows as the range's start";
  std::strcpy(text, "keep");
  EXPECT_EQ(fx.Dispatch(effVendorSpecific, 7, 99, text, 0.5f), 0xBEEF);
  EXPECT_STREQ(text, "keep");
  EXPECT_EQ(fx.Dispatch(effVendorSpecific, 7, kInput, nullptr, 0.5f), 0);
  EXPECT_EQ(fx.Dispatch(effVendorSpecific, 8, kLowGain), 0xBEEF);
  for (VstIntPtr v : {(VstIntPtr)kInput, (VstIntPtr)-1, (VstIntPtr)11}) EXPECT_EQ(fx.Dispatch(effVendorSpecific, 8, v), 0);

  VstPinProperties pin = {};
  EXPECT_EQ(fx.Dispatch(effGetInputProperties, 0, 0, &pin), 1);
  EXPECT_EQ(std::string(pin.label) + std::to_string(pin.flags), "Input 13");
  EXPECT_EQ(fx.Dispatch(effGetOutputProperties, 1, 0, &pin), 1);
  EXPECT_EQ(std::string(pin.label) + std::to_string(pin.flags), "Output 21");
  EXPECT_EQ(fx.Dispatch(effGetOutputProperties, 2, 0, &pin) + fx.Dispatch(effGetInputProperties, -1, 0, &pin), 0);

  VstSpeakerArrangement *arrIn = nullptr, *arrOut = nullptr;
  EXPECT_EQ(fx.Dispatch(effGetSpeakerArrangement, 0, (VstIntPtr)&arrIn, &arrOut), 1);
  ASSERT_TRUE(arrIn && arrOut);
  EXPECT_EQ(arrIn->type * 10 + arrIn->numChannels, 12);
  EXPECT_EQ(arrOut->type * 10 + arrOut->numChannels, 12);

  // Only what "1-1 2-2" can do is accepted; a side left out keeps its
  // arrangement, and a refusal changes nothing.
  struct Case
  {
    int nIn, nOut;  // kAbsent: not given
    VstIntPtr answer;
    int inAfter, outAfter;
  };
  const int kAbsent = -1;
  const Case cases[] = {{1, 2, 0, 2, 2},       {8, 8, 0, 2, 2}, {-7, kAbsent, 0, 2, 2}, {0, 0, 0, 2, 2},
                        {1, kAbsent, 0, 2, 2}, {1, 1, 1, 1, 1}, {kAbsent, 2, 0, 1, 1},  {2, 2, 1, 2, 2}};
  for (const Case& c : cases)
  {
    VstSpeakerArrangement arr[2] = {};
    arr[0].numChannels = c.nIn, arr[1].numChannels = c.nOut;
    arr[0].type = arr[1].type = c.nIn == 1 ? kSpeakerArrMono : kSpeakerArrStereo;
    EXPECT_EQ(fx.Dispatch(effSetSpeakerArrangement, 0, c.nIn == kAbsent ? 0 : (VstIntPtr)&arr[0],
                          c.nOut == kAbsent ? nullptr : &arr[1]),
              c.answer) << c.nIn << "/" << c.nOut;
    ASSERT_EQ(fx.Dispatch(effGetSpeakerArrangement, 0, (VstIntPtr)&arrIn, &arrOut), 1);
    EXPECT_EQ(arrIn->numChannels * 10 + arrOut->numChannels, c.inAfter * 10 + c.outAfter) << c.nIn << "/" << c.nOut;
    EXPECT_EQ(arrIn->type, c.inAfter == 1 ? kSpeakerArrMono : kSpeakerArrStereo);
    EXPECT_EQ(in.Plug()->IsInChannelConnected(1), c.inAfter == 2);
    EXPECT_EQ(in.Plug()->IsOutChannelConnected(1), c.outAfter == 2);
  }
}

TEST(Vst2Parameters, HostValuesTextsAndBadInput)
{
  Instance in;
  HostedEffect& fx = in.fx;
  AEffect* e = in.e;
  std::string all;
  for (int i = 0; i < kNumParams; ++i)
    all += fx.Text(effGetParamName, i) + "=" + fx.Text(effGetParamDisplay, i) + fx.Text(effGetParamLabel, i) + ";";
  EXPECT_EQ(all, "Low Gain=0 dB;Low Freq=100 Hz;Mid Gain=0 dB;Mid Freq=390 Hz;High Gain=0 dB;High Freq=740 Hz;"
                 "Input=0.00dB;Output=0.00dB;Bypass=EQ in;Filter=off;Link=off;");
  char keep[8] = "keep";
  for (VstInt32 op : {effGetParamName, effGetParamDisplay, effGetParamLabel})
    for (VstInt32 index : {(VstInt32)kNumParams, -1})
      EXPECT_EQ(fx.Dispatch(op, index, 0, keep), 0) << op << " " << index;
  for (VstInt32 op : {effGetParamName, effGetParamDisplay, effGetParamLabel})
    EXPECT_EQ(fx.Dispatch(op, 0, 0, nullptr), 0) << op;
  EXPECT_STREQ(keep, "keep");

  e->setParameter(e, kLowGain, 0.54f);  // a stepped parameter takes whole positions
  EXPECT_FLOAT_EQ(e->getParameter(e, kLowGain), 0.5f);
  e->setParameter(e, kLowGain, 0.55f);
  e->setParameter(e, kLowGain, std::nanf(""));
  EXPECT_EQ(fx.Text(effGetParamDisplay, kLowGain), "+2.5 dB");  // position 6
  e->setParameter(e, kInput, 7.0f);
  EXPECT_EQ(fx.Text(effGetParamDisplay, kInput), "+12.00");
  e->setParameter(e, kInput, -3.0f);
  EXPECT_EQ(fx.Text(effGetParamDisplay, kInput), "-12.00");
  e->setParameter(e, 11, 0.5f);
  EXPECT_EQ(e->getParameter(e, 11) + e->getParameter(e, -1), 0.0f);

  EXPECT_EQ(fx.Dispatch(effString2Parameter, kInput, " +2.25 dB"), 1);
  EXPECT_EQ(fx.Text(effGetParamDisplay, kInput), "+2.25");
  EXPECT_EQ(fx.Dispatch(effString2Parameter, kInput, "100"), 1);
  EXPECT_EQ(fx.Text(effGetParamDisplay, kInput), "+12.00");
  for (const char* bad : {"abc", "", "-", ".", "nan", "inf", "dB 3", "1,5", "3 4", "2.25 dB x"})
    EXPECT_EQ(fx.Dispatch(effString2Parameter, kInput, bad), 0) << bad;
  EXPECT_EQ(fx.Text(effGetParamDisplay, kInput), "+12.00");
  EXPECT_EQ(fx.Dispatch(effString2Parameter, kMidFreq, "-6.5"), 1);
  EXPECT_EQ(fx.Text(effGetParamDisplay, kMidFreq), "390 Hz");  // position 0
  EXPECT_EQ(fx.Dispatch(effString2Parameter, kMidFreq, nullptr), 1);
  EXPECT_EQ(fx.Dispatch(effString2Parameter, kNumParams, "3"), 0);
}

// What a host shows of each parameter, and the shown text (and today's bare
// number) typed back.
TEST(Vst2Parameters, TextsSayWhatEachPositionDoes)
{
  const struct
  {
    int index;
    const char* bare;
    const char* shown;
    const char* label;
  } rows[] = {
    {kLowGain, "0", "-12.4 dB", ""}, {kLowGain, "6", "+2.5 dB", ""},   {kLowGain, "10", "+12.5 dB", ""},
    {kLowFreq, "0", "100 Hz", ""},   {kLowFreq, "4", "580 Hz", ""},    {kMidGain, "4", "-2.15 dB", ""},
    {kMidFreq, "2", "1.5 kHz", ""},  {kMidFreq, "4", "5 kHz", ""},     {kHighGain, "9", "+9.4 dB", ""},
    {kHighFreq, "1", "1.1 kHz", ""}, {kHighFreq, "4", "2.8 kHz", ""},  {kInput, "3.5", "+3.50", "dB"},
    {kInput, "0", "0.00", "dB"},     {kOutput, "-12", "-12.00", "dB"}, {kBypass, "1", "EQ in", ""},
    {kBypass, "0", "EQ out", ""},    {kFilter, "1", "on", ""},         {kLink, "0", "off", ""},
  };
  for (const auto& r : rows)
  {
    Instance in;
    HostedEffect& fx = in.fx;
    ASSERT_EQ(fx.Dispatch(effString2Parameter, r.index, r.bare), 1) << r.bare;
    const float position = in.e->getParameter(in.e, r.index);
    EXPECT_EQ(fx.Text(effGetParamDisplay, r.index), r.shown) << r.bare;
    EXPECT_EQ(fx.Text(effGetParamLabel, r.index), r.label) << r.bare;
    char text[32] = {};
    fx.Dispatch(effVendorSpecific, 7, r.index, text, position);
    EXPECT_STREQ(text, r.shown) << "the display of a position";

    in.e->setParameter(in.e, r.index, position == 0.0f ? 1.0f : 0.0f);
    ASSERT_EQ(fx.Dispatch(effString2Parameter, r.index, r.shown), 1) << r.shown;
    EXPECT_EQ(in.e->getParameter(in.e, r.index), position) << r.shown;
    const std::string withUnit = std::string(r.shown) + " " + r.label;
    if (r.label[0])
    {
      EXPECT_EQ(fx.Dispatch(effString2Parameter, r.index, withUnit.c_str()), 1) << withUnit;
    }
  }
}

namespace
{
Bytes FileBytes(const std::string& path)
{
  Bytes bytes;
  if (std::FILE* f = std::fopen(path.c_str(), "rb"))
  {
    for (int c; (c = std::fgetc(f)) != EOF;) bytes.push_back((uint8_t)c);
    std::fclose(f);
  }
  return bytes;
}

uint32_t BigEndianAt(const Bytes& b, size_t at)
{
  return at + 4 <= b.size() ? (uint32_t)b[at] << 24 | (uint32_t)b[at + 1] << 16 | (uint32_t)b[at + 2] << 8 | b[at + 3]
                            : 0;
}

// What a VST 2.4 host does with an .fxp of the chunk form: checks its header
// and the plug-in's id, then hands the chunk (as much of it as the file has)
// to effSetChunk. -1 when the host refuses the file, else effSetChunk's answer.
VstIntPtr LoadProgramFile(Instance& in, const Bytes& file, std::string* name = nullptr)
{
  constexpr size_t kHeader = 60;
  if (file.size() < kHeader || BigEndianAt(file, 0) != 0x43636E4B /* CcnK */ ||
      BigEndianAt(file, 8) != 0x46504368 /* FPCh */ || BigEndianAt(file, 16) != (uint32_t)in.e->uniqueID ||
      BigEndianAt(file, 24) != (uint32_t)in.e->numParams)
    return -1;
  if (name) *name = std::string((const char*)file.data() + 28, strnlen((const char*)file.data() + 28, 28));
  Bytes chunk(file.begin() + kHeader, file.begin() + std::min<size_t>(file.size(), kHeader + BigEndianAt(file, 56)));
  return in.SetChunk(false, chunk);
}

std::string FxpPath(const TalvorFactoryPreset& preset)
{
  return std::string(TALVOR_VST2_PRESETS_DIR) + "/" + preset.name + ".fxp";
}
}  // namespace

TEST(Vst2Programs, FactoryPresetFilesLoadTheTablesValues)
{
  ASSERT_GE(TalvorFactoryPresetCount(), 20);
  for (int i = 0; i < TalvorFactoryPresetCount(); ++i)
  {
    const TalvorFactoryPreset& preset = *TalvorFactoryPresetAt(i);
    Instance in;
    in.fx.Start();
    const Bytes file = FileBytes(FxpPath(preset));
    std::string name;
    ASSERT_EQ(LoadProgramFile(in, file, &name), 1) << preset.name;
    EXPECT_EQ(name, preset.name);
    EXPECT_EQ(BigEndianAt(file, 4), file.size() - 8) << preset.name;
    for (int p = 0; p < kNumParams; ++p)
      EXPECT_EQ(in.Plug()->ParamAt(p)->Value(), preset.values[p]) << preset.name << " " << p;
    // The file holds exactly the program chunk the module hands out for these values.
    EXPECT_EQ(in.Chunk(false), Bytes(file.begin() + 60, file.end())) << preset.name;
  }
}

TEST(Vst2Programs, DamagedPresetFilesChangeNothing)
{
  const Bytes good = FileBytes(FxpPath(*FindTalvorFactoryPreset("Vocal Presence")));
  ASSERT_EQ(good.size(), 60u + 96u);
  Bytes otherId = good;
  otherId[19] ^= 1;
  const struct { const char* what; Bytes bytes; VstIntPtr answer; } cases[] = {
    {"empty", {}, -1},
    {"cut in the file header", {good.begin(), good.begin() + 20}, -1},
    {"no chunk", {good.begin(), good.begin() + 60}, 0},
    {"cut in the chunk header", {good.begin(), good.begin() + 64}, 0},
    {"cut inside the values", {good.begin(), good.begin() + 100}, 0},
    {"last byte missing", {good.begin(), good.end() - 1}, 0},
    {"another plug-in's id", otherId, -1},
  };
  for (const auto& c : cases)
  {
    Instance in;
    in.fx.Start();
    in.e->setParameter(in.e, kMidFreq, 0.75f);
    const Bytes before = in.Chunk(false);
    EXPECT_EQ(LoadProgramFile(in, c.bytes), c.answer) << c.what;
    EXPECT_EQ(in.Chunk(false), before) << c.what;
  }
}

TEST(Vst2Programs, NamesSelectionAndBounds)
{
  Instance in;
  HostedEffect& fx = in.fx;
  fx.Dispatch(effSetProgramName, 0, "Warm");
  EXPECT_EQ(fx.Text(effGetProgramName), "Warm");
  char name[32] = "stale";
  EXPECT_EQ(fx.Dispatch(effGetProgramNameIndexed, 0, 0, name), 1);
  EXPECT_STREQ(name, "Warm");
  EXPECT_EQ(fx.Dispatch(effGetProgramNameIndexed, 1, 0, name), 0);
  EXPECT_STREQ(name, "");

  // Selecting the current program keeps the edits made since; selecting one
  // that does not exist changes nothing.
  in.e->setParameter(in.e, kMidGain, 1.0f);
  for (VstIntPtr program : {(VstIntPtr)0, (VstIntPtr)1, (VstIntPtr)-1, (VstIntPtr)1 << 32})
    fx.Dispatch(effSetProgram, 0, program);
  EXPECT_EQ(fx.Dispatch(effGetProgram), 0);
  EXPECT_FLOAT_EQ(in.e->getParameter(in.e, kMidGain), 1.0f);

  // Long names are cut to the published program-name size, never written past it.
  fx.Dispatch(effSetProgramName, 0, std::string(300, 'n').c_str());
  for (VstInt32 op : {effGetProgramName, effGetProgramNameIndexed})
  {
    char buf[64];
    std::memset(buf, 'X', sizeof(buf));
    fx.Dispatch(op, 0, 0, buf);
    EXPECT_EQ(std::strlen(buf), 23u);
    EXPECT_EQ(buf[24], 'X');
  }
}

TEST(Vst2Chunks, LayoutAndRoundTrips)
{
  Instance in;
  AEffect* e = in.e;
  Bytes state;
  for (double v : {5.0, 0.0, 5.0, 0.0, 5.0, 0.0, 0.0, 0.0, 1.0, 0.0, 0.0})
    state.insert(state.end(), (uint8_t*)&v, (uint8_t*)&v + 8);
  Bytes program = {0x74, 0x66, 0x66, 0x70, 0, 0, 1, 0}, bank = {0x74, 0x66, 0x66, 0x70, 0, 0, 1, 0, 1, 0, 0, 0, 0x2D, 1};
  program.insert(program.end(), state.begin(), state.end());
  bank.insert(bank.end(), state.begin(), state.end());
  EXPECT_EQ(in.Chunk(false), program);
  EXPECT_EQ(in.Chunk(true), bank);

  e->setParameter(e, kHighFreq, 0.75f);
  e->setParameter(e, kOutput, 0.25f);
  in.fx.Dispatch(effSetProgramName, 0, "Warm");
  const Bytes savedProgram = in.Chunk(false), savedBank = in.Chunk(true);
  const std::vector<float> before = in.Params();
  auto disturb = [&] {
    e->setParameter(e, kHighFreq, 0.0f);
    e->setParameter(e, kOutput, 1.0f);
    in.fx.Dispatch(effSetProgramName, 0, "Cold");
  };
  Bytes oldBank = savedProgram;  // an older framework's bank is read as one program
  oldBank[5] = 1, oldBank[6] = 0;
  const std::pair<Bytes, bool> good[] = {{savedProgram, false}, {savedBank, true}, {oldBank, true},
                                         {Bytes(savedProgram.begin() + 8, savedProgram.end()), false}};
  for (const auto& [chunk, asBank] : good)
  {
    disturb();
    EXPECT_EQ(in.SetChunk(asBank, chunk), 1) << chunk.size();
    EXPECT_EQ(in.Params(), before) << chunk.size();
  }
  EXPECT_EQ(in.fx.Text(effGetProgramName), "Cold") << "program chunks keep the name";
  EXPECT_EQ(in.SetChunk(true, savedBank), 1);
  EXPECT_EQ(in.fx.Text(effGetProgramName), "Warm");

  // The host may hand back the very buffer it was given.
  for (int index : {0, 1})
  {
    void* data = nullptr;
    VstIntPtr n = in.fx.Dispatch(effGetChunk, index, 0, &data);
    EXPECT_EQ(in.fx.Dispatch(effSetChunk, index, n, data), 1);
  }
  EXPECT_EQ(in.Params(), before);

  // A value that is not a number loads as the parameter's default (0 dB).
  Bytes nan = savedProgram;
  const double qnan = std::numeric_limits<double>::quiet_NaN();
  std::memcpy(nan.data() + 8 + 8 * kOutput, &qnan, 8);
  EXPECT_EQ(in.SetChunk(false, nan), 1);
  EXPECT_EQ(e->getParameter(e, kOutput), 0.5f);
}

TEST(Vst2Chunks, DamagedChunksAreRefusedAndChangeNothing)
{
  Instance in;
  in.e->setParameter(in.e, kLowGain, 0.9f);
  in.fx.Dispatch(effSetProgramName, 0, "Mine");
  const Bytes program = in.Chunk(false), bank = in.Chunk(true);
  const std::vector<float> before = in.Params();

  // Short ones both ways, the rest as the kind they were cut from.
  std::vector<std::pair<Bytes, bool>> bad;
  for (size_t n = 0; n < 8; ++n)
    for (bool asBank : {false, true})
    {
      bad.push_back({Bytes(program.begin(), program.begin() + n), asBank});
      bad.push_back({Bytes(program.begin() + 8, program.begin() + 8 + n), asBank});
    }
  bad.push_back({Bytes(program.begin(), program.end() - 1), false});
  bad.push_back({Bytes(bank.begin(), bank.end() - 1), true});
  bad.push_back({Bytes(bank.begin(), bank.begin() + 20), true});
  Bytes hugeName = bank;  // a name length far past the end
  hugeName[8] = 0xFF, hugeName[11] = 0x7F;
  bad.push_back({hugeName, true});
  for (const auto& [chunk, asBank] : bad)
  {
    EXPECT_EQ(in.SetChunk(asBank, chunk), 0) << chunk.size() << " bytes, bank " << asBank;
    ASSERT_EQ(in.Params(), before) << chunk.size() << " bytes, bank " << asBank;
    ASSERT_EQ(in.fx.Text(effGetProgramName), "Mine") << chunk.size() << " bytes, bank " << asBank;
  }
  Bytes buf = program;
  for (VstIntPtr size : {(VstIntPtr)-1, (VstIntPtr)17 << 20, (VstIntPtr)1 << 40})
    EXPECT_EQ(in.fx.Dispatch(effSetChunk, 1, size, buf.data()), 0);
  EXPECT_EQ(in.fx.Dispatch(effSetChunk, 1, 96, nullptr), 0);
  EXPECT_EQ(in.Chunk(true), bank);
}

namespace
{
enum class Path { Double, Replacing, Accumulating };

// Blocks of varied length (one longer than the scratch buffers) with parameter
// changes in between; every output sample must equal the engine's.
void ExpectMatchesEngine(Instance& in, Path path)
{
  in.fx.Start(48000.0f, 512);
  Reference ref(48000.0);
  const int piece = in.Plug()->MaxChunkFrames();
  ASSERT_GT(piece, 0);
  uint32_t seed = 1234 + (int)path;
  int step = 0;
  for (int n : {512, 1, 100, 3000, 512, 7})
  {
    const int idx = (step * 5) % kNumParams;
    const float x = (float)((step++ * 37) % 100) / 99.0f;
    if (idx != kBypass) in.e->setParameter(in.e, idx, x), ref.Set(idx, x);
    std::vector<float> fin[2], fout[2];
    std::vector<double> din[2], dout[2], want[2];
    for (int c = 0; c < 2; ++c)
    {
      for (int i = 0; i < n; ++i) fin[c].push_back(Noise(seed));
      din[c].assign(fin[c].begin(), fin[c].end());
      fout[c].assign(n, 0.25f);
      dout[c].assign(n, 0.25);
      want[c].assign(n, 0.0);
    }
    float *fi[2] = {fin[0].data(), fin[1].data()}, *fo[2] = {fout[0].data(), fout[1].data()};
    double *di[2] = {din[0].data(), din[1].data()}, *dO[2] = {dout[0].data(), dout[1].data()};
    double* wo[2] = {want[0].data(), want[1].data()};
    ref.Process(di, wo, n, piece);
    if (path == Path::Double) in.e->processDoubleReplacing(in.e, di, dO, n);
    if (path == Path::Replacing) in.e->processReplacing(in.e, fi, fo, n);
    if (path == Path::Accumulating) in.e->process(in.e, fi, fo, n);
    for (int c = 0; c < 2; ++c)
      for (int i = 0; i < n; ++i)
        if (path == Path::Double)
          ASSERT_EQ(dout[c][i], want[c][i]) << "block " << step << " ch " << c << " frame " << i;
        else
          ASSERT_EQ(fout[c][i], (path == Path::Accumulating ? 0.25f : 0.0f) + (float)want[c][i])
            << "block " << step << " ch " << c << " frame " << i;
  }
}
}  // namespace

TEST(Vst2Processing, EveryPathMatchesTheEngineWithInstancesSideBySide)
{
  Instance a, b, c;  // alive together, each with its own state
  ExpectMatchesEngine(a, Path::Double);
  ExpectMatchesEngine(b, Path::Replacing);
  ExpectMatchesEngine(c, Path::Accumulating);
}

TEST(Vst2Processing, HostileProgrammeRendersTheReferenceBytes)
{
  // The same digests as the Windows module's (tests/win64), from the bytes
  // the engine's scalar reference renders (test_dsp_paths.cpp).
  Instance f, d;
  f.fx.Dispatch(effOpen);
  d.fx.Dispatch(effOpen);
  EXPECT_EQ(hostile::Render<float>(f.e), hostile::kFloatDigest);
  EXPECT_EQ(hostile::Render<double>(d.e), hostile::kDoubleDigest);
}

TEST(Vst2Processing, LoudRunsGiveFiniteOutputOnEveryProcessFunction)
{
  for (Path path : {Path::Double, Path::Replacing, Path::Accumulating})
    loud::ExpectSurvived("vst2 " + std::to_string((int)path), path == Path::Double,
                         [path](const loud::Settings& settings, const Buffer& x) {
                           Instance in;
                           in.fx.Start(48000.0f, loud::kBlock);
                           for (const loud::Setting& s : settings) in.e->setParameter(in.e, s.param, (float)s.normalized);
                           Buffer out(x.size());
                           std::vector<double> d(loud::kBlock), dOut(loud::kBlock);
                           std::vector<float> f(loud::kBlock), fOut(loud::kBlock);
                           for (size_t pos = 0; pos < x.size(); pos += loud::kBlock)
                           {
                             std::copy_n(x.begin() + (long)pos, loud::kBlock, d.begin());
                             for (int i = 0; i < loud::kBlock; ++i) f[(size_t)i] = (float)d[(size_t)i];
                             std::fill(fOut.begin(), fOut.end(), 0.0f);
                             double *di[2] = {d.data(), d.data()}, *dO[2] = {dOut.data(), dOut.data()};
                             float *fi[2] = {f.data(), f.data()}, *fo[2] = {fOut.data(), fOut.data()};
                             if (path == Path::Double) in.e->processDoubleReplacing(in.e, di, dO, loud::kBlock);
                             if (path == Path::Replacing) in.e->processReplacing(in.e, fi, fo, loud::kBlock);
                             if (path == Path::Accumulating) in.e->process(in.e, fi, fo, loud::kBlock);
                             for (int i = 0; i < loud::kBlock; ++i)
                               out[pos + (size_t)i] = path == Path::Double ? dOut[(size_t)i] : fOut[(size_t)i];
                           }
                           return out;
                         });
}

TEST(Vst2Processing, HostileBuffersAndSettings)
{
  Instance in;
  AEffect* e = in.e;
  in.fx.Start(48000.0f, 64);
  for (float rate : {0.0f, -44100.0f, std::nanf(""), std::numeric_limits<float>::infinity()})
    in.fx.Dispatch(effSetSampleRate, 0, 0, nullptr, rate);
  EXPECT_EQ(in.Plug()->SampleRate(), 48000.0);
  for (VstIntPtr size : {(VstIntPtr)0, (VstIntPtr)-512}) in.fx.Dispatch(effSetBlockSize, 0, size);
  EXPECT_EQ(in.Plug()->BlockSize(), 64);
  in.fx.Dispatch(effSetBlockSize, 0, (VstIntPtr)1 << 40);
  EXPECT_EQ(in.Plug()->BlockSize(), IPlugBase::kMaxBlockSize);

  std::vector<float> l(200, 0.1f), r(200, 0.1f), ol(200, 7.0f), orr(200, 7.0f);
  float *ins[2] = {l.data(), r.data()}, *outs[2] = {ol.data(), orr.data()};
  for (int frames : {0, -1, INT32_MIN}) e->processReplacing(e, ins, outs, frames), e->process(e, ins, outs, frames);
  EXPECT_EQ(ol[0], 7.0f) << "no frames, no change";
  float *nullIn[2] = {nullptr, r.data()}, *nullOut[2] = {ol.data(), nullptr};
  double* dnull[2] = {nullptr, nullptr};
  e->processReplacing(e, nullptr, outs, 200);
  e->processReplacing(e, ins, nullptr, 200);
  e->process(e, nullIn, nullOut, 200);
  e->processReplacing(e, nullIn, nullOut, 200);
  e->processDoubleReplacing(e, dnull, dnull, 200);
  e->processDoubleReplacing(e, nullptr, nullptr, 200);
  for (float s : ol) ASSERT_TRUE(std::isfinite(s));
}

TEST(Vst2Processing, EmptyBlocksStillRunTheBlockPreparation)
{
  // Link is applied when a block is prepared, so an empty block must carry it
  // to the output gain on every path, without touching the host's buffers.
  for (Path path : {Path::Double, Path::Replacing, Path::Accumulating})
  {
    Instance in;
    AEffect* e = in.e;
    in.fx.Start();
    e->setParameter(e, kLink, 1.0f);
    e->setParameter(e, kInput, 0.75f);
    float f = 3.0f, *fp[2] = {&f, &f};
    double d = 3.0, *dp[2] = {&d, &d};
    if (path == Path::Double) e->processDoubleReplacing(e, dp, dp, 0);
    if (path == Path::Replacing) e->processReplacing(e, fp, fp, 0);
    if (path == Path::Accumulating) e->process(e, fp, fp, 0);
    EXPECT_FLOAT_EQ(e->getParameter(e, kOutput), 0.25f) << (int)path;
    EXPECT_EQ(f + d, 6.0);
  }
}

// After a block in stereo the host narrows the plug-in to mono and passes one
// channel array each way: only those are read and written, on every path, the
// one output is written, and the second input reads silence, not the last
// samples it was given.
TEST(Vst2Processing, NarrowedToMonoUsesOneArrayEachWay)
{
  for (Path path : {Path::Double, Path::Replacing, Path::Accumulating})
  {
    Instance in;
    in.fx.Start(48000.0f, 256);
    Reference ref(48000.0);
    uint32_t seed = 99;
    for (int block = 0; block < 2; ++block)
    {
      const int n = 256, nCh = block == 0 ? 2 : 1;
      if (block == 1)
      {
        VstSpeakerArrangement mono = {};
        mono.type = kSpeakerArrMono;
        mono.numChannels = 1;
        ASSERT_EQ(in.fx.Dispatch(effSetSpeakerArrangement, 0, (VstIntPtr)&mono, &mono), 1);
      }
      std::vector<float> fin[2], fout[2];
      std::vector<double> din[2], dout[2], refIn[2], want[2];
      for (int c = 0; c < 2; ++c)
      {
        for (int i = 0; i < n; ++i) fin[c].push_back(Noise(seed));
        din[c].assign(fin[c].begin(), fin[c].end());
        refIn[c] = c < nCh ? din[c] : std::vector<double>(n, 0.0);
        fout[c].assign(n, 0.25f);
        dout[c].assign(n, 0.25);
        want[c].assign(n, 0.0);
      }
      // Heap arrays of exactly nCh pointers, so that a read past them is caught.
      std::unique_ptr<float*[]> fi(new float*[nCh]), fo(new float*[nCh]);
      std::unique_ptr<double*[]> di(new double*[nCh]), dO(new double*[nCh]);
      for (int c = 0; c < nCh; ++c)
        fi[c] = fin[c].data(), fo[c] = fout[c].data(), di[c] = din[c].data(), dO[c] = dout[c].data();
      double *ri[2] = {refIn[0].data(), refIn[1].data()}, *wo[2] = {want[0].data(), want[1].data()};
      ref.Process(ri, wo, n, n);
      if (path == Path::Double) in.e->processDoubleReplacing(in.e, di.get(), dO.get(), n);
      if (path == Path::Replacing) in.e->processReplacing(in.e, fi.get(), fo.get(), n);
      if (path == Path::Accumulating) in.e->process(in.e, fi.get(), fo.get(), n);
      const float base = path == Path::Accumulating ? 0.25f : 0.0f;
      for (int c = 0; c < nCh; ++c)
        for (int i = 0; i < n; ++i)
          ASSERT_EQ(path == Path::Double ? dout[c][i] : (double)fout[c][i],
                    path == Path::Double ? want[c][i] : (double)(base + (float)want[c][i]))
            << "path " << (int)path << " block " << block << " ch " << c << " frame " << i;
    }
  }
}

TEST(Vst2Events, IncomingEventsAreReadSafely)
{
  Instance in;
  VstMidiEvent note = {kVstMidiType, sizeof(VstMidiEvent), 12, 0, 0, 0, {(char)0x90, 60, 100, 0}, 0, 0, 0, 0};
  VstMidiSysexEvent noDump = {kVstSysExType, 48, 0, 0, 16, 0, nullptr, 0};
  VstMidiSysexEvent negative = {kVstSysExType, 48, 0, 0, -3, 0, nullptr, 0};
  struct { VstInt32 n; VstIntPtr reserved; VstEvent* events[4]; } list = {
    4, 0, {nullptr, (VstEvent*)&noDump, (VstEvent*)&negative, (VstEvent*)&note}};
  EXPECT_EQ(in.fx.Dispatch(effProcessEvents, 0, 0, &list), 1);
  // An effect with no MIDI use of its own passes short messages on.
  EXPECT_EQ(in.host.events, (std::vector<Bytes>{{12, 0x90, 60, 100}}));
  list.n = -5;
  EXPECT_EQ(in.fx.Dispatch(effProcessEvents, 0, 0, &list), 1);
  EXPECT_EQ(in.host.events.size(), 1u);
}

TEST(Vst2Editor, RectangleOpenAndClose)
{
  Instance in;
  ERect* rect = nullptr;
  EXPECT_EQ(in.fx.Dispatch(effEditGetRect, 0, 0, &rect), 1);
  ASSERT_NE(rect, nullptr);
  EXPECT_EQ(rect->top + rect->left, 0);
  EXPECT_EQ(rect->bottom * 1000 + rect->right, 566346);
  // An X window id that names no window (with or without a display): refused cleanly.
  EXPECT_EQ(in.fx.Dispatch(effEditOpen, 0, 0, reinterpret_cast<void*>(0x7FFFFFF)), 0);
  EXPECT_EQ(in.fx.Dispatch(effEditClose), 1);
}
