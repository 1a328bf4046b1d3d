#pragma once
// The editor object of one plug-in instance: ordered controls, the off-screen
// draw bitmap, redraw bookkeeping, and event routing to the control under the
// pointer. It knows no windows: a window host derives from it.
//
// Contract relied on by the framework and the bindings (keep these signatures):
//   ShowParameterValue, PrepareDrawing, Width, Height, OpenWindow, CloseWindow,
//   Window, IsWindowOpen, the virtual destructor.

#include <cstdint>
#include <vector>

#include "graphics/LICE.h"

class IPlugBase;
class IControl;

struct IRect
{
  int L = 0, T = 0, R = 0, B = 0;
  IRect() = default;
  IRect(int l, int t, int r, int b) : L(l), T(t), R(r), B(b) {}
  bool Empty() const { return L == 0 && T == 0 && R == 0 && B == 0; }
  int W() const { return R - L; }
  int H() const { return B - T; }
  bool operator==(const IRect& o) const { return L == o.L && T == o.T && R == o.R && B == o.B; }
};

struct IMouseMod
{
  bool L = false, R = false, S = false, C = false, A = false;
};
using MouseModifiers = IMouseMod;

class IGraphics
{
public:
  IGraphics(IPlugBase* plug, int width, int height, int frameRate);
  virtual ~IGraphics();
  IGraphics(const IGraphics&) = delete;
  IGraphics& operator=(const IGraphics&) = delete;

  // Window-host operations.
  virtual bool PresentRect(const IRect& r) = 0;
  virtual void Resize(int width, int height);
  virtual bool IsWindowOpen() { return Window() != nullptr; }
  virtual const char* BackendName() const { return ""; }
  virtual void* OpenWindow(void* parentWindow) = 0;
  virtual void CloseWindow() = 0;
  virtual void* Window() = 0;
  virtual LICE_IBitmap* LoadImageResource(int resourceId, const char* name) = 0;

  // Building.
  void AttachBackground(int resourceId, const char* name);
  int AttachControl(IControl* control);
  BitmapStrip LoadStrip(int resourceId, const char* name, int frameCount);
  bool DrawStripFrame(const BitmapStrip& strip, const IRect& dest, int srcX, int srcY,
                      const ChannelBlend* blend);

  // Values.
  void ShowParameterValue(int paramIdx, double value, bool normalized);
  void MarkAllDirty();

  // Drawing.
  void PrepareDrawing();  // forgets the draw bitmap: DrawBitmap() makes it anew
  bool Redraw(const IRect& r);
  bool CollectDirtyRect(IRect* out);

  // Events, in editor coordinates.
  void HandleMouseDown(int x, int y, const IMouseMod& mod);
  void HandleMouseUp(int x, int y, const IMouseMod& mod);
  void HandleDoubleClick(int x, int y, const IMouseMod& mod);
  void HandleMouseDrag(int x, int y, const IMouseMod& mod);
  void HandleMouseWheel(int x, int y, const IMouseMod& mod, int notches);
  bool HandleKeyDown(int x, int y, int keyCode);

  int Width() const { return width; }
  int Height() const { return height; }
  int FrameRate() const { return frameRate; }
  IPlugBase* GetPlug() { return plug; }
  int NControls() const { return (int)controls.size(); }
  IControl* GetControl(int idx);  // null outside the list
  // The draw bitmap, made when first asked for.
  LICE_IBitmap* DrawBitmap();
  const IRect& DrawRect() const { return drawRect; }

  // Parameter of the edit gesture begun by a press and not yet ended, or -1.
  int OpenGestureParam() const { return gestureParam; }

protected:
  int HitTest(int x, int y);
  void ClearMouseCapture();  // no control holds the mouse and no drag position is kept
  void BeginGesture(int paramIdx);  // ends any open gesture first
  void EndOpenGesture();

  std::vector<IControl*> controls;
  IPlugBase* plug;
  IRect drawRect;
  LICE_IBitmap* drawBitmap = nullptr;   // a LICE_SysBitmap, or null until needed
  LICE_MemBitmap* scratchBitmap = nullptr;
  int width, height, frameRate;
  int mouseCapture = -1;
  int mouseOver = -1;
  int mouseX = 0, mouseY = 0;
  bool handleMouseOver = false;
  bool strictDrawing = true;
  bool tooltipsEnabled = false;
  IControl* keyCatcher = nullptr;
  int gestureParam = -1;
};

// Creates the editor for this platform: the Windows window host on Windows, a
// headless host elsewhere (images compiled in, no window).
IGraphics* MakePlatformGraphics(IPlugBase* plug, int width, int height, int frameRate);
