// The calls the VST3 binding makes to its host: the host's name, edits from the
// editor, the parameter context menu, transport from the last process call,
// and latency changes.
#include "framework/TextCopy.h"
#include "pluginterfaces/vst/ivstcontextmenu.h"
#include "pluginterfaces/vst/ivsthostapplication.h"
#include "vst3/IPlugVST3.h"
#include "vst3/IPlugVST3View.h"

using namespace Steinberg;
using namespace Steinberg::Vst;

void IPlugVST3::IdentifyHostFromContext(FUnknown* context)
{
  if (!context)
    return;
  IHostApplication* app = nullptr;
  alignas(8) TUID appIid;
  IHostApplication::iid.toTUID(appIid);
  if (context->queryInterface(appIid, reinterpret_cast<void**>(&app)) != kResultOk || !app)
    return;
  String128 name = {};
  if (app->getName(name) == kResultOk)
  {
    name[127] = 0;
    char narrow[128];
    CopyText(narrow, name);
    IdentifyHost(narrow, 0);
  }
  app->release();
}

// ---- Edits and the context menu ----------------------------------------------------------

void IPlugVST3::BeginParamGesture(int paramIdx)
{
  beginEdit(static_cast<ParamID>(paramIdx));
}

void IPlugVST3::SendParamToHost(int paramIdx, double normalizedValue)
{
  performEdit(static_cast<ParamID>(paramIdx), normalizedValue);
}

void IPlugVST3::EndParamGesture(int paramIdx)
{
  endEdit(static_cast<ParamID>(paramIdx));
}

void IPlugVST3::ShowHostParamMenu(int paramIdx, int x, int y)
{
  if (!componentHandler || views.empty())
    return;
  IComponentHandler3* handler3 = nullptr;
  alignas(8) TUID iid;
  IComponentHandler3::iid.toTUID(iid);
  if (componentHandler->queryInterface(iid, reinterpret_cast<void**>(&handler3)) != kResultOk ||
      !handler3)
    return;
  const ParamID id = static_cast<ParamID>(paramIdx);
  if (IContextMenu* menu = handler3->createContextMenu(views.front(), &id))
  {
    menu->popup(x, y);
    menu->release();
  }
  handler3->release();
}

// ---- Transport and latency ------------------------------------------------------------------

bool IPlugVST3::IsOfflineRender()
{
  return processSetup.processMode == kOffline;
}

int32_t IPlugVST3::SamplePosition()
{
  return static_cast<int32_t>(lastProcessContext.projectTimeSamples);
}

double IPlugVST3::Tempo()
{
  return lastProcessContext.tempo;
}

void IPlugVST3::TimeSignature(int* numerator, int* denominator)
{
  if (numerator)
    *numerator = lastProcessContext.timeSigNumerator;
  if (denominator)
    *denominator = lastProcessContext.timeSigDenominator;
}

void IPlugVST3::TransportInfo(TimeInfo* info)
{
  if (!info)
    return;
  const ProcessContext& ctx = lastProcessContext;
  info->tempo = ctx.tempo;
  info->samplePos = static_cast<double>(ctx.projectTimeSamples);
  info->ppqPos = ctx.projectTimeMusic;
  info->lastBar = ctx.barPositionMusic;
  info->cycleStart = ctx.cycleStartMusic;
  info->cycleEnd = ctx.cycleEndMusic;
  info->numerator = ctx.timeSigNumerator;
  info->denominator = ctx.timeSigDenominator;
  info->transportIsRunning = (ctx.state & ProcessContext::kPlaying) != 0;
  info->transportLoopEnabled = (ctx.state & ProcessContext::kCycleActive) != 0;
}

void IPlugVST3::ChangeLatency(int samples)
{
  IPlugBase::ChangeLatency(samples);
  if (componentHandler)
    componentHandler->restartComponent(kLatencyChanged);
}
