// Typed parameter text through both modules: the first byte chooses the
// parameter, the rest is the text, as bytes for the VST2 dispatcher and as
// UTF-16 units (surrogates and all) for the VST3 controller. Accepted text
// sets a position inside [0, 1] whose display reads back to itself; nothing
// throws, and positions from the bytes convert to plain values in range.

#include <dlfcn.h>

#include <cstring>

#include "FuzzSupport.h"
#include "ModuleHost.h"
#include "tests/vst2/Vst2TestHost.h"

using namespace vst3test;

namespace
{
TestHost host;
HostedEffect* fx = nullptr;
Plug* plug = nullptr;
// Indices 0 to 10 are the plug-in's parameters in both bindings; 11 and 12
// the two the VST3 binding adds.
const ParamID kVst3Ids[] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, kPresetId, kBypassId};

std::string Vst2Display(int index)
{
  char text[256] = {};
  fx->Dispatch(effGetParamDisplay, index, 0, text);
  return text;
}

void Vst2Text(int index, const std::string& text)
{
  if (fx->Dispatch(effString2Parameter, index, text.c_str()) != 1)
    return;
  const float v = fx->effect->getParameter(fx->effect, index);
  FUZZ_CHECK(v >= 0.0f && v <= 1.0f);
  const std::string shown = Vst2Display(index);
  FUZZ_CHECK(fx->Dispatch(effString2Parameter, index, shown.c_str()) == 1);
  FUZZ_CHECK(Vst2Display(index) == shown);
}

void Vst3Text(ParamID id, std::vector<TChar> text)
{
  text.push_back(0);
  ParamValue v = -1.0;
  if (plug->controller->getParamValueByString(id, text.data(), v) != kResultOk)
    return;
  FUZZ_CHECK(v >= 0.0 && v <= 1.0);
  String128 shown = {};
  if (plug->controller->getParamStringByValue(id, v, shown) != kResultOk)
    return;  // the binding's own parameters have no display of their own
  ParamValue again = -1.0;
  FUZZ_CHECK(plug->controller->getParamValueByString(id, shown, again) == kResultOk);
  String128 shownAgain = {};
  FUZZ_CHECK(plug->controller->getParamStringByValue(id, again, shownAgain) == kResultOk);
  FUZZ_CHECK(std::memcmp(shown, shownAgain, sizeof(shown)) == 0);
}
}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
  void* module = dlopen(TALVOR_VST2_MODULE_PATH, RTLD_NOW | RTLD_LOCAL);
  auto entry = module ? reinterpret_cast<AEffect* (*)(audioMasterCallback)>(dlsym(module, "VSTPluginMain")) : nullptr;
  FUZZ_CHECK(entry && ModuleHandle());
  fx = new HostedEffect(entry(TestHost::Callback), &host);
  FUZZ_CHECK(fx->effect);
  fx->Dispatch(effOpen);
  plug = new Plug();
  fuzz::WriteSeedsIfAsked([](auto write) {
    // What the plug-in shows, at a few positions of every parameter.
    AEffect* e = fx->effect;
    for (int i = 0; i < e->numParams; ++i)
      for (float x : {0.0f, 0.37f, 1.0f})
      {
        e->setParameter(e, i, x);
        const std::string shown = Vst2Display(i);
        write("p" + std::to_string(i) + "-" + shown, fuzz::Prefixed((uint8_t)i, fuzz::Bytes(shown.begin(), shown.end())));
      }
    write("preset", fuzz::Prefixed(11, {'0', '.', '5'}));
    write("bypass-on", fuzz::Prefixed(12, {'o', 'n'}));
    write("with-unit", fuzz::Prefixed(6, {'-', '3', '.', '5', ' ', 'd', 'B'}));
  });
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
  if (size < 1 || size > 300)
    return 0;
  const int which = data[0] % 13;
  const std::string bytes((const char*)data + 1, size - 1);
  if (which < fx->effect->numParams)
    Vst2Text(which, bytes.substr(0, bytes.find('\0')));

  const ParamID id = kVst3Ids[which];
  std::vector<TChar> widened, units;
  for (unsigned char c : bytes.substr(0, bytes.find('\0')))
    widened.push_back(c);
  for (size_t i = 0; i + 1 < bytes.size() && (bytes[i] || bytes[i + 1]); i += 2)
    units.push_back((TChar)((unsigned char)bytes[i] | (unsigned char)bytes[i + 1] << 8));
  Vst3Text(id, widened);
  Vst3Text(id, units);

  // The bytes as a position, whatever number (or none) they spell.
  if (size >= 9)
  {
    double x;
    std::memcpy(&x, data + 1, 8);
    const double plain = plug->controller->normalizedParamToPlain(id, x);
    FUZZ_CHECK(std::isfinite(plain));
    if (id == kBypassId || id == kPresetId)
      FUZZ_CHECK(plain >= 0.0 && plain <= 1.0);
    else
      FUZZ_CHECK(plain >= -12.0 && plain <= 12.0);
  }
  return 0;
}
