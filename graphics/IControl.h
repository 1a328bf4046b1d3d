#pragma once
// Controls: one rectangle of the editor that shows a normalised value (0 to 1)
// and reacts to the mouse. Owned by IGraphics once attached.

#include <atomic>
#include <vector>

#include "graphics/IGraphics.h"

class IPlugBase;

// A value written on one thread and read on another without ordering needs:
// host and audio threads store control values and flags that the UI thread
// reads on its next redraw tick. Relaxed atomics make those plain stores safe.
template <typename T>
class RelaxedAtomic
{
public:
  RelaxedAtomic(T x = T()) : v(x) {}
  RelaxedAtomic(const RelaxedAtomic&) = delete;
  RelaxedAtomic& operator=(const RelaxedAtomic&) = delete;
  operator T() const { return v.load(std::memory_order_relaxed); }
  RelaxedAtomic& operator=(T x)
  {
    v.store(x, std::memory_order_relaxed);
    return *this;
  }
  // Read-modify-write by the one thread that edits (the UI thread).
  RelaxedAtomic& operator+=(T x) { return *this = (T)*this + x; }
  T exchange(T x) { return v.exchange(x, std::memory_order_relaxed); }

private:
  std::atomic<T> v;
};

class IControl
{
public:
  struct AuxParam
  {
    double value = 0.0;
    int paramIdx = -1;
  };

  IControl(IPlugBase* plug, const IRect& rect, int paramIdx = -1,
           const ChannelBlend& blend = ChannelBlend(BlendDefault, 1.0f));
  virtual ~IControl();
  IControl(const IControl&) = delete;
  IControl& operator=(const IControl&) = delete;

  virtual void MouseDown(int x, int y, const IMouseMod& mod);
  virtual void MouseUp(int x, int y, const IMouseMod& mod);
  virtual void MouseDrag(int x, int y, int dX, int dY, const IMouseMod& mod);
  virtual void MouseDoubleClick(int x, int y, const IMouseMod& mod);
  virtual void MouseWheel(int x, int y, const IMouseMod& mod, int notches);
  virtual bool KeyDown(int x, int y, int keyCode);
  virtual void MouseOver(int x, int y, const IMouseMod& mod);
  virtual void MouseOut();
  virtual bool Paint(IGraphics* graphics) = 0;
  virtual void SetValueFromHost(double value);
  virtual void SetValueFromUser(double value);
  virtual void AcceptText(const char* text);
  virtual void SetHidden(bool hide);
  virtual void SetGreyed(bool grey);
  virtual bool Contains(int x, int y);
  virtual void MarkDirty(bool pushToPlug = true);
  virtual void MarkClean();
  // A repaint request that raced with the UI thread's MarkClean may have left
  // only redrawRequested set; it still counts, so no change is ever dropped.
  virtual bool NeedsRedraw() { return dirty || redrawRequested; }
  virtual void OnGUIIdle() {}
  virtual void SetAuxValueFromHost(int auxPos, double value);

  int ParamIdx() const { return paramIdx; }
  double Value() const { return value; }
  void SetValue(double v) { value = v; }  // no redraw, no push (tests, layout)
  double DefaultValue() const { return defaultValue; }
  const IRect& Rect() const { return rect; }
  const IRect& TargetRect() const { return targetRect; }
  void SetTargetRect(const IRect& r) { targetRect = r; }
  bool IsHidden() const { return hidden; }
  bool IsGreyed() const { return greyed; }
  bool RedrawRequested() const { return redrawRequested; }
  const ChannelBlend& Blend() const { return blend; }
  void SetClamp(double lo, double hi) { clampLo = lo; clampHi = hi; }

  // Auxiliary parameter bindings (none in this editor, kept for the framework).
  int NAuxParams() const { return (int)auxParams.size(); }
  AuxParam* GetAuxParam(int pos);                 // null outside the list
  int AuxParamPosition(int paramIdx) const;       // first entry bound to paramIdx, or -1
  void AddAuxParam(int paramIdx, double value = 0.0) { auxParams.push_back({value, paramIdx}); }

protected:
  IPlugBase* plug;
  IRect rect;
  IRect targetRect;
  int paramIdx;
  std::vector<AuxParam> auxParams;
  RelaxedAtomic<double> value{0.0};
  RelaxedAtomic<double> defaultValue{-1.0};
  double clampLo = 0.0, clampHi = 1.0;
  RelaxedAtomic<bool> dirty{true};
  bool hidden = false;
  bool greyed = false;
  RelaxedAtomic<bool> redrawRequested{false};
  ChannelBlend blend;
};

// Frame size of a strip: the image divided by its frame count along the stacking axis.
int StripFrameWidth(const BitmapStrip& strip);
int StripFrameHeight(const BitmapStrip& strip);

// Frame number (1-based) shown for a normalised value; NaN and out-of-range
// values are clamped to the first or last frame.
int StripFrameForValue(int frameCount, double value);

class IBitmapControl : public IControl
{
public:
  IBitmapControl(IPlugBase* plug, int x, int y, int paramIdx, const BitmapStrip& strip,
                 int blendMethod = BlendDefault);
  bool Paint(IGraphics* graphics) override;
  const BitmapStrip& Strip() const { return strip; }

protected:
  BitmapStrip strip;
};

enum DragAxis : int
{
  kVertical = 0,
  kHorizontal = 1,
};

class IKnobControl : public IControl
{
public:
  IKnobControl(IPlugBase* plug, const IRect& rect, int paramIdx, int direction, double gearing);
  int Direction() const { return direction; }
  double Gearing() const { return gearing; }

protected:
  int direction;
  double gearing;
};

class IKnobMultiControl : public IKnobControl
{
public:
  IKnobMultiControl(IPlugBase* plug, int x, int y, int paramIdx, const BitmapStrip& strip,
                    int direction = kVertical, double gearing = 4.0);
  void MouseDrag(int x, int y, int dX, int dY, const IMouseMod& mod) override;
  void MouseWheel(int x, int y, const IMouseMod& mod, int notches) override;
  bool Paint(IGraphics* graphics) override;
  const BitmapStrip& Strip() const { return strip; }

protected:
  BitmapStrip strip;
};

class ISwitchControl : public IBitmapControl
{
public:
  ISwitchControl(IPlugBase* plug, int x, int y, int paramIdx, const BitmapStrip& strip,
                 int blendMethod = BlendDefault);
  void MouseDown(int x, int y, const IMouseMod& mod) override;
  void MouseDoubleClick(int x, int y, const IMouseMod& mod) override;
};
