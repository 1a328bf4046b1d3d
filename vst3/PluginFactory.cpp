#include "vst3/PluginFactory.h"

#include <cstring>

#include "vst3/InterfaceQuery.h"

namespace Steinberg {

CPluginFactory::CPluginFactory(const PFactoryInfo& info) : factoryInfo(info) {}

CPluginFactory::~CPluginFactory() = default;

bool CPluginFactory::registerClass(const PClassInfo2* info, CreateFunction createFunc, void* context)
{
  if (!info || !createFunc || classCount >= kMaxClasses)
    return false;
  ClassEntry& entry = classes[classCount];
  entry.info = *info;
  entry.create = createFunc;
  entry.context = context;
  ++classCount;
  return true;
}

bool CPluginFactory::isClassRegistered(const FUID& cid) const
{
  for (int32 i = 0; i < classCount; ++i)
    if (std::memcmp(classes[i].info.cid, cid.toTUID(), sizeof(TUID)) == 0)
      return true;
  return false;
}

tresult PLUGIN_API CPluginFactory::queryInterface(const TUID queriedIid, void** obj)
{
  alignas(8) TUID iid;
  if (const tresult checked = BeginInterfaceQuery(queriedIid, obj, iid); checked != kResultOk)
    return checked;
  QUERY_INTERFACE(iid, obj, FUnknown::iid, IPluginFactory)
  QUERY_INTERFACE(iid, obj, IPluginFactory::iid, IPluginFactory)
  QUERY_INTERFACE(iid, obj, IPluginFactory2::iid, IPluginFactory2)
  QUERY_INTERFACE(iid, obj, IPluginFactory3::iid, IPluginFactory3)
  return kNoInterface;
}

uint32 PLUGIN_API CPluginFactory::addRef()
{
  return static_cast<uint32>(++refCount);
}

uint32 PLUGIN_API CPluginFactory::release()
{
  const int32 left = --refCount;
  if (left == 0)
  {
    if (releaseHook)
      releaseHook(this);
    delete this;
    return 0;
  }
  return static_cast<uint32>(left);
}

tresult PLUGIN_API CPluginFactory::getFactoryInfo(PFactoryInfo* info)
{
  if (!info)
    return kInvalidArgument;
  std::memcpy(info, &factoryInfo, sizeof(PFactoryInfo));
  return kResultOk;
}

tresult PLUGIN_API CPluginFactory::getClassInfo(int32 index, PClassInfo* info)
{
  if (!info || index < 0 || index >= classCount)
    return kInvalidArgument;
  const PClassInfo2& src = classes[index].info;
  *info = PClassInfo();
  std::memcpy(info->cid, src.cid, sizeof(TUID));
  info->cardinality = src.cardinality;
  std::memcpy(info->category, src.category, sizeof(info->category));
  std::memcpy(info->name, src.name, sizeof(info->name));
  return kResultOk;
}

tresult PLUGIN_API CPluginFactory::getClassInfo2(int32 index, PClassInfo2* info)
{
  if (!info || index < 0 || index >= classCount)
    return kInvalidArgument;
  std::memcpy(info, &classes[index].info, sizeof(PClassInfo2));
  return kResultOk;
}

tresult PLUGIN_API CPluginFactory::getClassInfoUnicode(int32 index, PClassInfoW* info)
{
  if (!info || index < 0 || index >= classCount)
    return kInvalidArgument;
  *info = PClassInfoW();
  info->fromAscii(classes[index].info);
  return kResultOk;
}

tresult PLUGIN_API CPluginFactory::createInstance(FIDString cid, FIDString iid, void** obj)
{
  if (!obj)
    return kInvalidArgument;
  *obj = nullptr;
  if (!cid || !iid)
    return kInvalidArgument;
  for (int32 i = 0; i < classCount; ++i)
  {
    if (std::memcmp(classes[i].info.cid, cid, sizeof(TUID)) != 0)
      continue;
    FUnknown* instance = classes[i].create(classes[i].context);
    if (!instance)
      return kOutOfMemory;
    const tresult result = instance->queryInterface(iid, obj);
    instance->release();  // the caller keeps the reference queryInterface added
    if (result != kResultOk)
    {
      *obj = nullptr;
      return kNoInterface;
    }
    return kResultOk;
  }
  return kNoInterface;
}

tresult PLUGIN_API CPluginFactory::setHostContext(FUnknown*)
{
  // Nothing in this module needs the host before an instance is initialised.
  return kNotImplemented;
}

}  // namespace Steinberg
