#pragma once
// The host's side of the VST3 interfaces, as a DAW would provide them, for the
// tests: application, component handler (with context menus), view frame,
// streams and parameter change queues. Objects live on the test's stack or in
// its fixtures; reference counts are tracked but never delete.

#include <atomic>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "pluginterfaces/base/ibstream.h"
#include "pluginterfaces/gui/iplugview.h"
#include "pluginterfaces/vst/ivstcontextmenu.h"
#include "pluginterfaces/vst/ivsteditcontroller.h"
#include "pluginterfaces/vst/ivsthostapplication.h"
#include "pluginterfaces/vst/ivstparameterchanges.h"

namespace vst3test {

using namespace Steinberg;
using namespace Steinberg::Vst;

// Queries `obj` for interface T; null when it is not offered.
template <class T>
T* Query(FUnknown* obj)
{
  if (!obj)
    return nullptr;
  alignas(8) TUID iid;
  T::iid.toTUID(iid);
  void* out = nullptr;
  return obj->queryInterface(iid, &out) == kResultOk ? static_cast<T*>(out) : nullptr;
}

std::string Narrow(const TChar* text);

#define TEST_REFCOUNT                                   \
  uint32 PLUGIN_API addRef() override { return ++refs; } \
  uint32 PLUGIN_API release() override { return --refs; } \
  std::atomic<int32> refs{1};

class HostApplication : public IHostApplication
{
public:
  explicit HostApplication(const char* name) : name(name) {}
  tresult PLUGIN_API queryInterface(const TUID iid, void** obj) override;
  tresult PLUGIN_API getName(String128 out) override;
  tresult PLUGIN_API createInstance(TUID, TUID, void** obj) override
  {
    *obj = nullptr;
    return kResultFalse;
  }
  TEST_REFCOUNT
  std::string name;
  int nameRequests = 0;
};

// A host context that offers no interface beyond FUnknown.
class BareContext : public FUnknown
{
public:
  tresult PLUGIN_API queryInterface(const TUID iid, void** obj) override;
  TEST_REFCOUNT
};

class ContextMenu : public IContextMenu
{
public:
  tresult PLUGIN_API queryInterface(const TUID iid, void** obj) override;
  int32 PLUGIN_API getItemCount() override { return 0; }
  tresult PLUGIN_API getItem(int32, Item&, IContextMenuTarget**) override { return kResultFalse; }
  tresult PLUGIN_API addItem(const Item&, IContextMenuTarget*) override { return kResultOk; }
  tresult PLUGIN_API removeItem(const Item&, IContextMenuTarget*) override { return kResultOk; }
  tresult PLUGIN_API popup(UCoord x, UCoord y) override
  {
    popups.push_back({x, y});
    return kResultOk;
  }
  TEST_REFCOUNT
  std::vector<std::pair<int, int>> popups;
};

// Records every edit; offers IComponentHandler3 only when asked to.
class ComponentHandler : public IComponentHandler, public IComponentHandler3
{
public:
  struct Edit
  {
    char kind;  // 'b'egin, 'p'erform, 'e'nd
    ParamID id;
    ParamValue value;
  };
  explicit ComponentHandler(bool offerMenus = true) : offerMenus(offerMenus) {}
  tresult PLUGIN_API queryInterface(const TUID iid, void** obj) override;
  tresult PLUGIN_API beginEdit(ParamID id) override;
  tresult PLUGIN_API performEdit(ParamID id, ParamValue v) override;
  tresult PLUGIN_API endEdit(ParamID id) override;
  tresult PLUGIN_API restartComponent(int32 flags) override
  {
    restartFlags.push_back(flags);
    return kResultOk;
  }
  IContextMenu* PLUGIN_API createContextMenu(IPlugView* view, const ParamID* id) override;
  uint32 PLUGIN_API addRef() override { return ++refs; }
  uint32 PLUGIN_API release() override { return --refs; }

  std::atomic<int32> refs{1};
  bool offerMenus;
  std::vector<Edit> edits;
  std::vector<int32> restartFlags;
  std::vector<std::pair<IPlugView*, ParamID>> menuRequests;
  ContextMenu menu;
};

// A view frame that grants every resize by calling the view's onSize, as hosts do.
class PlugFrame : public IPlugFrame
{
public:
  tresult PLUGIN_API queryInterface(const TUID iid, void** obj) override;
  tresult PLUGIN_API resizeView(IPlugView* view, ViewRect* r) override;
  TEST_REFCOUNT
  std::vector<ViewRect> requests;
};

// A byte stream. `maxPerRead` limits what one read delivers, as some hosts'
// streams do.
class ByteStream : public IBStream
{
public:
  ByteStream() = default;
  explicit ByteStream(std::vector<uint8_t> bytes) : bytes(std::move(bytes)) {}
  tresult PLUGIN_API queryInterface(const TUID iid, void** obj) override;
  tresult PLUGIN_API read(void* buffer, int32 n, int32* numRead) override;
  tresult PLUGIN_API write(void* buffer, int32 n, int32* numWritten) override;
  tresult PLUGIN_API seek(int64 pos, int32 mode, int64* result) override;
  tresult PLUGIN_API tell(int64* pos) override;
  TEST_REFCOUNT
  std::vector<uint8_t> bytes;
  size_t cursor = 0;
  int32 maxPerRead = 1 << 30;
};

class ParamQueue : public IParamValueQueue
{
public:
  explicit ParamQueue(ParamID id) : id(id) {}
  tresult PLUGIN_API queryInterface(const TUID iid, void** obj) override;
  ParamID PLUGIN_API getParameterId() override { return id; }
  int32 PLUGIN_API getPointCount() override { return (int32)points.size(); }
  tresult PLUGIN_API getPoint(int32 index, int32& offset, ParamValue& value) override;
  tresult PLUGIN_API addPoint(int32 offset, ParamValue value, int32& index) override;
  TEST_REFCOUNT
  ParamID id;
  std::vector<std::pair<int32, ParamValue>> points;
};

class ParamChanges : public IParameterChanges
{
public:
  tresult PLUGIN_API queryInterface(const TUID iid, void** obj) override;
  int32 PLUGIN_API getParameterCount() override { return (int32)queues.size(); }
  IParamValueQueue* PLUGIN_API getParameterData(int32 index) override;
  IParamValueQueue* PLUGIN_API addParameterData(const ParamID& id, int32& index) override;
  TEST_REFCOUNT
  // Appends a queue with the given points (sample offsets 0, 1, ...).
  void Add(ParamID id, std::vector<ParamValue> values);
  std::vector<std::unique_ptr<ParamQueue>> queues;
};

}  // namespace vst3test
