// Windows draw bitmap: a top-down 32-bit DIB section selected into its own
// memory device context. Compiled only for Windows builds.
#include <windows.h>

#include <cstdint>

#include "graphics/LICE.h"

LICE_SysBitmap::LICE_SysBitmap(int w, int h)
{
  dc = CreateCompatibleDC(nullptr);
  resize(w, h);
}

LICE_SysBitmap::~LICE_SysBitmap()
{
  if (dc)
  {
    if (oldObject) SelectObject(static_cast<HDC>(dc), static_cast<HGDIOBJ>(oldObject));
    DeleteDC(static_cast<HDC>(dc));
  }
  if (dib) DeleteObject(static_cast<HGDIOBJ>(dib));
}

void* LICE_SysBitmap::getDC()
{
  return dc;
}

bool LICE_SysBitmap::resize(int w, int h)
{
  if (!dc)
  {
    width = height = 0;
    bits = nullptr;
    return false;
  }
  if (w < 0) w = 0;
  if (h < 0) h = 0;
  if (w == width && h == height) return false;
  width = w;
  height = h;
  if (w != 0 && h != 0 && w <= allocWidth && h <= allocHeight && bits) return true;

  // A DIB section's byte count must fit a 32-bit size; the shared limit stays well below.
  allocWidth = SysBitmapRowSpan(w, h);
  allocHeight = allocWidth ? h : 0;
  if (oldObject) SelectObject(static_cast<HDC>(dc), static_cast<HGDIOBJ>(oldObject));
  oldObject = nullptr;
  if (dib) DeleteObject(static_cast<HGDIOBJ>(dib));
  dib = nullptr;
  bits = nullptr;
  if (w < 1 || h < 1) return false;
  if (!allocWidth)
  {
    // Beyond what GDI can address: an empty bitmap, as for a failed section.
    width = height = 0;
    return true;
  }

  BITMAPINFO info = {};
  info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
  info.bmiHeader.biWidth = allocWidth;
  info.bmiHeader.biHeight = isFlipped() ? allocHeight : -allocHeight;
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  void* pixels = nullptr;
  HBITMAP section = CreateDIBSection(static_cast<HDC>(dc), &info, DIB_RGB_COLORS, &pixels, nullptr, 0);
  if (!section || !pixels)
  {
    if (section) DeleteObject(section);
    width = height = 0;
    bits = nullptr;
    return true;
  }
  dib = section;
  bits = static_cast<uint32_t*>(pixels);
  oldObject = SelectObject(static_cast<HDC>(dc), section);
  return true;
}
