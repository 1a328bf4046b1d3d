#pragma once
// Editor host for platforms without a window system binding: images come from
// the table compiled into the library, there is never a window, and drawing
// happens only when asked (tools and tests call Redraw directly).

#include "graphics/IGraphics.h"

class IGraphicsHeadless : public IGraphics
{
public:
  IGraphicsHeadless(IPlugBase* plug, int width, int height, int frameRate)
    : IGraphics(plug, width, height, frameRate) {}

  bool PresentRect(const IRect&) override { return true; }
  const char* BackendName() const override { return "Headless"; }
  void* OpenWindow(void*) override { return nullptr; }
  void CloseWindow() override {}
  void* Window() override { return nullptr; }
  LICE_IBitmap* LoadImageResource(int resourceId, const char* name) override;
};

// True when the text after the name's last '.' is "png" in any case.
bool HasPngExtension(const char* name);

// Decodes the image compiled in for a resource id (a new bitmap), or null when
// the name has no "png" extension or there is no such image.
LICE_IBitmap* LoadEmbeddedImage(int resourceId, const char* name);
