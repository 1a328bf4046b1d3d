// Linux editor window: a private X connection per open editor, a child window
// in the host's window painted from the draw bitmap, and the translation of X
// input events into the editor's event operations.
//
// The connection is the editor's own (XOpenDisplay on $DISPLAY), so the host's
// connection is never touched, and a failure of ours can never break it. Xlib's
// error handlers are process-wide, though: every Xlib call of this file runs
// inside an XErrorTrap, which puts handlers in place that record errors on the
// editor's connections and pass every other connection's errors on to the
// handlers that were there before, and which puts those back afterwards.
#include "graphics/IGraphicsX11.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XShm.h>
#include <X11/keysym.h>
#include <sys/shm.h>
#include <time.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <vector>

#include "graphics/IGraphicsHeadless.h"

namespace {

// The double-click rule of the Windows editor (the system defaults there): a
// second press of the same button within 500 ms and 2 pixels of the first.
constexpr Time kDoubleClickMs = 500;
constexpr int kDoubleClickSlop = 2;
constexpr int kDefaultTimerPeriodMs = 40;
// Rectangles from this many pixels up go through shared memory: below it (a
// knob's tick) a plain XPutImage costs about the same; above it, several times
// more (measured on Xvfb: 250 x 250 pixels 490 us against 80 us).
constexpr int kSharedImageMinPixels = 32768;

constexpr long kEventMask = ExposureMask | ButtonPressMask | ButtonReleaseMask | ButtonMotionMask |
                            KeyPressMask | KeyReleaseMask | LeaveWindowMask | StructureNotifyMask;

}  // namespace

struct IGraphicsX11::Connection
{
  Display* display = nullptr;
  ::Window parent = 0;
  ::Window window = 0;  // 0 once destroyed, by the editor or with the host's window
  int originX = 0, originY = 0;  // the window's place in its parent
  Visual* visual = nullptr;
  int depth = 0;
  Colormap colormap = 0;  // the editor's own, when the parent's visual does not fit
  GC gc = nullptr;
  // MIT-SHM, when the server shares memory with us (a local server).
  XShmSegmentInfo shm = {};
  XImage* shmImage = nullptr;
  int shmCompletionEvent = -1;
  bool shmBusy = false;  // the server may still be reading the segment
  bool broken = false;  // the connection failed; nothing more is sent on it
  int errors = 0;

  bool pressHeld = false;  // a press whose release is still to come
  unsigned clickButton = 0;  // the press that may begin a double click, 0 for none
  Time clickTime = 0;
  int clickX = 0, clickY = 0;
  IRect exposed;  // union of one burst of expose rectangles
  bool ticked = false;
  timespec lastTick = {0, 0};
};

