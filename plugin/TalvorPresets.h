#pragma once
// TALVOR's factory presets, from the table resources/presets/factory-presets.txt
// (read at build time). The plug-in itself keeps its one preset slot: these
// become preset files of each format (tools/presets, lv2/turtle) that hosts
// read and hand to the plug-in as ordinary state, and talvor-render's --preset.

#include <string>

#include "plugin/TalvorParams.h"

class IPlugBase;

struct TalvorFactoryPreset
{
  const char* name;         // at most 27 ASCII characters; also the files' names
  const char* category;     // Vocals, Drums, Bass, Guitars, Keys, Bus, Mastering, Character
  const char* description;  // what it is for, and why its settings do that
  double values[kNumParams];  // real values in parameter index order
};

int TalvorFactoryPresetCount();
// Null outside 0 .. count - 1.
const TalvorFactoryPreset* TalvorFactoryPresetAt(int index);
// The preset with exactly this name, or null.
const TalvorFactoryPreset* FindTalvorFactoryPreset(const std::string& name);

// Whether the table fits the plug-in: its columns are `plug`'s parameter names
// in index order, every value lies in its parameter's range on a whole step,
// a linked preset's "Output" is minus its "Input" (what the plug-in would make
// of it at once), and one preset named "Flat" holds the defaults. Empty when
// it fits, else what is wrong.
std::string CheckTalvorFactoryPresets(IPlugBase& plug);

// Sets every parameter of `plug` (a TALVOR) to the preset's values the way
// talvor-render's --set does, one after the other in index order.
void ApplyTalvorFactoryPreset(IPlugBase& plug, const TalvorFactoryPreset& preset);
