#pragma once
// The Xlib side of one open X11 editor window: the editor's own connection,
// its child window, shared-memory image and input state, and the error trap
// under which every Xlib call of the window host runs. Only the window host
// (IGraphicsX11.cpp, X11Connection.cpp) includes this.
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XShm.h>
#include <time.h>

#include "graphics/IGraphicsX11.h"

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

namespace x11_host {

using Connection = IGraphicsX11::Connection;

// Keeps the editor's error handlers in place while it lives (see X11Connection.cpp).
class XErrorTrap
{
public:
  XErrorTrap();
  ~XErrorTrap();
  XErrorTrap(const XErrorTrap&) = delete;
  XErrorTrap& operator=(const XErrorTrap&) = delete;
};

// A connection of the editor's own to $DISPLAY, or null when there is none.
Connection* Connect();
// Destroys what the connection made, closes it and frees it (null is allowed).
void Disconnect(Connection* c);
// The editor's window, mapped, at (x, y) of the host's window; false when the
// parent is no window or no 24-bit TrueColor visual can be had.
bool CreateChild(Connection* c, ::Window parent, int x, int y, int w, int h);
bool WindowViewable(Connection* c);
// A new size for the editor's window (and its shared image).
void ResizeChild(Connection* c, int w, int h);
// The display's resource string (RESOURCE_MANAGER), or null.
const char* ResourceString(Connection* c);
// Xft.dpi of a resource string divided by 96; 0 without one.
double ScaleFromResources(const char* resources);
// Copies a rectangle of the draw bitmap to the window (already clipped to both).
void PutImage(Connection* c, LICE_IBitmap* bitmap, int l, int t, int w, int h);

}  // namespace x11_host
