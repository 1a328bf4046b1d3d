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
    "--scale 3.5 \"" + out + "\"", "--scale 1,5 \"" + out + "\"", "--scale \"" + out + "\"",
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

// The editor snapshots in the VST3 bundles are kept in the source tree (the
// cross build cannot run the tool): they must be what the tool draws now.
TEST(Snapshot, TheBundlesSnapshotsAreTheToolsImages)
{
  struct Case { const char* args; const char* file; int w, h; };
  for (const Case& c : {Case{"", "editor.png", 346, 566}, Case{"--scale 2 ", "editor_2.0x.png", 692, 1132}})
  {
    const std::string out = testing::TempDir() + "snapshot-bundle-" + std::to_string(getpid()) + ".png";
    ASSERT_EQ(Snapshot(std::string(c.args) + "\"" + out + "\"").status, 0);
    auto decode = [](const std::string& path) {
      std::ifstream f(path, std::ios::binary);
      std::vector<unsigned char> bytes((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
      return std::unique_ptr<LICE_MemBitmap>(DecodePng(bytes.data(), bytes.size(), nullptr));
    };
    std::unique_ptr<LICE_MemBitmap> drawn = decode(out), kept = decode(std::string(TALVOR_SOURCE_DIR) + "/resources/snapshots/" + c.file);
    std::remove(out.c_str());
    ASSERT_TRUE(drawn && kept) << c.file;
    ASSERT_EQ(kept->getWidth(), c.w);
    ASSERT_EQ(kept->getHeight(), c.h);
    int differing = 0;
    for (int y = 0; y < c.h; ++y)
      for (int x = 0; x < c.w; ++x) differing += gtest_support::Px(drawn.get(), x, y) != gtest_support::Px(kept.get(), x, y);
    EXPECT_EQ(differing, 0) << c.file << " is out of date: talvor-snapshot " << c.args << "resources/snapshots/" << c.file;
  }
}
