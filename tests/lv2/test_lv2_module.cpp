// Loads the built LV2 bundle through lilv and checks what a host sees: the
// two plug-ins and their ports as the parameters stand, audio bit for bit
// against the engine run directly, the state, and hostile input.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>

#include "plugin/TALVOR.h"
#include "plugin/TalvorLegends.h"
#include "plugin/TalvorPresets.h"
#include "tests/dsp/LoudRuns.h"
#include "tests/lv2/Lv2TestHost.h"

using namespace lv2test;

namespace {

using Signal = std::vector<std::vector<float>>;  // one array per channel
using Bytes = std::vector<uint8_t>;

// The engine on the offline binding, fed what the plug-in is fed.
struct Reference
{
  TALVOR plug{IPlugInstanceInfo()};
  explicit Reference(double rate)
  {
    plug.SetSampleRate(rate);
    plug.OnReset();
  }
  void Set(int idx, double v) { plug.SetParamFromHostReal(idx, v); }
  // One host block, in pieces of at most the scratch length, as the binding runs it.
  void Run(const Signal& source, size_t pos, int frames, Signal& out)
  {
    std::vector<double> l(source[0].begin() + (long)pos, source[0].begin() + (long)pos + frames), r(frames, 0.0);
    if (source.size() > 1) r.assign(source[1].begin() + (long)pos, source[1].begin() + (long)pos + frames);
    std::vector<double> ol(frames), orr(frames);
    int done = 0;
    do
    {
      const int n = std::min(frames - done, plug.MaxChunkFrames());
      double* in[2] = {l.data() + done, r.data() + done};
      double* o[2] = {ol.data() + done, orr.data() + done};
      plug.ProcessBlock(in, o, n);
      done += n;
    } while (done < frames);
    out.assign(source.size(), {});
    for (int f = 0; f < frames; ++f)
    {
      out[0].push_back((float)ol[(size_t)f]);
      if (source.size() > 1) out[1].push_back((float)orr[(size_t)f]);
    }
  }
};

Signal Noise(int channels, size_t frames, uint32_t seed = 1)
{
  Signal s((size_t)channels, std::vector<float>(frames));
  for (size_t f = 0; f < frames; ++f)
    for (auto& ch : s)
    {
      seed = seed * 1664525u + 1013904223u;
      ch[f] = (float)((seed >> 8) & 0xFFFF) / 65536.0f - 0.5f;
    }
  return s;
}

bool SameBits(const std::vector<float>& a, const std::vector<float>& b)
{
  return a.size() == b.size() && (a.empty() || std::memcmp(a.data(), b.data(), a.size() * sizeof(float)) == 0);
}

// The state as the plug-in stores it, through the state extension.
struct Stored
{
  uint32_t key = 0, type = 0, flags = 0;
  Bytes bytes;
  static LV2_State_Status Store(LV2_State_Handle h, uint32_t key, const void* value, size_t size, uint32_t type,
                                uint32_t flags)
  {
    auto* s = static_cast<Stored*>(h);
    s->key = key, s->type = type, s->flags = flags;
    s->bytes.assign((const uint8_t*)value, (const uint8_t*)value + size);
    return LV2_STATE_SUCCESS;
  }
  static const void* Retrieve(LV2_State_Handle h, uint32_t key, size_t* size, uint32_t* type, uint32_t* flags)
  {
    auto* s = static_cast<Stored*>(h);
    if (key != s->key || s->bytes.empty()) return nullptr;
    *size = s->bytes.size(), *type = s->type, *flags = s->flags;
    return s->bytes.data();
  }
};

Stored Save(Instance& i)
{
  Stored s;
  EXPECT_EQ(LV2_STATE_SUCCESS, i.State()->save(lilv_instance_get_handle(i.instance), Stored::Store, &s, 0, nullptr));
  return s;
}

Bytes StateOf(Reference& r)
{
  StateChunk chunk;
  r.plug.SaveState(chunk);
  return Bytes(chunk.Data(), chunk.Data() + chunk.Size());
}

std::string Text(const LilvNode* n) { return n ? lilv_node_as_string(n) : ""; }

}  // namespace

