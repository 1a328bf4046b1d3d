// LICE_PngImage: a PNG image held in memory, decoded when its pixels are
// first needed. An editor is built with every instance of the plug-in but
// drawn only when opened, so the image cache hands out these instead of
// decoded bitmaps: creating an instance reads only the images' headers.
#include "graphics/LICE.h"

#include <cstring>

namespace {

uint32_t BigEndian32(const unsigned char* p)
{
  return (uint32_t)p[0] << 24 | (uint32_t)p[1] << 16 | (uint32_t)p[2] << 8 | (uint32_t)p[3];
}

}  // namespace

LICE_PngImage* LICE_PngImage::Open(const unsigned char* data, size_t length)
{
  // The signature, then the IHDR chunk, which the format requires first:
  // length 13, type, width, height (big-endian, 1 to 2^31 - 1).
  static const unsigned char kSignature[8] = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
  if (!data || length < 8 + 8 + 13 || std::memcmp(data, kSignature, 8) != 0) return nullptr;
  if (BigEndian32(data + 8) != 13 || std::memcmp(data + 12, "IHDR", 4) != 0) return nullptr;
  const uint32_t w = BigEndian32(data + 16), h = BigEndian32(data + 20);
  if (w < 1 || h < 1 || w > INT32_MAX || h > INT32_MAX) return nullptr;
  return new LICE_PngImage(data, length, (int)w, (int)h);
}

LICE_PngImage::~LICE_PngImage() { delete decoded; }

LICE_MemBitmap* LICE_PngImage::Decoded()
{
  std::call_once(decodeOnce, [this] {
    decoded = DecodePng(data, length, nullptr);
    // An image whose data turns out broken, or not of its header's size, is
    // empty from then on: it draws nothing.
    if (decoded && (decoded->getWidth() != width || decoded->getHeight() != height))
    {
      delete decoded;
      decoded = nullptr;
    }
    if (!decoded) width = height = 0;
  });
  return decoded;
}

uint32_t* LICE_PngImage::getBits()
{
  LICE_MemBitmap* d = Decoded();
  return d ? d->getBits() : nullptr;
}

int LICE_PngImage::getRowSpan()
{
  LICE_MemBitmap* d = Decoded();
  return d ? d->getRowSpan() : 0;
}

bool LICE_PngImage::resize(int w, int h)
{
  LICE_MemBitmap* d = Decoded();
  if (!d || !d->resize(w, h)) return false;
  width = d->getWidth();
  height = d->getHeight();
  return true;
}
