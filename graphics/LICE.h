#pragma once
// The editor's pixel layer: bitmaps of 32-bit 0xAARRGGBB pixels (straight alpha,
// rows top-down), PNG decoding, the module-wide image cache, strips and blits.

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <vector>

class LICE_IBitmap
{
public:
  virtual ~LICE_IBitmap() = default;
  virtual uint32_t* getBits() = 0;
  virtual int getWidth() = 0;
  virtual int getHeight() = 0;
  virtual int getRowSpan() = 0;  // in pixels
  virtual bool isFlipped() { return false; }
  virtual bool resize(int w, int h) = 0;
  virtual void* getDC() { return nullptr; }
  virtual intptr_t Extended(int /*code*/, void* /*arg*/) { return 0; }
};

class LICE_MemBitmap : public LICE_IBitmap
{
public:
  LICE_MemBitmap() = default;
  LICE_MemBitmap(int w, int h);
  ~LICE_MemBitmap() override;
  LICE_MemBitmap(const LICE_MemBitmap&) = delete;
  LICE_MemBitmap& operator=(const LICE_MemBitmap&) = delete;

  uint32_t* getBits() override;
  int getWidth() override { return width; }
  int getHeight() override { return height; }
  int getRowSpan() override { return (width + rowAlignMask) & ~rowAlignMask; }
  bool resize(int w, int h) override;
  int Capacity() const { return capacity; }

private:
  unsigned char* buffer = nullptr;
  int width = 0, height = 0;
  int capacity = 0;
  int rowAlignMask = 3;
};

struct BitmapStrip
{
  LICE_IBitmap* bitmap = nullptr;  // owned by the BitmapCache
  int width = 0;
  int height = 0;
  int frameCount = 0;
  bool framesAreHorizontal = false;
  // Where the bitmap came from, so that a scaled editor can find the same
  // image at twice the size (resourceId + kHiResImageIdOffset) when it needs it.
  int resourceId = 0;
  const char* name = nullptr;
};

// Resamples the source rectangle [srcL, srcL + srcW) x [srcT, srcT + srcH) of
// `src` to dest's whole size: averaging the covered area on an axis that
// shrinks, interpolating linearly between pixel centres on one that grows.
// Works on premultiplied colour, so clear pixels lend no colour to their
// neighbours. False (dest untouched) when a size is not positive or the
// rectangle leaves the source.
bool ResampleRect(LICE_IBitmap* dest, LICE_IBitmap* src, int srcL, int srcT, int srcW, int srcH);

enum BlendMethod : int
{
  BlendDefault = 0,
  BlendOpaque = 1,
  BlendAdditive = 2,
  BlendDodge = 3,
};

struct ChannelBlend
{
  int method = BlendDefault;
  float weight = 1.0f;
  ChannelBlend() = default;
  ChannelBlend(int m, float w) : method(m), weight(w) {}
};

enum BlitMode : int
{
  BlitCopy = 0,
  BlitAdd = 1,
  BlitDodge = 2,
  BlitUseSourceAlpha = 0x10000,
};

// The editor's draw bitmap. On Windows a GDI DIB section selected into its own
// memory device context (so painting is one BitBlt); elsewhere plain memory with
// the same sizing rules: the allocated width is a multiple of 4 and is the row
// span, and a resize that fits the allocation reuses it.
// Largest pixel block a draw bitmap claims, in bytes.
constexpr int64_t kMaxSysBitmapBytes = (int64_t)1 << 30;

// Row span of a draw bitmap of w × h pixels (w >= 0): w rounded up to a multiple
// of 4, or 0 when the pixels would not fit kMaxSysBitmapBytes. Divided rather
// than multiplied: the product of two huge sizes overflows.
inline int SysBitmapRowSpan(int w, int h)
{
  const int64_t span = ((int64_t)w + 3) & ~(int64_t)3;
  return span * 4 <= kMaxSysBitmapBytes / (h > 0 ? h : 1) ? (int)span : 0;
}

