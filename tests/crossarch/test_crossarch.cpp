// This cross build's modules and editor against the build machine's (x86-64):
// the same programme rendered through both VST 2.4 modules and both LV2
// plug-ins gives the same bytes, the headless editor snapshot the same pixels,
// and the LV2 description the same text. The outputs are written first, by
// each build's own programs (fixture crossarch_outputs).
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "graphics/LICE.h"
#include "tests/graphics/GraphicsTestSupport.h"

namespace {

using Bytes = std::vector<unsigned char>;

Bytes Read(const std::string& path)
{
  std::ifstream f(path, std::ios::binary);
  return Bytes((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
}

// Equal bytes; otherwise where the first sample differs, and both values.
void ExpectSameSamples(const char* file)
{
  const Bytes ref = Read(std::string(TALVOR_CROSSARCH_REFERENCE_DIR "/") + file);
  const Bytes own = Read(std::string(TALVOR_CROSSARCH_OWN_DIR "/") + file);
  ASSERT_FALSE(ref.empty()) << "no reference output " << file;
  ASSERT_EQ(ref.size(), own.size()) << file;
  for (size_t i = 0; i + sizeof(float) <= ref.size(); i += sizeof(float))
  {
    if (std::memcmp(&ref[i], &own[i], sizeof(float)) == 0) continue;
    float a, b;
    std::memcpy(&a, &ref[i], sizeof a);
    std::memcpy(&b, &own[i], sizeof b);
    const size_t sample = i / sizeof(float);
    FAIL() << file << ": frame " << sample / 2 << ", channel " << sample % 2 << ": x86-64 " << a << ", here " << b;
  }
}

}  // namespace

TEST(CrossArch, Vst2ModulesSoundTheSameBytes) { ExpectSameSamples("vst2.f32"); }

TEST(CrossArch, Lv2PluginsSoundTheSameBytes) { ExpectSameSamples("lv2.f32"); }

TEST(CrossArch, EditorSnapshotsHaveTheSamePixels)
{
  const Bytes ref = Read(TALVOR_CROSSARCH_REFERENCE_DIR "-snapshot.png");
  const Bytes own = Read(TALVOR_CROSSARCH_OWN_DIR "-snapshot.png");
  std::unique_ptr<LICE_MemBitmap> a(DecodePng(ref.data(), ref.size(), nullptr));
  std::unique_ptr<LICE_MemBitmap> b(DecodePng(own.data(), own.size(), nullptr));
  ASSERT_TRUE(a && b);
  ASSERT_EQ(a->getWidth(), b->getWidth());
  ASSERT_EQ(a->getHeight(), b->getHeight());
  for (int y = 0; y < a->getHeight(); ++y)
    for (int x = 0; x < a->getWidth(); ++x)
      ASSERT_EQ(gtest_support::Px(a.get(), x, y), gtest_support::Px(b.get(), x, y)) << x << "," << y;
}

TEST(CrossArch, Lv2BundlesDescribeTheSame)
{
  for (const char* file : {"manifest.ttl", "TALVOR.ttl"})
  {
    const Bytes ref = Read(std::string(TALVOR_CROSSARCH_REFERENCE_BUNDLE "/") + file);
    ASSERT_FALSE(ref.empty()) << file;
    EXPECT_TRUE(ref == Read(std::string(TALVOR_LV2_BUNDLE_PATH "/") + file)) << file;
  }
}
