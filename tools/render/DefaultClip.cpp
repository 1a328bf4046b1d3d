#include "tools/render/DefaultClip.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

namespace
{
constexpr double kPi = 3.14159265358979323846;

// Small deterministic generator so that every run renders the same clip.
struct Noise
{
  uint32_t s = 0x12345678u;
  double next()  // uniform in [-1, 1)
  {
    s ^= s << 13;
    s ^= s >> 17;
    s ^= s << 5;
    return (double)s / 2147483648.0 - 1.0;
  }
};

double NoteHz(int midi) { return 440.0 * std::pow(2.0, (midi - 69) / 12.0); }

// A soft band-limited sawtooth: the first few harmonics only.
double Saw(double phase, int harmonics)
{
  double y = 0.0;
  for (int k = 1; k <= harmonics; ++k)
    y += std::sin(phase * k) / k;
  return y * (2.0 / kPi);
}
}  // namespace

StereoClip MakeDefaultClip(int sampleRate, double seconds)
{
  StereoClip clip;
  clip.sampleRate = sampleRate;
  const double fs = sampleRate;
  const size_t n = (size_t)std::max(0.0, seconds * fs);
  clip.left.assign(n, 0.0);
  clip.right.assign(n, 0.0);

  const double beat = 0.5;  // 120 beats per minute
  // Am - F - C - G, one chord per bar of four beats.
  const int roots[4] = {45, 41, 48, 43};
  const int chords[4][3] = {{57, 60, 64}, {53, 57, 60}, {55, 60, 64}, {55, 59, 62}};

  Noise noise;
  double hatState = 0.0, bassPhase = 0.0, kickPhase = 0.0;
  double chordPhase[3] = {0.0, 0.0, 0.0};

  for (size_t i = 0; i < n; ++i)
  {
    const double t = (double)i / fs;
    const int beatIndex = (int)(t / beat);
    const double inBeat = t - beatIndex * beat;
    const int bar = (beatIndex / 4) % 4;
    const double w = noise.next();

    // Kick on every beat: a falling sine with a fast decay.
    const double kickHz = 50.0 + 100.0 * std::exp(-inBeat * 30.0);
    kickPhase += 2 * kPi * kickHz / fs;
    const double kick = 0.55 * std::sin(kickPhase) * std::exp(-inBeat * 9.0);

    // Snare on beats two and four: noise burst plus a short tone.
    double snare = 0.0;
    if (beatIndex % 2 == 1)
      snare = (0.30 * w + 0.12 * std::sin(2 * kPi * 190.0 * inBeat)) * std::exp(-inBeat * 22.0);

    // Closed hi-hat on eighth notes: differentiated noise, very short.
    const double inEighth = std::fmod(t, beat / 2.0);
    const double hat = 0.10 * (w - hatState) * std::exp(-inEighth * 80.0);
    hatState = w;

    // Bass: the chord root, plucked on each beat.
    bassPhase += 2 * kPi * NoteHz(roots[bar]) / fs;
    const double bass = 0.22 * Saw(bassPhase, 6) * (0.4 + 0.6 * std::exp(-inBeat * 6.0));

    // Chords: three soft voices swelling over the bar.
    const double inBar = std::fmod(t, 4 * beat);
    const double swell = std::min(1.0, inBar * 4.0) * (0.7 + 0.3 * std::cos(2 * kPi * inBar / (4 * beat)));
    double pad[3];
    for (int v = 0; v < 3; ++v)
    {
      chordPhase[v] += 2 * kPi * NoteHz(chords[bar][v]) / fs;
      pad[v] = 0.06 * Saw(chordPhase[v], 4) * swell;
    }

    const double hiss = 0.004 * noise.next();
    const double centre = kick + snare + bass;
    clip.left[i] = centre + 0.8 * hat + pad[0] + 0.7 * pad[1] + 0.4 * pad[2] + hiss;
    clip.right[i] = centre + 0.5 * hat + 0.4 * pad[0] + 0.7 * pad[1] + pad[2] - hiss;
  }

  // Short fades so the clip starts and ends without clicks.
  const size_t fade = std::min(n / 2, (size_t)(0.01 * fs));
  for (size_t i = 0; i < fade; ++i)
  {
    const double g = (double)i / (double)fade;
    clip.left[i] *= g;
    clip.right[i] *= g;
    clip.left[n - 1 - i] *= g;
    clip.right[n - 1 - i] *= g;
  }
  return clip;
}
