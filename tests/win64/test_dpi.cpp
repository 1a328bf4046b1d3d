// The editor at the display's DPI under Wine, in a process of its own: the test
// sets the prefix's DPI (LogPixels, which Windows reads when a process starts)
// and starts this program again to open the VST3 module's editor there. The
// prefix is shared, so ctest runs this program with nothing beside it.

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "tests/win64/ModuleHosts.h"

using namespace wintest;
using namespace modulehosts;
using namespace Steinberg;

namespace {

// The editor's window size and the size getSize reports, opened in a thread of
// the given DPI awareness (a DPI_AWARENESS_CONTEXT value).
struct ScaledOpen
{
  int w = 0, h = 0, reportedW = 0, reportedH = 0;
};
ScaledOpen OpenInThreadOfAwareness(intptr_t context)
{
  using SetContext = HANDLE(WINAPI*)(HANDLE);
  auto set = reinterpret_cast<SetContext>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("user32.dll"), "SetThreadDpiAwarenessContext")));
  ScaledOpen out;
  if (!set) return out;
  HANDLE before = set(reinterpret_cast<HANDLE>(context));
  {
    Vst3Module m;
    Vst3Instance p(m.factory);
    HWND host = CreateHostWindow(0, 0, false);
    HWND child = p.OpenEditor(host);
    ViewRect r;
    if (child && p.view->getSize(&r) == kResultOk)
    {
      RECT c;
      GetClientRect(child, &c);
      out = {c.right, c.bottom, r.getWidth(), r.getHeight()};
    }
    DestroyWindow(host);
  }
  set(before);
  return out;
}

constexpr const char* kDpiChildVariable = "TALVOR_TEST_DPI_CHILD";

}  // namespace

// Runs in the process started by the test below, with the display at 192 DPI.
TEST(Vst3ModuleDpi, ChildOpensAtTheWindowsScale)
{
  if (!std::getenv(kDpiChildVariable)) GTEST_SKIP() << "run by OpensAtTheDisplaysDpiInDpiAwareThreads";
  const ScaledOpen aware = OpenInThreadOfAwareness(-4);  // per monitor, version 2
  EXPECT_EQ(aware.w, 692);
  EXPECT_EQ(aware.h, 1132);
  EXPECT_EQ(aware.reportedW, 692);
  EXPECT_EQ(aware.reportedH, 1132);
  const ScaledOpen unaware = OpenInThreadOfAwareness(-1);  // Windows stretches it
  EXPECT_EQ(unaware.w, 346);
  EXPECT_EQ(unaware.h, 566);
  EXPECT_EQ(unaware.reportedW, 346);
}

TEST(Vst3ModuleDpi, OpensAtTheDisplaysDpiInDpiAwareThreads)
{
  if (std::getenv(kDpiChildVariable)) GTEST_SKIP();
  // LogPixels 192 (200 %) for the child process, restored afterwards.
  HKEY desktop = nullptr;
  ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, "Control Panel\\Desktop", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                            &desktop, nullptr), ERROR_SUCCESS);
  DWORD old = 0, size = sizeof old, type = 0;
  const bool hadValue = RegQueryValueExA(desktop, "LogPixels", nullptr, &type, reinterpret_cast<BYTE*>(&old), &size) ==
                        ERROR_SUCCESS && type == REG_DWORD;
  const DWORD dpi = 192;
  RegSetValueExA(desktop, "LogPixels", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&dpi), sizeof dpi);

  char exe[MAX_PATH] = {};
  GetModuleFileNameA(nullptr, exe, MAX_PATH);
  std::string cmd = std::string("\"") + exe + "\" --gtest_filter=Vst3ModuleDpi.ChildOpensAtTheWindowsScale";
  SetEnvironmentVariableA(kDpiChildVariable, "1");
  STARTUPINFOA si = {};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi = {};
  const BOOL started = CreateProcessA(nullptr, &cmd[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi);
  SetEnvironmentVariableA(kDpiChildVariable, nullptr);
  DWORD code = 1;
  if (started)
  {
    WaitForSingleObject(pi.hProcess, 60000);
    GetExitCodeProcess(pi.hProcess, &code);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
  }
  if (hadValue)
    RegSetValueExA(desktop, "LogPixels", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&old), sizeof old);
  else
    RegDeleteValueA(desktop, "LogPixels");
  RegCloseKey(desktop);
  ASSERT_TRUE(started);
  EXPECT_EQ(code, 0u) << "the child's results are in the output above";
}
