#include "tests/win64/WinTestSupport.h"

#include <png.h>

#include <cstdio>
#include <map>
#include <memory>

#include "graphics/LICE.h"

namespace wintest {

std::string WinPath(const std::string& unixPath)
{
  // Wine maps drive Z: to the Unix root.
  if (!unixPath.empty() && unixPath[0] == '/') return "Z:" + unixPath;
  return unixPath;
}

std::string SourcePath(const std::string& relative)
{
  return WinPath(std::string(TALVOR_TEST_SOURCE_DIR) + "/" + relative);
}

std::string BuildPath(const std::string& relative)
{
  return WinPath(std::string(TALVOR_TEST_BINARY_DIR) + "/" + relative);
}

bool PumpUntil(const std::function<bool()>& done, int timeoutMs)
{
  const ULONGLONG deadline = GetTickCount64() + (ULONGLONG)timeoutMs;
  for (;;)
  {
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE))
    {
      TranslateMessage(&msg);
      DispatchMessageA(&msg);
    }
    if (done()) return true;
    if (GetTickCount64() >= deadline) return false;
    MsgWaitForMultipleObjects(0, nullptr, FALSE, 5, QS_ALLINPUT);
  }
}

void PumpFor(int ms)
{
  PumpUntil([] { return false; }, ms);
}

std::vector<HostKeyMessage>& HostKeyLog()
{
  static std::vector<HostKeyMessage> log;
  return log;
}

namespace {

LRESULT CALLBACK HostProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam)
{
  if (msg == WM_KEYDOWN || msg == WM_KEYUP) HostKeyLog().push_back({hwnd, msg, wParam, lParam});
  return DefWindowProcA(hwnd, msg, wParam, lParam);
}

const char* HostClass()
{
  static bool registered = false;
  if (!registered)
  {
    WNDCLASSA wc = {};
    wc.lpfnWndProc = HostProc;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.hCursor = LoadCursorA(nullptr, reinterpret_cast<LPCSTR>(IDC_ARROW));
    wc.hbrBackground = static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH));
    wc.lpszClassName = "TalvorTestHostWindow";
    registered = RegisterClassA(&wc) != 0;
  }
  return "TalvorTestHostWindow";
}

}  // namespace

HWND CreateHostWindow(int x, int y, bool withCaption)
{
  const DWORD style = withCaption ? (WS_OVERLAPPED | WS_CAPTION | WS_CLIPCHILDREN) : (WS_POPUP | WS_CLIPCHILDREN);
  RECT r = {0, 0, 346, 566};
  AdjustWindowRect(&r, style, FALSE);
  HWND h = CreateWindowExA(0, HostClass(), "TALVOR test host", style, x, y, r.right - r.left, r.bottom - r.top,
                           nullptr, nullptr, GetModuleHandleA(nullptr), nullptr);
  if (h)
  {
    ShowWindow(h, SW_SHOWNORMAL);
    UpdateWindow(h);
    PumpFor(50);
  }
  return h;
}

HWND FindEditorChild(HWND host)
{
  return FindWindowExA(host, nullptr, "IPlugWndClass", "IPlug");
}

Image CaptureWindow(HWND hwnd, int w, int h)
{
  Image img;
  HDC wdc = GetDC(hwnd);
  if (!wdc) return img;
  HDC mdc = CreateCompatibleDC(wdc);
  BITMAPINFO bmi = {};
  bmi.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
  bmi.bmiHeader.biWidth = w;
  bmi.bmiHeader.biHeight = -h;
  bmi.bmiHeader.biPlanes = 1;
  bmi.bmiHeader.biBitCount = 32;
  bmi.bmiHeader.biCompression = BI_RGB;
  void* bits = nullptr;
  HBITMAP dib = CreateDIBSection(mdc, &bmi, DIB_RGB_COLORS, &bits, nullptr, 0);
  if (dib && bits)
  {
    HGDIOBJ old = SelectObject(mdc, dib);
    BitBlt(mdc, 0, 0, w, h, wdc, 0, 0, SRCCOPY);
    GdiFlush();
    img.w = w;
    img.h = h;
    img.px.assign(static_cast<uint32_t*>(bits), static_cast<uint32_t*>(bits) + (size_t)w * (size_t)h);
    for (uint32_t& p : img.px) p &= 0x00FFFFFFu;
    SelectObject(mdc, old);
  }
  if (dib) DeleteObject(dib);
  DeleteDC(mdc);
  ReleaseDC(hwnd, wdc);
  return img;
}

