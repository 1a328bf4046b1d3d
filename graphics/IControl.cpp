// Control behaviour: redraw state, value paths and the three bitmap controls.
#include "graphics/IControl.h"

#include <cmath>

#include "framework/IPlugBase.h"

// ---- IControl ----------------------------------------------------------------------------

IControl::IControl(IPlugBase* plug, const IRect& rect, int paramIdx, const ChannelBlend& blend)
  : plug(plug), rect(rect), targetRect(rect), paramIdx(paramIdx), blend(blend)
{
}

IControl::~IControl() = default;

void IControl::MouseDown(int, int, const IMouseMod&) {}
void IControl::MouseUp(int, int, const IMouseMod&) {}
void IControl::MouseDrag(int, int, int, int, const IMouseMod&) {}
void IControl::MouseWheel(int, int, const IMouseMod&, int) {}
bool IControl::KeyDown(int, int, int) { return false; }
void IControl::MouseOver(int, int, const IMouseMod&) {}
void IControl::MouseOut() {}
void IControl::AcceptText(const char*) {}

void IControl::MouseDoubleClick(int, int, const IMouseMod&)
{
  if (defaultValue >= 0.0)
  {
    value = (double)defaultValue;
    MarkDirty(true);
  }
}

void IControl::SetValueFromHost(double v)
{
  // A NaN from a host carries no position; keep what is shown.
  if (std::isnan(v)) return;
  if (defaultValue < 0.0)
  {
    // The first value a control receives is its default.
    value = v;
    defaultValue = v;
    return;
  }
  if (v != value)
  {
    value = v;
    MarkDirty(false);
    redrawRequested = true;
  }
}

void IControl::SetValueFromUser(double v)
{
  if (v != value)
  {
    value = v;
    MarkDirty(true);
    redrawRequested = true;
  }
}

void IControl::SetAuxValueFromHost(int auxPos, double v)
{
  AuxParam* aux = GetAuxParam(auxPos);
  if (!aux || std::isnan(v)) return;
  if (v != aux->value)
  {
    aux->value = v;
    MarkDirty(false);
    redrawRequested = true;
  }
}

void IControl::SetHidden(bool hide)
{
  hidden = hide;
  redrawRequested = true;
  MarkDirty(false);
}

void IControl::SetGreyed(bool grey)
{
  greyed = grey;
  blend.weight = grey ? 0.25f : 1.0f;
  MarkDirty(false);
}

bool IControl::Contains(int x, int y)
{
  if (targetRect.Empty()) return false;
  return targetRect.L <= x && x < targetRect.R && targetRect.T <= y && y < targetRect.B;
}

void IControl::MarkDirty(bool pushToPlug)
{
  if (value < clampLo)
    value = clampLo;
  else if (value > clampHi)
    value = clampHi;
  else if (std::isnan((double)value))
    value = clampLo;  // never hand a NaN on to the parameter
  dirty = true;
  if (pushToPlug && plug && paramIdx >= 0) plug->SetParamFromEditor(paramIdx, value);
}

void IControl::MarkClean()
{
  dirty = redrawRequested.exchange(false);
}

IControl::AuxParam* IControl::GetAuxParam(int pos)
{
  if (pos < 0 || pos >= (int)auxParams.size()) return nullptr;
  return &auxParams[(size_t)pos];
}

int IControl::AuxParamPosition(int idx) const
{
  for (size_t i = 0; i < auxParams.size(); ++i)
    if (auxParams[i].paramIdx == idx) return (int)i;
  return -1;
}

// ---- Strip frames ----------------------------------------------------------------------------

int StripFrameWidth(const BitmapStrip& strip)
{
  const int n = strip.frameCount > 1 ? strip.frameCount : 1;
  return strip.framesAreHorizontal ? strip.width / n : strip.width;
}

int StripFrameHeight(const BitmapStrip& strip)
{
  const int n = strip.frameCount > 1 ? strip.frameCount : 1;
  return strip.framesAreHorizontal ? strip.height : strip.height / n;
}

