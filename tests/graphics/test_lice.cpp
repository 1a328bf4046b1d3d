// Pixel layer: PNG decoding, bitmap sizing, the blit arithmetic and the cache.
#include <gtest/gtest.h>

#include <zlib.h>

#include <climits>
#include <cmath>
#include <cstring>
#include <memory>

#include "GraphicsTestSupport.h"

using namespace gtest_support;
using Rows = std::vector<std::vector<unsigned char>>;

namespace {

std::unique_ptr<LICE_MemBitmap> Decode(const std::vector<unsigned char>& png)
{
  return std::unique_ptr<LICE_MemBitmap>(DecodePng(png.data(), png.size(), nullptr));
}

}  // namespace

TEST(DecodePng, EveryColourTypeGivesStraightArgb)
{
  png_color_16 key = {};
  key.red = 1; key.green = 2; key.blue = 3;
  const std::vector<png_color> pal = {{255, 0, 0}, {0, 255, 0}, {0, 0, 255}};
  const auto rgba = WritePng(2, 1, PNG_COLOR_TYPE_RGBA, 8, {{10, 20, 30, 40, 200, 100, 50, 255}});
  const auto keyed = WritePng(2, 1, PNG_COLOR_TYPE_RGB, 8, {{1, 2, 3, 4, 5, 6}}, {}, {}, &key);
  const auto indexed = WritePng(3, 1, PNG_COLOR_TYPE_PALETTE, 8, {{0, 1, 2}}, pal, {0, 128});
  const auto grey1 = WritePng(8, 1, PNG_COLOR_TYPE_GRAY, 1, {{0xA0}});  // 1,0,1,0,...
  const auto grey2 = WritePng(4, 1, PNG_COLOR_TYPE_GRAY, 2, {{0x1B}});  // 0,1,2,3
  const auto grey4 = WritePng(2, 1, PNG_COLOR_TYPE_GRAY, 4, {{0x3F}});  // 3,15
  const auto rgba16 = WritePng(1, 1, PNG_COLOR_TYPE_RGBA, 16, {{0x12, 0xFF, 0x34, 0x00, 0x56, 0x80, 0x78, 0x01}});
  const auto rgb = WritePng(1, 1, PNG_COLOR_TYPE_RGB, 8, {{7, 8, 9}});
  const auto grey8 = WritePng(1, 1, PNG_COLOR_TYPE_GRAY, 8, {{0x42}});
  const auto greyA = WritePng(1, 1, PNG_COLOR_TYPE_GRAY_ALPHA, 8, {{0x42, 0x80}});
  const auto grey16 = WritePng(1, 1, PNG_COLOR_TYPE_GRAY, 16, {{0xAB, 0xCD}});
  struct Case { const char* what; const std::vector<unsigned char>& png; int x; uint32_t expect; };
  const Case cases[] = {
    {"rgba keeps straight alpha", rgba, 0, 0x280A141Eu},     {"rgba opaque", rgba, 1, 0xFFC86432u},
    {"rgb gets opaque alpha", rgb, 0, 0xFF070809u},           {"rgb colour key", keyed, 0, 0x00010203u},
    {"rgb other colour", keyed, 1, 0xFF040506u},              {"palette tRNS 0", indexed, 0, 0x00FF0000u},
    {"palette tRNS 128", indexed, 1, 0x8000FF00u},            {"palette past tRNS", indexed, 2, 0xFF0000FFu},
    {"grey1 on", grey1, 0, 0xFFFFFFFFu},                      {"grey1 off", grey1, 1, 0xFF000000u},
    {"grey2 1", grey2, 1, 0xFF555555u},                       {"grey2 2", grey2, 2, 0xFFAAAAAAu},
    {"grey4 3", grey4, 0, 0xFF333333u},                       {"grey4 15", grey4, 1, 0xFFFFFFFFu},
    {"grey8", grey8, 0, 0xFF424242u},                         {"grey alpha", greyA, 0, 0x80424242u},
    {"16-bit keeps the high byte", rgba16, 0, 0x78123456u},   {"grey16", grey16, 0, 0xFFABABABu},
  };
  for (const Case& c : cases)
  {
    auto bmp = Decode(c.png);
    ASSERT_TRUE(bmp) << c.what;
    EXPECT_EQ(Px(bmp.get(), c.x, 0), c.expect) << c.what;
  }
}

