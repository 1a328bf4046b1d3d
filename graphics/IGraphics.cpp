// Editor core: control list, redraw bookkeeping and event routing.
#include "graphics/IGraphics.h"

#include <algorithm>
#include <cmath>

#include "framework/IPlugBase.h"
#include "graphics/IControl.h"

IGraphics::IGraphics(IPlugBase* plug, int width, int height, int frameRate)
  : plug(plug), width(width), height(height), frameRate(frameRate)
{
  mouseCapture = -1;
  mouseOver = -1;
  mouseX = mouseY = 0;
  handleMouseOver = false;
  strictDrawing = true;
  tooltipsEnabled = false;
}

// One resampled frame: the source rectangle it shows and its pixels.
struct IGraphics::ScaledImage
{
  LICE_IBitmap* src;
  int srcL, srcT, srcW, srcH;
  LICE_MemBitmap pixels;
};

IGraphics::~IGraphics()
{
  ForgetScaledImages();
  delete keyCatcher;
  for (IControl* c : controls) delete c;
  controls.clear();
  delete drawBitmap;
  delete scratchBitmap;
}

IControl* IGraphics::GetControl(int idx)
{
  if (idx < 0 || idx >= (int)controls.size()) return nullptr;
  return controls[(size_t)idx];
}

// ---- Building ---------------------------------------------------------------------------

void IGraphics::AttachBackground(int resourceId, const char* name)
{
  BitmapStrip strip = LoadStrip(resourceId, name, 1);
  IControl* bg = new IBitmapControl(plug, 0, 0, -1, strip, BlendOpaque);
  controls.insert(controls.begin(), bg);
  // Indices moved up by one.
  if (mouseCapture >= 0) ++mouseCapture;
  if (mouseOver >= 0) ++mouseOver;
}

int IGraphics::AttachControl(IControl* control)
{
  if (!control) return -1;
  controls.push_back(control);
  return (int)controls.size() - 1;
}

BitmapStrip IGraphics::LoadStrip(int resourceId, const char* name, int frameCount)
{
  LICE_IBitmap* bmp = CachedImage(resourceId, name);
  BitmapStrip strip;
  strip.bitmap = bmp;
  strip.width = bmp ? bmp->getWidth() : 0;
  strip.height = bmp ? bmp->getHeight() : 0;
  strip.frameCount = frameCount;
  strip.framesAreHorizontal = false;
  strip.resourceId = resourceId;
  strip.name = name;
  return strip;
}

LICE_IBitmap* IGraphics::CachedImage(int resourceId, const char* name)
{
  BitmapCache& cache = BitmapCache::Instance();
  LICE_IBitmap* bmp = cache.Find(resourceId);
  if (!bmp)
  {
    // Decoding runs outside the cache lock; two editors may both decode and
    // append, and the first entry wins later lookups.
    bmp = LoadImageResource(resourceId, name);
    if (bmp)
    {
      cache.Append(resourceId, bmp);
      bmp = cache.Find(resourceId);
    }
  }
  return bmp;
}

// ---- Scale -----------------------------------------------------------------------------------

bool IGraphics::SetScale(double factor)
{
  if (!ApplyScale(factor)) return false;
  hostGaveScale = true;
  return true;
}

void IGraphics::FollowDisplayScale()
{
  if (!hostGaveScale) ApplyScale(DisplayScale());
}

bool IGraphics::ApplyScale(double factor)
{
  // Written so that NaN fails too.
  if (!(factor >= kMinEditorScale && factor <= kMaxEditorScale)) return false;
  if (factor == scale) return true;
  scale = factor;
  ForgetScaledImages();
  PrepareDrawing();
  MarkAllDirty();
  ScaleChanged();
  return true;
}

int IGraphics::PhysicalCoord(int logical) const
{
  if (scale == 1.0) return logical;
  return (int)std::clamp<double>(std::round(logical * scale), INT32_MIN, INT32_MAX);
}

IRect IGraphics::PhysicalRect(const IRect& r) const
{
  return IRect(PhysicalCoord(r.L), PhysicalCoord(r.T), PhysicalCoord(r.R), PhysicalCoord(r.B));
}

