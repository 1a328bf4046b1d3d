#pragma once
// The URIs under which LV2 hosts know TALVOR, in one place for the plug-in,
// its editor module and the Turtle written at build time.

#include "plugin/TalvorIdentity.h"  // generated: TALVOR_LV2_URI

#define TALVOR_LV2_STEREO_URI TALVOR_LV2_URI "/stereo"
#define TALVOR_LV2_MONO_URI TALVOR_LV2_URI "/mono"
#define TALVOR_LV2_UI_URI TALVOR_LV2_URI "/ui"
// Each factory preset is this followed by its name in lower case, words joined by "-".
#define TALVOR_LV2_PRESET_URI_PREFIX TALVOR_LV2_URI "/presets/"
// The key of the parameter state that the state extension saves.
#define TALVOR_LV2_STATE_KEY TALVOR_LV2_URI "#parameters"
