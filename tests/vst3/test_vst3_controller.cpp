// The controller side of the built TALVOR.vst3 module, driven the way a host
// does: the state stream, the parameters and their texts, units and programs,
// the editor views, and the factory preset files.

#include <algorithm>
#include <cstring>

#include "ModuleHost.h"
#include "plugin/TalvorPresets.h"
#include "public.sdk/source/common/memorystream.h"
#include "public.sdk/source/vst/vstpresetfile.h"

using namespace vst3test;

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
  // A stream that does not take every byte (a full disk, a size cap) holds no
  // usable state: the host must hear that saving failed.
  for (size_t capacity : {0, 50, 88, 91, 92})
  {
    ByteStream capped;
    capped.capacity = capacity;
    EXPECT_EQ(capacity == 92 ? kResultOk : kResultFalse, b.controller->getState(&capped)) << capacity;
  }
  ByteStream trickle;  // takes a few bytes per call, and all of them in the end
  trickle.maxPerWrite = 5;
  ASSERT_EQ(kResultOk, b.controller->getState(&trickle));
  EXPECT_EQ(saved, trickle.bytes);
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
  } const expected[13] = {{kPresetId, "Preset", 1, 0x8008, 0}, {kBypassId, "Bypass", 1, 0x10009, 0},
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
    // "Input" and "Output" in dB; the others' texts carry their units.
    EXPECT_EQ(expected[i].id == 6 || expected[i].id == 7 ? "dB" : "", Narrow(info.shortTitle) + Narrow(info.units)) << i;
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
  EXPECT_EQ("+12.00", text(6, 3.0));  // outside the range: limited
  EXPECT_EQ("0 dB", text(0, 0.54));   // shown without step rounding: position 5
  EXPECT_EQ("<refused>", text(11, 0.5));
  EXPECT_EQ("-", text(kPresetId, 0.5));          // the preset the position selects
  EXPECT_EQ("<refused>", text(kPresetId, 1.0));  // past the last preset
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
  EXPECT_DOUBLE_EQ(0.75, value(6, "6dB"));  // a number, optionally followed by a unit
  EXPECT_DOUBLE_EQ(0.25, value(6, " -6 dB "));
  for (const char* junk : {"abc", "", "nan", "inf", "1,5", "3 4", "dB 3"})
    EXPECT_EQ(-99.0, value(6, junk)) << junk;
  EXPECT_DOUBLE_EQ(0.25, value(kPresetId, "0.25"));  // the program position itself
  EXPECT_EQ(1.0, value(kPresetId, "7"));
  EXPECT_EQ(-99.0, value(99, "1"));
  ParamValue v = 0;
  EXPECT_NE(kResultOk, c->getParamValueByString(6, nullptr, v));

  EXPECT_DOUBLE_EQ(6.0, c->normalizedParamToPlain(6, 0.75));
  EXPECT_DOUBLE_EQ(1.0, c->plainParamToNormalized(6, 100.0));
  EXPECT_EQ(0.3, c->plainParamToNormalized(kBypassId, 0.3));
  EXPECT_EQ(kResultOk, c->setParamNormalized(0, 0.54));
  EXPECT_EQ(0.5, c->getParamNormalized(0));  // stepped: rounded to position 5
  EXPECT_EQ(kResultFalse, c->setParamNormalized(0, kNaN));
  EXPECT_EQ(0.0, c->getParamNormalized(kPresetId));
  EXPECT_EQ(0.0, c->getParamNormalized(0xDEAD));

  // The list parameters convert to an index: positions that are not numbers
  // or lie far outside [0, 1] are limited first.
  for (double x : {kNaN, kInf, -kInf, 1e30, -1e30, 0.75})
  {
    const double bypass = c->normalizedParamToPlain(kBypassId, x);
    EXPECT_TRUE(bypass == 0.0 || bypass == 1.0) << x << " -> " << bypass;
    const double preset = c->normalizedParamToPlain(kPresetId, x);
    EXPECT_TRUE(preset >= 0.0 && preset <= 1.0) << x << " -> " << preset;
  }
}

