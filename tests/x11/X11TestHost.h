#pragma once
// The X11 side of a Linux host, for the editor tests of both modules: a
// connection of its own, parent windows to embed the editor in, pixels read
// back with XGetImage, real input through XTest, a VST3 run loop (file
// descriptors and timers) offered by the view frame, and the picture the editor
// must show, drawn by the plug-in compiled into the test without a window.

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>
#include <poll.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "graphics/IControl.h"
#include "graphics/IGraphics.h"
#include "plugin/TALVOR.h"
#include "tests/vst3/HostObjects.h"

namespace x11test {

using namespace Steinberg;
constexpr int kW = 346, kH = 566;
using Values = std::array<double, kNumParams>;  // normalised, by parameter index

// Where a control sits in the editor (its rectangle, in editor coordinates).
struct Box
{
  int x, y, w, h;
  int cx() const { return x + w / 2; }
  int cy() const { return y + h / 2; }
};
inline Box ControlBox(int param)
{
  TALVOR plug{IPlugInstanceInfo()};
  IGraphics* g = plug.Editor();
  for (int i = 0; i < g->NControls(); ++i)
    if (g->GetControl(i)->ParamIdx() == param)
    {
      const IRect& r = g->GetControl(i)->Rect();
      return {r.L, r.T, r.W(), r.H()};
    }
  return {0, 0, 0, 0};
}

// The editor for the given values at a display scale, as the plug-in draws it
// without a window (what the snapshot tool writes): 0x00RRGGBB, rows top-down.
inline std::vector<uint32_t> ExpectedPicture(const Values& v, double scale = 1.0)
{
  TALVOR plug{IPlugInstanceInfo()};
  IGraphics* g = plug.Editor();
  for (int i = 0; i < kNumParams; ++i) g->ShowParameterValue(i, v[(size_t)i], true);
  g->SetScale(scale);
  const int w = g->ScaledWidth(), h = g->ScaledHeight();
  g->Redraw(IRect(0, 0, w, h));
  LICE_IBitmap* b = g->DrawBitmap();
  std::vector<uint32_t> px((size_t)w * h);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) px[(size_t)y * w + x] = b->getBits()[(size_t)y * b->getRowSpan() + x] & 0xFFFFFF;
  return px;
}

inline bool PumpUntil(const std::function<void()>& pump, const std::function<bool()>& done, int timeoutMs = 5000)
{
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (!done())
  {
    if (std::chrono::steady_clock::now() > end) return false;
    pump();
  }
  return true;
}

// The host's own connection to the display, with its windows.
struct XClient
{
  ::Display* d = XOpenDisplay(nullptr);
  ~XClient()
  {
    if (d) XCloseDisplay(d);
  }
  explicit operator bool() const { return d != nullptr; }
  // Without a display the tests skip; with one that cannot be reached they fail.
  static bool Wanted() { return std::getenv("DISPLAY") && *std::getenv("DISPLAY"); }

  ::Window Parent(int x, int y, int width = kW + 40, int height = kH)
  {
    const ::Window w =
        XCreateSimpleWindow(d, DefaultRootWindow(d), x, y, (unsigned)width, (unsigned)height, 0, 0, 0xFFFFFF);
    XSelectInput(d, w, KeyPressMask);  // a host's window that takes the keys the editor leaves
    XMapWindow(d, w);
    XSync(d, False);
    return w;
  }
  std::vector<::Window> Children(::Window parent)
  {
    ::Window root = 0, up = 0, *kids = nullptr;
    unsigned n = 0;
    std::vector<::Window> out;
    if (XQueryTree(d, parent, &root, &up, &kids, &n))
      out.assign(kids, kids + n);
    if (kids) XFree(kids);
    return out;
  }
  ::Window Editor(::Window parent)
  {
    const std::vector<::Window> kids = Children(parent);
    return kids.size() == 1 ? kids[0] : 0;
  }
  // The rows [top, top + height) of the window's pixels as the screen shows
  // them (0x00RRGGBB); empty on failure. They must lie on the screen.
  std::vector<uint32_t> Capture(::Window w, int width = kW, int height = kH, int top = 0)
  {
    std::vector<uint32_t> px;
    XImage* img = w ? XGetImage(d, w, 0, top, (unsigned)width, (unsigned)height, AllPlanes, ZPixmap) : nullptr;
    if (!img) return px;
    px.resize((size_t)width * height);
    for (int y = 0; y < height; ++y)
      for (int x = 0; x < width; ++x) px[(size_t)y * width + x] = (uint32_t)XGetPixel(img, x, y) & 0xFFFFFF;
    XDestroyImage(img);
    return px;
  }
  int ScreenHeight() { return DisplayHeight(d, DefaultScreen(d)); }
  // Moves the top-level window that holds w so that the point (x, y) of w
  // lies at the screen's (sx, sy): editors at large scales are taller than
  // the virtual screen, and only what is on it can be read or clicked.
  void Place(::Window w, int x, int y, int sx, int sy)
  {
    ::Window top = w, root = 0, up = 0, *kids = nullptr;
    unsigned n = 0;
    while (XQueryTree(d, top, &root, &up, &kids, &n) && up != root)
    {
      if (kids) XFree(kids);
      kids = nullptr;
      top = up;
    }
    if (kids) XFree(kids);
    int cx = 0, cy = 0;
    ::Window child = 0;
    XTranslateCoordinates(d, w, DefaultRootWindow(d), x, y, &cx, &cy, &child);
    XWindowAttributes a;
    if (!XGetWindowAttributes(d, top, &a)) return;
    XMoveWindow(d, top, a.x + sx - cx, a.y + sy - cy);
    XSync(d, False);
  }
  // Brings the point (x, y) of w onto the screen if it is not.
  void Reveal(::Window w, int x, int y)
  {
    int cx = 0, cy = 0;
    ::Window child = 0;
    XTranslateCoordinates(d, w, DefaultRootWindow(d), x, y, &cx, &cy, &child);
    if (cy < 0 || cy >= ScreenHeight()) Place(w, x, y, cx, ScreenHeight() / 2);
  }
  // The window's size, {0, 0} for no window.
  std::pair<int, int> Size(::Window w)
  {
    XWindowAttributes a;
    XSync(d, False);
    if (!w || !XGetWindowAttributes(d, w, &a)) return {0, 0};
    return {a.width, a.height};
  }

