#pragma once
// The LV2 binding of the editor: a plug-in base without processing that the
// editor's controls talk to, in a module of its own (type X11UI). Edits go to
// the host through its write function (the parameter's real value on the
// parameter's control port) and, when the host offers ui:touch, gestures
// through touch; the host's port events show values on the controls.
//
// Where the code is:
//   IPlugLV2UI.cpp  this class
//   LV2UIEntry.cpp  the module's descriptor: TALVOR's parameters and editor
//                   in the host's window, the idle interface

#include <lv2/ui/ui.h>

#include "framework/IPlugBase.h"

class IPlugLV2UI : public IPlugBase
{
public:
  struct Host
  {
    LV2UI_Write_Function write = nullptr;  // null: edits stay in the editor
    LV2UI_Controller controller = nullptr;
    const LV2UI_Touch* touch = nullptr;    // optional
    const LV2UI_Resize* resize = nullptr;  // optional
  };

  IPlugLV2UI(const Host& host, int nParams, const char* channelIOStr, int nPresets, const char* effectName,
             const char* productName, const char* makerName, int32_t version, int32_t uniqueId,
             int32_t makerId);

  // The host's port event: a float on a parameter's control port is shown on
  // the editor. Other ports and formats, short buffers, NaN, and values for
  // the parameter being dragged are ignored (the last also keeps a host's echo
  // of the drag's own edits from pulling the knob back).
  void PortEvent(uint32_t port, uint32_t bufferSize, uint32_t format, const void* buffer);

  void BeginParamGesture(int paramIdx) override;
  void SendParamToHost(int paramIdx, double normalizedValue) override;
  void EndParamGesture(int paramIdx) override;
  void SendProgramChangeToHost() override {}
  int32_t SamplePosition() override { return 0; }
  double Tempo() override { return 0.0; }
  void TimeSignature(int* numerator, int* denominator) override;
  void TransportInfo(TimeInfo*) override {}
  void ResizeEditor(int width, int height) override;
  bool MidiOut(const IMidiMsg&) override { return false; }

private:
  Host host;
  int gestureParam = -1;  // the parameter of the open gesture, -1 for none
};