const Rgba& SourceImage(const char* name)
{
  static std::map<std::string, Rgba> cache;
  auto it = cache.find(name);
  if (it != cache.end()) return it->second;
  Rgba& out = cache[name];
  const std::string path = SourcePath(std::string("resources/img/") + name + ".png");
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) return out;
  std::vector<unsigned char> bytes;
  unsigned char buf[65536];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) bytes.insert(bytes.end(), buf, buf + n);
  std::fclose(f);
  std::unique_ptr<LICE_MemBitmap> bmp(DecodePng(bytes.data(), bytes.size(), nullptr));
  if (!bmp) return out;
  out.w = bmp->getWidth();
  out.h = bmp->getHeight();
  out.px.resize((size_t)out.w * (size_t)out.h);
  for (int y = 0; y < out.h; ++y)
    for (int x = 0; x < out.w; ++x)
      out.px[(size_t)y * (size_t)out.w + (size_t)x] = bmp->getBits()[(size_t)y * (size_t)bmp->getRowSpan() + (size_t)x];
  return out;
}

namespace {

struct LayoutRow
{
  int param;
  const char* image;
  int frames;
  int x, y;
};

// Drawing order of the editor's controls after the background.
const LayoutRow kLayout[] = {
  {1, "LF", 5, 24, 445},   {0, "LG", 11, 57, 378},  {3, "MF", 5, 23, 271},   {2, "MG", 11, 56, 202},
  {5, "HF", 5, 22, 98},    {4, "HG", 11, 57, 30},   {6, "IN", 121, 219, 30}, {7, "OUT", 121, 218, 377},
  {8, "BY", 2, 258, 211},  {9, "FL", 2, 258, 272},  {10, "LINK", 2, 258, 242},
};

int FrameIndex(int n, double v)
{
  if (n <= 1) return 0;
  int i = (int)((n - 1) * v + 0.5) + 1;
  if (i < 1) i = 1;
  if (i > n) i = n;
  return i - 1;
}

// Straight-alpha "over" with the editor's integer rounding.
uint32_t Over(uint32_t dst, uint32_t src)
{
  const int s = (int)(src >> 24);
  if (s == 0) return dst;
  if (s == 255) return src;
  uint32_t out = 0;
  for (int shift = 0; shift < 24; shift += 8)
  {
    const int sc = (int)((src >> shift) & 0xFF), dc = (int)((dst >> shift) & 0xFF);
    const int c = sc + (dc - sc) * (255 - s) / 256;
    out |= (uint32_t)(c & 0xFF) << shift;
  }
  int a = (int)(dst >> 24) + s;
  if (a > 255) a = 255;
  return out | ((uint32_t)a << 24);
}

}  // namespace

const ControlBox& Box(int param)
{
  static std::vector<ControlBox> boxes;
  if (boxes.empty())
  {
    boxes.resize(11);
    for (const LayoutRow& row : kLayout)
    {
      const Rgba& img = SourceImage(row.image);
      boxes[(size_t)row.param] = {row.param, row.x, row.y, img.w, img.h / row.frames};
    }
  }
  return boxes[(size_t)param];
}

