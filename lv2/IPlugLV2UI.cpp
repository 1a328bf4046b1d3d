#include "lv2/IPlugLV2UI.h"

#include <cmath>
#include <cstring>

IPlugLV2UI::IPlugLV2UI(const Host& hostCalls, int nParams, const char* channelIOStr, int nPresets,
                       const char* effectName, const char* productName, const char* makerName,
                       int32_t version, int32_t uniqueId, int32_t makerId)
  : IPlugBase(nParams, channelIOStr, nPresets, effectName, productName, makerName, version, uniqueId,
              makerId, kApiLV2),
    host(hostCalls)
{
}

void IPlugLV2UI::PortEvent(uint32_t port, uint32_t bufferSize, uint32_t format, const void* buffer)
{
  // Format 0 is a control port's float.
  if (format != 0 || bufferSize < sizeof(float) || !buffer || port >= (uint32_t)ParamCount()) return;
  const int idx = (int)port;
  if (idx == gestureParam) return;
  float v;
  std::memcpy(&v, buffer, sizeof v);
  IPlugLockGuard hold(this);
  // What the host sends back of the editor's own edit changes nothing.
  if (v == (float)ParamAt(idx)->Value()) return;
  SetParamFromHostReal(idx, v);
}

void IPlugLV2UI::BeginParamGesture(int paramIdx)
{
  gestureParam = paramIdx;
  if (host.touch && host.touch->touch && paramIdx >= 0) host.touch->touch(host.touch->handle, (uint32_t)paramIdx, true);
}

void IPlugLV2UI::SendParamToHost(int paramIdx, double)
{
  // The host hears the value the parameter took (a stepped one rounded to its
  // position), on the parameter's own port.
  const ParamDef* param = ParamAt(paramIdx);
  if (!param || !host.write) return;
  const float v = (float)param->Value();
  host.write(host.controller, (uint32_t)paramIdx, sizeof v, 0, &v);
}

void IPlugLV2UI::EndParamGesture(int paramIdx)
{
  if (paramIdx == gestureParam) gestureParam = -1;
  if (host.touch && host.touch->touch && paramIdx >= 0) host.touch->touch(host.touch->handle, (uint32_t)paramIdx, false);
}

void IPlugLV2UI::TimeSignature(int* numerator, int* denominator)
{
  if (numerator) *numerator = 0;
  if (denominator) *denominator = 0;
}

void IPlugLV2UI::ResizeEditor(int width, int height)
{
  if (host.resize && host.resize->ui_resize) host.resize->ui_resize(host.resize->handle, width, height);
}
