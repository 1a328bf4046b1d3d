// The state extension: the parameter state (one little-endian double per
// parameter, real values in index order) under one key, as an atom:Chunk.
// Hosts that save port values restore those as well; hosts that save only
// state find everything in it.
#include <lv2/atom/atom.h>

#include "lv2/IPlugLV2.h"

LV2_State_Status IPlugLV2::SaveToHost(LV2_State_Store_Function store, LV2_State_Handle handle)
{
  // Keys and types are URIDs: without urid:map nothing can be stored.
  if (!map) return LV2_STATE_ERR_NO_FEATURE;
  if (!store) return LV2_STATE_ERR_UNKNOWN;
  StateChunk chunk;
  {
    IPlugLockGuard hold(this);
    if (!SaveState(chunk) || chunk.Size() <= 0) return LV2_STATE_ERR_NO_SPACE;
  }
  return store(handle, stateKey, chunk.Data(), (size_t)chunk.Size(), chunkType,
               LV2_STATE_IS_POD | LV2_STATE_IS_PORTABLE);
}

LV2_State_Status IPlugLV2::RestoreFromHost(LV2_State_Retrieve_Function retrieve, LV2_State_Handle handle)
{
  if (!map) return LV2_STATE_ERR_NO_FEATURE;
  if (!retrieve) return LV2_STATE_ERR_UNKNOWN;
  size_t size = 0;
  uint32_t type = 0, flags = 0;
  const void* value = retrieve(handle, stateKey, &size, &type, &flags);
  if (!value) return LV2_STATE_ERR_NO_PROPERTY;
  // Anything but a whole parameter state is refused unread: every parameter
  // keeps its value.
  if (type != chunkType) return LV2_STATE_ERR_BAD_TYPE;
  if (size != (size_t)ParamCount() * sizeof(double)) return LV2_STATE_ERR_UNKNOWN;
  StateChunk chunk;
  if (chunk.PutBytes(value, (int)size) != (int)size) return LV2_STATE_ERR_NO_SPACE;
  IPlugLockGuard hold(this);
  if (LoadState(chunk, 0) < 0) return LV2_STATE_ERR_UNKNOWN;
  RefreshParamControls();
  TakePortsAsApplied();
  return LV2_STATE_SUCCESS;
}
