#pragma once
// Growable little-endian byte buffer carrying every saved state, preset and chunk.
// Writes append and return the new size; reads take a position and return the
// position after the value, or -1 when the value is not wholly inside the chunk.

#include <cstdint>
#include <string>

class StateChunk
{
public:
  StateChunk() = default;
  ~StateChunk();
  StateChunk(const StateChunk&) = delete;
  StateChunk& operator=(const StateChunk&) = delete;

  void Clear();  // releases the memory
  int Size() const { return size; }
  int Capacity() const { return capacity; }
  const uint8_t* Data() const { return data; }
  uint8_t* Data() { return data; }

  // Makes the chunk exactly `newSize` bytes long (new bytes are zero). Returns
  // false, leaving the chunk as it was, for a negative size or when memory
  // cannot be had.
  bool Resize(int newSize);

  int PutBytes(const void* bytes, int count);
  int PutInt32(int32_t v);
  int PutDouble(double v);
  int PutBool(bool v);
  int PutString(const char* text);
  int PutChunk(const StateChunk& other);

  int GetInt32(int32_t* out, int pos) const;
  int GetDouble(double* out, int pos) const;
  int GetBool(bool* out, int pos) const;
  // Reads a length-prefixed string into `out` (see the implementation for the
  // rules on short, empty and negative lengths).
  int GetString(std::string* out, int pos) const;

private:
  bool Reserve(int needed);

  uint8_t* data = nullptr;
  int size = 0;
  int capacity = 0;
};

constexpr int32_t VersionMagic = 0x70666674;  // 'pfft'
constexpr int32_t kFrameworkStateVersion = 0x00010000;
