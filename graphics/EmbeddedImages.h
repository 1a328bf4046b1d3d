#pragma once
// The editor's PNG files compiled into the library (generated at build time).
// An image whose file was missing when the library was built has no data.

#include <cstddef>

struct EmbeddedImage
{
  int resourceId;
  const char* name;
  const unsigned char* data;  // null when missing
  size_t size;
};

extern const EmbeddedImage kEmbeddedImages[];
extern const int kEmbeddedImageCount;

// The entry for a resource id, or null.
const EmbeddedImage* FindEmbeddedImage(int resourceId);
