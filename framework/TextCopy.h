#pragma once
// The one bounded copy of a NUL-terminated text, for every fixed-size text of
// the framework and the bindings: records, preset names, host buffers, and the
// UTF-16 strings of VST3.
//
// At most capacity - 1 units are copied and the result is always terminated
// (nothing is written for a capacity below 1); a null source copies as the
// empty text. Texts are bytes: a byte widens to the unit of the same value,
// and a wider unit narrows to its low byte, so byte texts pass through UTF-16
// and back unchanged.

#include <cstddef>

template <typename Dest, typename Src>
int CopyText(Dest* dest, int capacity, const Src* src)
{
  if (!dest || capacity < 1) return 0;
  int n = 0;
  if (src)
  {
    for (; n < capacity - 1 && src[n]; ++n)
    {
      if constexpr (sizeof(Src) == 1)
        dest[n] = static_cast<Dest>(static_cast<unsigned char>(src[n]));
      else
        dest[n] = static_cast<Dest>(static_cast<unsigned char>(src[n] & 0xFF));
    }
  }
  dest[n] = 0;
  return n;
}

// The same into an array, bounded by its size.
template <typename Dest, size_t N, typename Src>
int CopyText(Dest (&dest)[N], const Src* src)
{
  static_assert(N <= 0x7FFFFFFF, "text buffer too large");
  return CopyText(static_cast<Dest*>(dest), static_cast<int>(N), src);
}
