// Portable draw bitmap for hosts without GDI: plain memory with the DIB-section
// sizing rules, so row spans and reuse behave the same on every platform.
#include <climits>
#include <cstdint>
#include <new>

#include "graphics/LICE.h"

namespace {
// Keeps one bitmap's storage within what an int byte count can address.
constexpr int64_t kMaxSysBitmapBytes = (int64_t)1 << 30;
}

LICE_SysBitmap::LICE_SysBitmap(int w, int h)
{
  resize(w, h);
}

LICE_SysBitmap::~LICE_SysBitmap()
{
  delete[] static_cast<uint32_t*>(dib);
}

void* LICE_SysBitmap::getDC()
{
  return nullptr;
}

bool LICE_SysBitmap::resize(int w, int h)
{
  // A negative size means no pixels at all.
  if (w < 0) w = 0;
  if (h < 0) h = 0;
  if (w == width && h == height) return false;
  width = w;
  height = h;
  if (w != 0 && h != 0 && w <= allocWidth && h <= allocHeight && bits) return true;

  const int64_t paddedWidth = ((int64_t)w + 3) & ~(int64_t)3;
  allocHeight = h;
  allocWidth = paddedWidth <= INT_MAX ? (int)paddedWidth : 0;
  delete[] static_cast<uint32_t*>(dib);
  dib = nullptr;
  bits = nullptr;
  if (w < 1 || h < 1) return false;

  // Divided rather than multiplied: the product of two huge sizes overflows.
  const bool fits = paddedWidth <= kMaxSysBitmapBytes / 4 / h;
  uint32_t* block = fits ? new (std::nothrow) uint32_t[(size_t)(paddedWidth * h)]() : nullptr;
  if (!block)
  {
    width = height = 0;
    allocWidth = allocHeight = 0;
    return true;
  }
  dib = block;
  bits = block;
  return true;
}
