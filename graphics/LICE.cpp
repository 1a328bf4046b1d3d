// Heap bitmaps, PNG decoding, the module-wide image cache and the blit.
#include "graphics/LICE.h"

#include <png.h>

#include <algorithm>
#include <climits>
#include <csetjmp>
#include <cstdlib>
#include <cstring>

// ---- LICE_MemBitmap ----------------------------------------------------------------

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

// ---- PNG decoding --------------------------------------------------------------------

namespace {

// Largest image decoded, in pixels: far above any editor artwork, low enough
// that a hostile header cannot demand gigabytes.
constexpr int64_t kMaxPngPixels = (int64_t)64 * 1024 * 1024;

struct PngJob
{
  const unsigned char* data;
  size_t length;
  size_t pos;
  png_structp png;
  png_infop info;
  LICE_MemBitmap* target;
  LICE_MemBitmap* bitmap;   // target, or a new bitmap owned by the job until success
  png_bytep* rows;
};

void PngRead(png_structp png, png_bytep out, png_size_t count)
{
  PngJob* job = static_cast<PngJob*>(png_get_io_ptr(png));
  std::memset(out, 0, count);
  const size_t remaining = job->length - job->pos;
  const size_t n = count < remaining ? count : remaining;
  if (n) std::memcpy(out, job->data + job->pos, n);
  job->pos += n;
}

// Errors unwind to the setjmp in PngDecodeSteps; warnings are ignored. Nothing is printed.
void PngError(png_structp png, png_const_charp)
{
  png_longjmp(png, 1);
}

void PngWarning(png_structp, png_const_charp) {}

// Only plain data lives in this frame, so unwinding it with longjmp is safe;
// everything that needs freeing is reachable from the job.
bool PngDecodeSteps(PngJob* job)
{
  if (setjmp(png_jmpbuf(job->png))) return false;

  png_set_read_fn(job->png, job, PngRead);
  png_read_info(job->png, job->info);

  png_uint_32 w = 0, h = 0;
  int bitDepth = 0, colorType = 0;
  png_get_IHDR(job->png, job->info, &w, &h, &bitDepth, &colorType, nullptr, nullptr, nullptr);
  if ((int64_t)w * (int64_t)h > kMaxPngPixels || w > (png_uint_32)INT_MAX || h > (png_uint_32)INT_MAX)
    return false;

  if (colorType == PNG_COLOR_TYPE_PALETTE) png_set_palette_to_rgb(job->png);
  if (colorType == PNG_COLOR_TYPE_GRAY && bitDepth < 8) png_set_expand_gray_1_2_4_to_8(job->png);
  if (png_get_valid(job->png, job->info, PNG_INFO_tRNS))
  {
    png_set_tRNS_to_alpha(job->png);
    colorType |= PNG_COLOR_MASK_ALPHA;
  }
  if (bitDepth == 16) png_set_strip_16(job->png);
  if (bitDepth < 8) png_set_packing(job->png);
  if (colorType == PNG_COLOR_TYPE_GRAY || colorType == PNG_COLOR_TYPE_GRAY_ALPHA)
    png_set_gray_to_rgb(job->png);
  if (colorType & PNG_COLOR_MASK_ALPHA)
    png_set_swap_alpha(job->png);
  else
    png_set_filler(job->png, 0xFF, PNG_FILLER_BEFORE);

  const int width = (int)w, height = (int)h;
  if (job->target)
  {
    job->bitmap = job->target;
    job->bitmap->resize(width, height);
  }
  else
  {
    job->bitmap = new LICE_MemBitmap();
    if (width > 0 && height > 0) job->bitmap->resize(width, height);
  }
  if (job->bitmap->getWidth() != width || job->bitmap->getHeight() != height) return false;

  unsigned char* bits = reinterpret_cast<unsigned char*>(job->bitmap->getBits());
  const size_t rowBytes = (size_t)job->bitmap->getRowSpan() * 4;
  job->rows = static_cast<png_bytep*>(std::malloc(sizeof(png_bytep) * (size_t)height));
  if (!job->rows) return false;
  for (int i = 0; i < height; ++i) job->rows[i] = bits + (size_t)i * rowBytes;
  png_read_image(job->png, job->rows);
  return true;
}

}  // namespace

LICE_MemBitmap* DecodePng(const unsigned char* data, size_t length, LICE_MemBitmap* target)
{
  if (!data || length < 8 || png_sig_cmp(data, 0, 8) != 0) return nullptr;

  PngJob job = {};
  job.data = data;
  job.length = length;
  job.target = target;
  job.png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, PngError, PngWarning);
  if (!job.png) return nullptr;
  job.info = png_create_info_struct(job.png);
  if (!job.info)
  {
    png_destroy_read_struct(&job.png, nullptr, nullptr);
    return nullptr;
  }

  const bool ok = PngDecodeSteps(&job);
  png_destroy_read_struct(&job.png, &job.info, nullptr);
  std::free(job.rows);
  if (!ok)
  {
    if (job.bitmap != job.target) delete job.bitmap;
    return nullptr;
  }

  // Bytes arrive as alpha, red, green, blue; store them as 0xAARRGGBB words.
  LICE_MemBitmap* bmp = job.bitmap;
  const int w = bmp->getWidth(), h = bmp->getHeight(), span = bmp->getRowSpan();
  uint32_t* bits = bmp->getBits();
  for (int y = 0; y < h; ++y)
  {
    uint32_t* row = bits + (size_t)y * span;
    for (int x = 0; x < w; ++x)
    {
      const unsigned char* p = reinterpret_cast<const unsigned char*>(row + x);
      row[x] = ((uint32_t)p[0] << 24) | ((uint32_t)p[1] << 16) | ((uint32_t)p[2] << 8) | (uint32_t)p[3];
    }
  }
  return bmp;
}

// ---- BitmapCache -----------------------------------------------------------------------

BitmapCache& BitmapCache::Instance()
{
  static BitmapCache cache;
  return cache;
}

BitmapCache::~BitmapCache()
{
  for (Entry& e : entries) delete e.bitmap;
}

LICE_IBitmap* BitmapCache::Find(int resourceId)
{
  std::lock_guard<std::mutex> hold(lock);
  for (const Entry& e : entries)
    if (e.resourceId == resourceId && e.bitmap) return e.bitmap;
  return nullptr;
}

void BitmapCache::Append(int resourceId, LICE_IBitmap* bitmap)
{
  if (!bitmap) return;
  std::lock_guard<std::mutex> hold(lock);
  entries.push_back({resourceId, bitmap});
}

int BitmapCache::Count()
{
  std::lock_guard<std::mutex> hold(lock);
  return (int)entries.size();
}

// ---- Blit ----------------------------------------------------------------------------------

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
