// Linux editor window: a child window in the host's window on a connection of
// the editor's own (X11Connection), painted from the draw bitmap, and the
// translation of X input events into the editor's event operations.
#include "graphics/IGraphicsX11.h"

#include <X11/keysym.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "graphics/IGraphicsHeadless.h"
#include "graphics/X11Connection.h"

using namespace x11_host;

namespace {

// The double-click rule of the Windows editor (the system defaults there): a
// second press of the same button within 500 ms and 2 pixels of the first.
constexpr Time kDoubleClickMs = 500;
constexpr int kDoubleClickSlop = 2;
constexpr int kDefaultTimerPeriodMs = 40;

IRect Union(const IRect& a, const IRect& b)
{
  if (a.Empty()) return b;
  if (b.Empty()) return a;
  return IRect(std::min(a.L, b.L), std::min(a.T, b.T), std::max(a.R, b.R), std::max(a.B, b.B));
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
        return g->HandleMouseUp(g->LogicalCoord(e.x), g->LogicalCoord(e.y), Modifiers(e.state & ~ButtonMask(e.button)));
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
          g->HandleMouseDrag(g->LogicalCoord(e.x), g->LogicalCoord(e.y), Modifiers(e.state));
        return;
      }
      case KeyPress:
      {
        const unsigned gen = g->generation;
        const int key = KeyCodeFromKeySym(XLookupKeysym(&ev.xkey, 0));
        if (key >= 0 && g->HandleKeyDown(g->LogicalCoord(ev.xkey.x), g->LogicalCoord(ev.xkey.y), key)) return;
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
    const int w = g->ScaledWidth(), h = g->ScaledHeight();
    if (r.R > w) XFillRectangle(c->display, c->window, c->gc, std::max(r.L, w), r.T, (unsigned)(r.R - std::max(r.L, w)), (unsigned)r.H());
    if (r.B > h && r.L < w)
      XFillRectangle(c->display, c->window, c->gc, r.L, std::max(r.T, h), (unsigned)(std::min(r.R, w) - r.L),
                     (unsigned)(r.B - std::max(r.T, h)));
  }

  // Pointer positions reach the editor core in logical pixels; the double-click
  // rule stays in the screen's pixels.
  static void Press(IGraphicsX11* g, Connection* c, const XButtonEvent& e)
  {
    const int x = g->LogicalCoord(e.x), y = g->LogicalCoord(e.y);
    if (e.button == Button4 || e.button == Button5)
      return g->HandleMouseWheel(x, y, Modifiers(e.state), e.button == Button4 ? 1 : -1);
    if (e.button < Button1 || e.button > Button3) return;
    const IMouseMod mod = Modifiers(e.state | ButtonMask(e.button));
    if (IsSecondClick(c, e))
    {
      c->clickButton = 0;  // a third press starts anew
      // Only the left button's double click is the editor's; the others' second
      // press is dropped, as the Windows window class does.
      if (e.button == Button1) g->HandleDoubleClick(x, y, mod);
      return;
    }
    c->clickButton = e.button;
    c->clickTime = e.time;
    c->clickX = e.x;
    c->clickY = e.y;
    // The server grabs the pointer for the window until the release, so drags
    // outside the window still come here.
    c->pressHeld = true;
    g->HandleMouseDown(x, y, mod);
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

double IGraphicsX11::ScaleFromDisplaySettings(const char* resources, const char* gdkScale)
{
  double s = ScaleFromResources(resources);
  if (!(s > 0.0) && gdkScale)
  {
    // GDK_SCALE is a whole number.
    char* end = nullptr;
    const long n = std::strtol(gdkScale, &end, 10);
    if (end != gdkScale && *end == '\0' && n > 0 && n < 100) s = (double)n;
  }
  if (!(s > 0.0)) return 1.0;
  return std::clamp(std::round(s * 4.0) / 4.0, kMinEditorScale, kMaxEditorScale);
}

double IGraphicsX11::DisplayScale()
{
  // The open window's connection, or a short one of its own.
  if (x && !x->broken) return ScaleFromDisplaySettings(ResourceString(x), std::getenv("GDK_SCALE"));
  XErrorTrap trap;
  Connection* c = Connect();
  const double s = ScaleFromDisplaySettings(ResourceString(c), std::getenv("GDK_SCALE"));
  Disconnect(c);
  return s;
}

void IGraphicsX11::ScaleChanged()
{
  if (!x) return;
  XErrorTrap trap;
  ResizeChild(x, ScaledWidth(), ScaledHeight());
}

void* IGraphicsX11::OpenWindow(void* parentWindow)
{
  const ::Window parent = (::Window)reinterpret_cast<uintptr_t>(parentWindow);
  if (!x) FollowDisplayScale();
  int px = 0, py = 0, w = ScaledWidth(), h = ScaledHeight();
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

  XErrorTrap trap;
  PutImage(c, bmp, l, t, w, h);
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
