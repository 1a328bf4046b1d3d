// Editor drawing costs: a full repaint, one knob's repaint on a timer tick
// (both by display scale in per cent), the decode of the largest strip (1x
// and 2x), and the per-frame blit.
#include <benchmark/benchmark.h>

#include "graphics/EmbeddedImages.h"
#include "graphics/IControl.h"
#include "plugin/TALVOR.h"
#include "plugin/TalvorResources.h"

namespace {

void BM_EditorFullRepaint(benchmark::State& state)
{
  TALVOR plug{IPlugInstanceInfo()};
  IGraphics* g = plug.Editor();
  g->SetScale(state.range(0) / 100.0);
  for (auto _ : state) benchmark::DoNotOptimize(g->Redraw(IRect(0, 0, g->ScaledWidth(), g->ScaledHeight())));
}
BENCHMARK(BM_EditorFullRepaint)->Arg(100)->Arg(150)->Arg(200)->Arg(300);

// What one 40 ms tick costs after a host moved the "Input" knob.
void BM_EditorKnobTick(benchmark::State& state)
{
  TALVOR plug{IPlugInstanceInfo()};
  IGraphics* g = plug.Editor();
  g->SetScale(state.range(0) / 100.0);
  g->Redraw(IRect(0, 0, g->ScaledWidth(), g->ScaledHeight()));
  double v = 0.0;
  for (auto _ : state)
  {
    v = v > 0.99 ? 0.0 : v + 0.01;
    g->ShowParameterValue(kInput, v, true);
    IRect dirty;
    if (g->CollectDirtyRect(&dirty)) g->Redraw(dirty);
  }
}
BENCHMARK(BM_EditorKnobTick)->Arg(100)->Arg(150)->Arg(200)->Arg(300);

void BM_DecodeLargestStrip(benchmark::State& state)
{
  const EmbeddedImage* img = FindEmbeddedImage((int)state.range(0));
  if (!img || !img->data)
  {
    state.SkipWithError("image not built in");
    return;
  }
  LICE_MemBitmap target;
  for (auto _ : state) benchmark::DoNotOptimize(DecodePng(img->data, img->size, &target));
}
BENCHMARK(BM_DecodeLargestStrip)->Arg(OUT_ID)->Arg(OUT_2X_ID)->Unit(benchmark::kMillisecond);

void BM_BlitKnobFrame(benchmark::State& state)
{
  LICE_MemBitmap src(109, 109), dst(346, 566);
  for (int i = 0; i < src.getRowSpan() * 109; ++i) src.getBits()[i] = (uint32_t)(i * 2654435761u);
  const float weight = state.range(0) ? 0.25f : 1.0f;
  for (auto _ : state)
  {
    Blit(&dst, &src, 218, 377, 0, 0, 109, 109, weight, BlitCopy | BlitUseSourceAlpha);
    benchmark::ClobberMemory();
  }
}
BENCHMARK(BM_BlitKnobFrame)->Arg(0)->Arg(1);

}  // namespace
