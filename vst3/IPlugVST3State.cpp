// The VST3 state stream: the plug-in state as SaveState writes it, then the
// host bypass flag as a little-endian int32, with no header.
#include <algorithm>
#include <cmath>
#include <cstring>

#include "pluginterfaces/base/ibstream.h"
#include "vst3/IPlugVST3.h"

using namespace Steinberg;
using namespace Steinberg::Vst;

namespace {

// Reads up to `count` bytes, following streams that deliver less per call.
int32 ReadFully(IBStream* stream, void* buffer, int32 count)
{
  auto* bytes = static_cast<uint8_t*>(buffer);
  int32 total = 0;
  while (total < count)
  {
    int32 got = 0;
    if (stream->read(bytes + total, count - total, &got) != kResultOk || got <= 0)
      break;
    total += std::min(got, count - total);
  }
  return total;
}

// Writes all `count` bytes, following streams that take less per call; false
// when the stream refuses the rest (a full disk, a host's size cap).
bool WriteFully(IBStream* stream, const uint8_t* bytes, int32 count)
{
  int32 total = 0;
  while (total < count)
  {
    int32 put = 0;
    if (stream->write(const_cast<uint8_t*>(bytes + total), count - total, &put) != kResultOk || put <= 0)
      return false;
    total += std::min(put, count - total);
  }
  return true;
}

}  // namespace

tresult PLUGIN_API IPlugVST3::getState(IBStream* stream)
try
{
  if (!stream)
    return kInvalidArgument;
  IPlugLockGuard lock(this);
  StateChunk chunk;
  if (!SaveState(chunk) || chunk.Size() <= 0)
    return kResultFalse;
  // The bypass flag follows as a little-endian int32. A stream that does not
  // take every byte holds no usable state, and the host must hear so.
  const int stateSize = chunk.Size();
  if (chunk.PutInt32(IsBypassed() ? 1 : 0) != stateSize + 4)
    return kResultFalse;
  return WriteFully(stream, chunk.Data(), chunk.Size()) ? kResultOk : kResultFalse;
}
catch (...)
{
  return kOutOfMemory;  // nothing may unwind into the host
}

tresult PLUGIN_API IPlugVST3::setState(IBStream* stream)
try
{
  if (!stream)
    return kInvalidArgument;
  IPlugLockGuard lock(this);

  // The stream carries no length: the current state's size says how much to read.
  StateChunk chunk;
  SaveState(chunk);
  const int size = chunk.Size();
  if (size <= 0)
    return kResultFalse;

  StateChunk incoming;
  if (!incoming.Resize(size))
    return kResultFalse;
  const int got = ReadFully(stream, incoming.Data(), size);

  // `chunk` still holds the current state. Bytes the stream delivered replace it;
  // what it did not deliver keeps the current values. In the plain parameter
  // format a value that is not a finite number is treated the same way, so a
  // damaged or hostile stream cannot put NaN or infinity into a parameter.
  const bool plainParams = size == 8 * ParamCount();
  if (plainParams)
  {
    for (int i = 0; i + 8 <= got; i += 8)
    {
      double v;
      std::memcpy(&v, incoming.Data() + i, 8);
      if (std::isfinite(v))
        std::memcpy(chunk.Data() + i, incoming.Data() + i, 8);
    }
  }
  else
  {
    std::memcpy(chunk.Data(), incoming.Data(), static_cast<size_t>(got));
  }
  LoadState(chunk, 0);
  // The parameters are loaded whatever follows, so the editor shows them even
  // when the bypass flag is missing.
  RefreshParamControls();

  uint8_t bypassBytes[4] = {};
  if (ReadFully(stream, bypassBytes, 4) != 4)
    return kResultFalse;
  const uint32_t bypass = bypassBytes[0] | (bypassBytes[1] << 8) | (bypassBytes[2] << 16) |
                          (static_cast<uint32_t>(bypassBytes[3]) << 24);
  SetBypassed(bypass != 0);
  return kResultOk;
}
catch (...)
{
  return kOutOfMemory;  // nothing may unwind into the host
}
