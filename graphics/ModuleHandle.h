#pragma once
// The instance handle with which this module (plug-in DLL) was loaded. Each
// module's entry point stores it; the Windows editor reads it to register its
// window class, create its window and find its image resources. Every module
// links its own copy of the graphics library, so each module has its own slot.
//
// Stored as void* so that portable code need not include <windows.h>.

inline void*& ModuleInstanceSlot()
{
  static void* instance = nullptr;
  return instance;
}

inline void* GetModuleInstance()
{
  return ModuleInstanceSlot();
}

inline void SetModuleInstance(void* instance)
{
  ModuleInstanceSlot() = instance;
}