int IGraphics::LogicalCoord(int physical) const
{
  if (scale == 1.0) return physical;
  return (int)std::floor(physical / scale);
}

// The strip's image at twice the size, loaded (and later decoded) only now
// that a scale above 1 is drawn; null when the module has none of that size.
LICE_IBitmap* IGraphics::HiResBitmap(const BitmapStrip& strip)
{
  if (!strip.bitmap || strip.resourceId <= 0) return nullptr;
  LICE_IBitmap* hi = CachedImage(strip.resourceId + kHiResImageIdOffset, strip.name);
  if (!hi || hi->getWidth() != 2 * strip.width || hi->getHeight() != 2 * strip.height) return nullptr;
  return hi;
}

LICE_IBitmap* IGraphics::ScaledFrame(LICE_IBitmap* src, int srcL, int srcT, int srcW, int srcH, int w, int h)
{
  if (!src || w <= 0 || h <= 0) return nullptr;
  ScaledImage* reuse = nullptr;
  for (ScaledImage* e : scaledImages)
  {
    if (e->src != src || e->srcW != srcW || e->srcH != srcH || e->pixels.getWidth() != w || e->pixels.getHeight() != h)
      continue;
    if (e->srcL == srcL && e->srcT == srcT) return &e->pixels;
    reuse = e;  // another frame of the same strip: made over
  }
  if (!reuse)
  {
    reuse = new ScaledImage{src, 0, 0, srcW, srcH, {}};
    scaledImages.push_back(reuse);
    if (!reuse->pixels.resize(w, h)) return nullptr;
  }
  reuse->srcL = srcL;
  reuse->srcT = srcT;
  if (!ResampleRect(&reuse->pixels, src, srcL, srcT, srcW, srcH))
  {
    reuse->srcL = reuse->srcT = -1;  // matches no frame, so it is tried again
    return nullptr;
  }
  return &reuse->pixels;
}

void IGraphics::ForgetScaledImages()
{
  for (ScaledImage* e : scaledImages) delete e;
  scaledImages.clear();
}

bool IGraphics::DrawStripFrame(const BitmapStrip& strip, const IRect& dest, int srcX, int srcY,
                               const ChannelBlend* blend)
{
  // The rectangle on the draw bitmap: dest itself at scale 1.
  const IRect target = PhysicalRect(dest);
  IRect clipped;
  if (!target.Empty() && !drawRect.Empty() && target.R >= drawRect.L && target.L < drawRect.R &&
      target.B >= drawRect.T && target.T < drawRect.B)
  {
    clipped = IRect(std::max(target.L, drawRect.L), std::max(target.T, drawRect.T),
                    std::min(target.R, drawRect.R), std::min(target.B, drawRect.B));
  }

  float weight = 1.0f;
  int mode = BlitCopy | BlitUseSourceAlpha;
  if (blend)
  {
    weight = blend->weight;
    switch (blend->method)
    {
      case BlendOpaque: mode = BlitCopy; break;
      case BlendAdditive: mode = BlitAdd | BlitUseSourceAlpha; break;
      case BlendDodge: mode = BlitDodge | BlitUseSourceAlpha; break;
      default: mode = BlitCopy | BlitUseSourceAlpha; break;
    }
  }

  // An empty clip (no overlap, or an edge that only touches the drawing
  // rectangle) draws nothing: stop before the blit, whose source rectangle
  // would otherwise be computed from the all-zero clip.
  if (clipped.W() <= 0 || clipped.H() <= 0) return true;
  LICE_IBitmap* src = strip.bitmap;
  if (scale != 1.0)
  {
    // The frame at the physical size of its rectangle: the 2x image as it is
    // at scale 2, resampled to the exact size otherwise (from the 1x image
    // when there is no 2x one).
    LICE_IBitmap* hi = HiResBitmap(strip);
    const int k = hi ? 2 : 1;
    if (!hi) hi = strip.bitmap;
    const int64_t fx = (int64_t)srcX * k, fy = (int64_t)srcY * k;
    const int64_t fw = (int64_t)dest.W() * k, fh = (int64_t)dest.H() * k;
    if (fx < 0 || fy < 0 || fx > INT32_MAX || fy > INT32_MAX || fw > INT32_MAX || fh > INT32_MAX) return true;
    if (target.W() == fw && target.H() == fh)
    {
      src = hi;
      srcX = (int)fx;
      srcY = (int)fy;
    }
    else
    {
      src = ScaledFrame(hi, (int)fx, (int)fy, (int)fw, (int)fh, target.W(), target.H());
      srcX = srcY = 0;
    }
  }
  return BlitClipped(src, target, clipped, srcX, srcY, weight, mode);
}

