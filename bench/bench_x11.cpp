// The Linux editor window's costs on a real display
// (xvfb-run -a -s "-screen 0 1024x768x24 -noreset" talvor_bench_x11):
// opening it (after a first open), a full repaint reaching the server, and one
// idle timer tick; beside peers measured in the same run: a bare window on a
// connection of its own, and the same picture sent with a plain XPutImage.
// The argument is the display scale in per cent (100 and 200).
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <benchmark/benchmark.h>

#include "graphics/IGraphicsX11.h"
#include "plugin/TALVOR.h"

namespace {

struct Host
{
  Display* d = XOpenDisplay(nullptr);
  ::Window parent = 0;
  explicit Host(double scale = 1.0)
  {
    if (!d) return;
    parent = XCreateSimpleWindow(d, DefaultRootWindow(d), 0, 0, (unsigned)(346 * scale), (unsigned)(566 * scale), 0, 0, 0);
    XMapWindow(d, parent);
    XSync(d, False);
  }
  ~Host()
  {
    if (d) XCloseDisplay(d);
  }
  void* Parent() const { return reinterpret_cast<void*>(parent); }
};

// The editor of a plug-in compiled in, opened in the host's window.
struct OpenEditor
{
  explicit OpenEditor(const benchmark::State& state) : scale(state.range(0) / 100.0), host(scale) {}
  double scale;
  Host host;
  TALVOR plug{IPlugInstanceInfo()};
  IGraphicsX11* g = dynamic_cast<IGraphicsX11*>(plug.Editor());
  bool ok = host.d && g && g->SetScale(scale) && g->OpenWindow(host.Parent());
  ~OpenEditor()
  {
    if (g) g->CloseWindow();
  }
};

void BM_X11OpenEditor(benchmark::State& state)
{
  OpenEditor e(state);
  if (!e.ok) return state.SkipWithError("no X display");
  for (auto _ : state)
  {
    e.g->CloseWindow();
    benchmark::DoNotOptimize(e.g->OpenWindow(e.host.Parent()));
  }
}
BENCHMARK(BM_X11OpenEditor)->Arg(100)->Arg(200)->Unit(benchmark::kMillisecond);

// A bare child window on a connection of its own: the least any private-connection host pays.
void BM_X11PeerConnection(benchmark::State& state)
{
  Host host;
  if (!host.d) return state.SkipWithError("no X display");
  for (auto _ : state)
  {
    Display* d = XOpenDisplay(nullptr);
    if (!d) return state.SkipWithError("connection refused");
    const ::Window w = XCreateSimpleWindow(d, host.parent, 0, 0, 346, 566, 0, 0, 0);
    XMapWindow(d, w);
    XSync(d, False);
    XDestroyWindow(d, w);
    XCloseDisplay(d);
  }
}
BENCHMARK(BM_X11PeerConnection)->Unit(benchmark::kMillisecond);

// Throughput of whole-editor repaints: the socket fills after a few, so the
// server's share is counted too.
void BM_X11FullRepaint(benchmark::State& state)
{
  OpenEditor e(state);
  if (!e.ok) return state.SkipWithError("no X display");
  for (auto _ : state)
  {
    e.g->MarkAllDirty();
    e.g->Tick();
  }
}
BENCHMARK(BM_X11FullRepaint)->Arg(100)->Arg(150)->Arg(200)->Unit(benchmark::kMicrosecond);

void BM_X11PeerPutImage(benchmark::State& state)
{
  OpenEditor e(state);
  if (!e.ok) return state.SkipWithError("no X display");
  const int w = e.g->ScaledWidth(), h = e.g->ScaledHeight();
  e.g->Redraw(IRect(0, 0, w, h));
  LICE_IBitmap* b = e.g->DrawBitmap();
  Display* d = e.host.d;
  XImage* img = XCreateImage(d, DefaultVisual(d, DefaultScreen(d)), 24, ZPixmap, 0, reinterpret_cast<char*>(b->getBits()),
                             (unsigned)w, (unsigned)h, 32, b->getRowSpan() * 4);
  GC gc = XCreateGC(d, e.host.parent, 0, nullptr);
  for (auto _ : state)
  {
    XPutImage(d, e.host.parent, gc, img, 0, 0, 0, 0, (unsigned)w, (unsigned)h);
    XFlush(d);
  }
  XSync(d, False);
  img->data = nullptr;  // the bitmap's own pixels
  XDestroyImage(img);
  XFreeGC(d, gc);
}
BENCHMARK(BM_X11PeerPutImage)->Arg(100)->Arg(200)->Unit(benchmark::kMicrosecond);

// What an open editor costs while nothing changes: one run-loop timer call
// (events and tick); 25 of them a second make its share of a core.
void BM_X11IdleTick(benchmark::State& state)
{
  OpenEditor e(state);
  if (!e.ok) return state.SkipWithError("no X display");
  e.g->Tick();
  for (auto _ : state)
  {
    e.g->ProcessEvents();
    e.g->Tick();
  }
}
BENCHMARK(BM_X11IdleTick)->Arg(100)->Unit(benchmark::kMicrosecond);

}  // namespace
