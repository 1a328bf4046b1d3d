#pragma once
// Creates one plug-in instance for a VST 2.4 host and returns its effect
// record, or null. Serialised by a module-wide mutex; the exported entry points
// and the in-process tests both come through here.

#include "vst2/VstInterface.h"

AEffect* CreateTalvorEffect(audioMasterCallback hostCallback);