TEST(Lv2Bundle, EachPluginShowsTheParametersAsControlPortsInIndexOrder)
{
  World& w = World::Get();
  const Reference ref(48000.0);
  // Port symbols are what sessions store: fixed, whatever the names become.
  const char* const symbols[kNumParams] = {"low_gain", "low_freq", "mid_gain", "mid_freq", "high_gain", "high_freq",
                                           "input", "output", "bypass", "filter", "link"};
  LilvNode* integer = w.Uri(LV2_CORE__integer);
  LilvNode* toggled = w.Uri(LV2_CORE__toggled);
  LilvNode* enabled = w.Uri(LV2_CORE__enabled);
  LilvNode* designation = w.Uri(LV2_CORE__designation);
  LilvNode* unit = w.Uri("http://lv2plug.in/ns/extensions/units#unit");
  LilvNode* audioPort = w.Uri(LV2_CORE__AudioPort);
  LilvNode* x11 = w.Uri(LV2_UI__X11UI);
  for (const Variant& v : kVariants)
  {
    SCOPED_TRACE(v.uri);
    const LilvPlugin* p = w.Plugin(v.uri);
    ASSERT_NE(p, nullptr);
    LilvNode* name = lilv_plugin_get_name(p);
    EXPECT_EQ(Text(name), v.channels == 2 ? "TALVOR" : "TALVOR Mono");
    lilv_node_free(name);
    LilvNodes* required = lilv_plugin_get_required_features(p);
    EXPECT_EQ(0u, lilv_nodes_size(required)) << "a host that offers nothing can run it";
    lilv_nodes_free(required);
    EXPECT_FALSE(lilv_plugin_has_latency(p));
    ASSERT_EQ((uint32_t)(kNumParams + 2 * v.channels), lilv_plugin_get_num_ports(p));

    for (int i = 0; i < kNumParams; ++i)
    {
      SCOPED_TRACE(symbols[i]);
      const ParamDef& param = *ref.plug.ParamAt(i);
      const LilvPort* port = lilv_plugin_get_port_by_index(p, (uint32_t)i);
      EXPECT_EQ(symbols[i], Text(lilv_port_get_symbol(p, port)));
      LilvNode* pname = lilv_port_get_name(p, port);
      EXPECT_EQ(param.NameForHost(), Text(pname));
      lilv_node_free(pname);
      LilvNode *def = nullptr, *lo = nullptr, *hi = nullptr;
      lilv_port_get_range(p, port, &def, &lo, &hi);
      EXPECT_EQ(param.Default(), lilv_node_as_float(def));
      EXPECT_EQ(param.Min(), lilv_node_as_float(lo));
      EXPECT_EQ(param.Max(), lilv_node_as_float(hi));
      lilv_node_free(def), lilv_node_free(lo), lilv_node_free(hi);

      const bool isSwitch = i == kBypass || i == kFilter || i == kLink;
      EXPECT_EQ(isSwitch, lilv_port_has_property(p, port, toggled));
      EXPECT_EQ(!isSwitch && param.Kind() != ParamKindDouble, lilv_port_has_property(p, port, integer));
      LilvNodes* units = lilv_port_get_value(p, port, unit);
      EXPECT_EQ(param.Kind() == ParamKindDouble ? 1u : 0u, lilv_nodes_size(units)) << "the gains are in dB";
      lilv_nodes_free(units);
      LilvNodes* designations = lilv_port_get_value(p, port, designation);
      EXPECT_EQ(i == kBypass, designations && lilv_nodes_contains(designations, enabled));
      lilv_nodes_free(designations);

      // Every position of a stepped band control is named as the editor's legend names it.
      LilvScalePoints* points = lilv_port_get_scale_points(p, port);
      int named = 0;
      LILV_FOREACH (scale_points, it, points)
      {
        const LilvScalePoint* sp = lilv_scale_points_get(points, it);
        const int pos = (int)lilv_node_as_float(lilv_scale_point_get_value(sp));
        EXPECT_EQ(TalvorPositionLegend(i, pos), Text(lilv_scale_point_get_label(sp)));
        ++named;
      }
      lilv_scale_points_free(points);
      EXPECT_EQ(TalvorPositionLegend(i, 0).empty() ? 0 : (int)param.Max() + 1, named);
    }
    for (int c = 0; c < 2 * v.channels; ++c)
      EXPECT_TRUE(lilv_port_is_a(p, lilv_plugin_get_port_by_index(p, (uint32_t)(kNumParams + c)), audioPort));

    LilvUIs* uis = lilv_plugin_get_uis(p);
    ASSERT_EQ(1u, lilv_uis_size(uis));
    const LilvUI* ui = lilv_uis_get(uis, lilv_uis_begin(uis));
    EXPECT_EQ(TALVOR_LV2_UI_URI, Text(lilv_ui_get_uri(ui)));
    EXPECT_TRUE(lilv_ui_is_a(ui, x11));
    char* uiPath = lilv_file_uri_parse(Text(lilv_ui_get_binary_uri(ui)).c_str(), nullptr);
    EXPECT_EQ(std::string(TALVOR_LV2_BUNDLE_PATH "/" TALVOR_NAME "_ui.so"), uiPath);
    lilv_free(uiPath);
    lilv_uis_free(uis);
  }
  // The legends are the panel's.
  EXPECT_EQ("100 Hz", TalvorPositionLegend(kLowFreq, 0));
  EXPECT_EQ("2.8 kHz", TalvorPositionLegend(kHighFreq, 4));
  EXPECT_EQ("390 Hz", TalvorPositionLegend(kMidFreq, 0));
  EXPECT_EQ("-2.15 dB", TalvorPositionLegend(kMidGain, 4));
  EXPECT_EQ("+12.5 dB", TalvorPositionLegend(kLowGain, 10));
  for (LilvNode* n : {integer, toggled, enabled, designation, unit, audioPort, x11}) lilv_node_free(n);
}

