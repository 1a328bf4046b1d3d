// Portable draw bitmap for hosts without GDI: plain memory with the DIB-section
// sizing rules, so row spans and reuse behave the same on every platform.
#include <cstdint>
#include <new>

#include "graphics/LICE.h"

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

  allocWidth = SysBitmapRowSpan(w, h);
  allocHeight = allocWidth ? h : 0;
  delete[] static_cast<uint32_t*>(dib);
  dib = nullptr;
  bits = nullptr;
  if (w < 1 || h < 1) return false;

  uint32_t* block = allocWidth ? new (std::nothrow) uint32_t[(size_t)allocWidth * (size_t)h]() : nullptr;
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