namespace {

using Connection = IGraphicsX11::Connection;

std::mutex gConnectionsLock;
std::vector<Connection*> gConnections;

Connection* FindConnection(Display* d)
{
  std::lock_guard<std::mutex> hold(gConnectionsLock);
  for (Connection* c : gConnections)
    if (c->display == d) return c;
  return nullptr;
}

void ForgetConnection(Connection* c)
{
  std::lock_guard<std::mutex> hold(gConnectionsLock);
  gConnections.erase(std::remove(gConnections.begin(), gConnections.end(), c), gConnections.end());
}

std::mutex gTrapLock;
int gTrapDepth = 0;
std::atomic<XErrorHandler> gPreviousErrorHandler{nullptr};
std::atomic<XIOErrorHandler> gPreviousIOErrorHandler{nullptr};

int OnXError(Display* d, XErrorEvent* e)
{
  if (Connection* c = FindConnection(d))
  {
    ++c->errors;
    return 0;
  }
  XErrorHandler previous = gPreviousErrorHandler.load();
  return previous ? previous(d, e) : 0;
}

int OnXIOError(Display* d)
{
  if (Connection* c = FindConnection(d))
  {
    c->broken = true;
    return 0;
  }
  XIOErrorHandler previous = gPreviousIOErrorHandler.load();
  return previous ? previous(d) : 0;
}

// Xlib ends the process after an I/O error unless the connection has a handler
// of its own that returns; the connection is then dead and every call on it a no-op.
void OnXIOErrorExit(Display* d, void*)
{
  if (Connection* c = FindConnection(d)) c->broken = true;
}

// Keeps the editor's error handlers in place for the lifetime of the object.
class XErrorTrap
{
public:
  XErrorTrap()
  {
    std::lock_guard<std::mutex> hold(gTrapLock);
    if (gTrapDepth++ > 0) return;
    gPreviousErrorHandler = XSetErrorHandler(OnXError);
    gPreviousIOErrorHandler = XSetIOErrorHandler(OnXIOError);
  }
  ~XErrorTrap()
  {
    std::lock_guard<std::mutex> hold(gTrapLock);
    if (--gTrapDepth > 0) return;
    // A handler that someone else installed meanwhile stays (it may chain to
    // ours, which keeps passing on to the previous ones).
    XErrorHandler current = XSetErrorHandler(gPreviousErrorHandler.load());
    if (current != OnXError) XSetErrorHandler(current);
    XIOErrorHandler currentIO = XSetIOErrorHandler(gPreviousIOErrorHandler.load());
    if (currentIO != OnXIOError) XSetIOErrorHandler(currentIO);
  }
  XErrorTrap(const XErrorTrap&) = delete;
  XErrorTrap& operator=(const XErrorTrap&) = delete;
};

IRect Union(const IRect& a, const IRect& b)
{
  if (a.Empty()) return b;
  if (b.Empty()) return a;
  return IRect(std::min(a.L, b.L), std::min(a.T, b.T), std::max(a.R, b.R), std::max(a.B, b.B));
}

// A visual whose pixels are the draw bitmap's words as they stand (0x00RRGGBB).
bool IsDirectRgb(const XVisualInfo& v)
{
  return v.c_class == TrueColor && v.depth == 24 && v.red_mask == 0xFF0000 && v.green_mask == 0xFF00 &&
         v.blue_mask == 0xFF;
}

bool ParentVisualFits(Display* d, const XWindowAttributes& parent)
{
  XVisualInfo wanted = {};
  wanted.visualid = XVisualIDFromVisual(parent.visual);
  int n = 0;
  XVisualInfo* found = XGetVisualInfo(d, VisualIDMask, &wanted, &n);
  const bool fits = found && n > 0 && IsDirectRgb(found[0]);
  if (found) XFree(found);
  return fits;
}

Connection* Connect()
{
  Display* d = XOpenDisplay(nullptr);
  if (!d) return nullptr;
  Connection* c = new Connection;
  c->display = d;
  {
    std::lock_guard<std::mutex> hold(gConnectionsLock);
    gConnections.push_back(c);
  }
  XSetIOErrorExitHandler(d, OnXIOErrorExit, nullptr);
  return c;
}

void Disconnect(Connection* c)
{
  if (!c) return;
  // On a broken connection these only free Xlib's side: nothing is sent.
  if (c->shmImage) XShmDetach(c->display, &c->shm);
  if (c->window) XDestroyWindow(c->display, c->window);
  if (c->gc) XFreeGC(c->display, c->gc);
  if (c->colormap) XFreeColormap(c->display, c->colormap);
  XCloseDisplay(c->display);  // sends what is left and catches its errors
  if (c->shmImage)
  {
    shmdt(c->shm.shmaddr);
    c->shmImage->data = nullptr;
    XDestroyImage(c->shmImage);
  }
  ForgetConnection(c);
  delete c;
}

bool NativeOrderIsLsbFirst()
{
  static const uint32_t one = 1;
  return *reinterpret_cast<const unsigned char*>(&one) == 1;
}

// A segment of w x h pixels shared with the server, in the draw bitmap's
// layout; without it (a remote server, no MIT-SHM) every paint goes by XPutImage.
void ShareImage(Connection* c, int w, int h)
{
  Display* d = c->display;
  if (!XShmQueryExtension(d)) return;
  XImage* img = XShmCreateImage(d, c->visual, (unsigned)c->depth, ZPixmap, nullptr, &c->shm, (unsigned)w, (unsigned)h);
  if (!img) return;
  const int order = NativeOrderIsLsbFirst() ? LSBFirst : MSBFirst;
  c->shm.shmid = img->bits_per_pixel == 32 && img->byte_order == order
                     ? shmget(IPC_PRIVATE, (size_t)img->bytes_per_line * (size_t)h, IPC_CREAT | 0600)
                     : -1;
  void* mem = c->shm.shmid >= 0 ? shmat(c->shm.shmid, nullptr, 0) : (void*)-1;
  if (mem == (void*)-1)
  {
    if (c->shm.shmid >= 0) shmctl(c->shm.shmid, IPC_RMID, nullptr);
    XDestroyImage(img);
    return;
  }
  c->shm.shmaddr = img->data = static_cast<char*>(mem);
  c->shm.readOnly = True;
  const int errorsBefore = c->errors;
  const bool attached = XShmAttach(d, &c->shm);
  XSync(d, False);
  // Marked for removal now: it goes when both sides let go, even after a crash.
  shmctl(c->shm.shmid, IPC_RMID, nullptr);
  if (!attached || c->errors != errorsBefore)
  {
    c->errors = errorsBefore;  // a server that cannot share is no fault
    shmdt(mem);
    img->data = nullptr;
    XDestroyImage(img);
    return;
  }
  c->shmImage = img;
  c->shmCompletionEvent = XShmGetEventBase(d) + ShmCompletion;
}

bool CreateChild(Connection* c, ::Window parent, int x, int y, int w, int h)
{
  Display* d = c->display;
  const int errorsBefore = c->errors;
  XWindowAttributes pa;
  if (!XGetWindowAttributes(d, parent, &pa) || c->errors != errorsBefore || w <= 0 || h <= 0) return false;

  XSetWindowAttributes a = {};
  unsigned long mask = CWBackPixmap | CWBorderPixel | CWEventMask;
  if (ParentVisualFits(d, pa))
  {
    c->visual = pa.visual;
    c->depth = pa.depth;
  }
  else
  {
    XVisualInfo vi;
    if (!XMatchVisualInfo(d, XScreenNumberOfScreen(pa.screen), 24, TrueColor, &vi) || !IsDirectRgb(vi))
      return false;
    c->visual = vi.visual;
    c->depth = vi.depth;
    c->colormap = XCreateColormap(d, pa.root, vi.visual, AllocNone);
    a.colormap = c->colormap;
    mask |= CWColormap;
  }
  a.background_pixmap = None;  // nothing is erased: every exposed pixel is painted from the draw bitmap
  a.border_pixel = 0;
  a.event_mask = kEventMask;
  c->parent = parent;
  c->originX = x;
  c->originY = y;
  c->window = XCreateWindow(d, parent, x, y, (unsigned)w, (unsigned)h, 0, c->depth, InputOutput, c->visual, mask, &a);
  if (c->window) c->gc = XCreateGC(d, c->window, 0, nullptr);
  if (c->window) XMapWindow(d, c->window);
  XSync(d, False);
  if (!c->window || !c->gc || c->broken || c->errors != errorsBefore) return false;
  ShareImage(c, w, h);
  return !c->broken;
}

bool WindowViewable(Connection* c)
{
  XWindowAttributes a;
  return c->window && XGetWindowAttributes(c->display, c->window, &a) && a.map_state == IsViewable;
}

int ElapsedMs(const timespec& since)
{
  timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  const long long ms = (long long)(now.tv_sec - since.tv_sec) * 1000 + (now.tv_nsec - since.tv_nsec) / 1000000;
  return (int)std::min<long long>(ms, 1 << 30);
}

}  // namespace

