// The controller side of the built TALVOR.vst3 module, driven the way a host
// does: the state stream, the parameters and their texts, units and programs,
// and the editor views.

#include <algorithm>
#include <cstring>

#include "ModuleHost.h"

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