// The host bypass is set from the controller side as well (as Steinberg's
// validator does): the flag that process reads, and the one the state keeps.
TEST(Vst3Module, HostBypassIsSetFromTheController)
{
  Plug plug;
  ASSERT_TRUE(plug.Setup(kSample64, 64));
  EXPECT_EQ(kResultFalse, plug.controller->setParamNormalized(kBypassId, kNaN));
  ASSERT_EQ(kResultOk, plug.controller->setParamNormalized(kBypassId, 1.0));
  EXPECT_EQ(1.0, plug.Norm(kBypassId));
  EXPECT_EQ(1, plug.State()[88]);
  Buffers<double> in(2, 64, 0), out(2, 64);
  ASSERT_EQ(kResultOk, Process(plug, in, out, 64));
  EXPECT_EQ(in.data, out.data);
  ASSERT_EQ(kResultOk, plug.controller->setParamNormalized(kBypassId, 0.5));
  EXPECT_EQ(0.0, plug.Norm(kBypassId));
  ASSERT_EQ(kResultOk, Process(plug, in, out, 64));
  EXPECT_NE(in.data, out.data);
}

// Text from a host that is not valid UTF-16 (lone surrogates) or holds
// characters no parameter text has is refused, by every parameter and
// without anything thrown into the host.
TEST(Vst3Module, TypedTextBeyondBytesIsRefused)
{
  Plug plug;
  const std::vector<std::vector<TChar>> texts = {
      {'1', 0xD800, 'x', 0}, {0xDC00, 0}, {'1', 0xDBFF, 0}, {'0', '.', '5', 0x2126, 0}, {0xFFFF, 0}};
  for (ParamID id : {kPresetId, kBypassId, (ParamID)6, (ParamID)0})
    for (const std::vector<TChar>& text : texts)
    {
      ParamValue v = -1.0;
      std::vector<TChar> copy = text;
      EXPECT_EQ(kResultFalse, plug.controller->getParamValueByString(id, copy.data(), v)) << id;
      EXPECT_EQ(-1.0, v);
    }
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
    EXPECT_EQ(kResultTrue, view->isPlatformTypeSupported("X11EmbedWindowID"));
    for (FIDString type : {"HWND", "X11EmbedWindow", (const char*)nullptr})
      EXPECT_EQ(kResultFalse, view->isPlatformTypeSupported(type));
    ViewRect stored(0, 0, 800, 900), r;
    EXPECT_EQ(kResultOk, view->onSize(&stored));
    EXPECT_EQ(kResultOk, view->onSize(nullptr));
    ASSERT_EQ(kResultOk, view->getSize(&r));
    EXPECT_EQ(ViewRect(0, 0, 346, 566).right, r.right);  // the editor's size, not the host's
    EXPECT_EQ(566, r.bottom);
    EXPECT_NE(kResultOk, view->getSize(nullptr));
    EXPECT_EQ(kResultFalse, view->attached(nullptr, "X11EmbedWindowID"));  // no parent window
    EXPECT_EQ(kResultOk, view->removed());
  }
  EXPECT_EQ(0u, views[1]->release());
  EXPECT_EQ(0u, views[0]->release());
}

namespace {
std::vector<uint8_t> FileBytes(const std::string& path)
{
  std::vector<uint8_t> bytes;
  if (std::FILE* f = std::fopen(path.c_str(), "rb"))
  {
    for (int c; (c = std::fgetc(f)) != EOF;) bytes.push_back((uint8_t)c);
    std::fclose(f);
  }
  return bytes;
}

std::string PresetPath(const TalvorFactoryPreset& preset)
{
  return std::string(TALVOR_VST3_PRESETS_DIR) + "/" + preset.name + ".vstpreset";
}
}  // namespace

// Every factory preset file, read as a host reads it with the SDK's PresetFile:
// the module's class id, a component state that loads the table's values and
// is what getState then writes, and the name and category as meta information.
TEST(Vst3Module, FactoryPresetFilesLoadTheTablesValues)
{
  ASSERT_GE(TalvorFactoryPresetCount(), 20);
  for (int i = 0; i < TalvorFactoryPresetCount(); ++i)
  {
    const TalvorFactoryPreset& preset = *TalvorFactoryPresetAt(i);
    SCOPED_TRACE(preset.name);
    std::vector<uint8_t> bytes = FileBytes(PresetPath(preset));
    MemoryStream file(bytes.data(), (TSize)bytes.size());  // PresetFile seeks
    PresetFile reader(&file);
    ASSERT_TRUE(reader.readChunkList());
    EXPECT_EQ(FUID::fromTUID(kTalvorCid), reader.getClassID());
    const PresetFile::Entry* state = reader.getEntry(kComponentState);
    ASSERT_NE(nullptr, state);
    const std::vector<uint8_t> chunk(bytes.begin() + state->offset, bytes.begin() + state->offset + state->size);
    char xml[2048] = {};
    int32 xmlSize = sizeof(xml) - 1;
    ASSERT_TRUE(reader.readMetaInfo(xml, xmlSize));
    EXPECT_NE(nullptr, std::strstr(xml, (std::string("id=\"Name\" value=\"") + preset.name + "\"").c_str()));
    EXPECT_NE(nullptr, std::strstr(xml, (std::string("id=\"MusicalCategory\" value=\"") + preset.category + "\"").c_str()));

    Plug plug;
    ASSERT_TRUE(PresetFile::loadPreset(&file, FUID::fromTUID(kTalvorCid), plug.component));
    const std::vector<uint8_t> saved = plug.State();
    EXPECT_EQ(chunk, saved);
    ASSERT_EQ(92u, saved.size());
    double values[11];
    std::memcpy(values, saved.data(), sizeof(values));
    for (int p = 0; p < 11; ++p) EXPECT_EQ(preset.values[p], values[p]) << p;
    EXPECT_EQ(0.0, plug.Norm(kBypassId));
  }
}

