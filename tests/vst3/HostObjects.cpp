#include "HostObjects.h"

#include <algorithm>

namespace vst3test {

namespace {

bool Is(const TUID iid, const FUID& wanted)
{
  return std::memcmp(iid, wanted.toTUID(), sizeof(TUID)) == 0;
}

template <class T>
tresult Answer(T* self, void** obj)
{
  self->addRef();
  *obj = self;
  return kResultOk;
}

tresult Refuse(void** obj)
{
  *obj = nullptr;
  return kNoInterface;
}

}  // namespace

std::string Narrow(const TChar* text)
{
  std::string out;
  for (; text && *text; ++text)
    out.push_back(static_cast<char>(*text));
  return out;
}

tresult PLUGIN_API HostApplication::queryInterface(const TUID iid, void** obj)
{
  if (Is(iid, FUnknown::iid) || Is(iid, IHostApplication::iid))
    return Answer<IHostApplication>(this, obj);
  return Refuse(obj);
}

tresult PLUGIN_API HostApplication::getName(String128 out)
{
  ++nameRequests;
  size_t i = 0;
  for (; i < name.size() && i < 127; ++i)
    out[i] = static_cast<unsigned char>(name[i]);
  out[i] = 0;
  return kResultOk;
}

tresult PLUGIN_API BareContext::queryInterface(const TUID iid, void** obj)
{
  if (Is(iid, FUnknown::iid))
    return Answer<FUnknown>(this, obj);
  return Refuse(obj);
}

tresult PLUGIN_API ContextMenu::queryInterface(const TUID iid, void** obj)
{
  if (Is(iid, FUnknown::iid) || Is(iid, IContextMenu::iid))
    return Answer<IContextMenu>(this, obj);
  return Refuse(obj);
}

tresult PLUGIN_API ComponentHandler::queryInterface(const TUID iid, void** obj)
{
  if (Is(iid, FUnknown::iid) || Is(iid, IComponentHandler::iid))
    return Answer<IComponentHandler>(this, obj);
  if (offerMenus && Is(iid, IComponentHandler3::iid))
    return Answer<IComponentHandler3>(this, obj);
  return Refuse(obj);
}

tresult PLUGIN_API ComponentHandler::beginEdit(ParamID id)
{
  edits.push_back({'b', id, 0.0});
  return kResultOk;
}

tresult PLUGIN_API ComponentHandler::performEdit(ParamID id, ParamValue v)
{
  edits.push_back({'p', id, v});
  return kResultOk;
}

tresult PLUGIN_API ComponentHandler::endEdit(ParamID id)
{
  edits.push_back({'e', id, 0.0});
  return kResultOk;
}

IContextMenu* PLUGIN_API ComponentHandler::createContextMenu(IPlugView* view, const ParamID* id)
{
  menuRequests.push_back({view, id ? *id : 0xFFFFFFFFu});
  menu.addRef();
  return &menu;
}

tresult PLUGIN_API PlugFrame::queryInterface(const TUID iid, void** obj)
{
  if (Is(iid, FUnknown::iid) || Is(iid, IPlugFrame::iid))
    return Answer<IPlugFrame>(this, obj);
  return Refuse(obj);
}

tresult PLUGIN_API PlugFrame::resizeView(IPlugView* view, ViewRect* r)
{
  requests.push_back(*r);
  return view->onSize(r);
}

tresult PLUGIN_API ByteStream::queryInterface(const TUID iid, void** obj)
{
  if (Is(iid, FUnknown::iid) || Is(iid, IBStream::iid))
    return Answer<IBStream>(this, obj);
  return Refuse(obj);
}

tresult PLUGIN_API ByteStream::read(void* buffer, int32 n, int32* numRead)
{
  const size_t left = bytes.size() - std::min(cursor, bytes.size());
  const size_t count = std::min<size_t>({left, (size_t)std::max(n, 0), (size_t)maxPerRead});
  if (count)
    std::memcpy(buffer, bytes.data() + cursor, count);
  cursor += count;
  if (numRead)
    *numRead = (int32)count;
  return kResultOk;
}

tresult PLUGIN_API ByteStream::write(void* buffer, int32 n, int32* numWritten)
{
  const auto* p = static_cast<const uint8_t*>(buffer);
  bytes.insert(bytes.end(), p, p + std::max(n, 0));
  cursor = bytes.size();
  if (numWritten)
    *numWritten = n;
  return kResultOk;
}

tresult PLUGIN_API ByteStream::seek(int64 pos, int32 mode, int64* result)
{
  const int64 base = mode == kIBSeekSet ? 0 : mode == kIBSeekCur ? (int64)cursor : (int64)bytes.size();
  cursor = (size_t)std::clamp<int64>(base + pos, 0, (int64)bytes.size());
  if (result)
    *result = (int64)cursor;
  return kResultOk;
}

tresult PLUGIN_API ByteStream::tell(int64* pos)
{
  if (pos)
    *pos = (int64)cursor;
  return kResultOk;
}

tresult PLUGIN_API ParamQueue::queryInterface(const TUID iid, void** obj)
{
  if (Is(iid, FUnknown::iid) || Is(iid, IParamValueQueue::iid))
    return Answer<IParamValueQueue>(this, obj);
  return Refuse(obj);
}

tresult PLUGIN_API ParamQueue::getPoint(int32 index, int32& offset, ParamValue& value)
{
  if (index < 0 || index >= (int32)points.size())
    return kResultFalse;
  offset = points[index].first;
  value = points[index].second;
  return kResultOk;
}

tresult PLUGIN_API ParamQueue::addPoint(int32 offset, ParamValue value, int32& index)
{
  index = (int32)points.size();
  points.push_back({offset, value});
  return kResultOk;
}

tresult PLUGIN_API ParamChanges::queryInterface(const TUID iid, void** obj)
{
  if (Is(iid, FUnknown::iid) || Is(iid, IParameterChanges::iid))
    return Answer<IParameterChanges>(this, obj);
  return Refuse(obj);
}

IParamValueQueue* PLUGIN_API ParamChanges::getParameterData(int32 index)
{
  return index >= 0 && index < (int32)queues.size() ? queues[index].get() : nullptr;
}

IParamValueQueue* PLUGIN_API ParamChanges::addParameterData(const ParamID& id, int32& index)
{
  index = (int32)queues.size();
  queues.push_back(std::make_unique<ParamQueue>(id));
  return queues.back().get();
}

void ParamChanges::Add(ParamID id, std::vector<ParamValue> values)
{
  int32 index = 0;
  IParamValueQueue* q = addParameterData(id, index);
  for (size_t i = 0; i < values.size(); ++i)
    q->addPoint((int32)i, values[i], index);
}

}  // namespace vst3test
