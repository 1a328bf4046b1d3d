// The VST3 module's state stream: setState with arbitrary bytes, then getState
// and a processed block. Whatever the stream held, the plug-in saves its 92
// bytes again, those load back to the same bytes, and the output stays finite.

#include "FuzzSupport.h"
#include "ModuleHost.h"

using namespace vst3test;

namespace
{
Plug* plug = nullptr;

fuzz::Bytes SavedState()
{
  ByteStream s;
  FUZZ_CHECK(plug->controller->getState(&s) == kResultOk && s.bytes.size() == 92);
  return s.bytes;
}
}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
  FUZZ_CHECK(ModuleHandle());
  plug = new Plug();
  FUZZ_CHECK(plug->Setup(kSample32, fuzz::Block<float>::kFrames));
  fuzz::WriteSeedsIfAsked([](auto write) {
    write("state-default", SavedState());
    ParamChanges edits{{0, {0.9}}, {6, {0.3}}, {9, {1.0}}, {kBypassId, {1.0}}};
    fuzz::Block<float> block;
    ProcessOneBus(plug->processor, block.ins, 2, block.outs, 2, block.kFrames, &edits);
    const fuzz::Bytes edited = SavedState();
    write("state-edited", edited);
    write("state-without-bypass", fuzz::Bytes(edited.begin(), edited.begin() + 88));
  });
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
  ByteStream stream(fuzz::Bytes(data, data + size));
  plug->controller->setState(&stream);
  const fuzz::Bytes saved = SavedState();
  ByteStream again(saved);
  FUZZ_CHECK(plug->controller->setState(&again) == kResultOk);
  FUZZ_CHECK(SavedState() == saved);
  for (ParamID id = 0; id < 11; ++id)
  {
    const double v = plug->Norm(id);
    FUZZ_CHECK(v >= 0.0 && v <= 1.0);
  }
  fuzz::Block<float> block;
  FUZZ_CHECK(ProcessOneBus(plug->processor, block.ins, 2, block.outs, 2, block.kFrames, nullptr) == kResultOk);
  FUZZ_CHECK(block.OutputFinite());
  return 0;
}
