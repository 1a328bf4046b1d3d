// Every instruction-set path this processor and system can run renders the
// scalar reference's bytes: the plug-in on the offline binding over the
// hostile programme, through 64-bit buffers and through 32-bit ones (the
// waveshaper alone: test_waveshaper.cpp).
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <vector>

#include "plugin/TALVOR.h"
#include "tests/dsp/LoudRuns.h"
#include "tests/vst2/HostileProgramme.h"

namespace
{

// The plug-in behind the few record functions the hostile programme calls.
struct OfflineEffect
{
  TALVOR plug{IPlugInstanceInfo{}};
  OfflineEffect()
  {
    plug.ConnectInputs(0, 2, true);
    plug.ConnectOutputs(0, 2, true);
  }
  intptr_t (*dispatcher)(OfflineEffect*, int32_t, int32_t, intptr_t, void*, float) = [](OfflineEffect* fx, int32_t op,
                                                                                     int32_t, intptr_t value, void*,
                                                                                     float opt) -> intptr_t {
    if (op == 10) fx->plug.SetSampleRate(opt);
    if (op == 11) fx->plug.ChangeBlockSize((int)value);
    return 0;
  };
  void (*setParameter)(OfflineEffect*, int32_t, float) = [](OfflineEffect* fx, int32_t index, float value) {
    fx->plug.ParamAt(index)->SetFromNormalized(value);
    fx->plug.ParamChanged(index);
  };
  void (*processDoubleReplacing)(OfflineEffect*, double**, double**, int32_t) =
    [](OfflineEffect* fx, double** in, double** out, int32_t frames) { fx->plug.ProcessBlock(in, out, frames); };
  // As the bindings serve a 32-bit host.
  void (*processReplacing)(OfflineEffect*, float**, float**, int32_t) = [](OfflineEffect* fx, float** in, float** out,
                                                                          int32_t frames) {
    fx->plug.ProcessHostBlock32(in, 2, out, 2, frames, false);
  };
};

template <typename Sample>
std::vector<unsigned char> Render(DspPath path)
{
  auto fx = std::make_unique<OfflineEffect>();
  EXPECT_TRUE(fx->plug.UseDspPath(path));
  std::vector<unsigned char> bytes;
  hostile::Render<Sample>(fx.get(), &bytes);
  return bytes;
}

template <typename Sample>
void ExpectEveryPathRendersTheScalarReferenceBytes()
{
  const std::vector<unsigned char> reference = Render<Sample>(DspPath::Scalar);
  for (DspPath path : kDspPaths)
  {
    if (path == DspPath::Scalar)
      continue;
    if (!DspPathSupported(path))
    {
      std::printf("path %s: not supported here\n", DspPathName(path));
      continue;
    }
    const std::vector<unsigned char> got = Render<Sample>(path);
    ASSERT_EQ(got.size(), reference.size());
    const auto diff = std::mismatch(reference.begin(), reference.end(), got.begin());
    EXPECT_TRUE(diff.first == reference.end()) << DspPathName(path) << ", " << sizeof(Sample) * 8
                                               << "-bit: differs from sample "
                                               << (diff.first - reference.begin()) / sizeof(Sample);
  }
}

}  // namespace

TEST(DspPaths, EveryPathRendersTheScalarReferenceBytes)
{
  ExpectEveryPathRendersTheScalarReferenceBytes<double>();
  ExpectEveryPathRendersTheScalarReferenceBytes<float>();
}

TEST(DspPaths, LoudRunsGiveFiniteOutputOnEveryPath)
{
  for (DspPath path : kDspPaths)
  {
    if (!DspPathSupported(path))
      continue;
    loud::ExpectSurvived(DspPathName(path), true, [path](const loud::Settings& settings, const Buffer& x) {
      auto plug = std::make_unique<TALVOR>(IPlugInstanceInfo{});
      plug->UseDspPath(path);
      plug->SetSampleRate(48000.0);
      for (const loud::Setting& s : settings)
      {
        plug->ParamAt(s.param)->SetClamped(s.value);
        plug->ParamChanged(s.param);
      }
      Buffer in = x, out(x.size());
      for (size_t pos = 0; pos < x.size(); pos += loud::kBlock)
      {
        double* i2[2] = {in.data() + pos, in.data() + pos};
        double* o2[2] = {out.data() + pos, out.data() + pos};
        plug->ProcessBlock(i2, o2, loud::kBlock);
      }
      return out;
    });
  }
}
