// Windows module entry: remember the module handle for every reason, so that
// the editor finds its window class and image resources in this DLL.

#include <windows.h>

#include "graphics/ModuleHandle.h"

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD /*reason*/, LPVOID /*reserved*/)
{
  SetModuleInstance(instance);
  return TRUE;
}