bool IGraphics::BlitClipped(LICE_IBitmap* src, const IRect& dest, const IRect& clipped, int srcX, int srcY,
                            float weight, int mode)
{
  const int64_t sl = (int64_t)srcX + clipped.L - dest.L;
  const int64_t st = (int64_t)srcY + clipped.T - dest.T;
  const int64_t sr = (int64_t)srcX + clipped.R - dest.L;
  const int64_t sb = (int64_t)srcY + clipped.B - dest.T;
  auto toInt = [](int64_t v) { return (int)std::clamp<int64_t>(v, INT32_MIN, INT32_MAX); };
  Blit(DrawBitmap(), src, clipped.L, clipped.T, toInt(sl), toInt(st), toInt(sr), toInt(sb), weight, mode);
  return true;
}

// ---- Values --------------------------------------------------------------------------------

void IGraphics::ShowParameterValue(int paramIdx, double value, bool normalized)
{
  if (!normalized)
  {
    const ParamDef* p = plug ? plug->ParamAt(paramIdx) : nullptr;
    if (!p) return;  // no such parameter, so no control can be bound to it
    value = p->ToNormalized(value);
  }
  for (IControl* c : controls)
  {
    if (c->ParamIdx() == paramIdx) c->SetValueFromHost(value);
    const int aux = c->AuxParamPosition(paramIdx);
    if (aux >= 0) c->SetAuxValueFromHost(aux, value);
  }
}

void IGraphics::MarkAllDirty()
{
  for (IControl* c : controls) c->MarkDirty(false);
}

// ---- Drawing -------------------------------------------------------------------------------

void IGraphics::PrepareDrawing()
{
  // Made again, at the current size, when first needed: an editor that is
  // never opened never holds its draw bitmap.
  delete drawBitmap;
  delete scratchBitmap;
  drawBitmap = nullptr;
  scratchBitmap = nullptr;
}

LICE_IBitmap* IGraphics::DrawBitmap()
{
  if (!drawBitmap)
  {
    LICE_SysBitmap* sys = new LICE_SysBitmap();
    sys->resize(ScaledWidth(), ScaledHeight());
    drawBitmap = sys;
    scratchBitmap = new LICE_MemBitmap();
  }
  return drawBitmap;
}

bool IGraphics::CollectDirtyRect(IRect* out)
{
  IRect u;
  bool any = false;
  for (IControl* c : controls)
  {
    if (!c->NeedsRedraw()) continue;
    any = true;
    const IRect r = PhysicalRect(c->Rect());
    if (u.Empty())
      u = r;
    else if (!r.Empty())
      u = IRect(std::min(u.L, r.L), std::min(u.T, r.T), std::max(u.R, r.R), std::max(u.B, r.B));
  }
  if (out) *out = u;
  return any;
}

bool IGraphics::Redraw(const IRect& r)
{
  if (controls.empty()) return true;
  drawRect = r;
  for (IControl* c : controls)
  {
    const IRect cr = PhysicalRect(c->Rect());
    if (!c->IsHidden() && !r.Empty() && !cr.Empty() && r.R >= cr.L && r.L < cr.R && r.B >= cr.T && r.T < cr.B)
      c->Paint(this);
    c->MarkClean();
  }
  return PresentRect(r);
}

void IGraphics::Resize(int w, int h)
{
  EndOpenGesture();
  width = w;
  height = h;
  ClearMouseCapture();
  mouseOver = -1;
  for (IControl* c : controls) delete c;
  controls.clear();
  PrepareDrawing();
  if (plug) plug->ResizeEditor(w, h);
}

// ---- Events --------------------------------------------------------------------------------

