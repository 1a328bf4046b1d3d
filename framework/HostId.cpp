#include "framework/HostId.h"

#include <cstring>

namespace
{
struct HostMatch
{
  const char* text;
  int32_t code;
};

// Tried in this order, first match wins: the order decides names that contain
// several of these texts (a "Cubase ... Nuendo" name is Cubase).
const HostMatch kHostMatches[] = {
  {"cubase", kHostCubase},
  {"reaper", kHostReaper},
  {"nuendo", kHostNuendo},
  {"cakewalk", kHostSonar},
  {"samplitude", kHostSamplitude},
  {"fruity", kHostFL},
  {"live", kHostAbletonLive},
  {"melodyne", kHostMelodyneStudio},
  {"vstmanlib", kHostVSTScanner},
  {"aulab", kHostAULab},
  {"garageband", kHostGarageBand},
  {"forte", kHostForte},
  {"chainer", kHostChainer},
  {"audition", kHostAudition},
  {"orion", kHostOrion},
  {"sawstudio", kHostSAWStudio},
  {"logic", kHostLogic},
  {"digital", kHostDigitalPerformer},
  {"audiomulch", kHostAudioMulch},
  {"presonus", kHostStudioOne},
  {"vst3plugintesthost", kHostVST3TestHost},
  {"protools", kHostProTools},
  {"ardour", kHostArdour},
  {"openmpt", kHostOpenMPT},
  {"renoise", kHostRenoise},
  {"standalone", kHostStandalone},
};
}  // namespace

int32_t HostCodeFromName(const char* name)
{
  if (!name) return kHostUnknown;
  // Only the first 255 bytes take part.
  char lower[256];
  int n = 0;
  for (; n < 255 && name[n]; ++n)
  {
    const char c = name[n];
    lower[n] = (c >= 'A' && c <= 'Z') ? (char)(c - 'A' + 'a') : c;
  }
  lower[n] = '\0';

  for (const HostMatch& match : kHostMatches)
    if (std::strstr(lower, match.text)) return match.code;
  return kHostUnknown;
}