struct IGraphicsX11::Events
{
  static IMouseMod Modifiers(unsigned state)
  {
    IMouseMod mod;
    mod.L = (state & Button1Mask) != 0;
    mod.R = (state & Button3Mask) != 0;
    mod.S = (state & ShiftMask) != 0;
    mod.C = (state & ControlMask) != 0;
    mod.A = (state & Mod1Mask) != 0;
    return mod;
  }

  static unsigned ButtonMask(unsigned button)
  {
    return button == Button1 ? Button1Mask : button == Button2 ? Button2Mask : Button3Mask;
  }

  static bool IsSecondClick(const Connection* c, const XButtonEvent& e)
  {
    return c->clickButton == e.button && e.time - c->clickTime <= kDoubleClickMs &&
           std::abs(e.x - c->clickX) <= kDoubleClickSlop && std::abs(e.y - c->clickY) <= kDoubleClickSlop;
  }

  // Every handler returns right after a call into the editor core: that call can
  // reach the host, which may close the editor (and free the connection) there.
  static void Dispatch(IGraphicsX11* g, Connection* c, XEvent& ev)
  {
    switch (ev.type)
    {
      case Expose:
      {
        const XExposeEvent& e = ev.xexpose;
        c->exposed = Union(c->exposed, IRect(e.x, e.y, e.x + e.width, e.y + e.height));
        if (e.count > 0) return;
        IRect r = c->exposed, dirty;
        c->exposed = IRect();
        // Redraw marks every control clean, so what is dirty is painted now too.
        if (g->CollectDirtyRect(&dirty)) r = Union(r, dirty);
        FillBeyondEditor(g, c, r);
        g->Redraw(r);
        return;
      }
      case ButtonPress: return Press(g, c, ev.xbutton);
      case ButtonRelease:
      {
        const XButtonEvent& e = ev.xbutton;
        if (e.button < Button1 || e.button > Button3) return;
        c->pressHeld = false;
        return g->HandleMouseUp(e.x, e.y, Modifiers(e.state & ~ButtonMask(e.button)));
      }
      case MotionNotify:
      {
        // Only the latest of a run of queued moves counts, as on Windows.
        while (XEventsQueued(c->display, QueuedAlready) > 0)
        {
          XEvent next;
          XPeekEvent(c->display, &next);
          if (next.type != MotionNotify || next.xmotion.window != ev.xmotion.window) break;
          XNextEvent(c->display, &ev);
        }
        const XMotionEvent& e = ev.xmotion;
        if (c->pressHeld && (e.state & (Button1Mask | Button3Mask)))
          g->HandleMouseDrag(e.x, e.y, Modifiers(e.state));
        return;
      }
      case KeyPress:
      {
        const unsigned gen = g->generation;
        const int key = KeyCodeFromKeySym(XLookupKeysym(&ev.xkey, 0));
        if (key >= 0 && g->HandleKeyDown(ev.xkey.x, ev.xkey.y, key)) return;
        if (g->generation == gen) ForwardToHost(c, ev);
        return;
      }
      case KeyRelease: return ForwardToHost(c, ev);
      case LeaveNotify:
        // The window stopped being viewable (the host hid it), or the grab
        // ended otherwise, in the middle of a press: the server let go of the
        // pointer, and the release will not come here.
        if (c->pressHeld && (ev.xcrossing.mode != NotifyNormal || !WindowViewable(c)))
        {
          c->pressHeld = false;
          g->AbandonPress();
        }
        return;
      case DestroyNotify:
        // Destroyed with the host's window: closed from now on.
        if (ev.xdestroywindow.window != c->window) return;
        c->window = 0;
        c->pressHeld = false;
        return g->AbandonPress();
      default:
        if (ev.type == c->shmCompletionEvent) c->shmBusy = false;
        return;
    }
  }