int IGraphics::HitTest(int x, int y)
{
  for (int i = (int)controls.size() - 1; i >= 0; --i)
  {
    IControl* c = controls[(size_t)i];
    if (!c->IsHidden() && !c->IsGreyed() && c->Contains(x, y)) return i;
  }
  return -1;
}

void IGraphics::ClearMouseCapture()
{
  mouseCapture = -1;
  mouseX = mouseY = -1;
}

void IGraphics::BeginGesture(int paramIdx)
{
  EndOpenGesture();
  if (plug && paramIdx >= 0)
  {
    plug->BeginParamGesture(paramIdx);
    gestureParam = paramIdx;
  }
}

void IGraphics::EndOpenGesture()
{
  if (gestureParam >= 0)
  {
    const int p = gestureParam;
    gestureParam = -1;
    if (plug) plug->EndParamGesture(p);
  }
}

void IGraphics::HandleMouseDown(int x, int y, const IMouseMod& mod)
{
  // A press while another is still held (a second button) ends the first gesture.
  EndOpenGesture();
  ClearMouseCapture();
  const int target = HitTest(x, y);
  if (target < 0) return;
  IControl* c = controls[(size_t)target];
  mouseCapture = target;
  mouseX = x;
  mouseY = y;
  const int param = c->ParamIdx();
  if (plug && plug->PluginApi() == kApiVST3 && mod.R && param >= 0)
  {
    ClearMouseCapture();
    plug->ShowHostParamMenu(param, PhysicalCoord(x), PhysicalCoord(y));
    return;
  }
  if (param >= 0) BeginGesture(param);
  c->MouseDown(x, y, mod);
}

void IGraphics::HandleMouseDrag(int x, int y, const IMouseMod& mod)
{
  IControl* c = GetControl(mouseCapture);
  if (!c) return;
  if (x == mouseX && y == mouseY) return;
  const int oldX = mouseX, oldY = mouseY;
  mouseX = x;
  mouseY = y;
  // Deltas in 64 bits then saturated, so extreme coordinates cannot overflow.
  auto delta = [](int a, int b) { return (int)std::clamp<int64_t>((int64_t)a - b, INT32_MIN, INT32_MAX); };
  c->MouseDrag(x, y, delta(x, oldX), delta(y, oldY), mod);
}

void IGraphics::HandleMouseUp(int x, int y, const IMouseMod& mod)
{
  const int target = mouseCapture >= 0 ? mouseCapture : HitTest(x, y);
  ClearMouseCapture();
  IControl* c = GetControl(target);
  if (c) c->MouseUp(x, y, mod);
  // Only a gesture that was begun is ended: a release without its press (after
  // a double click, a host menu, or a press outside the editor) tells the host nothing.
  EndOpenGesture();
}

void IGraphics::HandleDoubleClick(int x, int y, const IMouseMod& mod)
{
  EndOpenGesture();
  ClearMouseCapture();
  const int target = HitTest(x, y);
  if (target < 0) return;
  IControl* c = controls[(size_t)target];
  // The reset is a complete edit of its own, so the host sees it inside a gesture.
  const int param = c->ParamIdx();
  if (param >= 0) BeginGesture(param);
  c->MouseDoubleClick(x, y, mod);
  EndOpenGesture();
}

void IGraphics::HandleMouseWheel(int x, int y, const IMouseMod& mod, int notches)
{
  const bool captured = mouseCapture >= 0;
  const int target = captured ? mouseCapture : HitTest(x, y);
  IControl* c = GetControl(target);
  if (!c) return;
  // A wheel turn outside a drag is a complete edit: wrap it in its own gesture.
  const int param = c->ParamIdx();
  const bool own = !captured && param >= 0;
  if (own) BeginGesture(param);
  c->MouseWheel(x, y, mod, notches);
  if (own) EndOpenGesture();
}

bool IGraphics::HandleKeyDown(int x, int y, int keyCode)
{
  const int target = mouseCapture >= 0 ? mouseCapture : HitTest(x, y);
  if (target <= 0)
    return keyCatcher ? keyCatcher->KeyDown(x, y, keyCode) : false;
  IControl* c = GetControl(target);
  return c ? c->KeyDown(x, y, keyCode) : false;
}
