#pragma once
// The texts that the editor's legends print beside each position of the
// stepped band controls, for hosts that show the positions by name (the LV2
// scale points, the VST texts of every parameter). Taken from the engine
// itself, so they cannot drift from what it does.

#include <string>

// The legend of `position` of parameter `paramIdx`: a gain knob's dB ("+2.5 dB",
// "0 dB", "-12.4 dB"), the mid selector's centre frequency and the shelf
// selectors' half-gain frequency ("390 Hz", "1.1 kHz"). Empty for a parameter
// without legends or a position outside its range.
std::string TalvorPositionLegend(int paramIdx, int position);

// The same text, worked out once per process (the shelf legends take a few
// milliseconds to measure); "" where TalvorPositionLegend is empty.
const char* TalvorPositionLegendText(int paramIdx, int position);

class IPlugBase;

// What hosts show of TALVOR's parameters and read back from typed text: the
// legends for the band positions ("+4.2 dB", "1.5 kHz"), the switches as
// words ("on", "off"; "EQ in", "EQ out" for "Bypass"), "Input" and "Output"
// signed ("+3.50") with the unit "dB". Values, ranges and steps stay as
// DeclareTalvorParams made them.
void DescribeTalvorParams(IPlugBase& plug);