  // A host may size the window larger than the editor (Ardour widens it to its
  // toolbar): what lies beyond the editor is painted black (the GC's default
  // foreground) rather than left as it was.
  static void FillBeyondEditor(IGraphicsX11* g, Connection* c, const IRect& r)
  {
    const int w = g->Width(), h = g->Height();
    if (r.R > w) XFillRectangle(c->display, c->window, c->gc, std::max(r.L, w), r.T, (unsigned)(r.R - std::max(r.L, w)), (unsigned)r.H());
    if (r.B > h && r.L < w)
      XFillRectangle(c->display, c->window, c->gc, r.L, std::max(r.T, h), (unsigned)(std::min(r.R, w) - r.L),
                     (unsigned)(r.B - std::max(r.T, h)));
  }

  static void Press(IGraphicsX11* g, Connection* c, const XButtonEvent& e)
  {
    if (e.button == Button4 || e.button == Button5)
      return g->HandleMouseWheel(e.x, e.y, Modifiers(e.state), e.button == Button4 ? 1 : -1);
    if (e.button < Button1 || e.button > Button3) return;
    const IMouseMod mod = Modifiers(e.state | ButtonMask(e.button));
    if (IsSecondClick(c, e))
    {
      c->clickButton = 0;  // a third press starts anew
      // Only the left button's double click is the editor's; the others' second
      // press is dropped, as the Windows window class does.
      if (e.button == Button1) g->HandleDoubleClick(e.x, e.y, mod);
      return;
    }
    c->clickButton = e.button;
    c->clickTime = e.time;
    c->clickX = e.x;
    c->clickY = e.y;
    // The server grabs the pointer for the window until the release, so drags
    // outside the window still come here.
    c->pressHeld = true;
    g->HandleMouseDown(e.x, e.y, mod);
  }