TEST(Lv2Run, PortChangesAndBlocksSoundBitForBitAsTheEngine)
{
  // Before the block of the same row: a control port change, then the block length.
  struct Step
  {
    int port;
    float value;
    uint32_t frames;
  };
  const Step steps[] = {
    {-1, 0, 64}, {kMidGain, 8, 0}, {kMidFreq, 3, 1}, {kInput, 6.5f, 1000}, {kFilter, 1, 3000},
    {kLink, 1, 512}, {kHighGain, 2, 17}, {kBypass, 0, 100}, {kBypass, 1, 700}, {kLowFreq, 4, 2048},
  };
  for (const Variant& v : kVariants)
  {
    SCOPED_TRACE(v.uri);
    // The stereo host announces blocks of up to 4096 frames, which the plug-in
    // then runs whole; the mono one 512, below the 1024 it runs at least.
    const int maxBlock = v.channels == 2 ? 4096 : 512;
    Instance plug(v, 44100.0, true, maxBlock);
    ASSERT_TRUE(plug);
    Reference ref(44100.0);
    ref.plug.ChangeBlockSize(maxBlock);
    lilv_instance_activate(plug.instance);
    const Signal source = Noise(v.channels, 16384);
    size_t pos = 0;
    for (const Step& s : steps)
    {
      if (s.port >= 0)
      {
        plug.controls[(size_t)s.port] = s.value;
        ref.Set(s.port, s.value);
      }
      plug.Run(source, pos, s.frames);
      Signal expected;
      ref.Run(source, pos, (int)s.frames, expected);
      for (int c = 0; c < v.channels; ++c)
        ASSERT_TRUE(SameBits(expected[(size_t)c], plug.out[(size_t)c])) << "block at " << pos << ", channel " << c;
      pos += s.frames;
    }
    lilv_instance_deactivate(plug.instance);
  }
}

TEST(Lv2Run, FixedSettingsRenderTheSameBytesAtEveryRunLength)
{
  const Signal source = Noise(2, 19200);
  auto render = [&](uint32_t block) {
    Instance plug(kVariants[0], 48000.0, true, 4096);
    for (auto [port, value] : {std::pair{kLowGain, 8.0f}, {kMidGain, 3.0f}, {kMidFreq, 2.0f}, {kHighGain, 9.0f},
                               {kInput, 6.0f}, {kOutput, -3.0f}, {kFilter, 1.0f}})
      plug.controls[(size_t)port] = value;
    lilv_instance_activate(plug.instance);
    std::vector<float> left;
    for (size_t pos = 0; pos < source[0].size(); pos += block)
    {
      plug.Run(source, pos, (uint32_t)std::min<size_t>(block, source[0].size() - pos));
      left.insert(left.end(), plug.out[0].begin(), plug.out[0].end());
    }
    lilv_instance_deactivate(plug.instance);
    return left;
  };
  const std::vector<float> first = render(1);
  for (uint32_t block : {64u, 512u, 4096u})
    EXPECT_TRUE(render(block) == first) << block;
}

