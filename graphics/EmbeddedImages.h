#pragma once
// The editor's PNG files compiled into the program or module, for editor hosts
// without module resources. The table is not part of the graphics library: the
// plug-in generates it from its image table and links it in (talvor_images,
// plugin/CMakeLists.txt). An image that could not be embedded has no data.

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
