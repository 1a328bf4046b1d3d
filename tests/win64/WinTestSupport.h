#pragma once
// Helpers for the Windows tests: message pumping with deadlines, host windows,
// reading a window's pixels back, an independent model of what the editor must
// show, and PNG files for screenshots.

#include <windows.h>

#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace wintest {

// 0x00RRGGBB pixels (alpha ignored), rows top-down.
struct Image
{
  int w = 0, h = 0;
  std::vector<uint32_t> px;
  uint32_t At(int x, int y) const { return px[(size_t)y * (size_t)w + (size_t)x]; }
};

// A Unix path as Wine's Windows side sees it.
std::string WinPath(const std::string& unixPath);
std::string SourcePath(const std::string& relative);  // inside the source tree
std::string BuildPath(const std::string& relative);   // inside the build tree

// Dispatches messages until `done` answers true or the deadline passes.
bool PumpUntil(const std::function<bool()>& done, int timeoutMs);
void PumpFor(int ms);

// A top-level window standing in for the host's editor frame. Key messages it
// receives are recorded.
struct HostKeyMessage
{
  HWND hwnd;
  UINT msg;
  WPARAM wParam;
  LPARAM lParam;
};
std::vector<HostKeyMessage>& HostKeyLog();
HWND CreateHostWindow(int x, int y, bool withCaption);
// The editor child window ("IPlug") inside a host window, or null.
HWND FindEditorChild(HWND host);

// Reads the window's on-screen pixels (client area).
Image CaptureWindow(HWND hwnd, int w, int h);

// Decoded PNG file from the source tree as 0xAARRGGBB pixels.
struct Rgba
{
  int w = 0, h = 0;
  std::vector<uint32_t> px;
};
const Rgba& SourceImage(const char* name);  // "BG", "LG", ..., cached

// What the editor must show for the given normalised parameter values,
// composed from the source images with straight-alpha blending.
Image ExpectedEditor(const std::array<double, 11>& normalized);

// Layout of one control as the editor's user sees it.
struct ControlBox
{
  int param;
  int x, y, w, h;
  int cx() const { return x + w / 2; }
  int cy() const { return y + h / 2; }
};
// Index by parameter (0..10).
const ControlBox& Box(int param);

// Pixels that differ (RGB only) inside [x0, x1) x [y0, y1) of both images.
int CountDifferences(const Image& a, const Image& b, int x0, int y0, int x1, int y1);
int CountDifferences(const Image& a, const Image& b);

bool SavePng(const Image& img, const std::string& path);

// Mouse and key messages as the window system would deliver them.
LPARAM Point(int x, int y);
void SendPress(HWND h, int x, int y, WPARAM keys = MK_LBUTTON);
void SendDrag(HWND h, int x, int y, WPARAM keys = MK_LBUTTON);
void SendRelease(HWND h, int x, int y, WPARAM keys = 0);
void SendWheel(HWND h, int x, int y, int delta, WPARAM keys = 0);  // x, y: client coords

}  // namespace wintest