TEST(Lv2Run, LoudRunsGiveFiniteOutput)
{
  loud::ExpectSurvived("lv2", false, [](const loud::Settings& settings, const Buffer& x) {
    Instance plug(kVariants[0], 48000.0, true, loud::kBlock);
    for (const loud::Setting& s : settings) plug.controls[(size_t)s.param] = (float)s.value;
    lilv_instance_activate(plug.instance);
    const Signal source(2, std::vector<float>(x.begin(), x.end()));
    Buffer left;
    for (size_t pos = 0; pos < x.size(); pos += loud::kBlock)
    {
      plug.Run(source, pos, loud::kBlock);
      left.insert(left.end(), plug.out[0].begin(), plug.out[0].end());
    }
    lilv_instance_deactivate(plug.instance);
    return left;
  });
}

TEST(Lv2Run, HostileHostsGetDefinedBehaviour)
{
  const Variant& stereo = kVariants[0];
  for (double rate : {0.0, -48000.0, std::numeric_limits<double>::quiet_NaN(), HUGE_VAL})
    EXPECT_FALSE(Instance(stereo, rate)) << rate;

  // No features at all: it runs, and only the state needs urid:map.
  Instance bare(stereo, 48000.0, false);
  ASSERT_TRUE(bare);
  const Signal source = Noise(2, 4096);
  bare.Run(source, 0, 256);
  Stored nothing;
  EXPECT_EQ(LV2_STATE_ERR_NO_FEATURE,
            bare.State()->save(lilv_instance_get_handle(bare.instance), Stored::Store, &nothing, 0, nullptr));
  EXPECT_TRUE(nothing.bytes.empty());

  // Out of range, NaN, unconnected: compared with the engine given what they stand for.
  Instance plug(stereo);
  Reference ref(48000.0);
  lilv_instance_connect_port(plug.instance, 999, nullptr);      // no such port
  lilv_instance_connect_port(plug.instance, kOutput, nullptr);  // never read
  plug.controls[kOutput] = 3.0f;
  plug.controls[kMidGain] = 99.0f;  // limited to position 10
  ref.Set(kMidGain, 10);
  plug.controls[kInput] = -100.0f;  // limited to -12 dB
  ref.Set(kInput, -12);
  plug.controls[kHighGain] = std::numeric_limits<float>::quiet_NaN();  // refused
  plug.Run(source, 0, 128);
  Signal expected;
  ref.Run(source, 0, 128, expected);
  EXPECT_TRUE(SameBits(expected[0], plug.out[0]) && SameBits(expected[1], plug.out[1]));
  lilv_instance_run(plug.instance, 0);  // still prepares a block, as the engine's empty blocks do
  ref.Run(source, 128, 0, expected);

  // The right input and the left output unconnected: the right input reads silence.
  std::vector<float> left(source[0].begin() + 128, source[0].begin() + 384), right(256);
  lilv_instance_connect_port(plug.instance, plug.AudioPort(false, 0), left.data());
  lilv_instance_connect_port(plug.instance, plug.AudioPort(false, 1), nullptr);
  lilv_instance_connect_port(plug.instance, plug.AudioPort(true, 0), nullptr);
  lilv_instance_connect_port(plug.instance, plug.AudioPort(true, 1), right.data());
  lilv_instance_run(plug.instance, 256);
  const Signal halfSilent = {source[0], std::vector<float>(source[0].size(), 0.0f)};
  ref.Run(halfSilent, 128, 256, expected);
  EXPECT_TRUE(SameBits(expected[1], right));
}