TEST(DecodePng, InterlacedAndWideImagesUseTheRowSpan)
{
  // Width 5 has a row span of 8 pixels; interlacing reorders the passes.
  Rows rows;
  for (int y = 0; y < 9; ++y)
  {
    std::vector<unsigned char> r;
    for (int x = 0; x < 5; ++x) r.insert(r.end(), {(unsigned char)x, (unsigned char)y, 7, 255});
    rows.push_back(r);
  }
  auto bmp = Decode(WritePng(5, 9, PNG_COLOR_TYPE_RGBA, 8, rows, {}, {}, nullptr, true));
  ASSERT_TRUE(bmp);
  EXPECT_EQ(bmp->getRowSpan(), 8);
  for (int y = 0; y < 9; ++y)
    for (int x = 0; x < 5; ++x) ASSERT_EQ(Px(bmp.get(), x, y), 0xFF000007u | (uint32_t)x << 16 | (uint32_t)y << 8);
}

TEST(DecodePng, BadDataGivesNullWithoutTouchingTheTarget)
{
  const auto good = WritePng(4, 4, PNG_COLOR_TYPE_RGB, 8, Rows(4, std::vector<unsigned char>(12, 9)));
  EXPECT_EQ(DecodePng(nullptr, 100, nullptr), nullptr);
  EXPECT_EQ(DecodePng(good.data(), 7, nullptr), nullptr);
  std::vector<unsigned char> badSig = good;
  badSig[1] = 'Q';
  EXPECT_EQ(Decode(badSig), nullptr);
  std::vector<unsigned char> badCrc = good;
  badCrc[29] ^= 0xFF;  // IHDR's CRC
  EXPECT_EQ(Decode(badCrc), nullptr);

  // Every truncation is safe; any that cuts into the image data fails.
  size_t idatEnd = 0;
  for (size_t i = 8; i + 8 <= good.size();)
  {
    const size_t len = (size_t)good[i] << 24 | good[i + 1] << 16 | good[i + 2] << 8 | good[i + 3];
    if (std::memcmp(&good[i + 4], "IDAT", 4) == 0) idatEnd = i + 12 + len;
    i += 12 + len;
  }
  ASSERT_GT(idatEnd, 0u);
  for (size_t n = 0; n < good.size(); ++n)
  {
    std::unique_ptr<LICE_MemBitmap> b(DecodePng(good.data(), n, nullptr));
    if (n < idatEnd)
    {
      EXPECT_EQ(b, nullptr) << n;
    }
  }

  // A header claiming an enormous image is refused before any pixel allocation.
  std::vector<unsigned char> huge = good;
  const unsigned char dims[8] = {0, 0x01, 0x86, 0xA0, 0, 0x01, 0x86, 0xA0};  // 100000 x 100000
  std::memcpy(&huge[16], dims, 8);
  const uint32_t crc = (uint32_t)crc32(crc32(0, nullptr, 0), &huge[12], 17);
  huge[29] = crc >> 24; huge[30] = crc >> 16; huge[31] = crc >> 8; huge[32] = (unsigned char)crc;
  EXPECT_EQ(Decode(huge), nullptr);

  // A target is resized and reused; on failure it is neither freed nor returned.
  LICE_MemBitmap target(1, 1);
  EXPECT_EQ(DecodePng(good.data(), good.size(), &target), &target);
  EXPECT_EQ(target.getWidth(), 4);
  EXPECT_EQ(DecodePng(badCrc.data(), badCrc.size(), &target), nullptr);
}

