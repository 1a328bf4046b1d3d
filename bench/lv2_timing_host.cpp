// A timing host for LV2 plug-ins (TALVOR's and its peers'), on lilv: offers
// what such plug-ins ask for (urid:map, options with the block lengths and the
// sample rate, bounded block length), connects every port (audio, control at
// its default or a given value, atom sequences, CV), and reports the time per
// frame of `run` over a few seconds of noise, as the 10th percentile and the
// median of its repetitions.
//
//   lv2-timing-host URI [--block N] [--seconds S] [--set SYMBOL=VALUE]...
// lilv finds the plug-in on LV2_PATH.
#include <lilv/lilv.h>
#include <lv2/atom/atom.h>
#include <lv2/buf-size/buf-size.h>
#include <lv2/options/options.h>
#include <lv2/parameters/parameters.h>
#include <lv2/urid/urid.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <vector>

namespace {

constexpr float kRate = 48000.0f;
constexpr uint32_t kAtomBytes = 65536;

std::vector<std::string> gUris;
LV2_URID Map(LV2_URID_Map_Handle, const char* uri)
{
  for (size_t i = 0; i < gUris.size(); ++i)
    if (gUris[i] == uri) return (LV2_URID)(i + 1);
  gUris.push_back(uri);
  return (LV2_URID)gUris.size();
}
const char* Unmap(LV2_URID_Unmap_Handle, LV2_URID u) { return u && u <= gUris.size() ? gUris[u - 1].c_str() : nullptr; }

int Fail(const char* what, const std::string& detail)
{
  std::fprintf(stderr, "lv2-timing-host: %s %s\n", what, detail.c_str());
  return 1;
}

}  // namespace