TEST(Lv2State, SavesTheParameterStateAndRestoresItOverUnchangedPorts)
{
  const Variant& stereo = kVariants[0];
  Instance a(stereo);
  Reference ref(48000.0);
  const Signal source = Noise(2, 2048);
  a.controls[kMidGain] = 8, a.controls[kFilter] = 1, a.controls[kOutput] = -3.5f;
  for (int i : {kMidGain, kFilter, kOutput}) ref.Set(i, a.controls[(size_t)i]);
  a.Run(source, 0, 64);
  const Stored saved = Save(a);
  EXPECT_EQ(StateOf(ref), saved.bytes);
  EXPECT_EQ(88u, saved.bytes.size());
  EXPECT_EQ(a.urids(LV2_ATOM__Chunk), saved.type);
  EXPECT_EQ(a.urids(TALVOR_LV2_STATE_KEY), saved.key);
  EXPECT_EQ((uint32_t)(LV2_STATE_IS_POD | LV2_STATE_IS_PORTABLE), saved.flags);

  // A host that keeps only the state: its ports stay at the defaults, and the
  // restored settings sound until it changes one.
  Instance b(stereo);
  Reference fresh(48000.0);
  b.Run(source, 0, 64);
  Signal expected;
  fresh.Run(source, 0, 64, expected);
  Stored copy = saved;
  copy.key = b.urids(TALVOR_LV2_STATE_KEY), copy.type = b.urids(LV2_ATOM__Chunk);
  const LV2_Handle hb = lilv_instance_get_handle(b.instance);
  b.controls[kMidGain] = 3;  // set before the restore: the restored state still wins
  ASSERT_EQ(LV2_STATE_SUCCESS, b.State()->restore(hb, Stored::Retrieve, &copy, 0, nullptr));
  for (int i : {kMidGain, kFilter, kOutput}) fresh.Set(i, a.controls[(size_t)i]);
  b.Run(source, 64, 256);
  fresh.Run(source, 64, 256, expected);
  EXPECT_TRUE(SameBits(expected[0], b.out[0]) && SameBits(expected[1], b.out[1]));
  b.controls[kMidGain] = 2;
  b.Run(source, 320, 16);
  EXPECT_EQ(2.0, [&] { double v; std::memcpy(&v, Save(b).bytes.data() + 8 * kMidGain, 8); return v; }());

  // Refused state leaves every parameter as it was.
  const Bytes before = Save(b).bytes;
  struct Bad
  {
    const char* what;
    size_t size;
    bool wrongType;
    LV2_State_Status status;
  };
  const Bad bad[] = {{"missing", 0, false, LV2_STATE_ERR_NO_PROPERTY},
                     {"short", 87, false, LV2_STATE_ERR_UNKNOWN},
                     {"long", 89, false, LV2_STATE_ERR_UNKNOWN},
                     {"not a chunk", 88, true, LV2_STATE_ERR_BAD_TYPE}};
  for (const Bad& c : bad)
  {
    Stored s = copy;
    s.bytes.assign(c.size, 0x7F);
    if (c.wrongType) s.type = b.urids(LV2_ATOM__Double);
    EXPECT_EQ(c.status, b.State()->restore(hb, Stored::Retrieve, &s, 0, nullptr)) << c.what;
    EXPECT_EQ(before, Save(b).bytes) << c.what;
  }
  Instance bare(stereo, 48000.0, false);
  EXPECT_EQ(LV2_STATE_ERR_NO_FEATURE,
            bare.State()->restore(lilv_instance_get_handle(bare.instance), Stored::Retrieve, &copy, 0, nullptr));

  // lilv's own state round trip: the properties and the port values.
  struct Ports
  {
    Instance* i;
    const LilvPlugin* p;
    static const void* Get(const char* symbol, void* h, uint32_t* size, uint32_t* type)
    {
      auto* self = static_cast<Ports*>(h);
      LilvNode* sym = lilv_new_string(World::Get().world, symbol);
      const LilvPort* port = lilv_plugin_get_port_by_symbol(self->p, sym);
      lilv_node_free(sym);
      const uint32_t idx = lilv_port_get_index(self->p, port);
      if (idx >= self->i->controls.size()) return nullptr;
      *size = sizeof(float), *type = self->i->urids(LV2_ATOM__Float);
      return &self->i->controls[idx];
    }
    static void Set(const char* symbol, void* h, const void* value, uint32_t, uint32_t)
    {
      auto* self = static_cast<Ports*>(h);
      LilvNode* sym = lilv_new_string(World::Get().world, symbol);
      const uint32_t idx = lilv_port_get_index(self->p, lilv_plugin_get_port_by_symbol(self->p, sym));
      lilv_node_free(sym);
      if (idx < self->i->controls.size()) std::memcpy(&self->i->controls[idx], value, sizeof(float));
    }
  };
  Ports pa{&a, a.plugin};
  LilvState* state = lilv_state_new_from_instance(a.plugin, a.instance, &a.urids.map, nullptr, nullptr, nullptr,
                                                  nullptr, Ports::Get, &pa, 0, nullptr);
  ASSERT_NE(state, nullptr);
  Instance c(stereo);
  Ports pc{&c, c.plugin};
  lilv_state_restore(state, c.instance, Ports::Set, &pc, 0, nullptr);
  lilv_state_free(state);
  c.Run(source, 0, 1);
  EXPECT_EQ(saved.bytes, Save(c).bytes);
  EXPECT_EQ(8.0f, c.controls[kMidGain]);
}

