#pragma once
// One fixed, hostile programme for a VST 2.4 module of TALVOR, and a digest of
// everything it outputs: odd and empty blocks (some longer than the announced
// block size), every control moved between blocks, "Filter", "Link" and
// "Bypass" switched, sample-rate changes, and input with NaN and infinity
// bursts, huge values (some at the end of the 32-bit range), values near and
// below the smallest normals, driven levels, and a long silence into which
// the "Filter" low-pass decays. The Linux and the Windows module are checked
// against the same digests, so both render the same bits, and the same bits
// as the engine's scalar reference (test_dsp_paths.cpp).
//
// Works with any record type laid out as the published AEffect.

#include <cstdint>
#include <cstring>
#include <limits>
#include <vector>

namespace hostile
{
// Digests of processReplacing's and processDoubleReplacing's output bytes.
constexpr uint64_t kFloatDigest = 0xe4db49f0b89a99a2;
constexpr uint64_t kDoubleDigest = 0x96bdd3945d95c917;

struct Rng
{
  uint32_t s = 20240611u;
  uint32_t Next() { return s = s * 1664525u + 1013904223u; }
  double Uniform() { return (double)(Next() >> 8) / 16777216.0; }  // [0, 1)
};

// FNV-1a over bytes.
struct Digest
{
  uint64_t h = 14695981039346656037ull;
  void Add(const void* data, size_t n)
  {
    const unsigned char* p = static_cast<const unsigned char*>(data);
    for (size_t i = 0; i < n; ++i) h = (h ^ p[i]) * 1099511628211ull;
  }
};

// The input: tones from rotating phasors (multiplications and additions only,
// so that every C library gives the same samples), noise, silence, values
// near and below the smallest normals, tones beyond the 32-bit range at their
// peaks, and bursts of non-finite and huge values.
struct Source
{
  Rng rng;
  double c[2] = {1.0, 1.0}, s[2] = {0.0, 0.0};

  double Tone(int ch)
  {
    static const double cw[2] = {0.99990615835714, 0.99962469036773}, sw[2] = {0.01369957148, 0.02739743543};
    const double c1 = c[ch] * cw[ch] - s[ch] * sw[ch];
    s[ch] = s[ch] * cw[ch] + c[ch] * sw[ch];
    c[ch] = c1;
    return s[ch];
  }
  double Next(int kind, int ch, double level)
  {
    const double inf = std::numeric_limits<double>::infinity();
    static const double tiny[] = {1e-310, -4e-320, 5e-324, 1.2e-38, -1.1754942e-38, 1e-45, -0.0, 3e-39};
    static const double bursts[] = {std::numeric_limits<double>::quiet_NaN(), inf, -inf, 1e300, -1e308,
                                    std::numeric_limits<double>::max(), -0.0, 5e-324, 3.4e38, -1e39,
                                    // around the 32-bit range's end: rounds to the largest float; the
                                    // smallest that rounds to infinity (limited); just below it
                                    -0x1.fffffe8p127, 0x1.ffffffp127, 0x1.fffffefffffffp127};
    const double tone = level * Tone(ch);
    switch (kind)
    {
      case 0: return tone;
      case 1: return level * (2.0 * rng.Uniform() - 1.0);
      case 2: return 0.0;
      case 3: return tiny[rng.Next() % 8];
      case 4: return 1e38 * tone;  // beyond the 32-bit range at the loudest levels' peaks
      default: return rng.Next() % 4 ? tone : bursts[rng.Next() % 13];
    }
  }
};

// Runs the programme through an opened effect (two inputs, two outputs) and
// returns the digest of its output; Sample float uses processReplacing,
// double processDoubleReplacing. Every output byte is also appended to
// bytes, when given.
template <typename Sample, typename Effect>
uint64_t Render(Effect* e, std::vector<unsigned char>* bytes = nullptr)
{
  auto call = [e](int32_t op, int32_t index, intptr_t value, float opt) {
    return e->dispatcher(e, op, index, value, nullptr, opt);
  };
  const int32_t kSetSampleRate = 10, kSetBlockSize = 11, kMainsChanged = 12;
  call(kSetSampleRate, 0, 0, 48000.0f);
  call(kSetBlockSize, 0, 512, 0.0f);
  call(kMainsChanged, 0, 1, 0.0f);

  static const int sizes[] = {1, 3, 63, 64, 65, 130, 512, 777, 0, 2, 31, 256, 7, 1000, 64};
  static const float rates[] = {44100.0f, 96000.0f, 48000.0f};
  static const double levels[] = {0.01, 0.3, 0.9, 2.5, 4.0};
  Source source;
  Rng& rng = source.rng;
  Digest digest;
  std::vector<Sample> in[2], out[2];
  for (int block = 0; block < 480; ++block)
  {
    if (block % 97 == 96)
    {
      call(kMainsChanged, 0, 0, 0.0f);
      call(kSetSampleRate, 0, 0, rates[(block / 97) % 3]);
      call(kMainsChanged, 0, 1, 0.0f);
    }
    // Blocks 200 to 279 are silence with "Filter" on and "Bypass" off, long
    // enough for the low-pass to decay into its flush; elsewhere a few
    // controls move, "Bypass" (8) mostly on, the others anywhere.
    const bool silence = block >= 200 && block < 280;
    if (block == 200)
    {
      e->setParameter(e, 8, 1.0f);
      e->setParameter(e, 9, 1.0f);
    }
    for (int n = silence ? 0 : (int)(rng.Next() % 4); n > 0; --n)
    {
      const int idx = (int)(rng.Next() % 11);
      double v = rng.Uniform();
      if (rng.Next() % 5 == 0) v = rng.Next() % 2;
      if (idx == 8) v = rng.Next() % 8 ? 1.0 : 0.0;
      e->setParameter(e, idx, (float)v);
    }
    const int frames = silence ? 700 : sizes[block % 15];
    const int kind = silence ? 2 : block < 20 ? 0 : (int)(rng.Next() % 6);
    const double level = levels[rng.Next() % 5];
    for (int ch = 0; ch < 2; ++ch)
    {
      in[ch].assign((size_t)frames + 1, Sample(0));
      out[ch].assign((size_t)frames + 1, Sample(0));
      for (int i = 0; i < frames; ++i) in[ch][(size_t)i] = (Sample)source.Next(kind, ch, level);
    }
    Sample* ins[2] = {in[0].data(), in[1].data()};
    Sample* outs[2] = {out[0].data(), out[1].data()};
    if constexpr (sizeof(Sample) == sizeof(double))
      e->processDoubleReplacing(e, ins, outs, frames);
    else
      e->processReplacing(e, ins, outs, frames);
    for (int ch = 0; ch < 2; ++ch)
    {
      digest.Add(out[ch].data(), (size_t)frames * sizeof(Sample));
      if (bytes)
      {
        const unsigned char* p = reinterpret_cast<const unsigned char*>(out[ch].data());
        bytes->insert(bytes->end(), p, p + (size_t)frames * sizeof(Sample));
      }
    }
  }
  call(kMainsChanged, 0, 0, 0.0f);
  return digest.h;
}
}  // namespace hostile
