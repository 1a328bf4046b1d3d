// BitmapCache: the module-wide list of decoded images, guarded by its own lock.
#include "graphics/LICE.h"

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
