#pragma once
// The Linux (X11) host of the editor: a child window inside the window that the
// host application gives, on a private X connection of the editor's own, painted
// from the draw bitmap, with X input events turned into the editor's event
// operations.
//
// The editor runs no thread. The host drives it on its user-interface thread,
// either by watching ConnectionFd() (ProcessEvents when it is readable) and
// calling Tick() every TimerPeriodMs(), or by calling Idle() often.
//
// Window ids travel as void* (the way hosts pass them) so that this header does
// not pull <X11/Xlib.h> into the plug-in sources.

#include <cstdint>

#include "graphics/IGraphics.h"

class IGraphicsX11 : public IGraphics
{
public:
  IGraphicsX11(IPlugBase* plug, int width, int height, int frameRate);
  ~IGraphicsX11() override;

  bool PresentRect(const IRect& r) override;
  const char* BackendName() const override { return "X11"; }
  // parentWindow: the host's X window id, cast to a pointer. Null when no window
  // could be made (no display, a window id that is not a window, no usable visual).
  void* OpenWindow(void* parentWindow) override;
  void CloseWindow() override;
  void* Window() override;  // the editor's window id as a pointer; null when closed
  LICE_IBitmap* LoadImageResource(int resourceId, const char* name) override;

  // The X connection's file descriptor while a window is open, else -1.
  int ConnectionFd() const;
  // Handles every X event waiting on the connection.
  void ProcessEvents();
  // The redraw tick: paints the dirty controls.
  void Tick();
  // For hosts that only call an idle function: events on every call, the tick
  // once its period has passed since the last one.
  void Idle();
  int TimerPeriodMs() const;

  // X errors met on the editor's connection since the window opened: recorded
  // and survived, never fatal to the host.
  int ErrorCount() const;

  // The scale an X display asks for: its Xft.dpi resource divided by 96 when
  // set, else GDK_SCALE, rounded to a quarter and held within 1 to 3; 1 when
  // neither says anything usable. `resources` is the display's resource
  // string, `gdkScale` the environment's GDK_SCALE (either may be null).
  static double ScaleFromDisplaySettings(const char* resources, const char* gdkScale);

  // Key code handed to HandleKeyDown for an X key symbol, or -1 when the key is
  // not one the editor's controls take (it then goes to the host's window).
  static int KeyCodeFromKeySym(unsigned long keysym);

  struct Connection;  // the Xlib state of one open window

protected:
  double DisplayScale() override;
  void ScaleChanged() override;

private:
  struct Events;  // the X event handlers

  void AbandonPress();  // forget a held press and end its edit gesture

  Connection* x = nullptr;
  unsigned generation = 0;  // changes at every open and close
};
