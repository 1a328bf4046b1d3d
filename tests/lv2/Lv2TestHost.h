#pragma once
// A small LV2 host on lilv for the tests of the built bundle: the world with
// the bundle loaded, a URID map, and instances with their port buffers, with
// or without the features a host may offer.

#include <lilv/lilv.h>
#include <lv2/atom/atom.h>
#include <lv2/buf-size/buf-size.h>
#include <lv2/options/options.h>
#include <lv2/presets/presets.h>
#include <lv2/state/state.h>
#include <lv2/ui/ui.h>
#include <lv2/urid/urid.h>

#include <cstring>
#include <string>
#include <vector>

#include "lv2/LV2Uris.h"

namespace lv2test {

struct UridMap
{
  std::vector<std::string> uris;
  LV2_URID_Map map{this, Map};
  LV2_URID_Unmap unmap{this, Unmap};
  static LV2_URID Map(LV2_URID_Map_Handle h, const char* uri)
  {
    auto* self = static_cast<UridMap*>(h);
    for (size_t i = 0; i < self->uris.size(); ++i)
      if (self->uris[i] == uri) return (LV2_URID)(i + 1);
    self->uris.push_back(uri);
    return (LV2_URID)self->uris.size();
  }
  static const char* Unmap(LV2_URID_Unmap_Handle h, LV2_URID urid)
  {
    auto* self = static_cast<UridMap*>(h);
    return urid >= 1 && urid <= self->uris.size() ? self->uris[urid - 1].c_str() : nullptr;
  }
  LV2_URID operator()(const char* uri) { return Map(this, uri); }
};

// The world with the built bundle (and nothing else) loaded, once per program.
struct World
{
  LilvWorld* world = lilv_world_new();
  World()
  {
    LilvNode* bundle = lilv_new_file_uri(world, nullptr, TALVOR_LV2_BUNDLE_PATH "/");
    lilv_world_load_bundle(world, bundle);
    lilv_node_free(bundle);
  }
  ~World() { lilv_world_free(world); }
  static World& Get()
  {
    static World w;
    return w;
  }
  LilvNode* Uri(const char* uri) { return lilv_new_uri(world, uri); }
  const LilvPlugin* Plugin(const char* uri)
  {
    LilvNode* node = Uri(uri);
    const LilvPlugin* p = lilv_plugins_get_by_uri(lilv_world_get_all_plugins(world), node);
    lilv_node_free(node);
    return p;
  }
};

struct Variant
{
  const char* uri;
  int channels;
};
const Variant kVariants[] = {{TALVOR_LV2_STEREO_URI, 2}, {TALVOR_LV2_MONO_URI, 1}};

// One instance with its own control and audio buffers, connected as a host
// connects them; `withFeatures` false instantiates it with none at all.
struct Instance
{
  static constexpr int kMaxBlock = 512;  // the block length the host announces
  UridMap urids;
  int32_t maxBlock = kMaxBlock;
  LV2_Options_Option options[2] = {
    {LV2_OPTIONS_INSTANCE, 0, urids(LV2_BUF_SIZE__maxBlockLength), sizeof(int32_t), urids(LV2_ATOM__Int), &maxBlock},
    {LV2_OPTIONS_INSTANCE, 0, 0, 0, 0, nullptr}};
  LV2_Feature mapFeature{LV2_URID__map, &urids.map};
  LV2_Feature optionsFeature{LV2_OPTIONS__options, options};
  const LV2_Feature* features[3] = {&mapFeature, &optionsFeature, nullptr};

  const LilvPlugin* plugin;
  LilvInstance* instance = nullptr;
  int channels;
  std::vector<float> controls;
  std::vector<std::vector<float>> in, out;

  Instance(const Variant& v, double rate = 48000.0, bool withFeatures = true, int32_t maxBlockLength = kMaxBlock)
    : maxBlock(maxBlockLength), plugin(World::Get().Plugin(v.uri)), channels(v.channels)
  {
    if (!plugin) return;
    instance = lilv_plugin_instantiate(plugin, rate, withFeatures ? features : nullptr);
    if (!instance) return;
    const uint32_t nPorts = lilv_plugin_get_num_ports(plugin);
    controls.resize(nPorts - 2 * (size_t)channels);
    in.assign((size_t)channels, {});
    out.assign((size_t)channels, {});
    for (uint32_t p = 0; p < controls.size(); ++p)
    {
      LilvNode* def = nullptr;
      lilv_port_get_range(plugin, lilv_plugin_get_port_by_index(plugin, p), &def, nullptr, nullptr);
      controls[p] = lilv_node_as_float(def);
      lilv_node_free(def);
      lilv_instance_connect_port(instance, p, &controls[p]);
    }
  }
  ~Instance()
  {
    if (instance) lilv_instance_free(instance);
  }
  explicit operator bool() const { return instance != nullptr; }
  uint32_t AudioPort(bool output, int channel) const
  {
    return (uint32_t)(controls.size() + (output ? channels : 0) + channel);
  }
  // Runs one block of `source` (one array per channel) from frame `pos`.
  void Run(const std::vector<std::vector<float>>& source, size_t pos, uint32_t frames)
  {
    for (int c = 0; c < channels; ++c)
    {
      in[(size_t)c].assign(source[(size_t)c].begin() + (long)pos, source[(size_t)c].begin() + (long)(pos + frames));
      out[(size_t)c].assign(frames, 0.0f);
      lilv_instance_connect_port(instance, AudioPort(false, c), in[(size_t)c].data());
      lilv_instance_connect_port(instance, AudioPort(true, c), out[(size_t)c].data());
    }
    lilv_instance_run(instance, frames);
  }

  const LV2_State_Interface* State() const
  {
    return static_cast<const LV2_State_Interface*>(lilv_instance_get_extension_data(instance, LV2_STATE__interface));
  }
};

}  // namespace lv2test
