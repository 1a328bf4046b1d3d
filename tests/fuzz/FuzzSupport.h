#pragma once
// What the fuzz targets share: the libFuzzer entry points, a check that stops
// the run where a sanitizer would not, and the seed files each target writes
// from what the modules produce (TALVOR_FUZZ_SEEDS=<folder>, then it exits).

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv);
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace fuzz
{
using Bytes = std::vector<uint8_t>;

// A broken promise of the plug-in is a finding like a sanitizer report.
#define FUZZ_CHECK(condition) \
  do \
  { \
    if (!(condition)) \
    { \
      std::fprintf(stderr, "check failed: %s (%s:%d)\n", #condition, __FILE__, __LINE__); \
      std::abort(); \
    } \
  } while (0)

// Seeds: when TALVOR_FUZZ_SEEDS names a folder, `write` gets a function that
// stores one seed there, and the program then ends.
template <class WriteAll>
void WriteSeedsIfAsked(WriteAll writeAll)
{
  const char* dir = std::getenv("TALVOR_FUZZ_SEEDS");
  if (!dir)
    return;
  int n = 0;
  writeAll([&](const std::string& name, const Bytes& bytes) {
    const std::string path = std::string(dir) + "/" + name;
    FILE* f = std::fopen(path.c_str(), "wb");
    FUZZ_CHECK(f && std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size() && std::fclose(f) == 0);
    ++n;
  });
  std::printf("%d seeds written to %s\n", n, dir);
  std::exit(0);
}

// One block of a signal well inside the range, for processing after each input.
template <class S>
struct Block
{
  static constexpr int kFrames = 32;
  S in[2][kFrames], out[2][kFrames];
  S* ins[2] = {in[0], in[1]};
  S* outs[2] = {out[0], out[1]};
  Block()
  {
    for (int i = 0; i < kFrames; ++i)
      in[0][i] = in[1][i] = (S)(0.5 * std::sin(0.2 * i));
  }
  bool OutputFinite() const
  {
    for (int c = 0; c < 2; ++c)
      for (int i = 0; i < kFrames; ++i)
        if (!std::isfinite(out[c][i]))
          return false;
    return true;
  }
};

inline Bytes Prefixed(uint8_t first, const Bytes& rest)
{
  Bytes b{first};
  b.insert(b.end(), rest.begin(), rest.end());
  return b;
}
}  // namespace fuzz
