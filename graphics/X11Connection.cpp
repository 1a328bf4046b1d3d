// The Xlib plumbing of the X11 editor window.
//
// Each open editor has a connection of its own (XOpenDisplay on $DISPLAY), so
// the host's connection is never touched, and a failure of ours can never break
// it. Xlib's error handlers are process-wide, though: every Xlib call of the
// window host runs inside an XErrorTrap, which puts handlers in place that
// record errors on the editor's connections and pass every other connection's
// errors on to the handlers that were there before, and which puts those back
// afterwards.
#include "graphics/X11Connection.h"

#include <X11/Xresource.h>
#include <sys/shm.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <mutex>
#include <vector>

namespace x11_host {

namespace {

constexpr long kEventMask = ExposureMask | ButtonPressMask | ButtonReleaseMask | ButtonMotionMask |
                            KeyPressMask | KeyReleaseMask | LeaveWindowMask | StructureNotifyMask;
// Rectangles from this many pixels up go through shared memory: below it (a
// knob's tick) a plain XPutImage costs about the same; above it, several times
// more (measured on Xvfb: 250 x 250 pixels 490 us against 80 us).
constexpr int kSharedImageMinPixels = 32768;

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

}  // namespace

XErrorTrap::XErrorTrap()
{
  std::lock_guard<std::mutex> hold(gTrapLock);
  if (gTrapDepth++ > 0) return;
  gPreviousErrorHandler = XSetErrorHandler(OnXError);
  gPreviousIOErrorHandler = XSetIOErrorHandler(OnXIOError);
}

XErrorTrap::~XErrorTrap()
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

namespace {

void UnshareImage(Connection* c)
{
  if (!c->shmImage) return;
  XShmDetach(c->display, &c->shm);
  XSync(c->display, False);  // the server has let go of the segment once this returns
  c->shmBusy = false;
  shmdt(c->shm.shmaddr);
  c->shmImage->data = nullptr;
  XDestroyImage(c->shmImage);
  c->shmImage = nullptr;
}

}  // namespace

void ResizeChild(Connection* c, int w, int h)
{
  if (!c->window || c->broken || w <= 0 || h <= 0) return;
  XResizeWindow(c->display, c->window, (unsigned)w, (unsigned)h);
  UnshareImage(c);
  ShareImage(c, w, h);
  XFlush(c->display);
}

const char* ResourceString(Connection* c)
{
  return c && c->display && !c->broken ? XResourceManagerString(c->display) : nullptr;
}

double ScaleFromResources(const char* resources)
{
  if (!resources) return 0.0;
  XrmInitialize();
  XrmDatabase db = XrmGetStringDatabase(resources);
  if (!db) return 0.0;
  char* type = nullptr;
  XrmValue value = {};
  double dpi = 0.0;
  if (XrmGetResource(db, "Xft.dpi", "Xft.Dpi", &type, &value) && value.addr)
  {
    // Digits and an optional fraction, read by hand: strtod follows the locale.
    const char* p = value.addr;
    while (*p == ' ' || *p == '\t') ++p;
    double whole = 0.0, frac = 0.0, unit = 1.0;
    bool digits = false;
    for (; *p >= '0' && *p <= '9' && whole < 1e6; ++p, digits = true) whole = whole * 10 + (*p - '0');
    if (*p == '.')
      for (++p; *p >= '0' && *p <= '9' && unit > 1e-6; ++p, digits = true) frac += (*p - '0') * (unit /= 10);
    if (digits) dpi = whole + frac;
  }
  XrmDestroyDatabase(db);
  return dpi / 96.0;
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

// The draw bitmap's 0xAARRGGBB words are the visual's pixels; the server
// ignores the alpha byte.
void PutImage(Connection* c, LICE_IBitmap* bmp, int l, int t, int w, int h)
{
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
    return;
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
  if (!XInitImage(&img)) return;
  XPutImage(c->display, c->window, c->gc, &img, l, t, l, t, (unsigned)w, (unsigned)h);
  XFlush(c->display);
}

}  // namespace x11_host