TEST(Bitmaps, MemBitmapAlignsAndGrowsButNeverShrinks)
{
  LICE_MemBitmap b;
  EXPECT_EQ(b.getBits(), nullptr);
  EXPECT_TRUE(b.resize(10, 10));
  EXPECT_EQ(reinterpret_cast<uintptr_t>(b.getBits()) % 64, 0u);
  EXPECT_EQ(b.getRowSpan(), 12);
  EXPECT_EQ(b.Capacity(), 10 * 12 * 4);
  EXPECT_FALSE(b.resize(10, 10));
  EXPECT_TRUE(b.resize(20, 20));
  EXPECT_EQ(b.Capacity(), 1600 / 4 * 5);
  EXPECT_TRUE(b.resize(3, 3));
  EXPECT_EQ(b.Capacity(), 2000);
  EXPECT_EQ(b.getRowSpan(), 4);
  EXPECT_TRUE(b.resize(0, 5));
  EXPECT_EQ(b.getWidth(), 0);
  EXPECT_EQ(b.getHeight(), 0);
  EXPECT_EQ(b.getBits(), nullptr);
  EXPECT_TRUE(b.resize(-4, 7));
  EXPECT_EQ(b.getBits(), nullptr);
  EXPECT_TRUE(b.resize(1 << 30, 1 << 30));  // beyond any int byte count: refused, not wrapped
  EXPECT_EQ(b.getWidth(), 0);
}

TEST(Bitmaps, SysBitmapReusesAllocationsThatFit)
{
  LICE_SysBitmap s(101, 50);
  EXPECT_EQ(s.getRowSpan(), 104);
  uint32_t* bits = s.getBits();
  ASSERT_NE(bits, nullptr);
  EXPECT_FALSE(s.resize(101, 50));
  EXPECT_TRUE(s.resize(40, 20));
  EXPECT_EQ(s.getBits(), bits);
  EXPECT_EQ(s.getRowSpan(), 104);
  EXPECT_TRUE(s.resize(105, 20));
  EXPECT_EQ(s.getRowSpan(), 108);
  EXPECT_FALSE(s.resize(0, 20));
  EXPECT_EQ(s.getBits(), nullptr);
  s.resize(-3, -3);
  EXPECT_EQ(s.getWidth(), 0);
  EXPECT_FALSE(s.isFlipped());
  // Sizes whose byte count no int can hold claim nothing and stay coherent.
  EXPECT_TRUE(s.resize(INT_MAX, INT_MAX));
  EXPECT_EQ(s.getWidth(), 0);
  EXPECT_EQ(s.getBits(), nullptr);
  EXPECT_GE(s.getRowSpan(), 0);
  EXPECT_TRUE(s.resize(INT_MAX - 1, 2));
  EXPECT_EQ(s.getBits(), nullptr);
}

namespace {

// Blits one source pixel over one destination pixel.
uint32_t Blend1(uint32_t src, uint32_t dst, float weight, int mode)
{
  LICE_MemBitmap s(1, 1), d(1, 1);
  s.getBits()[0] = src;
  d.getBits()[0] = dst;
  Blit(&d, &s, 0, 0, 0, 0, 1, 1, weight, mode);
  return d.getBits()[0];
}

}  // namespace