Image ExpectedEditor(const std::array<double, 11>& normalized)
{
  const Rgba& bg = SourceImage("BG");
  Image out;
  out.w = bg.w;
  out.h = bg.h;
  std::vector<uint32_t> canvas = bg.px;  // opaque copy, alpha as stored
  for (const LayoutRow& row : kLayout)
  {
    const Rgba& strip = SourceImage(row.image);
    const int fh = strip.h / row.frames;
    const int frame = FrameIndex(row.frames, normalized[(size_t)row.param]);
    const int srcY = frame == 0 ? 0 : (int)((double)strip.h * frame / row.frames + 0.5);
    for (int y = 0; y < fh; ++y)
      for (int x = 0; x < strip.w; ++x)
      {
        const int dx = row.x + x, dy = row.y + y;
        if (dx < 0 || dy < 0 || dx >= out.w || dy >= out.h || srcY + y >= strip.h) continue;
        uint32_t& d = canvas[(size_t)dy * (size_t)out.w + (size_t)dx];
        d = Over(d, strip.px[(size_t)(srcY + y) * (size_t)strip.w + (size_t)x]);
      }
  }
  out.px = canvas;
  for (uint32_t& p : out.px) p &= 0x00FFFFFFu;
  return out;
}

int CountDifferences(const Image& a, const Image& b, int x0, int y0, int x1, int y1)
{
  if (a.w != b.w || a.h != b.h) return -1;
  int n = 0;
  for (int y = y0; y < y1 && y < a.h; ++y)
    for (int x = x0; x < x1 && x < a.w; ++x)
      if ((a.At(x, y) & 0xFFFFFFu) != (b.At(x, y) & 0xFFFFFFu)) ++n;
  return n;
}

int CountDifferences(const Image& a, const Image& b)
{
  return CountDifferences(a, b, 0, 0, a.w, a.h);
}

namespace {
void WriteBytes(png_structp png, png_bytep data, png_size_t n)
{
  std::FILE* f = static_cast<std::FILE*>(png_get_io_ptr(png));
  if (std::fwrite(data, 1, n, f) != n) png_error(png, "write failed");
}
void FlushNothing(png_structp) {}
}  // namespace

bool SavePng(const Image& img, const std::string& path)
{
  if (img.w <= 0 || img.h <= 0) return false;
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return false;
  std::vector<unsigned char> rgb((size_t)img.w * (size_t)img.h * 3);
  for (size_t i = 0; i < img.px.size(); ++i)
  {
    rgb[i * 3 + 0] = (unsigned char)(img.px[i] >> 16);
    rgb[i * 3 + 1] = (unsigned char)(img.px[i] >> 8);
    rgb[i * 3 + 2] = (unsigned char)img.px[i];
  }
  std::vector<png_bytep> rows((size_t)img.h);
  for (int y = 0; y < img.h; ++y) rows[(size_t)y] = rgb.data() + (size_t)y * (size_t)img.w * 3;
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png ? png_create_info_struct(png) : nullptr;
  volatile bool ok = false;
  if (png && info)
  {
    if (setjmp(png_jmpbuf(png)) == 0)
    {
      png_set_write_fn(png, f, WriteBytes, FlushNothing);
      png_set_IHDR(png, info, (png_uint_32)img.w, (png_uint_32)img.h, 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
                   PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
      png_write_info(png, info);
      png_write_image(png, rows.data());
      png_write_end(png, nullptr);
      ok = true;
    }
  }
  png_destroy_write_struct(&png, &info);
  std::fclose(f);
  return ok;
}

LPARAM Point(int x, int y)
{
  return MAKELPARAM((WORD)(SHORT)x, (WORD)(SHORT)y);
}

void SendPress(HWND h, int x, int y, WPARAM keys)
{
  UINT msg = WM_LBUTTONDOWN;
  if (keys & MK_RBUTTON) msg = WM_RBUTTONDOWN;
  if (keys & MK_MBUTTON) msg = WM_MBUTTONDOWN;
  SendMessageA(h, msg, keys, Point(x, y));
}

void SendDrag(HWND h, int x, int y, WPARAM keys)
{
  SendMessageA(h, WM_MOUSEMOVE, keys, Point(x, y));
}

void SendRelease(HWND h, int x, int y, WPARAM keys)
{
  SendMessageA(h, WM_LBUTTONUP, keys, Point(x, y));
}

void SendWheel(HWND h, int x, int y, int delta, WPARAM keys)
{
  POINT p = {x, y};
  ClientToScreen(h, &p);
  SendMessageA(h, WM_MOUSEWHEEL, MAKEWPARAM((WORD)keys, (WORD)(SHORT)delta), Point(p.x, p.y));
}

}  // namespace wintest
