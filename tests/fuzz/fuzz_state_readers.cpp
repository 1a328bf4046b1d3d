// The framework's readers on arbitrary bytes, directly: the version header,
// the parameter state, the preset bank (three slots) and the chunk's own
// reads. What loads must save and load back to the same bytes.

#include <cstring>

#include "FuzzSupport.h"
#include "tests/framework/TestPlug.h"

namespace
{
TestPlug* plug = nullptr;

fuzz::Bytes Bytes(const StateChunk& chunk) { return fuzz::Bytes(chunk.Data(), chunk.Data() + chunk.Size()); }


// What `save` writes must load back whole and save to the same bytes.
template <class Save, class Load>
void ExpectRoundTrip(Save save, Load load)
{
  StateChunk first, second;
  FUZZ_CHECK(save(first));
  FUZZ_CHECK(load(first) == first.Size());
  FUZZ_CHECK(save(second));
  FUZZ_CHECK(Bytes(first) == Bytes(second));
}

void ExpectStateRoundTrips()
{
  ExpectRoundTrip([](StateChunk& c) { return plug->SaveState(c); },
                  [](const StateChunk& c) { return plug->LoadState(c, 0); });
  ExpectRoundTrip([](StateChunk& c) { return plug->SerializePresets(c); },
                  [](const StateChunk& c) { return plug->UnserializePresets(c, 0); });
}
}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
  plug = new TestPlug("1-1 2-2", 3);
  plug->probeLock = false;
  fuzz::WriteSeedsIfAsked([](auto write) {
    StateChunk chunk;
    plug->SaveState(chunk);
    write("state", Bytes(chunk));
    plug->RecallPreset(2);  // a second slot in use, named by the base
    plug->ParamAt(6)->SetClamped(-3.5);
    plug->ModifyCurrentPreset("Bright");
    chunk.Clear();
    plug->SerializePresets(chunk);
    write("bank", Bytes(chunk));
    StateChunk headed;
    IPlugBase::WriteVersionHeader(headed);
    headed.PutChunk(chunk);
    write("bank-with-header", Bytes(headed));
    IPlugBase::WriteVersionHeader(headed);
    write("header-only", Bytes(headed));
  });
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
  StateChunk chunk;
  if (size > 0 && chunk.PutBytes(data, (int)size) != (int)size)
    return 0;
  plug->changed.clear();

  int pos = 0;
  const int32_t version = IPlugBase::ReadVersionHeader(chunk, &pos);
  FUZZ_CHECK(pos == 0 || pos == 8 || pos == -1);
  FUZZ_CHECK(pos != 8 || version == (int32_t)(data[4] | data[5] << 8 | data[6] << 16 | (uint32_t)data[7] << 24));
  plug->LoadState(chunk, 0);
  plug->LoadState(chunk, pos);
  plug->UnserializePresets(chunk, 0);
  plug->UnserializePresets(chunk, pos);
  ExpectStateRoundTrips();

  // The chunk's own reads, in an order the bytes choose; each either fails
  // with -1 or moves forward within the chunk.
  for (int p = 0, steps = 0; p >= 0 && p < chunk.Size() && steps < 64; ++steps)
  {
    const int kind = chunk.Data()[p] % 4;
    const int at = p + 1;
    int32_t i = 0;
    double d = 0.0;
    bool b = false;
    std::string s;
    const int next = kind == 0   ? chunk.GetInt32(&i, at)
                     : kind == 1 ? chunk.GetDouble(&d, at)
                     : kind == 2 ? chunk.GetBool(&b, at)
                                 : chunk.GetString(&s, at);
    FUZZ_CHECK(next == -1 || next >= at);
    FUZZ_CHECK(s.size() <= (size_t)chunk.Size());
    p = next;
  }
  return 0;
}
