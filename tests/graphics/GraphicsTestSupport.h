#pragma once
// Shared helpers: in-memory PNG writing, generated strips, a test plug-in and
// an editor host that serves generated images.

#include <png.h>

#include <functional>
#include <map>
#include <vector>

#include "framework/IPlugOffline.h"
#include "graphics/IControl.h"
#include "graphics/IGraphicsHeadless.h"

namespace gtest_support {

// PNG bytes for raw rows already packed in the PNG's own sample layout.
inline std::vector<unsigned char> WritePng(int w, int h, int colorType, int bitDepth,
                                          const std::vector<std::vector<unsigned char>>& rows,
                                          const std::vector<png_color>& palette = {},
                                          const std::vector<unsigned char>& trnsAlpha = {},
                                          const png_color_16* trnsColor = nullptr, bool interlace = false)
{
  std::vector<unsigned char> out;
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png_create_info_struct(png);
  png_set_write_fn(png, &out,
                   [](png_structp p, png_bytep d, png_size_t n) {
                     auto* v = static_cast<std::vector<unsigned char>*>(png_get_io_ptr(p));
                     v->insert(v->end(), d, d + n);
                   },
                   nullptr);
  png_set_IHDR(png, info, (png_uint_32)w, (png_uint_32)h, bitDepth, colorType,
               interlace ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
               PNG_FILTER_TYPE_DEFAULT);
  if (!palette.empty()) png_set_PLTE(png, info, palette.data(), (int)palette.size());
  if (!trnsAlpha.empty() || trnsColor)
    png_set_tRNS(png, info, trnsAlpha.empty() ? nullptr : trnsAlpha.data(), (int)trnsAlpha.size(), trnsColor);
  std::vector<png_bytep> ptrs;
  for (auto& r : rows) ptrs.push_back(const_cast<png_bytep>(r.data()));
  png_set_rows(png, info, ptrs.data());
  png_write_png(png, info, PNG_TRANSFORM_IDENTITY, nullptr);
  png_destroy_write_struct(&png, &info);
  return out;
}

inline uint32_t Px(LICE_IBitmap* b, int x, int y) { return b->getBits()[(size_t)y * b->getRowSpan() + x]; }

// A heap bitmap filled by f(x, y), placed in the module cache under a fresh id.
inline BitmapStrip MakeStrip(int w, int h, int frames, const std::function<uint32_t(int, int)>& f)
{
  static int nextId = 30000;
  auto* bmp = new LICE_MemBitmap(w, h);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) bmp->getBits()[(size_t)y * bmp->getRowSpan() + x] = f(x, y);
  const int id = nextId++;
  BitmapCache::Instance().Append(id, bmp);
  BitmapStrip s;
  s.bitmap = bmp;
  s.width = w;
  s.height = h;
  s.frameCount = frames;
  return s;
}

// Opaque strip whose frame k (0-based, stacked vertically) is filled with 0xFF000000 | k.
inline BitmapStrip FrameCodedStrip(int frameW, int frameH, int frames)
{
  return MakeStrip(frameW, frameH * frames, frames, [=](int, int y) { return 0xFF000000u | (uint32_t)(y / frameH); });
}

// A plug-in with one stepped, one continuous and one switch parameter.
class TestPlug : public IPlugOffline
{
public:
  enum { kStepped, kLevel, kSwitch, kCount };
  TestPlug() : IPlugOffline(IPlugInstanceInfo(), kCount, "2-2", 1, "Test", "", "Maker", 0x10000, 1, 2)
  {
    ParamAt(kStepped)->InitInteger("Stepped", 5, 0, 10);
    ParamAt(kLevel)->InitContinuous("Level", 0.0, -12.0, 12.0, 0.01);
    ParamAt(kSwitch)->InitInteger("Switch", 0, 0, 1);
  }
  void ParamChanged(int idx) override { changed.push_back(idx); }
  void ShowHostParamMenu(int idx, int x, int y) override { menus.push_back({idx, x, y}); }
  int Count(HostEvent::Kind k) const
  {
    int n = 0;
    for (auto& e : hostEvents) n += e.kind == k;
    return n;
  }
  std::vector<int> changed;
  struct Menu { int idx, x, y; };
  std::vector<Menu> menus;
};

// Editor host that decodes PNGs registered by id and records presented rectangles.
class TestGraphics : public IGraphicsHeadless
{
public:
  TestGraphics(IPlugBase* plug, int w = 200, int h = 100) : IGraphicsHeadless(plug, w, h, 25) {}
  LICE_IBitmap* LoadImageResource(int id, const char* name) override
  {
    ++loads;
    auto it = pngs.find(id);
    if (it == pngs.end() || !HasPngExtension(name)) return nullptr;
    return DecodePng(it->second.data(), it->second.size(), nullptr);
  }
  bool PresentRect(const IRect& r) override
  {
    presented.push_back(r);
    return true;
  }
  std::map<int, std::vector<unsigned char>> pngs;
  std::vector<IRect> presented;
  int loads = 0;
};

// A control that records what reaches it.
class ProbeControl : public IControl
{
public:
  ProbeControl(IPlugBase* plug, const IRect& r, int param) : IControl(plug, r, param) {}
  bool Paint(IGraphics*) override { ++paints; return true; }
  void MouseDown(int, int, const IMouseMod&) override { ++downs; }
  void MouseUp(int, int, const IMouseMod&) override { ++ups; }
  void MouseDrag(int, int, int dX, int dY, const IMouseMod&) override { drags.push_back({dX, dY}); }
  void MouseWheel(int, int, const IMouseMod&, int n) override { wheel += n; }
  bool KeyDown(int, int, int key) override { lastKey = key; return true; }
  int paints = 0, downs = 0, ups = 0, wheel = 0, lastKey = -1;
  std::vector<std::pair<int, int>> drags;
};

}  // namespace gtest_support
