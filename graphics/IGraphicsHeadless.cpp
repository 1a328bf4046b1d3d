#include "graphics/IGraphicsHeadless.h"

#include <cstring>

#include "graphics/EmbeddedImages.h"

bool HasPngExtension(const char* name)
{
  if (!name) return false;
  const char* dot = std::strrchr(name, '.');
  if (!dot) return false;
  const char* ext = dot + 1;
  if (std::strlen(ext) != 3) return false;
  return (ext[0] | 0x20) == 'p' && (ext[1] | 0x20) == 'n' && (ext[2] | 0x20) == 'g';
}

const EmbeddedImage* FindEmbeddedImage(int resourceId)
{
  for (int i = 0; i < kEmbeddedImageCount; ++i)
    if (kEmbeddedImages[i].resourceId == resourceId) return &kEmbeddedImages[i];
  return nullptr;
}

LICE_IBitmap* LoadEmbeddedImage(int resourceId, const char* name)
{
  if (!HasPngExtension(name)) return nullptr;
  // Resource ids are 16-bit, as in a Windows module.
  const EmbeddedImage* img = FindEmbeddedImage(resourceId & 0xFFFF);
  if (!img || !img->data || img->size < 8) return nullptr;
  // The array lives as long as the module: decoded when first drawn.
  return LICE_PngImage::Open(img->data, img->size);
}

LICE_IBitmap* IGraphicsHeadless::LoadImageResource(int resourceId, const char* name)
{
  return LoadEmbeddedImage(resourceId, name);
}

#if !defined(_WIN32) && !defined(TALVOR_X11_EDITOR)
IGraphics* MakePlatformGraphics(IPlugBase* plug, int width, int height, int frameRate)
{
  return new IGraphicsHeadless(plug, width, height, frameRate);
}
#endif