int StripFrameForValue(int n, double value)
{
  if (n <= 1) return 1;
  const double pos = (n - 1) * value + 0.5;
  // Compare before converting: NaN and huge values must not reach the cast.
  if (!(pos >= 1.0)) return 1;
  if (pos >= (double)n) return n;
  const int i = (int)pos + 1;
  return i > n ? n : i;
}

namespace {

bool PaintStripFrame(IGraphics* graphics, const BitmapStrip& strip, const IRect& rect, double value,
                     const ChannelBlend* blend)
{
  if (!graphics) return false;
  const int n = strip.frameCount;
  const int i = StripFrameForValue(n, value);
  int srcX = 0, srcY = 0;
  if (n > 1 && i > 1)
  {
    if (strip.framesAreHorizontal)
      srcX = (int)((double)strip.width * (i - 1) / n + 0.5);
    else
      srcY = (int)((double)strip.height * (i - 1) / n + 0.5);
  }
  return graphics->DrawStripFrame(strip, rect, srcX, srcY, blend);
}

IRect StripRect(int x, int y, const BitmapStrip& strip)
{
  return IRect(x, y, x + StripFrameWidth(strip), y + StripFrameHeight(strip));
}

}  // namespace

// ---- IBitmapControl ----------------------------------------------------------------------------

IBitmapControl::IBitmapControl(IPlugBase* plug, int x, int y, int paramIdx, const BitmapStrip& strip,
                               int blendMethod)
  : IControl(plug, StripRect(x, y, strip), paramIdx, ChannelBlend(blendMethod, 1.0f)), strip(strip)
{
}

bool IBitmapControl::Paint(IGraphics* graphics)
{
  return PaintStripFrame(graphics, strip, rect, value, &blend);
}

// ---- Knobs ------------------------------------------------------------------------------------------

IKnobControl::IKnobControl(IPlugBase* plug, const IRect& rect, int paramIdx, int direction, double gearing)
  : IControl(plug, rect, paramIdx, ChannelBlend(BlendDefault, 1.0f)), direction(direction), gearing(gearing)
{
}

IKnobMultiControl::IKnobMultiControl(IPlugBase* plug, int x, int y, int paramIdx, const BitmapStrip& strip,
                                     int direction, double gearing)
  : IKnobControl(plug, StripRect(x, y, strip), paramIdx, direction, gearing), strip(strip)
{
}

void IKnobMultiControl::MouseDrag(int, int, int dX, int dY, const IMouseMod& mod)
{
  double g = gearing;
  if (mod.S || mod.C) g *= 10.0;
  double length, movement;
  if (direction == kHorizontal)
  {
    length = (double)rect.R - rect.L;
    movement = dX;
  }
  else
  {
    length = (double)rect.T - rect.B;
    movement = dY;
  }
  // A zero-sized knob or zero gearing has no drag scale: leave the value alone.
  if (length != 0.0 && g != 0.0 && std::isfinite(g)) value += movement / length / g;
  MarkDirty(true);
}

void IKnobMultiControl::MouseWheel(int, int, const IMouseMod& mod, int notches)
{
  value += notches * ((mod.S || mod.C) ? 0.001 : 0.01);
  MarkDirty(true);
}

bool IKnobMultiControl::Paint(IGraphics* graphics)
{
  return PaintStripFrame(graphics, strip, rect, value, &blend);
}

// ---- ISwitchControl --------------------------------------------------------------------------------

ISwitchControl::ISwitchControl(IPlugBase* plug, int x, int y, int paramIdx, const BitmapStrip& strip,
                               int blendMethod)
  : IBitmapControl(plug, x, y, paramIdx, strip, blendMethod)
{
}

void ISwitchControl::MouseDown(int, int, const IMouseMod&)
{
  const int n = strip.frameCount;
  const double step = n < 2 ? 1.0 : 1.0 / (n - 1);
  value += step;
  if (value > 1.001) value = 0.0;
  MarkDirty(true);
}

void ISwitchControl::MouseDoubleClick(int x, int y, const IMouseMod& mod)
{
  ISwitchControl::MouseDown(x, y, mod);
}
