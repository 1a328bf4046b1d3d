// The editor view a VST3 host attaches to its window, and the plug-in's side of
// it: creating views and asking the host to resize the first one.
#include "vst3/IPlugVST3View.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "graphics/IGraphics.h"
#include "vst3/IPlugVST3.h"
#if TALVOR_X11_EDITOR
#include "graphics/IGraphicsX11.h"
#endif

using namespace Steinberg;

namespace {

// The one window type the editor embeds in on this platform, or null for none.
FIDString SupportedPlatformType()
{
#if defined(_WIN32)
  return kPlatformTypeHWND;
#elif TALVOR_X11_EDITOR
  return kPlatformTypeX11EmbedWindowID;
#else
  return nullptr;
#endif
}

bool IsSupportedType(FIDString type)
{
  const FIDString supported = SupportedPlatformType();
  return supported && type && std::strcmp(type, supported) == 0;
}

// The scale at which the editor fits a host's rectangle whole, within the
// editor's range; 0 for a rectangle with no area.
double ScaleForRect(const IGraphics* editor, const ViewRect& r)
{
  const double w = (double)r.right - r.left, h = (double)r.bottom - r.top;
  if (!(w > 0 && h > 0) || editor->Width() <= 0 || editor->Height() <= 0) return 0.0;
  return std::clamp(std::min(w / editor->Width(), h / editor->Height()), kMinEditorScale, kMaxEditorScale);
}

}  // namespace

#if TALVOR_X11_EDITOR
// What the view registers with the host's run loop: the editor's X connection
// and its redraw timer. An object of its own, so that a run loop still holding a
// reference after unregistering reaches nothing.
class X11RunLoopClient : public FObject, public Linux::IEventHandler, public Linux::ITimerHandler
{
public:
  // Takes a reference on the run loop until Unregister.
  X11RunLoopClient(IGraphicsX11* editor, Linux::IRunLoop* loop) : editor(editor), loop(loop) {}

  bool Register()
  {
    fdRegistered = loop->registerEventHandler(this, editor->ConnectionFd()) == kResultOk;
    timerRegistered =
        fdRegistered && loop->registerTimer(this, (Linux::TimerInterval)editor->TimerPeriodMs()) == kResultOk;
    return timerRegistered;
  }

  void Unregister()
  {
    editor = nullptr;
    if (!loop) return;
    if (fdRegistered) loop->unregisterEventHandler(this);
    if (timerRegistered) loop->unregisterTimer(this);
    fdRegistered = timerRegistered = false;
    loop->release();
    loop = nullptr;
  }

  void PLUGIN_API onFDIsSet(Linux::FileDescriptor) override
  {
    addRef();  // the host may remove the view (and release this) from inside
    if (editor) editor->ProcessEvents();
    // A broken connection reads as ready for ever: stop watching it.
    if (editor && editor->ConnectionFd() < 0 && fdRegistered)
    {
      fdRegistered = false;
      loop->unregisterEventHandler(this);
    }
    release();
  }

  void PLUGIN_API onTimer() override
  {
    addRef();
    // Events that Xlib read while doing something else wait in its queue, not
    // on the descriptor.
    if (editor) editor->ProcessEvents();
    if (editor) editor->Tick();
    release();
  }

  OBJ_METHODS(X11RunLoopClient, FObject)
  DEFINE_INTERFACES
    DEF_INTERFACE(Linux::IEventHandler)
    DEF_INTERFACE(Linux::ITimerHandler)
  END_DEFINE_INTERFACES(FObject)
  REFCOUNT_METHODS(FObject)

private:
  IGraphicsX11* editor;
  Linux::IRunLoop* loop;
  bool fdRegistered = false;
  bool timerRegistered = false;
};
#endif

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
  return plug && plug->Editor() && IsSupportedType(type) ? kResultTrue : kResultFalse;
}