  // Keys the editor does not take go to the host's window (and up its ancestry
  // to whichever window listens for them), as on Windows.
  static void ForwardToHost(Connection* c, XEvent ev)
  {
    if (!c->parent || c->broken) return;
    ev.xkey.window = c->parent;
    ev.xkey.subwindow = c->window;
    ev.xkey.x += c->originX;
    ev.xkey.y += c->originY;
    XSendEvent(c->display, c->parent, True, ev.type == KeyPress ? KeyPressMask : KeyReleaseMask, &ev);
    XFlush(c->display);
  }
};

IGraphicsX11::IGraphicsX11(IPlugBase* plug, int width, int height, int frameRate)
  : IGraphics(plug, width, height, frameRate)
{
}

IGraphicsX11::~IGraphicsX11()
{
  // The plug-in is being destroyed: the window goes without telling the host.
  Connection* c = x;
  x = nullptr;
  if (!c) return;
  XErrorTrap trap;
  Disconnect(c);
}

void IGraphicsX11::AbandonPress()
{
  ClearMouseCapture();
  EndOpenGesture();
}

int IGraphicsX11::KeyCodeFromKeySym(unsigned long keysym)
{
  switch (keysym)
  {
    case XK_space: return 0;
    case XK_Up: return 1;
    case XK_Down: return 2;
    case XK_Left: return 3;
    case XK_Right: return 4;
    default: break;
  }
  // The key symbols of digits and Latin letters are their character codes.
  if (keysym >= XK_0 && keysym <= XK_9) return (int)keysym - 43;
  if (keysym >= XK_A && keysym <= XK_Z) return (int)keysym - 50;
  if (keysym >= XK_a && keysym <= XK_z) return (int)keysym - 82;
  return -1;
}

int IGraphicsX11::TimerPeriodMs() const
{
  const int rate = FrameRate();
  if (rate <= 0) return kDefaultTimerPeriodMs;
  return std::max(1, (int)(1000.0 / rate));
}

void* IGraphicsX11::Window()
{
  return x && x->window && !x->broken ? reinterpret_cast<void*>((uintptr_t)x->window) : nullptr;
}

int IGraphicsX11::ConnectionFd() const
{
  return x && !x->broken ? ConnectionNumber(x->display) : -1;
}

int IGraphicsX11::ErrorCount() const
{
  return x ? x->errors : 0;
}

void* IGraphicsX11::OpenWindow(void* parentWindow)
{
  const ::Window parent = (::Window)reinterpret_cast<uintptr_t>(parentWindow);
  int px = 0, py = 0, w = Width(), h = Height();
  XErrorTrap trap;
  if (x && x->window && !x->broken && parent)
  {
    // Re-opening: keep the old window's place and size, seen from the new parent.
    XWindowAttributes old;
    if (XGetWindowAttributes(x->display, x->window, &old))
    {
      w = old.width;
      h = old.height;
    }
    int tx = 0, ty = 0;
    ::Window child = 0;
    if (XTranslateCoordinates(x->display, x->window, parent, 0, 0, &tx, &ty, &child))
    {
      px = tx;
      py = ty;
    }
  }
  CloseWindow();
  if (!parent) return nullptr;

  Connection* c = Connect();
  if (!c) return nullptr;
  if (!CreateChild(c, parent, px, py, w, h))
  {
    Disconnect(c);
    return nullptr;
  }
  x = c;
  ++generation;
  MarkAllDirty();
  return Window();
}

