// Program and bank chunks: what effGetChunk hands out and effSetChunk reads,
// each behind the 8-byte version header.
#include "vst2/IPlugVST.h"

VstIntPtr IPlugVST::GetChunk(bool bank, void** dataOut)
{
  if (!dataOut) return 0;
  StateChunk& chunk = bank ? bankChunk : programChunk;
  WriteVersionHeader(chunk);
  bool ok;
  if (bank)
  {
    ModifyCurrentPreset();
    ok = SerializePresets(chunk);
  }
  else
  {
    ok = SaveState(chunk);
  }
  if (!ok || chunk.Size() <= 0) return 0;
  *dataOut = chunk.Data();
  return chunk.Size();
}

VstIntPtr IPlugVST::SetChunk(bool bank, VstIntPtr size, const void* data)
{
  if (!data || size < 0 || size > kMaxChunkBytes) return 0;

  // Read from a private copy: the host may hand back the very buffer it got
  // from effGetChunk, and that buffer is about to be replaced.
  StateChunk incoming;
  if (size > 0 && incoming.PutBytes(data, (int)size) != (int)size) return 0;

  // A chunk that fails to load must not leave half-loaded parameters or presets
  // behind: keep what is there now and put it back on failure.
  StateChunk savedParams, savedPresets;
  if (!SaveState(savedParams) || !SerializePresets(savedPresets)) return 0;

  int pos = 0;
  int32_t version = ReadVersionHeader(incoming, &pos);
  int end;
  if (bank && version >= kFrameworkStateVersion)
  {
    end = UnserializePresets(incoming, pos);
  }
  else
  {
    end = LoadState(incoming, pos);
    ModifyCurrentPreset();
  }

  if (end < 0)
  {
    UnserializePresets(savedPresets, 0);
    LoadState(savedParams, 0);
    RefreshParamControls();
    return 0;
  }

  StateChunk& kept = bank ? bankChunk : programChunk;
  kept.Clear();
  if (incoming.Size() > 0) kept.PutChunk(incoming);
  RefreshParamControls();
  return 1;
}
