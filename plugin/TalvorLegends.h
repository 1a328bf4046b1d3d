#pragma once
// The texts that the editor's legends print beside each position of the
// stepped band controls, for hosts that show the positions by name (the LV2
// scale points). Taken from the engine itself, so they cannot drift from what
// it does.

#include <string>

// The legend of `position` of parameter `paramIdx`: a gain knob's dB ("+2.5 dB",
// "0 dB", "-12.4 dB"), the mid selector's centre frequency and the shelf
// selectors' half-gain frequency ("390 Hz", "1.1 kHz"). Empty for a parameter
// without legends or a position outside its range.
std::string TalvorPositionLegend(int paramIdx, int position);
