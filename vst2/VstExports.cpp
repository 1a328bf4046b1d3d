// The module's exported entry points. Each call creates one plug-in instance
// and hands the host its effect record.

#include "vst2/VstEntry.h"

#if defined(_WIN32)
#define TALVOR_VST_EXPORT __declspec(dllexport)
#else
#define TALVOR_VST_EXPORT __attribute__((visibility("default")))
#endif

extern "C" TALVOR_VST_EXPORT AEffect* VSTPluginMain(audioMasterCallback hostCallback)
{
  return CreateTalvorEffect(hostCallback);
}

// The older entry name. Its historical signature takes an int, which cannot
// carry a 64-bit pointer; hosts pass the callback in the first argument
// register all the same, so it is declared pointer-sized here and the callback
// arrives whole. (C++ reserves the name, hence the assembler label.)
extern "C" TALVOR_VST_EXPORT AEffect* VstLegacyMain(audioMasterCallback hostCallback) __asm__("main");
extern "C" AEffect* VstLegacyMain(audioMasterCallback hostCallback)
{
  return CreateTalvorEffect(hostCallback);
}
