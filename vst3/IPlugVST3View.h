#pragma once
// The view a VST3 host attaches to one of its windows: a thin adapter that opens
// and closes the plug-in's editor window, reports the editor's size and carries
// size changes between host and plug-in. On Linux it also hands the editor's X
// connection and redraw timer to the host's run loop while attached.
//
// Display scale: the host's content scale factor (setContentScaleFactor), or a
// user's resize of the view (the editor keeps its aspect ratio, 100 % to
// 300 %), scales the editor; without either, the platform's window host
// follows the display. getSize reports the scaled size.

#include "pluginterfaces/gui/iplugview.h"
#include "pluginterfaces/gui/iplugviewcontentscalesupport.h"
#include "public.sdk/source/common/pluginview.h"

class IPlugVST3;
class X11RunLoopClient;

class IPlugVST3View : public Steinberg::CPluginView, public Steinberg::IPlugViewContentScaleSupport
{
public:
  // Holds one reference on the plug-in for the view's lifetime.
  explicit IPlugVST3View(IPlugVST3* plug);
  ~IPlugVST3View() override;

  Steinberg::tresult PLUGIN_API isPlatformTypeSupported(Steinberg::FIDString type) override;
  Steinberg::tresult PLUGIN_API attached(void* parent, Steinberg::FIDString type) override;
  Steinberg::tresult PLUGIN_API removed() override;
  Steinberg::tresult PLUGIN_API getSize(Steinberg::ViewRect* size) override;
  Steinberg::tresult PLUGIN_API onSize(Steinberg::ViewRect* newSize) override;
  Steinberg::tresult PLUGIN_API canResize() override;
  Steinberg::tresult PLUGIN_API checkSizeConstraint(Steinberg::ViewRect* rect) override;
  Steinberg::tresult PLUGIN_API setContentScaleFactor(ScaleFactor factor) override;

  Steinberg::IPlugFrame* Frame() const { return plugFrame; }
  void ExpectNewSize() { expectingNewSize = true; }
  bool IsExpectingNewSize() const { return expectingNewSize; }

  OBJ_METHODS(IPlugVST3View, CPluginView)
  DEFINE_INTERFACES
    DEF_INTERFACE(IPlugViewContentScaleSupport)
  END_DEFINE_INTERFACES(CPluginView)
  REFCOUNT_METHODS(CPluginView)

private:
  void CloseEditor();
  void RequestEditorSize();  // asks the host's frame for the editor's (scaled) size
  bool OpenEditorWindow(void* parent);  // the platform's window, and its run-loop hook-up
  void CloseEditorWindow();

  IPlugVST3* plug;
  bool expectingNewSize = false;
  bool editorOpened = false;  // attached succeeded and removed has not followed yet
  bool windowOpened = false;  // this view opened the editor's window
  X11RunLoopClient* runLoopClient = nullptr;  // Linux: what is registered with the host's run loop
};
