#pragma once
// What the two preset file writers share: the check of the table against the
// plug-in, and writing one file of bytes whole.
//
//   talvor-vst3-presets DIR   DIR/<name>.vstpreset for every factory preset
//   talvor-vst2-presets DIR   DIR/<name>.fxp for every factory preset
//
// Each builds the plug-in on its own binding, sets a preset's values the way
// talvor-render --preset does, and writes what that binding hands a host as
// state (getState, effGetChunk). Run at build time (cmake), under Wine in the
// Win64 build.

#include <cstdio>
#include <string>
#include <vector>

#include "plugin/TalvorPresets.h"

namespace preset_files
{
// Prints why the table does not fit `plug` and returns false.
inline bool TableFits(IPlugBase& plug, const char* tool)
{
  const std::string problem = CheckTalvorFactoryPresets(plug);
  if (problem.empty()) return true;
  std::fprintf(stderr, "%s: resources/presets/factory-presets.txt: %s\n", tool, problem.c_str());
  return false;
}

inline bool WriteFile(const std::string& path, const void* bytes, size_t size, const char* tool)
{
  std::FILE* file = std::fopen(path.c_str(), "wb");
  bool ok = file && std::fwrite(bytes, 1, size, file) == size;
  if (file && std::fclose(file) != 0) ok = false;
  if (!ok) std::fprintf(stderr, "%s: cannot write %s\n", tool, path.c_str());
  return ok;
}

inline bool Usage(int argc, const char* tool)
{
  if (argc == 2) return true;
  std::fprintf(stderr, "usage: %s DIR\n", tool);
  return false;
}
}  // namespace preset_files
