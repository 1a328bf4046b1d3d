// Portable draw bitmap for hosts without GDI: plain memory with the DIB-section
// sizing rules, so row spans and reuse behave the same on every platform.
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

  allocHeight = h;
  allocWidth = (int)(((int64_t)w + 3) & ~(int64_t)3);
  delete[] static_cast<uint32_t*>(dib);
  dib = nullptr;
  bits = nullptr;
  if (w < 1 || h < 1) return false;

  const int64_t bytes = (int64_t)allocWidth * allocHeight * 4;
  uint32_t* block = bytes <= kMaxSysBitmapBytes ? new (std::nothrow) uint32_t[(size_t)bytes / 4]() : nullptr;
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
