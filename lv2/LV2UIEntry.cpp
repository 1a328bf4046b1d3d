// The editor module's exported entry point, lv2ui_descriptor: TALVOR's editor
// (the same controls and pictures as in the VST modules) as an X11 UI in the
// window the host names with ui:parent, driven by the host's idle calls.
// It is drawn at the host's ui:scaleFactor where the host offers one (LV2
// options), otherwise at the display's scale (IGraphicsX11).
#include <lv2/atom/atom.h>
#include <lv2/options/options.h>
#include <lv2/ui/ui.h>
#include <lv2/urid/urid.h>

#include <cstring>
#include <mutex>

#include "graphics/IGraphics.h"
#include "graphics/IGraphicsX11.h"
#include "lv2/IPlugLV2UI.h"
#include "lv2/LV2Uris.h"
#include "plugin/TalvorParams.h"

namespace
{
std::mutex& CreationMutex()
{
  static std::mutex creation;
  return creation;
}

IPlugLV2UI* Ui(LV2UI_Handle handle) { return static_cast<IPlugLV2UI*>(handle); }

// TALVOR's editor as an LV2 UI. While "Link" is on the processing makes
// "Output" mirror "Input", but cannot tell an LV2 host (the port is the
// host's): the editor shows the mirrored gain itself, as the VST editors do.
class TalvorUI : public IPlugLV2UI
{
public:
  explicit TalvorUI(const Host& host)
    : IPlugLV2UI(host, kNumParams, kTalvorChannelIO, kNumPresets, TALVOR_NAME, TALVOR_PRODUCT_NAME, TALVOR_MAKER,
                 kTalvorVersion, kTalvorUniqueId, kTalvorMakerId)
  {
    DeclareTalvorParams(*this);
    AttachEditor(MakeTalvorEditor(this));
  }

  void ParamChanged(int paramIdx) override
  {
    IPlugLockGuard hold(this);
    if ((paramIdx != kInput && paramIdx != kLink) || !TalvorSwitchIsOn(ParamAt(kLink)->Value())) return;
    ParamDef* output = ParamAt(kOutput);
    output->SetClamped(0.0 - ParamAt(kInput)->Value());
    if (IGraphics* editor = Editor()) editor->ShowParameterValue(kOutput, output->Value(), false);
  }
};

const void* FeatureData(const LV2_Feature* const* features, const char* uri, bool* present = nullptr)
{
  if (!features) return nullptr;
  for (const LV2_Feature* const* f = features; *f; ++f)
    if ((*f)->URI && std::strcmp((*f)->URI, uri) == 0)
    {
      if (present) *present = true;
      return (*f)->data;
    }
  return nullptr;
}

// The host's ui:scaleFactor among its options, or 0 when it gives none. A
// value of another type or size is none.
float HostScaleFactor(const LV2_Feature* const* features)
{
  const auto* map = static_cast<const LV2_URID_Map*>(FeatureData(features, LV2_URID__map));
  const auto* options = static_cast<const LV2_Options_Option*>(FeatureData(features, LV2_OPTIONS__options));
  if (!map || !map->map || !options) return 0.0f;
  const LV2_URID scaleFactor = map->map(map->handle, LV2_UI__scaleFactor);
  const LV2_URID atomFloat = map->map(map->handle, LV2_ATOM__Float);
  for (const LV2_Options_Option* o = options; o->key != 0 || o->value; ++o)
  {
    if (o->key == scaleFactor && o->type == atomFloat && o->size == sizeof(float) && o->value)
    {
      float f;
      std::memcpy(&f, o->value, sizeof f);
      return f;
    }
  }
  return 0.0f;
}

// Without ui:parent (the host's window) there is nowhere to show the editor;
// without a display or with a parent that is no window, no window can be
// made: the host then gets no UI.
LV2UI_Handle Instantiate(const LV2UI_Descriptor*, const char*, const char*, LV2UI_Write_Function write,
                         LV2UI_Controller controller, LV2UI_Widget* widget, const LV2_Feature* const* features)
{
  if (!widget) return nullptr;
  *widget = nullptr;
  bool hasParent = false;
  void* parent = const_cast<void*>(FeatureData(features, LV2_UI__parent, &hasParent));
  if (!hasParent || !parent) return nullptr;

  IPlugLV2UI::Host host;
  host.write = write;
  host.controller = controller;
  host.touch = static_cast<const LV2UI_Touch*>(FeatureData(features, LV2_UI__touch));
  host.resize = static_cast<const LV2UI_Resize*>(FeatureData(features, LV2_UI__resize));

  std::lock_guard<std::mutex> hold(CreationMutex());
  IPlugLV2UI* ui = nullptr;
  try
  {
    ui = new TalvorUI(host);
    IGraphics* editor = ui->Editor();
    // A factor out of the editor's range is refused: the display's counts then.
    if (editor) editor->SetScale(HostScaleFactor(features));
    *widget = editor ? editor->OpenWindow(parent) : nullptr;
    if (*widget)
    {
      ui->ResizeEditor(editor->ScaledWidth(), editor->ScaledHeight());
      return ui;
    }
  }
  catch (...)
  {
    // Out of memory: no UI, nothing leaked.
  }
  *widget = nullptr;
  delete ui;
  return nullptr;
}

void Cleanup(LV2UI_Handle handle) { delete Ui(handle); }

void PortEvent(LV2UI_Handle handle, uint32_t port, uint32_t bufferSize, uint32_t format, const void* buffer)
{
  if (handle) Ui(handle)->PortEvent(port, bufferSize, format, buffer);
}

// The editor's events and its 40 ms redraw tick. Non-zero once the window is
// gone (destroyed with the host's window, or the display lost): the host may
// then stop calling and clean the UI up.
int Idle(LV2UI_Handle handle)
{
  IGraphicsX11* editor = handle ? dynamic_cast<IGraphicsX11*>(Ui(handle)->Editor()) : nullptr;
  if (!editor) return 1;
  editor->Idle();
  return editor->Window() ? 0 : 1;
}

const LV2UI_Idle_Interface kIdleInterface = {Idle};

const void* ExtensionData(const char* uri)
{
  return uri && std::strcmp(uri, LV2_UI__idleInterface) == 0 ? &kIdleInterface : nullptr;
}

const LV2UI_Descriptor kDescriptor = {TALVOR_LV2_UI_URI, Instantiate, Cleanup, PortEvent, ExtensionData};
}  // namespace

LV2_SYMBOL_EXPORT const LV2UI_Descriptor* lv2ui_descriptor(uint32_t index)
{
  return index == 0 ? &kDescriptor : nullptr;
}
