// ResampleRect: how a scaled editor gets its images to the exact size of the
// screen's pixels. Separable: each axis has its own list of source taps per
// destination pixel.
#include <cmath>
#include <vector>

#include "graphics/LICE.h"

namespace {

struct AxisTaps
{
  std::vector<int> first;     // per destination pixel: its first tap
  std::vector<int> index;     // source pixel of each tap
  std::vector<float> weight;  // the taps of one destination pixel sum to 1
};

// Shrinking: each destination pixel averages the source span it covers, partly
// covered source pixels by the part. Growing: linear between the centres of the
// two nearest source pixels, held at the edges.
AxisTaps MakeTaps(int n, int m)
{
  AxisTaps t;
  t.first.reserve((size_t)m + 1);
  const double ratio = (double)n / m;
  for (int i = 0; i < m; ++i)
  {
    t.first.push_back((int)t.index.size());
    if (m == n)
    {
      t.index.push_back(i);
      t.weight.push_back(1.0f);
    }
    else if (m < n)
    {
      const double a = i * ratio, b = (i + 1) * ratio;
      for (int j = (int)a; j < n && j < b; ++j)
      {
        const double cover = std::fmin(b, j + 1.0) - std::fmax(a, (double)j);
        if (cover <= 0.0) continue;
        t.index.push_back(j);
        t.weight.push_back((float)(cover / ratio));
      }
    }
    else
    {
      const double u = (i + 0.5) * ratio - 0.5;
      const int j = (int)std::floor(u);
      const float f = (float)(u - j);
      t.index.push_back(j < 0 ? 0 : j);
      t.weight.push_back(1.0f - f);
      t.index.push_back(j + 1 > n - 1 ? n - 1 : j + 1);
      t.weight.push_back(f);
    }
  }
  t.first.push_back((int)t.index.size());
  return t;
}

}  // namespace

bool ResampleRect(LICE_IBitmap* dest, LICE_IBitmap* src, int srcL, int srcT, int srcW, int srcH)
{
  if (!dest || !src || srcW <= 0 || srcH <= 0 || srcL < 0 || srcT < 0) return false;
  const int dw = dest->getWidth(), dh = dest->getHeight();
  if (dw <= 0 || dh <= 0 || (int64_t)srcL + srcW > src->getWidth() || (int64_t)srcT + srcH > src->getHeight())
    return false;
  const uint32_t* sbits = src->getBits();
  uint32_t* dbits = dest->getBits();
  if (!sbits || !dbits) return false;
  const int sspan = src->getRowSpan(), dspan = dest->getRowSpan();

  const AxisTaps tx = MakeTaps(srcW, dw), ty = MakeTaps(srcH, dh);
  // Horizontal pass into premultiplied floats, source rows by destination columns.
  std::vector<float> rows((size_t)srcH * dw * 4);
  for (int y = 0; y < srcH; ++y)
  {
    const uint32_t* s = sbits + (size_t)(srcT + y) * sspan + srcL;
    float* out = &rows[(size_t)y * dw * 4];
    for (int x = 0; x < dw; ++x, out += 4)
    {
      float a = 0, r = 0, g = 0, b = 0;
      for (int k = tx.first[(size_t)x]; k < tx.first[(size_t)x + 1]; ++k)
      {
        const uint32_t p = s[tx.index[(size_t)k]];
        const float pa = (float)(p >> 24) * tx.weight[(size_t)k];
        a += pa;
        r += (float)((p >> 16) & 0xFF) * pa;
        g += (float)((p >> 8) & 0xFF) * pa;
        b += (float)(p & 0xFF) * pa;
      }
      out[0] = a;
      out[1] = r;
      out[2] = g;
      out[3] = b;
    }
  }
  // Vertical pass, then back to straight alpha.
  for (int y = 0; y < dh; ++y)
  {
    uint32_t* d = dbits + (size_t)y * dspan;
    for (int x = 0; x < dw; ++x)
    {
      float a = 0, r = 0, g = 0, b = 0;
      for (int k = ty.first[(size_t)y]; k < ty.first[(size_t)y + 1]; ++k)
      {
        const float* p = &rows[((size_t)ty.index[(size_t)k] * dw + x) * 4];
        const float w = ty.weight[(size_t)k];
        a += p[0] * w;
        r += p[1] * w;
        g += p[2] * w;
        b += p[3] * w;
      }
      if (a < 0.5f)
      {
        d[x] = 0;
        continue;
      }
      auto channel = [a](float v) {
        const float c = v / a + 0.5f;
        return (uint32_t)(c >= 255.0f ? 255.0f : c);
      };
      const uint32_t ia = (uint32_t)(a + 0.5f > 255.0f ? 255.0f : a + 0.5f);
      d[x] = ia << 24 | channel(r) << 16 | channel(g) << 8 | channel(b);
    }
  }
  return true;
}