int main(int argc, char** argv)
{
  if (argc < 2) return Fail("usage:", "URI [--block N] [--seconds S] [--set SYMBOL=VALUE]...");
  const std::string uri = argv[1];
  int32_t block = 512;
  double seconds = 4.0;
  std::map<std::string, float> settings;
  for (int i = 2; i + 1 < argc; i += 2)
  {
    const std::string opt = argv[i], val = argv[i + 1];
    if (opt == "--block") block = std::max(1, std::atoi(val.c_str()));
    else if (opt == "--seconds") seconds = std::atof(val.c_str());
    else if (opt == "--set" && val.find('=') != std::string::npos)
      settings[val.substr(0, val.find('='))] = (float)std::atof(val.substr(val.find('=') + 1).c_str());
    else return Fail("unknown option", opt);
  }

  LilvWorld* world = lilv_world_new();
  lilv_world_load_all(world);
  LilvNode* node = lilv_new_uri(world, uri.c_str());
  const LilvPlugin* plugin = lilv_plugins_get_by_uri(lilv_world_get_all_plugins(world), node);
  if (!plugin) return Fail("no plug-in", uri);

  LV2_URID_Map map{nullptr, Map};
  LV2_URID_Unmap unmap{nullptr, Unmap};
  float rate = kRate;
  const LV2_URID intType = Map(nullptr, LV2_ATOM__Int), floatType = Map(nullptr, LV2_ATOM__Float);
  const LV2_Options_Option options[] = {
    {LV2_OPTIONS_INSTANCE, 0, Map(nullptr, LV2_BUF_SIZE__maxBlockLength), sizeof block, intType, &block},
    {LV2_OPTIONS_INSTANCE, 0, Map(nullptr, LV2_BUF_SIZE__minBlockLength), sizeof block, intType, &block},
    {LV2_OPTIONS_INSTANCE, 0, Map(nullptr, LV2_BUF_SIZE__nominalBlockLength), sizeof block, intType, &block},
    {LV2_OPTIONS_INSTANCE, 0, Map(nullptr, LV2_PARAMETERS__sampleRate), sizeof rate, floatType, &rate},
    {LV2_OPTIONS_INSTANCE, 0, 0, 0, 0, nullptr}};
  const LV2_Feature mapF{LV2_URID__map, &map}, unmapF{LV2_URID__unmap, &unmap};
  const LV2_Feature optionsF{LV2_OPTIONS__options, const_cast<LV2_Options_Option*>(options)};
  const LV2_Feature boundedF{LV2_BUF_SIZE__boundedBlockLength, nullptr};
  const LV2_Feature* features[] = {&mapF, &unmapF, &optionsF, &boundedF, nullptr};
  LilvInstance* instance = lilv_plugin_instantiate(plugin, kRate, features);
  if (!instance) return Fail("cannot instantiate", uri);

  LilvNode* audio = lilv_new_uri(world, LV2_CORE__AudioPort);
  LilvNode* cv = lilv_new_uri(world, LV2_CORE__CVPort);
  LilvNode* control = lilv_new_uri(world, LV2_CORE__ControlPort);
  LilvNode* atom = lilv_new_uri(world, LV2_ATOM__AtomPort);
  LilvNode* input = lilv_new_uri(world, LV2_CORE__InputPort);
  const uint32_t nPorts = lilv_plugin_get_num_ports(plugin);
  std::vector<float> controls(nPorts, 0.0f);
  std::vector<std::vector<float>> signals;
  std::vector<std::vector<uint64_t>> atoms;  // 8-byte aligned sequences
  std::vector<std::pair<LV2_Atom*, bool>> sequences;
  uint32_t nIn = 0, nOut = 0;
  uint32_t seed = 1;
  for (uint32_t p = 0; p < nPorts; ++p)
  {
    const LilvPort* port = lilv_plugin_get_port_by_index(plugin, p);
    const bool isInput = lilv_port_is_a(plugin, port, input);
    if (lilv_port_is_a(plugin, port, audio) || lilv_port_is_a(plugin, port, cv))
    {
      signals.emplace_back((size_t)block, 0.0f);
      if (isInput)
        for (float& s : signals.back()) s = (float)(((seed = seed * 1664525u + 1013904223u) >> 8) & 0xFFFF) / 65536.0f - 0.5f;
      (isInput ? nIn : nOut) += lilv_port_is_a(plugin, port, audio);
      lilv_instance_connect_port(instance, p, signals.back().data());
    }
    else if (lilv_port_is_a(plugin, port, control))
    {
      LilvNode *def = nullptr, *lo = nullptr;
      lilv_port_get_range(plugin, port, &def, &lo, nullptr);
      controls[p] = def ? lilv_node_as_float(def) : lo ? lilv_node_as_float(lo) : 0.0f;
      lilv_node_free(def), lilv_node_free(lo);
      const auto set = settings.find(lilv_node_as_string(lilv_port_get_symbol(plugin, port)));
      if (set != settings.end()) controls[p] = set->second, settings.erase(set);
      lilv_instance_connect_port(instance, p, &controls[p]);
    }
    else if (lilv_port_is_a(plugin, port, atom))
    {
      atoms.emplace_back(kAtomBytes / 8, 0);
      sequences.push_back({reinterpret_cast<LV2_Atom*>(atoms.back().data()), isInput});
      lilv_instance_connect_port(instance, p, atoms.back().data());
    }
    else
      lilv_instance_connect_port(instance, p, nullptr);
  }
  if (!settings.empty()) return Fail("no control port", settings.begin()->first);
  const LV2_URID sequenceType = Map(nullptr, LV2_ATOM__Sequence), chunkType = Map(nullptr, LV2_ATOM__Chunk);
  auto runBlock = [&] {
    for (auto& s : sequences)
    {
      // Inputs: an empty sequence; outputs: the space the plug-in may fill.
      s.first->size = s.second ? (uint32_t)sizeof(LV2_Atom_Sequence_Body) : kAtomBytes - (uint32_t)sizeof(LV2_Atom);
      s.first->type = s.second ? sequenceType : chunkType;
      if (s.second) std::memset(s.first + 1, 0, sizeof(LV2_Atom_Sequence_Body));
    }
    lilv_instance_run(instance, (uint32_t)block);
  };

  lilv_instance_activate(instance);
  const long blocks = std::max(1L, (long)(seconds * kRate / block));
  for (long b = 0; b < blocks / 4; ++b) runBlock();  // warm up
  std::vector<double> nsPerFrame;
  for (int rep = 0; rep < 20; ++rep)
  {
    const auto start = std::chrono::steady_clock::now();
    for (long b = 0; b < blocks / 20 + 1; ++b) runBlock();
    const std::chrono::duration<double, std::nano> ns = std::chrono::steady_clock::now() - start;
    nsPerFrame.push_back(ns.count() / ((double)(blocks / 20 + 1) * block));
  }
  lilv_instance_deactivate(instance);
  std::sort(nsPerFrame.begin(), nsPerFrame.end());
  std::printf("run %s in=%u out=%u block=%d p10=%.3f median=%.3f ns/frame\n", uri.c_str(), nIn, nOut, block,
              nsPerFrame[2], nsPerFrame[10]);
  lilv_instance_free(instance);
  for (LilvNode* n : {node, audio, cv, control, atom, input}) lilv_node_free(n);
  lilv_world_free(world);
  return 0;
}
