#pragma once
// The heap this process holds, for the benchmarks' per-instance memory
// figures: glibc's count of bytes in use; 0 where the C library has none.

#include <cstddef>
#if defined(__GLIBC__)
#include <malloc.h>
#endif

inline size_t HeapInUse()
{
#if defined(__GLIBC__)
  const struct mallinfo2 m = mallinfo2();
  return m.uordblks + m.hblkhd;
#else
  return 0;
#endif
}
