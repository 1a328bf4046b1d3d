// The editor view a VST3 host attaches to its window, and the plug-in's side of
// it: creating views and asking the host to resize the first one.
#include "vst3/IPlugVST3View.h"

#include <cstring>

#include "graphics/IGraphics.h"
#include "vst3/IPlugVST3.h"

using namespace Steinberg;

namespace {

bool IsHWNDType(FIDString type)
{
  return type && std::strcmp(type, kPlatformTypeHWND) == 0;
}

}  // namespace

IPlugVST3View::IPlugVST3View(IPlugVST3* plug) : plug(plug)
{
  if (plug)
    plug->addRef();
}

IPlugVST3View::~IPlugVST3View()
{
  // A host that releases an attached view without removing it first still gets
  // the editor window closed.
  CloseEditor();
  if (plug)
  {
    plug->ForgetViews();
    plug->release();
  }
}

tresult PLUGIN_API IPlugVST3View::isPlatformTypeSupported(FIDString type)
{
#if defined(_WIN32)
  if (plug && plug->Editor() && IsHWNDType(type))
    return kResultTrue;
#else
  (void)type;  // the editor has no window host on this platform yet
#endif
  return kResultFalse;
}

tresult PLUGIN_API IPlugVST3View::attached(void* parent, FIDString type)
{
  IGraphics* editor = plug ? plug->Editor() : nullptr;
  if (!editor || editorOpened)
    return kResultFalse;
  if (IsHWNDType(type))
  {
#if defined(_WIN32)
    // A window that could not be made is reported, and the view stays ready
    // for the next attach.
    if (!parent || !editor->OpenWindow(parent))
      return kResultFalse;
    windowOpened = true;
#endif
  }
  systemWindow = parent;
  editorOpened = true;
  plug->EditorOpened();
  return kResultTrue;
}

tresult PLUGIN_API IPlugVST3View::removed()
{
  CloseEditor();
  return CPluginView::removed();
}

void IPlugVST3View::CloseEditor()
{
  IGraphics* editor = plug ? plug->Editor() : nullptr;
  if (!editor || !editorOpened)
    return;
  plug->EditorClosed();
  if (windowOpened)
    editor->CloseWindow();
  windowOpened = false;
  editorOpened = false;
}

tresult PLUGIN_API IPlugVST3View::getSize(ViewRect* size)
{
  if (!size)
    return kInvalidArgument;
  IGraphics* editor = plug ? plug->Editor() : nullptr;
  if (!editor)
    return kResultFalse;
  size->left = 0;
  size->top = 0;
  size->right = editor->Width();
  size->bottom = editor->Height();
  return kResultOk;
}

tresult PLUGIN_API IPlugVST3View::onSize(ViewRect* newSize)
{
  if (newSize)
  {
    rect = *newSize;
    if (expectingNewSize)
    {
      expectingNewSize = false;
      if (plug)
        plug->WindowResized();
    }
  }
  return kResultOk;
}

// ---- The plug-in's side -----------------------------------------------------------------

IPlugView* PLUGIN_API IPlugVST3::createView(FIDString name)
{
  if (!name || std::strcmp(name, "editor") != 0)
    return nullptr;
  auto* view = new IPlugVST3View(this);
  views.push_back(view);
  return view;
}

void IPlugVST3::ResizeEditor(int width, int height)
{
  if (!Editor() || views.empty())
    return;
  IPlugVST3View* view = views.front();
  IPlugFrame* frame = view->Frame();
  if (!frame)
    return;
  view->ExpectNewSize();
  ViewRect r(0, 0, width, height);
  frame->resizeView(view, &r);
}
