#include <gtest/gtest.h>

#include <string>

#include "framework/HostId.h"
#include "tests/framework/TestPlug.h"

TEST(HostId, NamesMapToCodesInTableOrder)
{
  const std::pair<const char*, int> cases[] = {
    {"Cubase 10", kHostCubase},
    {"REAPER64", kHostReaper},
    {"Ableton Live 11", kHostAbletonLive},
    {"Reaper Standalone", kHostReaper},
    {"Nuendo with Cubase inside", kHostCubase},
    {"Bitwig Studio", kHostUnknown},
    {"PreSonus Studio One", kHostStudioOne},
    {"Standalone", kHostStandalone},
    {"", kHostUnknown},
    {nullptr, kHostUnknown},
  };
  for (const auto& c : cases) EXPECT_EQ(HostCodeFromName(c.first), c.second) << (c.first ? c.first : "null");

  // Only the first 255 bytes count.
  EXPECT_EQ(HostCodeFromName((std::string(256, 'x') + "reaper" + std::string(38, 'y')).c_str()), kHostUnknown);
  EXPECT_EQ(HostCodeFromName((std::string(249, 'x') + "reaper").c_str()), kHostReaper);
  EXPECT_EQ(HostCodeFromName((std::string(250, 'x') + "reaper").c_str()), kHostUnknown);

  TestPlug plug;
  EXPECT_EQ(plug.HostId(), kHostUninit);
  plug.IdentifyHost("Cubase 10", 0x000A0000);
  EXPECT_EQ(plug.HostId(), kHostCubase);
  EXPECT_EQ(plug.HostVersion(), 0x000A0000);
}
