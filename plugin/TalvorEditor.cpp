// The editor layout: a 346 x 566 background, eight knobs and three switches.
#include "graphics/IControl.h"
#include "graphics/IGraphics.h"
#include "plugin/TalvorParams.h"
#include "plugin/TalvorResources.h"

namespace {

constexpr int kEditorWidth = 346;
constexpr int kEditorHeight = 566;
constexpr int kEditorFrameRate = 25;

struct KnobRow
{
  int param;
  int resourceId;
  const char* name;
  int frames;
  int imageW, imageH;
  int x, y;
  int direction;
  double gearing;
};

struct SwitchRow
{
  int param;
  int resourceId;
  const char* name;
  int imageW, imageH;
  int x, y;
};

// In attach order: drawing order forwards, hit testing backwards. Each gain knob
// comes after its band's frequency selector so that it wins where they overlap.
const KnobRow kKnobs[] = {
  {kLowFreq, LF_ID, LF_FN, 5, 155, 375, 24, 445, kHorizontal, 1.0},
  {kLowGain, LG_ID, LG_FN, 11, 107, 1177, 57, 378, kVertical, 2.5},
  {kMidFreq, MF_ID, MF_FN, 5, 156, 380, 23, 271, kHorizontal, 1.0},
  {kMidGain, MG_ID, MG_FN, 11, 108, 1188, 56, 202, kVertical, 2.5},
  {kHighFreq, HF_ID, HF_FN, 5, 157, 380, 22, 98, kHorizontal, 1.0},
  {kHighGain, HG_ID, HG_FN, 11, 107, 1177, 57, 30, kVertical, 2.5},
  {kInput, IN_ID, IN_FN, 121, 107, 12947, 219, 30, kVertical, 2.0},
  {kOutput, OUT_ID, OUT_FN, 121, 109, 13189, 218, 377, kVertical, 2.0},
};

const SwitchRow kSwitches[] = {
  {kBypass, BY_ID, BY_FN, 28, 58, 258, 211},
  {kFilter, FL_ID, FL_FN, 28, 58, 258, 272},
  {kLink, LINK_ID, LINK_FN, 28, 56, 258, 242},
};

// An image that failed to load still gets its nominal size, so the control keeps
// its place and answers the mouse; it simply draws nothing.
BitmapStrip LoadSized(IGraphics* g, int resourceId, const char* name, int frames, int w, int h)
{
  BitmapStrip strip = g->LoadStrip(resourceId, name, frames);
  if (!strip.bitmap)
  {
    strip.width = w;
    strip.height = h;
  }
  return strip;
}

}  // namespace

IGraphics* MakeTalvorEditor(IPlugBase* plug)
{
  IGraphics* g = MakePlatformGraphics(plug, kEditorWidth, kEditorHeight, kEditorFrameRate);
  if (!g) return nullptr;
  g->AttachBackground(BG_ID, BG_FN);
  for (const KnobRow& k : kKnobs)
  {
    const BitmapStrip strip = LoadSized(g, k.resourceId, k.name, k.frames, k.imageW, k.imageH);
    g->AttachControl(new IKnobMultiControl(plug, k.x, k.y, k.param, strip, k.direction, k.gearing));
  }
  for (const SwitchRow& s : kSwitches)
  {
    const BitmapStrip strip = LoadSized(g, s.resourceId, s.name, 2, s.imageW, s.imageH);
    g->AttachControl(new ISwitchControl(plug, s.x, s.y, s.param, strip, BlendDefault));
  }
  return g;
}