  // Input as a user makes it, at editor coordinates of window w.
  void MoveTo(::Window w, int x, int y)
  {
    int sx = 0, sy = 0;
    ::Window child = 0;
    XTranslateCoordinates(d, w, DefaultRootWindow(d), x, y, &sx, &sy, &child);
    XTestFakeMotionEvent(d, DefaultScreen(d), sx, sy, CurrentTime);
    XSync(d, False);
  }
  void Button(unsigned button, bool down)
  {
    XTestFakeButtonEvent(d, button, down, CurrentTime);
    XSync(d, False);
  }
  // A left-button drag from (x0, y0), `steps` moves of dy pixels each; the
  // move numbered `outside` also goes 300 pixels sideways, out of the window.
  void Drag(::Window w, int x0, int y0, int steps, int dy, int outside = -1)
  {
    Reveal(w, x0, y0);
    MoveTo(w, x0, y0);
    Button(Button1, true);
    for (int step = 1; step <= steps; ++step) MoveTo(w, x0 + 300 * (step == outside), y0 + dy * step);
    Button(Button1, false);
  }
  void Click(::Window w, int x, int y, unsigned button = Button1)
  {
    Reveal(w, x, y);
    MoveTo(w, x, y);
    Button(button, true);
    Button(button, false);
  }
};

#define REQUIRE_DISPLAY(x)                                                   \
  if (!XClient::Wanted()) GTEST_SKIP() << "no X display (run under xvfb-run)"; \
  ASSERT_TRUE(x) << "cannot reach the display " << std::getenv("DISPLAY")

// One edit gesture, as the host saw it: begin, one or more performs, end.
inline bool IsOneGesture(const std::string& edits)
{
  return edits.size() >= 3 && edits.front() == 'b' && edits.find_first_not_of('p', 1) == edits.size() - 1 &&
         edits.back() == 'e';
}

// Polls the window until it shows `expected` (pumping the editor meanwhile) and
// answers the number of differing pixels, -1 for a window that could not be read.
// A window taller than the screen is read in bands, each moved onto the screen
// in turn (the editor repaints what comes into view).
inline int WaitForPicture(XClient& x, ::Window w, const std::vector<uint32_t>& expected,
                          const std::function<void()>& pump, int width = kW, int height = kH,
                          std::vector<uint32_t>* shownOut = nullptr)
{
  const int band = height <= x.ScreenHeight() ? height : x.ScreenHeight() / 2;
  int total = 0;
  for (int top = 0; top < height; top += band)
  {
    const int rows = std::min(band, height - top);
    if (band != height) x.Place(w, 0, top, 0, 0);
    int diffs = -1;
    PumpUntil(pump, [&] {
      const std::vector<uint32_t> shown = x.Capture(w, width, rows, top);
      diffs = shown.empty() ? -1 : 0;
      for (size_t i = 0; i < shown.size(); ++i) diffs += shown[i] != expected[(size_t)top * width + i];
      return diffs == 0;
    });
    if (diffs < 0) return -1;
    total += diffs;
    if (shownOut)
    {
      const std::vector<uint32_t> shown = x.Capture(w, width, rows, top);
      shownOut->insert(shownOut->end(), shown.begin(), shown.end());
    }
  }
  return total;
}