// A damaged preset file is refused before any of it reaches the plug-in, and
// the plug-in keeps what it had.
TEST(Vst3Module, DamagedPresetFilesChangeNothing)
{
  const std::vector<uint8_t> good = FileBytes(PresetPath(*FindTalvorFactoryPreset("Vocal Presence")));
  ASSERT_GT(good.size(), 200u);
  std::vector<uint8_t> otherId = good;
  otherId[8] = otherId[8] == 'F' ? 'E' : 'F';  // the class id's first hex digit
  std::vector<uint8_t> notPreset = good;
  notPreset[0] = 'X';
  struct { const char* what; std::vector<uint8_t> bytes; } cases[] = {
    {"empty", {}},
    {"cut in the header", {good.begin(), good.begin() + 20}},
    {"cut after the header", {good.begin(), good.begin() + 48}},
    {"cut inside the state", {good.begin(), good.begin() + 90}},
    {"cut before the chunk list", {good.begin(), good.end() - 40}},
    {"another class id", otherId},
    {"no preset file", notPreset},
  };
  for (auto& c : cases)
  {
    Plug plug;
    plug.controller->setParamNormalized(3, 0.75);
    const std::vector<uint8_t> before = plug.State();
    c.bytes.reserve(1);  // a buffer for the empty case too
    MemoryStream file(c.bytes.data(), (TSize)c.bytes.size());
    EXPECT_FALSE(PresetFile::loadPreset(&file, FUID::fromTUID(kTalvorCid), plug.component)) << c.what;
    EXPECT_EQ(before, plug.State()) << c.what;
  }
}

// What a host shows of each parameter, and the shown text (and today's bare
// number) typed back to the same value.
TEST(Vst3Module, ParameterTextsSayWhatEachPositionDoes)
{
  Plug plug;
  IEditController* c = plug.controller;
  const struct
  {
    ParamID id;
    double plain;
    const char* shown;
  } rows[] = {
    {0, 0, "-12.4 dB"}, {0, 6, "+2.5 dB"}, {0, 10, "+12.5 dB"}, {1, 0, "100 Hz"},    {1, 4, "580 Hz"},
    {2, 4, "-2.15 dB"}, {3, 2, "1.5 kHz"}, {3, 4, "5 kHz"},     {4, 9, "+9.4 dB"},   {5, 1, "1.1 kHz"},
    {5, 4, "2.8 kHz"},  {6, 3.5, "+3.50"}, {6, 0, "0.00"},      {7, -12, "-12.00"},  {8, 1, "EQ in"},
    {8, 0, "EQ out"},   {9, 1, "on"},      {10, 0, "off"},      {kBypassId, 1, "on"}, {kBypassId, 0, "off"},
    {kPresetId, 0, "-"},
  };
  for (const auto& r : rows)
  {
    const bool own = r.id < 11;
    const double normalized = own ? c->plainParamToNormalized(r.id, r.plain) : r.plain;
    String128 shown = {};
    ASSERT_EQ(kResultOk, c->getParamStringByValue(r.id, normalized, shown)) << r.shown;
    EXPECT_EQ(r.shown, Narrow(shown));
    for (std::string typed : {std::string(r.shown), own ? std::to_string(r.plain) : std::string(r.shown)})
    {
      String128 w = {};
      std::copy(typed.begin(), typed.end(), w);
      ParamValue back = -1;
      ASSERT_EQ(kResultOk, c->getParamValueByString(r.id, w, back)) << typed;
      EXPECT_DOUBLE_EQ(normalized, back) << typed;
    }
  }
}
