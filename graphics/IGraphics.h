#pragma once
// The editor object of one plug-in instance: ordered controls, the off-screen
// draw bitmap, redraw bookkeeping, and event routing to the control under the
// pointer. It knows no windows: a window host derives from it.
//
// Contract relied on by the framework and the bindings (keep these signatures):
//   ShowParameterValue, PrepareDrawing, Width, Height, OpenWindow, CloseWindow,
//   Window, IsWindowOpen, the virtual destructor.
//
// Display scale: the layout (control rectangles, Width, Height, every event's
// coordinates) is in logical pixels, the editor's size at 100 %. The draw
// bitmap, the rectangles handed to Redraw, CollectDirtyRect and PresentRect,
// and the window are in physical pixels, the logical ones times Scale().
// Window hosts turn pointer positions into logical pixels (LogicalCoord)
// before calling the event operations. At scale 1 the two are the same.

#include <cstdint>
#include <vector>

#include "graphics/LICE.h"

class IPlugBase;
class IControl;

// The resource id of an image at twice the size is its 1x id plus this.
constexpr int kHiResImageIdOffset = 100;
// The scales an editor can be shown at.
constexpr double kMinEditorScale = 1.0;
constexpr double kMaxEditorScale = 3.0;

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

  // Display scale, 1 to 3, as the host application gives it. A factor outside
  // that range, NaN or infinite is refused (false) and changes nothing. A
  // change drops the draw bitmap and the scaled images, marks every control
  // dirty and lets the window host resize its window; telling the host
  // application is the binding's part. Once a host gave a scale, the
  // display's no longer counts.
  bool SetScale(double factor);
  // The display's scale (DisplayScale), unless a host gave one. Bindings call
  // it before they report the editor's size; window hosts when they open.
  void FollowDisplayScale();
  bool HostGaveScale() const { return hostGaveScale; }
  double Scale() const { return scale; }
  // The editor's size in physical pixels.
  int ScaledWidth() const { return PhysicalCoord(width); }
  int ScaledHeight() const { return PhysicalCoord(height); }
  int PhysicalCoord(int logical) const;
  IRect PhysicalRect(const IRect& logical) const;
  // A physical pointer position as a logical one (rounded down, so that every
  // physical pixel belongs to the logical pixel it lies in).
  int LogicalCoord(int physical) const;

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
  // Called after the scale changed: the window host resizes its window.
  virtual void ScaleChanged() {}
  // The scale the display asks for when no host gives one.
  virtual double DisplayScale() { return 1.0; }
  bool ApplyScale(double factor);  // SetScale without making it the host's
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

private:
  struct ScaledImage;
  LICE_IBitmap* HiResBitmap(const BitmapStrip& strip);
  LICE_IBitmap* ScaledFrame(LICE_IBitmap* src, int srcL, int srcT, int srcW, int srcH, int w, int h);
  LICE_IBitmap* CachedImage(int resourceId, const char* name);
  bool BlitClipped(LICE_IBitmap* src, const IRect& dest, const IRect& clipped, int srcX, int srcY, float weight,
                   int mode);
  void ForgetScaledImages();

  double scale = 1.0;
  bool hostGaveScale = false;
  // Frames resampled to the current scale: one per strip drawn (and per
  // frame shown), made when first drawn, dropped when the scale changes.
  std::vector<ScaledImage*> scaledImages;
};

// Creates the editor for this platform: the Windows window host on Windows, a
// headless host elsewhere (images compiled in, no window).
IGraphics* MakePlatformGraphics(IPlugBase* plug, int width, int height, int frameRate);
