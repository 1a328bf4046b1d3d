#pragma once
// The editor's pixel layer: bitmaps of 32-bit 0xAARRGGBB pixels (straight alpha,
// rows top-down), PNG decoding, the module-wide image cache, strips and blits.

#include <cstdint>

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
};

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
