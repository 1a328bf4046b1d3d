#pragma once
// The Windows host of the editor: a child window inside the host's window,
// redrawn on a window timer by copying the draw bitmap with GDI, with Win32
// mouse and keyboard messages turned into the editor's event operations.
//
// Window handles are passed as void* so that this header does not pull
// <windows.h> into the plug-in sources.
//
// Display scale: in a host thread that is DPI aware the editor takes its scale
// from its window's DPI when it opens and follows WM_DPICHANGED(_AFTERPARENT)
// when moved between screens (unless the host gives a scale); in a DPI-unaware
// thread it stays at 1 and Windows stretches it, as the host expects.

#include "graphics/IGraphics.h"

class IGraphicsWin : public IGraphics
{
public:
  IGraphicsWin(IPlugBase* plug, int width, int height, int frameRate);
  ~IGraphicsWin() override;

  bool PresentRect(const IRect& r) override;
  const char* BackendName() const override { return "Windows GDI"; }
  void* OpenWindow(void* parentWindow) override;
  void CloseWindow() override;
  void* Window() override { return hwnd; }
  LICE_IBitmap* LoadImageResource(int resourceId, const char* name) override;

  void* ModuleInstance() const { return moduleInstance; }
  void* ParentWindow() const { return parentWindow; }

  // Number of editor windows of this module that hold the window class.
  static int WindowClassUseCount();
  static const char* WindowClassName() { return "IPlugWndClass"; }
  static constexpr unsigned kTimerId = 2;

  // Key code handed to HandleKeyDown for a virtual-key code, or -1 when the key
  // is not one the editor's controls take (it then goes to the host).
  static int KeyCodeFromVirtualKey(int virtualKey);

protected:
  double DisplayScale() override;
  void ScaleChanged() override;

private:
  friend struct IGraphicsWinProc;

  void DestroyOwnWindow();  // CloseWindow without ending a press
  void AbandonPress();      // forget a held press and end its edit gesture

  void* moduleInstance = nullptr;
  void* hwnd = nullptr;
  void* parentWindow = nullptr;
  // True while this editor counts towards the window class use count. It can
  // outlive the window when the host destroys its parent window first; the use
  // is then given back by the next CloseWindow, OpenWindow or the destructor.
  bool holdsClassUse = false;
  // Set while the editor lets go of the mouse itself, so that only a capture
  // taken by another window counts as losing it.
  bool releasingCapture = false;
};