TEST(Blit, ChannelArithmeticTruncatesTowardZero)
{
  const int alpha = BlitCopy | BlitUseSourceAlpha;
  EXPECT_EQ(Blend1(0x00C8C8C8, 0xFF0A0A0A, 1.0f, alpha), 0xFF0A0A0Au);  // alpha 0: untouched
  EXPECT_EQ(Blend1(0xFF123456, 0x10ABCDEF, 1.0f, alpha), 0xFF123456u);  // alpha 255: replaced
  // Alpha 128 over opaque: red 200 + (10 - 200) * 127 / 256 = 200 - 94 (a shift would give -95),
  // blue 10 + (200 - 10) * 127 / 256 = 10 + 94.
  EXPECT_EQ(Blend1(0x80C8C80A, 0xFF0A0AC8, 1.0f, alpha), 0xFF6A6A68u);
  // Alpha 128 over transparent: alpha accumulates.
  EXPECT_EQ(Blend1(0x80000000, 0x00000000, 1.0f, alpha) >> 24, 0x80u);
  // Weight 0.25 (greyed): a = 64, b = 64 * 256 / 256 = 64; 200 + (-190 * 192) / 256 = 200 - 142.
  EXPECT_EQ(Blend1(0xFFC8C8C8, 0xFF0A0A0A, 0.25f, alpha), 0xFF3A3A3Au);
  EXPECT_EQ(Blend1(0xFFC8C8C8, 0x00000000, 0.25f, alpha) >> 24, 64u);
  EXPECT_EQ(Blend1(0xFFC8C8C8, 0xFF0A0A0A, 0.0f, alpha), 0xFF0A0A0Au);

  // Without source alpha: exact copy, the 0.5 average, and the general weight on all channels.
  EXPECT_EQ(Blend1(0x00123456, 0xFFFFFFFF, 1.0f, BlitCopy), 0x00123456u);
  EXPECT_EQ(Blend1(0xFF0000FF, 0x01FF0003, 0.5f, BlitCopy), 0x7F7F0080u);
  EXPECT_EQ(Blend1(0xC8C8C8C8, 0x0A0A0A0A, 0.25f, BlitCopy), 0x3A3A3A3Au);
  EXPECT_EQ(Blend1(0xC8C8C8C8, 0x0A0A0A0A, 0.001f, BlitCopy), 0x0A0A0A0Au);  // a < 1
  // Additive saturates; odd weights are clamped to a sane range.
  EXPECT_EQ(Blend1(0xFFF0F0F0, 0xFF202020, 1.0f, BlitAdd | BlitUseSourceAlpha), 0xFFFFFFFFu);
  EXPECT_EQ(Blend1(0xFF123456, 0xFF000000, std::nanf(""), alpha), 0xFF000000u);
  EXPECT_EQ(Blend1(0xFF123456, 0xFF000000, 7.0f, BlitCopy), 0xFF123456u);
}

TEST(Blit, ClipsToBothBitmaps)
{
  // Source pixels are coded by position; destination starts at 0.
  LICE_MemBitmap src(4, 4), dst(6, 6);
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 4; ++x) src.getBits()[y * src.getRowSpan() + x] = 0xFF000000u | (uint32_t)(y * 16 + x + 1);
  auto clear = [&] { for (int i = 0; i < dst.getRowSpan() * 6; ++i) dst.getBits()[i] = 0; };
  auto count = [&] { int n = 0; for (int y = 0; y < 6; ++y) for (int x = 0; x < 6; ++x) n += Px(&dst, x, y) != 0; return n; };

  clear();
  Blit(&dst, &src, -1, -2, 0, 0, 4, 4, 1.0f, BlitCopy);  // negative destination moves the source start
  EXPECT_EQ(Px(&dst, 0, 0), 0xFF000000u | (2 * 16 + 1 + 1));
  EXPECT_EQ(count(), 3 * 2);
  clear();
  Blit(&dst, &src, 1, 1, -1, -1, 10, 10, 1.0f, BlitCopy);  // negative source start moves the destination
  EXPECT_EQ(Px(&dst, 2, 2), 0xFF000001u);
  EXPECT_EQ(Px(&dst, 1, 1), 0u);
  EXPECT_EQ(count(), 4 * 4);
  clear();
  Blit(&dst, &src, 4, 5, 0, 0, 4, 4, 1.0f, BlitCopy);  // room to the right/bottom edge only
  EXPECT_EQ(count(), 2 * 1);
  clear();
  Blit(&dst, &src, INT32_MIN, INT32_MAX, INT32_MIN, INT32_MIN, INT32_MAX, INT32_MAX, 1.0f, BlitCopy);
  Blit(&dst, &src, INT32_MAX, 0, 0, 0, 4, 4, 1.0f, BlitCopy);
  Blit(&dst, nullptr, 0, 0, 0, 0, 4, 4, 1.0f, BlitCopy);
  EXPECT_EQ(count(), 0);
}

