// DecodePng: PNG bytes held in memory to 0xAARRGGBB pixels, through libpng's
// read API.
#include "graphics/LICE.h"

#include <png.h>

#include <climits>
#include <csetjmp>
#include <cstdlib>
#include <cstring>

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
