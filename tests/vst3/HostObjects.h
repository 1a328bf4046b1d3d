#pragma once
// The host's side of the VST3 interfaces, as a DAW provides them: application,
// component handler with context menus, view frame, streams and parameter
// queues. The tests own these objects; reference counts are tracked, never
// acted on.

#include <algorithm>
#include <atomic>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "pluginterfaces/base/ibstream.h"
#include "pluginterfaces/gui/iplugview.h"
#include "pluginterfaces/vst/ivstaudioprocessor.h"
#include "pluginterfaces/vst/ivstcontextmenu.h"
#include "pluginterfaces/vst/ivsteditcontroller.h"
#include "pluginterfaces/vst/ivsthostapplication.h"
#include "pluginterfaces/vst/ivstparameterchanges.h"

namespace vst3test {

using namespace Steinberg;
using namespace Steinberg::Vst;

template <class T>
T* Query(FUnknown* obj)
{
  alignas(8) TUID iid;
  T::iid.toTUID(iid);
  void* out = nullptr;
  return obj && obj->queryInterface(iid, &out) == kResultOk ? static_cast<T*>(out) : nullptr;
}

inline std::string Narrow(const TChar* text)
{
  std::string out;
  for (; text && *text; ++text)
    out.push_back(static_cast<char>(*text));
  return out;
}

// Reference counting and queryInterface for an object implementing `I` (and,
// when given, `I2`).
template <class I, class I2 = I>
class HostObject : public I
{
public:
  virtual ~HostObject() = default;
  tresult PLUGIN_API queryInterface(const TUID iid, void** obj) override
  {
    *obj = nullptr;
    if (Is(iid, FUnknown::iid) || Is(iid, I::iid))
      *obj = static_cast<I*>(this);
    else if (Offers2() && Is(iid, I2::iid))
      *obj = dynamic_cast<I2*>(this);
    if (!*obj)
      return kNoInterface;
    ++refs;
    return kResultOk;
  }
  uint32 PLUGIN_API addRef() override { return ++refs; }
  uint32 PLUGIN_API release() override { return --refs; }
  std::atomic<int32> refs{1};

protected:
  virtual bool Offers2() const { return false; }
  static bool Is(const TUID a, const FUID& b) { return std::memcmp(a, b.toTUID(), sizeof(TUID)) == 0; }
};

class HostApplication : public HostObject<IHostApplication>
{
public:
  explicit HostApplication(std::string name) : name(std::move(name)) {}
  tresult PLUGIN_API getName(String128 out) override
  {
    ++nameRequests;
    size_t i = 0;
    for (; i < name.size() && i < 127; ++i)
      out[i] = static_cast<unsigned char>(name[i]);
    out[i] = 0;
    return kResultOk;
  }
  tresult PLUGIN_API createInstance(TUID, TUID, void** obj) override
  {
    *obj = nullptr;
    return kResultFalse;
  }
  std::string name;
  int nameRequests = 0;
};

// A host context that offers nothing beyond FUnknown.
using BareContext = HostObject<FUnknown>;

class ContextMenu : public HostObject<IContextMenu>
{
public:
  int32 PLUGIN_API getItemCount() override { return 0; }
  tresult PLUGIN_API getItem(int32, Item&, IContextMenuTarget**) override { return kResultFalse; }
  tresult PLUGIN_API addItem(const Item&, IContextMenuTarget*) override { return kResultOk; }
  tresult PLUGIN_API removeItem(const Item&, IContextMenuTarget*) override { return kResultOk; }
  tresult PLUGIN_API popup(UCoord x, UCoord y) override
  {
    popups.push_back({x, y});
    return kResultOk;
  }
  std::vector<std::pair<int, int>> popups;
};

class ComponentHandler : public HostObject<IComponentHandler, IComponentHandler3>,
                         public IComponentHandler3
{
public:
  struct Edit
  {
    char kind;  // 'b'egin, 'p'erform, 'e'nd
    ParamID id;
    ParamValue value;
  };
  explicit ComponentHandler(bool offerMenus = true) : offerMenus(offerMenus) {}
  tresult PLUGIN_API queryInterface(const TUID iid, void** obj) override
  {
    return HostObject::queryInterface(iid, obj);
  }
  uint32 PLUGIN_API addRef() override { return HostObject::addRef(); }
  uint32 PLUGIN_API release() override { return HostObject::release(); }
  tresult PLUGIN_API beginEdit(ParamID id) override { return Record('b', id, 0.0); }
  tresult PLUGIN_API performEdit(ParamID id, ParamValue v) override { return Record('p', id, v); }
  tresult PLUGIN_API endEdit(ParamID id) override { return Record('e', id, 0.0); }
  tresult PLUGIN_API restartComponent(int32 flags) override
  {
    restartFlags.push_back(flags);
    return kResultOk;
  }
  IContextMenu* PLUGIN_API createContextMenu(IPlugView* view, const ParamID* id) override
  {
    menuRequests.push_back({view, id ? *id : ~0u});
    menu.addRef();
    return &menu;
  }
  bool offerMenus;
  std::vector<Edit> edits;
  std::vector<int32> restartFlags;
  std::vector<std::pair<IPlugView*, ParamID>> menuRequests;
  ContextMenu menu;

private:
  bool Offers2() const override { return offerMenus; }
  tresult Record(char kind, ParamID id, ParamValue v)
  {
    edits.push_back({kind, id, v});
    return kResultOk;
  }
};

// Grants every resize by calling the view's onSize, as hosts do.
class PlugFrame : public HostObject<IPlugFrame>
{
public:
  tresult PLUGIN_API resizeView(IPlugView* view, ViewRect* r) override
  {
    requests.push_back(*r);
    return view->onSize(r);
  }
  std::vector<ViewRect> requests;
};

// A byte stream; `maxPerRead` and `maxPerWrite` limit one call, as some hosts'
// streams do, and `capacity` is a full disk or a host's size cap: a write
// takes what still fits and is refused when nothing does.
class ByteStream : public HostObject<IBStream>
{
public:
  explicit ByteStream(std::vector<uint8_t> bytes = {}) : bytes(std::move(bytes)) {}
  tresult PLUGIN_API read(void* buffer, int32 n, int32* got) override
  {
    const size_t count = std::min({bytes.size() - cursor, (size_t)std::max(n, 0), maxPerRead});
    std::copy_n(bytes.begin() + (long)cursor, count, static_cast<uint8_t*>(buffer));
    cursor += count;
    if (got)
      *got = (int32)count;
    return kResultOk;
  }
  tresult PLUGIN_API write(void* buffer, int32 n, int32* written) override
  {
    const size_t room = capacity > bytes.size() ? capacity - bytes.size() : 0;
    const size_t count = std::min({(size_t)std::max(n, 0), room, maxPerWrite});
    const auto* p = static_cast<const uint8_t*>(buffer);
    bytes.insert(bytes.end(), p, p + count);
    if (written)
      *written = (int32)count;
    return count > 0 || n <= 0 ? kResultOk : kResultFalse;
  }
  tresult PLUGIN_API seek(int64, int32, int64*) override { return kNotImplemented; }
  tresult PLUGIN_API tell(int64* pos) override
  {
    *pos = (int64)cursor;
    return kResultOk;
  }
  std::vector<uint8_t> bytes;
  size_t cursor = 0;
  size_t maxPerRead = 1u << 30;
  size_t maxPerWrite = 1u << 30;
  size_t capacity = 1u << 30;
};

class ParamQueue : public HostObject<IParamValueQueue>
{
public:
  explicit ParamQueue(ParamID id) : id(id) {}
  ParamID PLUGIN_API getParameterId() override { return id; }
  int32 PLUGIN_API getPointCount() override { return (int32)points.size(); }
  tresult PLUGIN_API getPoint(int32 i, int32& offset, ParamValue& value) override
  {
    if (i < 0 || i >= getPointCount())
      return kResultFalse;
    offset = i;
    value = points[(size_t)i];
    return kResultOk;
  }
  tresult PLUGIN_API addPoint(int32, ParamValue value, int32& index) override
  {
    index = getPointCount();
    points.push_back(value);
    return kResultOk;
  }
  ParamID id;
  std::vector<ParamValue> points;
};

class ParamChanges : public HostObject<IParameterChanges>
{
public:
  ParamChanges() = default;
  // Queues with the given points, one queue per id.
  ParamChanges(std::initializer_list<std::pair<ParamID, std::vector<ParamValue>>> init)
  {
    for (const auto& [id, values] : init)
      Add(id, values);
  }
  int32 PLUGIN_API getParameterCount() override { return (int32)queues.size(); }
  IParamValueQueue* PLUGIN_API getParameterData(int32 i) override
  {
    return i >= 0 && i < getParameterCount() ? queues[(size_t)i].get() : nullptr;
  }
  IParamValueQueue* PLUGIN_API addParameterData(const ParamID& id, int32& index) override
  {
    index = getParameterCount();
    queues.push_back(std::make_unique<ParamQueue>(id));
    return queues.back().get();
  }
  void Add(ParamID id, const std::vector<ParamValue>& values)
  {
    int32 index = 0;
    addParameterData(id, index);
    queues.back()->points = values;
  }
  std::vector<std::unique_ptr<ParamQueue>> queues;
};

// One process call with one input and one output bus over the given channel
// arrays, in the sample size of S.
template <class S>
tresult ProcessOneBus(IAudioProcessor* processor, S** in, int32 nIn, S** out, int32 nOut, int32 frames,
                      IParameterChanges* changes, ProcessContext* context = nullptr)
{
  AudioBusBuffers inBus, outBus;
  inBus.numChannels = nIn;
  outBus.numChannels = nOut;
  // The union holds either width; the host fills the one it announced.
  inBus.channelBuffers64 = reinterpret_cast<Sample64**>(in);
  outBus.channelBuffers64 = reinterpret_cast<Sample64**>(out);
  ProcessData data;
  data.symbolicSampleSize = sizeof(S) == 8 ? kSample64 : kSample32;
  data.numSamples = frames;
  data.numInputs = data.numOutputs = 1;
  data.inputs = &inBus;
  data.outputs = &outBus;
  data.inputParameterChanges = changes;
  data.processContext = context;
  return processor->process(data);
}

}  // namespace vst3test
