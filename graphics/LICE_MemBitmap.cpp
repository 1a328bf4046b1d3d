// LICE_MemBitmap: pixels in heap memory, 64-byte aligned, rows padded to a
// multiple of 4 pixels; the buffer grows by a quarter and never shrinks.
#include "graphics/LICE.h"

#include <climits>
#include <cstdlib>

LICE_MemBitmap::LICE_MemBitmap(int w, int h)
{
  resize(w, h);
}

LICE_MemBitmap::~LICE_MemBitmap()
{
  std::free(buffer);
}

uint32_t* LICE_MemBitmap::getBits()
{
  if (!buffer) return nullptr;
  // Pixel data starts at the first 64-byte boundary inside the allocation.
  const uintptr_t p = reinterpret_cast<uintptr_t>(buffer);
  return reinterpret_cast<uint32_t*>((p + 63) & ~(uintptr_t)63);
}

bool LICE_MemBitmap::resize(int w, int h)
{
  if (w == width && h == height) return false;
  width = w;
  height = h;

  // Sizes whose byte count does not fit an int (with the alignment slack and
  // the growth quarter) are refused rather than wrapped.
  const int64_t span = ((int64_t)w + rowAlignMask) & ~(int64_t)rowAlignMask;
  const int64_t needed64 = (int64_t)h * span * 4;
  const bool representable = w > 0 && h > 0 && needed64 > 0 && needed64 <= (int64_t)INT_MAX - 63;

  if (representable)
  {
    const int needed = (int)needed64;
    if (!buffer)
    {
      buffer = static_cast<unsigned char*>(std::malloc((size_t)needed + 63));
      capacity = buffer ? needed : 0;
    }
    else if (capacity < needed)
    {
      int64_t grown = (int64_t)(needed / 4) * 5;
      if (grown > (int64_t)INT_MAX - 63) grown = needed;
      void* moved = std::realloc(buffer, (size_t)grown + 63);
      if (moved)
      {
        buffer = static_cast<unsigned char*>(moved);
        capacity = (int)grown;
      }
      else
      {
        std::free(buffer);
        buffer = static_cast<unsigned char*>(std::malloc((size_t)needed + 63));
        capacity = buffer ? needed : 0;
      }
    }
  }
  else
  {
    std::free(buffer);
    buffer = nullptr;
    capacity = 0;
  }

  if (!buffer) width = height = 0;
  return true;
}
