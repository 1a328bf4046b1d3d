// The snapshot tool: its image equals the editor drawn in-process with the same
// settings, and every failure is one line with a non-zero exit and no file.
#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>

#include "tests/graphics/GraphicsTestSupport.h"
#include "plugin/TALVOR.h"

namespace {

struct ToolRun
{
  int status;
  std::string err;
};

ToolRun Snapshot(const std::string& args)
{
  // One file per test and process: ctest runs the tests side by side.
  const std::string errPath = testing::TempDir() + "snapshot-err-" +
                              testing::UnitTest::GetInstance()->current_test_info()->name() + "-" +
                              std::to_string(getpid()) + ".txt";
  const std::string cmd = std::string("\"") + TALVOR_SNAPSHOT_EXE + "\" " + args + " 2>\"" + errPath + "\"";
  const int rc = std::system(cmd.c_str());
  std::ifstream f(errPath);
  ToolRun run{rc, std::string((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>())};
  std::remove(errPath.c_str());
  return run;
}

}  // namespace

TEST(Snapshot, WritesTheEditorAsDrawnForTheSettings)
{
  const std::string out = testing::TempDir() + "snapshot-" + std::to_string(getpid()) + ".png";
  const ToolRun r = Snapshot("--set \"Mid Gain=9\" --set \"Link=1\" --set \"Input=-4.5\" \"" + out + "\"");
  ASSERT_EQ(r.status, 0) << r.err;
  std::ifstream f(out, std::ios::binary);
  std::vector<unsigned char> bytes((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
  std::remove(out.c_str());
  std::unique_ptr<LICE_MemBitmap> png(DecodePng(bytes.data(), bytes.size(), nullptr));
  ASSERT_TRUE(png);
  ASSERT_EQ(png->getWidth(), 346);
  ASSERT_EQ(png->getHeight(), 566);

  TALVOR plug{IPlugInstanceInfo()};
  IGraphics* g = plug.Editor();
  const int idx[] = {kMidGain, kLink, kInput, kOutput};
  const double val[] = {9.0, 1.0, -4.5, 4.5};  // "Output" follows "Input" under "Link"
  for (int i = 0; i < 4; ++i)
  {
    plug.ParamAt(idx[i])->SetClamped(val[i]);
    g->ShowParameterValue(idx[i], val[i], false);
  }
  g->Redraw(IRect(0, 0, 346, 566));
  for (int y = 0; y < 566; ++y)
    for (int x = 0; x < 346; ++x)
      ASSERT_EQ(gtest_support::Px(png.get(), x, y), gtest_support::Px(g->DrawBitmap(), x, y) | 0xFF000000u)
        << x << "," << y;
}

TEST(Snapshot, FailuresAreOneLineAndLeaveNoFile)
{
  const std::string out = testing::TempDir() + "snapshot-bad-" + std::to_string(getpid()) + ".png";
  const std::string cases[] = {
    "--set \"Nope=1\" \"" + out + "\"", "--set \"Input=13\" \"" + out + "\"", "--set Input \"" + out + "\"", "",
    "\"" + testing::TempDir() + "no/such/dir/x.png\"",
  };
  for (const std::string& args : cases)
  {
    const ToolRun r = Snapshot(args);
    EXPECT_NE(r.status, 0) << args;
    EXPECT_EQ(r.err.find("talvor-snapshot: "), 0u) << args;
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
    EXPECT_FALSE(std::ifstream(out).good()) << args;
  }
}
