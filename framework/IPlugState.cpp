// Parameter state, preset slots, the preset bank and the version header.
#include <cstdio>
#include <cstring>

#include "framework/IPlugBase.h"
#include "framework/TextCopy.h"

namespace
{
constexpr int kPresetNameSize = (int)sizeof(PresetSlot::name);

// Names are cut to 255 bytes.
void SetPresetName(PresetSlot& slot, const char* name) { CopyText(slot.name, name); }
}  // namespace

// The parameter state is one little-endian double per parameter, real values in
// index order, nothing before or after.
bool IPlugBase::SerializeParams(StateChunk& chunk)
{
  IPlugLockGuard guard(this);
  for (const auto& param : params)
  {
    // A write that did not grow the chunk was lost (no memory).
    const int expected = chunk.Size() + 8;
    if (chunk.PutDouble(param->Value()) != expected) return false;
  }
  return true;
}

int IPlugBase::UnserializeParams(const StateChunk& chunk, int pos)
{
  IPlugLockGuard guard(this);
  for (const auto& param : params)
  {
    if (pos < 0) break;
    double v = 0.0;
    pos = chunk.GetDouble(&v, pos);
    if (pos < 0) v = 0.0;
    // The first value missing from a short chunk sets its parameter to 0 within
    // its range; the ones after it keep their values.
    param->SetClamped(v);
  }
  NotifyAllParamsChanged();
  return pos;
}

bool IPlugBase::SerializePresets(StateChunk& chunk)
{
  for (const auto& slotPtr : presets)
  {
    const PresetSlot& slot = *slotPtr;
    char name[kPresetNameSize];
    const int length = CopyText(name, slot.name);

    int expected = chunk.Size() + 4 + length;
    if (chunk.PutString(name) != expected) return false;
    if (chunk.PutBool(slot.used) != ++expected) return false;
    if (slot.used)
    {
      expected += slot.state.Size();
      if (chunk.PutChunk(slot.state) != expected) return false;
    }
  }
  return true;
}

int IPlugBase::UnserializePresets(const StateChunk& chunk, int pos)
{
  std::string name;
  for (const auto& slotPtr : presets)
  {
    if (pos < 0) break;
    PresetSlot& slot = *slotPtr;
    pos = chunk.GetString(&name, pos);
    // A name that could not be read leaves the slot's name alone.
    if (pos >= 0) SetPresetName(slot, name.c_str());

    bool used = false;
    const bool wasUsed = slot.used;
    pos = chunk.GetBool(&used, pos);
    if (pos >= 0) slot.used = used;

    if (slot.used)
    {
      // The stored state's length follows from the parameter state format; the
      // slot then keeps what the parameters became.
      pos = LoadState(chunk, pos);
      if (pos > 0)
      {
        slot.state.Clear();
        SaveState(slot.state);
      }
      else
      {
        // A slot is in use only with a state of its own: one whose stored
        // state could not be read stays as it was, or the next bank saved
        // would lack its state and could not be read back.
        slot.used = wasUsed;
      }
    }
  }
  RecallPreset(currentPresetIndex);
  return pos;
}

void IPlugBase::ModifyCurrentPreset(const char* name)
{
  PresetSlot* slot = PresetAt(currentPresetIndex);
  if (!slot) return;
  slot->state.Clear();
  SaveState(slot->state);
  if (name && name[0]) SetPresetName(*slot, name);
}

bool IPlugBase::RecallPreset(int idx)
{
  PresetSlot* slot = PresetAt(idx);
  if (!slot) return false;

  bool ok;
  if (slot->used)
  {
    ok = LoadState(slot->state, 0) > 0;
  }
  else
  {
    // An unused slot becomes a new user preset holding the current parameters,
    // numbered after the user presets that already exist.
    int userPresets = 0;
    for (const auto& other : presets)
    {
      char name[kPresetNameSize];
      CopyText(name, other->name);
      if (std::strstr(name, "user preset")) ++userPresets;
    }
    slot->used = true;
    std::snprintf(slot->name, kPresetNameSize, "%s %d", "user preset", userPresets + 1);
    // Whatever the unused slot held before is dropped, not appended to.
    slot->state.Clear();
    ok = SaveState(slot->state);
  }

  if (ok)
  {
    currentPresetIndex = idx;
    PresetsChanged();
    RefreshParamControls();
  }
  return ok;
}

void IPlugBase::FillDefaultPresets(const char* name, int count)
{
  for (int n = 0; n < count; ++n)
  {
    PresetSlot* slot = nullptr;
    for (const auto& candidate : presets)
    {
      if (!candidate->used)
      {
        slot = candidate.get();
        break;
      }
    }
    if (!slot) return;  // every slot is in use: the remaining repetitions do nothing
    slot->used = true;
    SetPresetName(*slot, name ? name : "Empty");
    slot->state.Clear();
    SaveState(slot->state);
  }
}

void IPlugBase::WriteVersionHeader(StateChunk& chunk)
{
  chunk.Clear();
  chunk.PutInt32(VersionMagic);
  chunk.PutInt32(kFrameworkStateVersion);
}

int32_t IPlugBase::ReadVersionHeader(const StateChunk& chunk, int* pos)
{
  if (!pos) return 0;
  int32_t magic = 0;
  const int next = chunk.GetInt32(&magic, *pos);
  if (next < 0 || magic != VersionMagic) return 0;
  int32_t headerVersion = 0;
  *pos = chunk.GetInt32(&headerVersion, next);
  return *pos < 0 ? 0 : headerVersion;
}
