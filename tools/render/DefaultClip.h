#pragma once
// A few seconds of generated programme-like stereo material (drums, bass,
// chords, a little noise) for rendering without an input file.

#include <vector>

struct StereoClip
{
  int sampleRate = 0;
  std::vector<double> left, right;
};

StereoClip MakeDefaultClip(int sampleRate, double seconds = 6.0);