tresult PLUGIN_API IPlugVST3View::attached(void* parent, FIDString type)
{
  IGraphics* editor = plug ? plug->Editor() : nullptr;
  // Every refusal leaves the view ready for the next attach; the host shows its
  // generic editor meanwhile.
  if (!editor || editorOpened || !IsSupportedType(type) || !parent || !OpenEditorWindow(parent))
    return kResultFalse;
  windowOpened = true;
  systemWindow = parent;
  editorOpened = true;
  plug->EditorOpened();
  return kResultTrue;
}

bool IPlugVST3View::OpenEditorWindow(void* parent)
{
#if TALVOR_X11_EDITOR
  auto* x11 = dynamic_cast<IGraphicsX11*>(plug->Editor());
  // The editor has no thread of its own: without the host's run loop it could
  // neither paint nor follow the mouse.
  Linux::IRunLoop* loop = nullptr;
  if (!x11 || !plugFrame ||
      plugFrame->queryInterface(Linux::IRunLoop::iid, reinterpret_cast<void**>(&loop)) != kResultOk || !loop)
    return false;
  if (!x11->OpenWindow(parent))
  {
    loop->release();
    return false;
  }
  runLoopClient = new X11RunLoopClient(x11, loop);
  if (runLoopClient->Register())
    return true;
  CloseEditorWindow();
  return false;
#else
  return plug->Editor()->OpenWindow(parent) != nullptr;
#endif
}

void IPlugVST3View::CloseEditorWindow()
{
#if TALVOR_X11_EDITOR
  if (runLoopClient)
  {
    runLoopClient->Unregister();
    runLoopClient->release();
    runLoopClient = nullptr;
  }
#endif
  if (plug && plug->Editor())
    plug->Editor()->CloseWindow();
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
    CloseEditorWindow();
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
  editor->FollowDisplayScale();
  size->left = 0;
  size->top = 0;
  size->right = editor->ScaledWidth();
  size->bottom = editor->ScaledHeight();
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
    else if (IGraphics* editor = editorOpened && plug ? plug->Editor() : nullptr)
    {
      // The user resized the host's window: the editor takes the scale that
      // fits it (hosts offer checkSizeConstraint's answer first).
      const double s = ScaleForRect(editor, *newSize);
      if (s > 0.0)
        editor->SetScale(s);
    }
  }
  return kResultOk;
}

tresult PLUGIN_API IPlugVST3View::canResize()
{
  return plug && plug->Editor() ? kResultTrue : kResultFalse;
}

tresult PLUGIN_API IPlugVST3View::checkSizeConstraint(ViewRect* r)
{
  IGraphics* editor = plug ? plug->Editor() : nullptr;
  if (!r)
    return kInvalidArgument;
  if (!editor)
    return kResultFalse;
  const double s = ScaleForRect(editor, *r);
  if (!(s > 0.0))
    return kResultFalse;
  // The editor's aspect ratio at the scale that fits, as PhysicalCoord rounds.
  r->right = r->left + (int32)std::lround(editor->Width() * s);
  r->bottom = r->top + (int32)std::lround(editor->Height() * s);
  return kResultTrue;
}

tresult PLUGIN_API IPlugVST3View::setContentScaleFactor(ScaleFactor factor)
{
  IGraphics* editor = plug ? plug->Editor() : nullptr;
  if (!editor)
    return kResultFalse;
  const int w = editor->ScaledWidth(), h = editor->ScaledHeight();
  if (!editor->SetScale((double)factor))
    return kResultFalse;
  if (editor->ScaledWidth() != w || editor->ScaledHeight() != h)
    RequestEditorSize();
  return kResultTrue;
}

void IPlugVST3View::RequestEditorSize()
{
  IGraphics* editor = plug ? plug->Editor() : nullptr;
  if (!editor || !plugFrame)
    return;
  expectingNewSize = true;
  ViewRect r(0, 0, editor->ScaledWidth(), editor->ScaledHeight());
  plugFrame->resizeView(this, &r);
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