void IGraphicsX11::CloseWindow()
{
  if (!x) return;
  // A press held while the window goes never sees its release.
  AbandonPress();
  Connection* c = x;
  x = nullptr;
  ++generation;
  XErrorTrap trap;
  Disconnect(c);
}

void IGraphicsX11::ProcessEvents()
{
  Connection* c = x;
  if (!c || c->broken) return;
  const unsigned gen = generation;
  XErrorTrap trap;
  while (!c->broken && XPending(c->display) > 0)
  {
    XEvent ev;
    XNextEvent(c->display, &ev);
    Events::Dispatch(this, c, ev);
    if (generation != gen) return;  // a host call made while handling it closed the editor
  }
  if (c->broken)
  {
    // The X server went away: the window went with it.
    c->window = 0;
    c->pressHeld = false;
    AbandonPress();
  }
}

void IGraphicsX11::Tick()
{
  Connection* c = x;
  if (!c) return;
  c->ticked = true;
  clock_gettime(CLOCK_MONOTONIC, &c->lastTick);
  IRect dirty;
  if (c->window && !c->broken && CollectDirtyRect(&dirty)) Redraw(dirty);
}

void IGraphicsX11::Idle()
{
  ProcessEvents();
  Connection* c = x;
  if (c && (!c->ticked || ElapsedMs(c->lastTick) >= TimerPeriodMs())) Tick();
}

bool IGraphicsX11::PresentRect(const IRect& r)
{
  Connection* c = x;
  LICE_IBitmap* bmp = DrawBitmap();
  if (!c || !c->window || c->broken || !bmp || !bmp->getBits()) return true;
  const int l = std::max(r.L, 0), t = std::max(r.T, 0);
  const int w = std::min(r.R, bmp->getWidth()) - l, h = std::min(r.B, bmp->getHeight()) - t;
  if (w <= 0 || h <= 0) return true;

  // The draw bitmap's 0xAARRGGBB words are the visual's pixels; the server
  // ignores the alpha byte.
  XErrorTrap trap;
  XImage* shared = c->shmImage;
  if (shared && w * h >= kSharedImageMinPixels && l + w <= shared->width && t + h <= shared->height)
  {
    if (c->shmBusy) XSync(c->display, False);  // the last shared paint has been read once this returns
    const uint32_t* bits = bmp->getBits();
    const size_t span = (size_t)bmp->getRowSpan();
    for (int y = t; y < t + h; ++y)
      std::memcpy(shared->data + (size_t)y * (size_t)shared->bytes_per_line + (size_t)l * 4, bits + (size_t)y * span + l,
                  (size_t)w * 4);
    XShmPutImage(c->display, c->window, c->gc, shared, l, t, l, t, (unsigned)w, (unsigned)h, True);
    c->shmBusy = true;
    XFlush(c->display);
    return true;
  }

  const int order = NativeOrderIsLsbFirst() ? LSBFirst : MSBFirst;
  XImage img = {};
  img.width = bmp->getWidth();
  img.height = bmp->getHeight();
  img.format = ZPixmap;
  img.data = reinterpret_cast<char*>(bmp->getBits());
  img.byte_order = order;
  img.bitmap_unit = 32;
  img.bitmap_bit_order = order;
  img.bitmap_pad = 32;
  img.depth = c->depth;
  img.bytes_per_line = bmp->getRowSpan() * 4;
  img.bits_per_pixel = 32;
  img.red_mask = 0xFF0000;
  img.green_mask = 0xFF00;
  img.blue_mask = 0xFF;
  if (!XInitImage(&img)) return true;
  XPutImage(c->display, c->window, c->gc, &img, l, t, l, t, (unsigned)w, (unsigned)h);
  XFlush(c->display);
  return true;
}

LICE_IBitmap* IGraphicsX11::LoadImageResource(int resourceId, const char* name)
{
  return LoadEmbeddedImage(resourceId, name);
}

IGraphics* MakePlatformGraphics(IPlugBase* plug, int width, int height, int frameRate)
{
  return new IGraphicsX11(plug, width, height, frameRate);
}
