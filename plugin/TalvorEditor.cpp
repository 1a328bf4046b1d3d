// The editor layout: background, eight knobs and three switches.
// (Placeholder until the graphics layer lands: no editor yet.)
#include "plugin/TALVOR.h"

IGraphics* MakeTalvorEditor(IPlugBase*)
{
  return nullptr;
}
