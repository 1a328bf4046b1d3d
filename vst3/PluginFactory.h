#pragma once
// The module's class factory: describes the classes a module offers (in ANSI,
// extended and UTF-16 form) and creates instances of them on request.

#include <atomic>

#include "pluginterfaces/base/ipluginbase.h"

namespace Steinberg {

class CPluginFactory : public IPluginFactory3
{
public:
  // Creates one instance; returns it with one reference held for the caller, or null.
  using CreateFunction = FUnknown* (*)(void* context);

  explicit CPluginFactory(const PFactoryInfo& info);
  virtual ~CPluginFactory();
  CPluginFactory(const CPluginFactory&) = delete;
  CPluginFactory& operator=(const CPluginFactory&) = delete;

  // Adds a class; false when the table is full (the class is then not offered).
  bool registerClass(const PClassInfo2* info, CreateFunction createFunc, void* context = nullptr);
  bool isClassRegistered(const FUID& cid) const;

  // FUnknown
  tresult PLUGIN_API queryInterface(const TUID iid, void** obj) override;
  uint32 PLUGIN_API addRef() override;
  uint32 PLUGIN_API release() override;

  // IPluginFactory
  tresult PLUGIN_API getFactoryInfo(PFactoryInfo* info) override;
  int32 PLUGIN_API countClasses() override { return classCount; }
  tresult PLUGIN_API getClassInfo(int32 index, PClassInfo* info) override;
  tresult PLUGIN_API createInstance(FIDString cid, FIDString iid, void** obj) override;

  // IPluginFactory2
  tresult PLUGIN_API getClassInfo2(int32 index, PClassInfo2* info) override;

  // IPluginFactory3
  tresult PLUGIN_API getClassInfoUnicode(int32 index, PClassInfoW* info) override;
  tresult PLUGIN_API setHostContext(FUnknown* context) override;

  // Called when the last reference goes, before the factory is deleted (the
  // module clears its global pointer here).
  void setReleaseHook(void (*hook)(CPluginFactory*)) { releaseHook = hook; }

private:
  struct ClassEntry
  {
    PClassInfo2 info;
    CreateFunction create = nullptr;
    void* context = nullptr;
  };
  static constexpr int kMaxClasses = 8;

  std::atomic<int32> refCount{1};
  PFactoryInfo factoryInfo;
  ClassEntry classes[kMaxClasses];
  int32 classCount = 0;
  void (*releaseHook)(CPluginFactory*) = nullptr;
};

}  // namespace Steinberg