namespace
{
// lilv's port-value callback: a preset's value into the port's buffer.
void SetPortValue(const char* symbol, void* data, const void* value, uint32_t size, uint32_t type)
{
  auto* in = static_cast<lv2test::Instance*>(data);
  LilvNode* wanted = lilv_new_string(lv2test::World::Get().world, symbol);
  const LilvPort* port = lilv_plugin_get_port_by_symbol(in->plugin, wanted);
  lilv_node_free(wanted);
  if (!port || size != sizeof(float) || type != in->urids(LV2_ATOM__Float)) return;
  const uint32_t index = lilv_port_get_index(in->plugin, port);
  if (index < in->controls.size()) std::memcpy(&in->controls[index], value, sizeof(float));
}
}  // namespace

// lilv finds every factory preset for both plug-ins and applies it as a host
// does: the control ports then hold the table's values.
TEST(Lv2Presets, EveryPresetAppliesTheTablesValues)
{
  lv2test::World& w = lv2test::World::Get();
  for (const lv2test::Variant& v : lv2test::kVariants)
  {
    const LilvPlugin* plugin = w.Plugin(v.uri);
    ASSERT_NE(nullptr, plugin);
    LilvNode* presetClass = w.Uri(LV2_PRESETS__Preset);
    LilvNode* label = w.Uri(LILV_NS_RDFS "label");
    LilvNodes* presets = lilv_plugin_get_related(plugin, presetClass);
    EXPECT_EQ((unsigned)TalvorFactoryPresetCount(), lilv_nodes_size(presets)) << v.uri;
    int applied = 0;
    LILV_FOREACH (nodes, it, presets)
    {
      const LilvNode* uri = lilv_nodes_get(presets, it);
      lilv_world_load_resource(w.world, uri);
      LilvNodes* labels = lilv_world_find_nodes(w.world, uri, label, nullptr);
      ASSERT_EQ(1u, lilv_nodes_size(labels)) << lilv_node_as_uri(uri);
      const TalvorFactoryPreset* preset = FindTalvorFactoryPreset(lilv_node_as_string(lilv_nodes_get_first(labels)));
      lilv_nodes_free(labels);
      ASSERT_NE(nullptr, preset) << lilv_node_as_uri(uri);

      lv2test::Instance in(v);
      ASSERT_TRUE(in);
      LilvState* state = lilv_state_new_from_world(w.world, &in.urids.map, uri);
      ASSERT_NE(nullptr, state) << preset->name;
      lilv_state_restore(state, in.instance, SetPortValue, &in, 0, nullptr);
      lilv_state_free(state);
      for (int p = 0; p < kNumParams; ++p) EXPECT_EQ((float)preset->values[p], in.controls[(size_t)p]) << preset->name << " " << p;
      ++applied;
    }
    EXPECT_EQ(TalvorFactoryPresetCount(), applied);
    lilv_nodes_free(presets);
    lilv_node_free(label);
    lilv_node_free(presetClass);
  }
}