// Writes 0x00RRGGBB pixels as a binary PPM image (the screenshots of the
// user's guide are taken from the test windows this way).
inline bool SavePpm(const std::vector<uint32_t>& px, int w, int h, const std::string& path)
{
  FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return false;
  std::fprintf(f, "P6\n%d %d\n255\n", w, h);
  for (uint32_t p : px)
  {
    const unsigned char rgb[3] = {(unsigned char)(p >> 16), (unsigned char)(p >> 8), (unsigned char)p};
    std::fwrite(rgb, 1, 3, f);
  }
  return std::fclose(f) == 0;
}

// Types a key that the editor does not take ("a") over window w and answers
// whether it reached the host's window `parent`, pumping the editor meanwhile.
inline bool KeyReachesHost(XClient& x, ::Window w, ::Window parent, const std::function<void()>& pump)
{
  x.MoveTo(w, 5, 5);
  XTestFakeKeyEvent(x.d, XKeysymToKeycode(x.d, XStringToKeysym("a")), True, CurrentTime);
  XTestFakeKeyEvent(x.d, XKeysymToKeycode(x.d, XStringToKeysym("a")), False, CurrentTime);
  XSync(x.d, False);
  XEvent key;
  return PumpUntil(pump, [&] { return XCheckTypedWindowEvent(x.d, parent, KeyPress, &key); });
}

// The host's run loop on Linux, offered through the view frame as hosts do:
// watches the registered file descriptors and fires the registered timers.
class RunLoopFrame : public vst3test::HostObject<IPlugFrame, Linux::IRunLoop>, public Linux::IRunLoop
{
public:
  explicit RunLoopFrame(bool offerRunLoop = true) : offerRunLoop(offerRunLoop) {}
  tresult PLUGIN_API queryInterface(const TUID iid, void** obj) override { return HostObject::queryInterface(iid, obj); }
  uint32 PLUGIN_API addRef() override { return HostObject::addRef(); }
  uint32 PLUGIN_API release() override { return HostObject::release(); }
  // Records every request and grants it, as hosts do.
  tresult PLUGIN_API resizeView(IPlugView* view, ViewRect* r) override
  {
    resizes.push_back(*r);
    return view->onSize(r);
  }
  std::vector<ViewRect> resizes;

  tresult PLUGIN_API registerEventHandler(Linux::IEventHandler* h, Linux::FileDescriptor fd) override
  {
    if (!h || fd < 0) return kInvalidArgument;
    handlers.push_back({h, fd});
    return kResultOk;
  }
  tresult PLUGIN_API unregisterEventHandler(Linux::IEventHandler* h) override
  {
    return Erase(handlers, [h](const Handler& e) { return e.handler == h; });
  }
  tresult PLUGIN_API registerTimer(Linux::ITimerHandler* h, Linux::TimerInterval ms) override
  {
    if (!h || ms == 0) return kInvalidArgument;
    timers.push_back({h, ms, Now() + ms});
    return kResultOk;
  }
  tresult PLUGIN_API unregisterTimer(Linux::ITimerHandler* h) override
  {
    return Erase(timers, [h](const Timer& t) { return t.handler == h; });
  }

  // One turn of the loop: waits up to `ms` for a descriptor or a timer.
  void Run(int ms = 10)
  {
    std::vector<pollfd> fds;
    for (const Handler& h : handlers) fds.push_back({h.fd, POLLIN, 0});
    poll(fds.data(), fds.size(), ms);
    for (const pollfd& p : fds)
      if (p.revents)
        for (const Handler h : std::vector<Handler>(handlers))  // a call may unregister
          if (h.fd == p.fd) h.handler->onFDIsSet(p.fd);
    for (const Timer t : std::vector<Timer>(timers))
      if (Now() >= t.due)
      {
        for (Timer& live : timers)
          if (live.handler == t.handler) live.due = Now() + live.period;
        t.handler->onTimer();
      }
  }

  struct Handler
  {
    Linux::IEventHandler* handler;
    int fd;
  };
  struct Timer
  {
    Linux::ITimerHandler* handler;
    uint64 period, due;
  };
  bool offerRunLoop;
  std::vector<Handler> handlers;
  std::vector<Timer> timers;

private:
  bool Offers2() const override { return offerRunLoop; }
  static uint64 Now()
  {
    using namespace std::chrono;
    return (uint64)duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
  }
  template <class T, class P>
  static tresult Erase(std::vector<T>& list, P match)
  {
    const size_t before = list.size();
    list.erase(std::remove_if(list.begin(), list.end(), match), list.end());
    return list.size() < before ? kResultOk : kResultFalse;
  }
};

}  // namespace x11test