TEST(PngImage, SizeFromTheHeaderPixelsDecodedOnFirstUse)
{
  const auto good = WritePng(5, 3, PNG_COLOR_TYPE_RGBA, 8, Rows(3, std::vector<unsigned char>(20, 0x42)));
  std::unique_ptr<LICE_PngImage> img(LICE_PngImage::Open(good.data(), good.size()));
  ASSERT_NE(img, nullptr);
  EXPECT_EQ(img->getWidth() * 10 + img->getHeight(), 53);
  EXPECT_FALSE(img->IsDecoded());
  const auto ref = Decode(good);
  ASSERT_NE(img->getBits(), nullptr);
  EXPECT_TRUE(img->IsDecoded());
  EXPECT_EQ(img->getRowSpan(), ref->getRowSpan());
  for (int y = 0; y < 3; ++y)
    for (int x = 0; x < 5; ++x) EXPECT_EQ(Px(img.get(), x, y), Px(ref.get(), x, y));

  // No signature, no IHDR first, a size of 0, or cut short: refused at once.
  std::vector<unsigned char> noSig = good, noHeader = good, zeroWide = good;
  noSig[0] = 0;
  noHeader[12] = 'X';
  std::memset(&zeroWide[16], 0, 4);
  for (const auto* bad : {&noSig, &noHeader, &zeroWide})
    EXPECT_EQ(LICE_PngImage::Open(bad->data(), bad->size()), nullptr);
  EXPECT_EQ(LICE_PngImage::Open(good.data(), 28), nullptr);
  EXPECT_EQ(LICE_PngImage::Open(nullptr, 100), nullptr);
  // A sound header over broken data: the image turns empty when first used.
  std::vector<unsigned char> broken(good.begin(), good.begin() + 40);
  std::unique_ptr<LICE_PngImage> b(LICE_PngImage::Open(broken.data(), broken.size()));
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(b->getBits(), nullptr);
  EXPECT_EQ(b->getWidth() + b->getHeight() + b->getRowSpan(), 0);
}

TEST(BitmapCache, SameIdDecodesOnceAndFailuresAreRetried)
{
  TestPlug plug;
  TestGraphics g(&plug);
  g.pngs[20001] = WritePng(2, 6, PNG_COLOR_TYPE_RGBA, 8, Rows(6, std::vector<unsigned char>(8, 1)));
  const BitmapStrip a = g.LoadStrip(20001, "a.png", 3);
  const BitmapStrip b = g.LoadStrip(20001, "another/NAME.PNG", 2);
  ASSERT_NE(a.bitmap, nullptr);
  EXPECT_EQ(a.bitmap, b.bitmap);
  EXPECT_EQ(g.loads, 1);
  EXPECT_EQ(a.width, 2);
  EXPECT_EQ(a.height, 6);
  EXPECT_EQ(b.frameCount, 2);

  const int before = BitmapCache::Instance().Count();
  EXPECT_EQ(g.LoadStrip(20002, "missing.png", 1).bitmap, nullptr);
  EXPECT_EQ(g.LoadStrip(20002, "missing.png", 1).bitmap, nullptr);
  EXPECT_EQ(BitmapCache::Instance().Count(), before);  // failures are not stored
  g.pngs[20002] = g.pngs[20001];
  EXPECT_EQ(g.LoadStrip(20002, "bad.pngx", 1).bitmap, nullptr);  // extension checked
  EXPECT_NE(g.LoadStrip(20002, "now.png", 1).bitmap, nullptr);    // retried and found
}