class LICE_SysBitmap : public LICE_IBitmap
{
public:
  LICE_SysBitmap(int w = 0, int h = 0);
  ~LICE_SysBitmap() override;
  LICE_SysBitmap(const LICE_SysBitmap&) = delete;
  LICE_SysBitmap& operator=(const LICE_SysBitmap&) = delete;

  uint32_t* getBits() override { return bits; }
  int getWidth() override { return width; }
  int getHeight() override { return height; }
  int getRowSpan() override { return allocWidth; }
  bool resize(int w, int h) override;
  void* getDC() override;  // the HDC on Windows, null elsewhere

  int AllocatedWidth() const { return allocWidth; }
  int AllocatedHeight() const { return allocHeight; }

private:
  int width = 0, height = 0;
  [[maybe_unused]] void* dc = nullptr;        // Windows: memory HDC. Elsewhere: unused (always null).
  uint32_t* bits = nullptr;
  int allocWidth = 0, allocHeight = 0;
  void* dib = nullptr;       // Windows: HBITMAP. Elsewhere: the owned pixel block.
  [[maybe_unused]] void* oldObject = nullptr; // Windows: object selected before the DIB section.
};

// A PNG image in memory that stays in memory (module resources, compiled-in
// arrays), decoded into a LICE_MemBitmap when its pixels or row span are first
// asked for; its size comes from the header at once. Decoding happens once,
// whichever thread asks first. Should the data not decode after all, the
// image becomes empty (0 x 0, no pixels).
class LICE_PngImage : public LICE_IBitmap
{
public:
  // Null unless the data starts with the PNG signature and a sane header.
  static LICE_PngImage* Open(const unsigned char* data, size_t length);
  ~LICE_PngImage() override;
  LICE_PngImage(const LICE_PngImage&) = delete;
  LICE_PngImage& operator=(const LICE_PngImage&) = delete;

  uint32_t* getBits() override;
  int getWidth() override { return width; }
  int getHeight() override { return height; }
  int getRowSpan() override;
  bool resize(int w, int h) override;
  bool IsDecoded() const { return decoded != nullptr; }

private:
  LICE_PngImage(const unsigned char* data, size_t length, int w, int h)
    : data(data), length(length), width(w), height(h) {}
  LICE_MemBitmap* Decoded();

  const unsigned char* data;
  size_t length;
  int width, height;
  std::once_flag decodeOnce;
  LICE_MemBitmap* decoded = nullptr;
};

// Decodes PNG bytes held in memory into 0xAARRGGBB pixels. With a target, decodes
// into it (and returns it); otherwise returns a new bitmap the caller owns.
// Any failure returns null; a new bitmap is then freed, a target is left as is.
LICE_MemBitmap* DecodePng(const unsigned char* data, size_t length, LICE_MemBitmap* target);

// Copies or blends the source rectangle [srcL, srcR) x [srcT, srcB) of `src`
// onto `dest` at (dstX, dstY). `mode` is one of BlitCopy / BlitAdd / BlitDodge,
// optionally or-ed with BlitUseSourceAlpha. Everything is clipped to both bitmaps.
void Blit(LICE_IBitmap* dest, LICE_IBitmap* src, int dstX, int dstY, int srcL, int srcT,
          int srcR, int srcB, float weight, int mode);

// Blends one source pixel (straight alpha) over a destination pixel.
void PixelCombineSourceAlpha(int b, int g, int r, int a, uint32_t* dest);

// Process-wide list of decoded images by resource id. Entries are only appended;
// the bitmaps live until static destruction. Thread-safe.
class BitmapCache
{
public:
  static BitmapCache& Instance();

  // The first cached bitmap for the id, or null.
  LICE_IBitmap* Find(int resourceId);
  // Takes ownership of the bitmap. Null bitmaps are not stored, so a failed
  // load is retried later without growing the list.
  void Append(int resourceId, LICE_IBitmap* bitmap);
  int Count();

  ~BitmapCache();
  BitmapCache(const BitmapCache&) = delete;
  BitmapCache& operator=(const BitmapCache&) = delete;

private:
  BitmapCache() = default;
  struct Entry
  {
    int resourceId;
    LICE_IBitmap* bitmap;
  };
  std::mutex lock;
  std::vector<Entry> entries;
};
