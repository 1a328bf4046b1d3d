// Blit and PixelCombineSourceAlpha: the one copy/blend with which every control
// frame reaches the draw bitmap.
#include "graphics/LICE.h"

#include <algorithm>
#include <cstring>

namespace {

inline int Ch(uint32_t p, int shift) { return (int)((p >> shift) & 0xFF); }

inline uint32_t Pack(int a, int r, int g, int b)
{
  return ((uint32_t)(a & 0xFF) << 24) | ((uint32_t)(r & 0xFF) << 16) | ((uint32_t)(g & 0xFF) << 8) |
         (uint32_t)(b & 0xFF);
}

// Moves d toward s: s + (d - s) * k / 256, with C's truncating division.
inline int Mix(int s, int d, int k) { return s + (d - s) * k / 256; }

inline int Sat(int v) { return v < 0 ? 0 : (v > 255 ? 255 : v); }

inline int Dodge(int d, int v)
{
  // v is the weighted source channel 0..255; 255 saturates.
  const int denom = 256 - v;
  return denom <= 0 ? 255 : Sat(d * 256 / denom);
}

}  // namespace

void PixelCombineSourceAlpha(int b, int g, int r, int a, uint32_t* dest)
{
  if (a == 0) return;
  if (a == 255)
  {
    *dest = Pack(255, r, g, b);
    return;
  }
  const uint32_t d = *dest;
  const int da = std::min(255, Ch(d, 24) + a);
  const int k = 255 - a;
  *dest = Pack(da, r + (Ch(d, 16) - r) * k / 256, g + (Ch(d, 8) - g) * k / 256, b + (Ch(d, 0) - b) * k / 256);
}

void Blit(LICE_IBitmap* dest, LICE_IBitmap* src, int dstX, int dstY, int srcL, int srcT, int srcR,
          int srcB, float weight, int mode)
{
  if (!dest || !src || weight == 0.0f) return;
  if (!(weight > 0.0f)) return;  // negative or NaN
  if (weight > 1.0f) weight = 1.0f;

  // 64-bit throughout so that extreme coordinates cannot overflow.
  int64_t sl = srcL, st = srcT, sr = srcR, sb = srcB, dx = dstX, dy = dstY;
  const int64_t sw = src->getWidth(), sh = src->getHeight();
  const int64_t dw = dest->getWidth(), dh = dest->getHeight();
  if (sr > sw) sr = sw;
  if (sb > sh) sb = sh;
  if (sl < 0) { dx -= sl; sl = 0; }
  if (st < 0) { dy -= st; st = 0; }
  if (dx < 0) { sl -= dx; dx = 0; }
  if (dy < 0) { st -= dy; dy = 0; }
  const int64_t cw = std::min(sr - sl, dw - dx);
  const int64_t ch = std::min(sb - st, dh - dy);
  if (cw <= 0 || ch <= 0) return;

  uint32_t* sbits = src->getBits();
  uint32_t* dbits = dest->getBits();
  if (!sbits || !dbits) return;
  const int64_t sspan = src->getRowSpan(), dspan = dest->getRowSpan();
  const bool sflip = src->isFlipped(), dflip = dest->isFlipped();
  const int w = (int)cw;
  const int a = (int)(weight * 256.0f);
  const bool useAlpha = (mode & BlitUseSourceAlpha) != 0;
  const int kind = mode & 0xFFFF;

  for (int64_t y = 0; y < ch; ++y)
  {
    const int64_t srow = sflip ? sh - 1 - (st + y) : st + y;
    const int64_t drow = dflip ? dh - 1 - (dy + y) : dy + y;
    const uint32_t* s = sbits + srow * sspan + sl;
    uint32_t* d = dbits + drow * dspan + dx;

    if (kind == BlitAdd || kind == BlitDodge)
    {
      for (int x = 0; x < w; ++x)
      {
        const uint32_t sp = s[x];
        const int sa = Ch(sp, 24);
        int b = a;
        if (useAlpha)
        {
          if (sa == 0) continue;
          b = a * (sa + 1) / 256;
        }
        const uint32_t dp = d[x];
        if (kind == BlitAdd)
        {
          d[x] = Pack(Sat(Ch(dp, 24) + sa * b / 256), Sat(Ch(dp, 16) + Ch(sp, 16) * b / 256),
                      Sat(Ch(dp, 8) + Ch(sp, 8) * b / 256), Sat(Ch(dp, 0) + Ch(sp, 0) * b / 256));
        }
        else
        {
          d[x] = Pack(std::min(255, Ch(dp, 24) + b), Dodge(Ch(dp, 16), Ch(sp, 16) * b / 256),
                      Dodge(Ch(dp, 8), Ch(sp, 8) * b / 256), Dodge(Ch(dp, 0), Ch(sp, 0) * b / 256));
        }
      }
      continue;
    }

    if (!useAlpha)
    {
      if (weight == 1.0f || a == 256)
      {
        std::memcpy(d, s, (size_t)w * 4);
      }
      else if (weight == 0.5f)
      {
        for (int x = 0; x < w; ++x) d[x] = ((d[x] >> 1) & 0x7F7F7F7Fu) + ((s[x] >> 1) & 0x7F7F7F7Fu);
      }
      else if (a >= 1)
      {
        const int k = 256 - a;
        for (int x = 0; x < w; ++x)
        {
          const uint32_t sp = s[x], dp = d[x];
          d[x] = Pack(Mix(Ch(sp, 24), Ch(dp, 24), k), Mix(Ch(sp, 16), Ch(dp, 16), k),
                      Mix(Ch(sp, 8), Ch(dp, 8), k), Mix(Ch(sp, 0), Ch(dp, 0), k));
        }
      }
      continue;
    }

    if (a == 256)
    {
      for (int x = 0; x < w; ++x)
      {
        const uint32_t sp = s[x];
        PixelCombineSourceAlpha(Ch(sp, 0), Ch(sp, 8), Ch(sp, 16), Ch(sp, 24), d + x);
      }
    }
    else
    {
      for (int x = 0; x < w; ++x)
      {
        const uint32_t sp = s[x];
        const int sa = Ch(sp, 24);
        if (sa == 0) continue;
        const int b = a * (sa + 1) / 256;
        const int k = 256 - b;
        const uint32_t dp = d[x];
        d[x] = Pack(std::min(255, Ch(dp, 24) + b), Mix(Ch(sp, 16), Ch(dp, 16), k), Mix(Ch(sp, 8), Ch(dp, 8), k),
                    Mix(Ch(sp, 0), Ch(dp, 0), k));
      }
    }
  }
}
