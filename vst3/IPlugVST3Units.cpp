// Units and the program list: distinct parameter groups become units under
// the root unit, and the presets form the one program list.
#include "framework/TextCopy.h"
#include "vst3/IPlugVST3.h"

using namespace Steinberg;
using namespace Steinberg::Vst;

int IPlugVST3::UnitForGroup(const char* group)
{
  if (!group || !group[0])
    return kRootUnitId;
  for (size_t i = 0; i < unitGroups.size(); ++i)
    if (unitGroups[i] == group)
      return static_cast<int>(i) + 1;
  unitGroups.push_back(group);
  return static_cast<int>(unitGroups.size());
}

int32 PLUGIN_API IPlugVST3::getUnitCount()
{
  return static_cast<int32>(unitGroups.size()) + 1;
}

tresult PLUGIN_API IPlugVST3::getUnitInfo(int32 unitIndex, UnitInfo& info)
{
  if (unitIndex == 0)
    return SingleComponentEffect::getUnitInfo(0, info);
  if (unitIndex < 0 || unitIndex > static_cast<int32>(unitGroups.size()))
    return kResultFalse;
  info = {};
  info.id = unitIndex;
  info.parentUnitId = kRootUnitId;
  info.programListId = kNoProgramListId;
  CopyText(info.name, unitGroups[static_cast<size_t>(unitIndex - 1)].c_str());
  return kResultOk;
}

tresult PLUGIN_API IPlugVST3::getProgramListInfo(int32 listIndex, ProgramListInfo& info)
{
  if (listIndex != 0)
    return kResultFalse;
  info = {};
  info.id = static_cast<ProgramListID>(kVST3PresetParamId);
  CopyText(info.name, "Factory Presets");
  info.programCount = PresetCount();
  return kResultOk;
}

tresult PLUGIN_API IPlugVST3::getProgramName(ProgramListID listId, int32 programIndex, String128 name)
{
  if (!name)
    return kInvalidArgument;
  if (listId != static_cast<ProgramListID>(kVST3PresetParamId))
    return kResultFalse;
  CopyText(name, kString128Units, PresetName(programIndex));
  return kResultOk;
}
