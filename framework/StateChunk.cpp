#include "framework/StateChunk.h"

#include <climits>
#include <cstdlib>
#include <cstring>

namespace
{
constexpr int64_t kPage = 4096;
constexpr int64_t kMaxHeadroom = 4 * 1024 * 1024;
// Allocators keep a little bookkeeping in front of a block; sizing the block so
// that it plus that overhead fills whole pages wastes nothing.
constexpr int64_t kAllocatorOverhead = 96;

// Whether `width` bytes at `pos` lie wholly inside a chunk of `size` bytes.
bool Inside(int pos, int64_t width, int size)
{
  return pos >= 0 && (int64_t)pos + width <= (int64_t)size;
}
}  // namespace

StateChunk::~StateChunk() { std::free(data); }

void StateChunk::Clear()
{
  std::free(data);
  data = nullptr;
  size = 0;
  capacity = 0;
}

bool StateChunk::Reserve(int needed)
{
  if (needed <= capacity) return true;
  int64_t headroom = needed / 2;
  if (headroom < kPage) headroom = kPage;
  if (headroom > kMaxHeadroom) headroom = kMaxHeadroom;
  headroom -= headroom % kPage;
  int64_t total = (int64_t)needed + headroom;
  total = ((total + kAllocatorOverhead) / kPage) * kPage - kAllocatorOverhead;
  if (total < needed || total > INT_MAX) total = needed;

  void* grown = std::realloc(data, (size_t)total);
  if (!grown) return false;  // the old block and its contents stay as they were
  data = (uint8_t*)grown;
  capacity = (int)total;
  return true;
}

bool StateChunk::Resize(int newSize)
{
  if (newSize < 0) return false;
  if (newSize > size)
  {
    if (!Reserve(newSize)) return false;
    std::memset(data + size, 0, (size_t)(newSize - size));
  }
  size = newSize;
  return true;
}

int StateChunk::PutBytes(const void* bytes, int count)
{
  if (count <= 0 || !bytes) return size;
  if (count > INT_MAX - size) return size;
  // Appending a chunk to itself: remember where the source lies in case the
  // buffer moves while it grows.
  const uintptr_t from = (uintptr_t)bytes, begin = (uintptr_t)data;
  const bool self = data && from >= begin && from < begin + (uintptr_t)size;
  const size_t selfOffset = self ? (size_t)(from - begin) : 0;
  if (!Reserve(size + count)) return size;
  const void* source = self ? (const void*)(data + selfOffset) : bytes;
  std::memcpy(data + size, source, (size_t)count);
  size += count;
  return size;
}

int StateChunk::PutInt32(int32_t v)
{
  const uint32_t u = (uint32_t)v;
  const uint8_t bytes[4] = {(uint8_t)u, (uint8_t)(u >> 8), (uint8_t)(u >> 16), (uint8_t)(u >> 24)};
  return PutBytes(bytes, 4);
}

int StateChunk::PutDouble(double v)
{
  uint64_t u;
  std::memcpy(&u, &v, 8);
  uint8_t bytes[8];
  for (int i = 0; i < 8; ++i) bytes[i] = (uint8_t)(u >> (8 * i));
  return PutBytes(bytes, 8);
}

int StateChunk::PutBool(bool v)
{
  const uint8_t byte = v ? 1 : 0;
  return PutBytes(&byte, 1);
}

int StateChunk::PutString(const char* text)
{
  if (!text) text = "";
  const size_t length = std::strlen(text);
  if (length > (size_t)(INT_MAX - 4) || (int64_t)size + 4 + (int64_t)length > INT_MAX) return size;
  // Reserve the whole string first so that a failed write never leaves a length
  // without its bytes.
  if (!Reserve(size + 4 + (int)length)) return size;
  PutInt32((int32_t)length);
  return PutBytes(text, (int)length);
}

int StateChunk::PutChunk(const StateChunk& other) { return PutBytes(other.data, other.size); }

int StateChunk::GetInt32(int32_t* out, int pos) const
{
  if (!Inside(pos, 4, size)) return -1;
  const uint8_t* p = data + pos;
  const uint32_t u = (uint32_t)p[0] | ((uint32_t)p[1] << 8) | ((uint32_t)p[2] << 16) | ((uint32_t)p[3] << 24);
  if (out) *out = (int32_t)u;
  return pos + 4;
}

int StateChunk::GetDouble(double* out, int pos) const
{
  if (!Inside(pos, 8, size)) return -1;
  uint64_t u = 0;
  for (int i = 0; i < 8; ++i) u |= (uint64_t)data[pos + i] << (8 * i);
  if (out) std::memcpy(out, &u, 8);
  return pos + 8;
}

int StateChunk::GetBool(bool* out, int pos) const
{
  if (!Inside(pos, 1, size)) return -1;
  if (out) *out = data[pos] != 0;
  return pos + 1;
}

// A string is an int32 byte count followed by that many bytes. A count of zero
// (or a text that starts with a zero byte) reads as the empty text; the text
// stops at the first zero byte. A negative count, or one whose bytes do not lie
// wholly inside the chunk, is a failed read: -1, and `out` is left untouched.
// Stepping backwards on a negative count would let a damaged chunk send a
// reader round in circles.
int StateChunk::GetString(std::string* out, int pos) const
{
  int32_t n = 0;
  const int start = GetInt32(&n, pos);
  if (start < 0 || n < 0 || !Inside(start, n, size)) return -1;
  if (out)
  {
    const char* text = (const char*)(data + start);
    const void* zero = n > 0 ? std::memchr(text, 0, (size_t)n) : nullptr;
    const size_t length = zero ? (size_t)((const char*)zero - text) : (size_t)n;
    out->assign(text, length);
  }
  return start + n;
}
