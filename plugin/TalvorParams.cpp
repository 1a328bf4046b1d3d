#include "plugin/TalvorParams.h"

#include "framework/IPlugBase.h"

void DeclareTalvorParams(IPlugBase& plug)
{
  constexpr double kGainRange = kTalvorGainRangeDb;
  // Declaration order is part of the plug-in's identity: "Link" comes before
  // "Bypass" and "Filter".
  plug.ParamAt(kLowGain)->InitInteger("Low Gain", 5, 0, 10);
  plug.ParamAt(kLowFreq)->InitInteger("Low Freq", 0, 0, 4);
  plug.ParamAt(kMidGain)->InitInteger("Mid Gain", 5, 0, 10);
  plug.ParamAt(kMidFreq)->InitInteger("Mid Freq", 0, 0, 4);
  plug.ParamAt(kHighGain)->InitInteger("High Gain", 5, 0, 10);
  plug.ParamAt(kHighFreq)->InitInteger("High Freq", 0, 0, 4);
  plug.ParamAt(kInput)->InitContinuous("Input", 0.0, -kGainRange, kGainRange, 0.01, 1.0);
  plug.ParamAt(kOutput)->InitContinuous("Output", 0.0, -kGainRange, kGainRange, 0.01, 1.0);
  plug.ParamAt(kLink)->InitInteger("Link", 0, 0, 1);
  plug.ParamAt(kBypass)->InitInteger("Bypass", 1, 0, 1);
  plug.ParamAt(kFilter)->InitInteger("Filter", 0, 0, 1);
}
