// Windows editor window: window class, child window, timer-paced repaint and
// the translation of Win32 input messages into the editor's event operations.
#include <windows.h>
#include <windowsx.h>

#include <algorithm>
#include <cstring>

#include "framework/IPlugBase.h"
#include "graphics/IGraphicsWin.h"
#include "graphics/ModuleHandle.h"

namespace {

// Process-wide (per module) window state; touched only on the UI thread.
int gWindowClassUseCount = 0;
int gFrameRateForNewWindow = 25;  // read by the next window's creation message

constexpr UINT kDefaultTimerPeriodMs = 40;

#ifndef WM_DPICHANGED
#define WM_DPICHANGED 0x02E0
#endif
#ifndef WM_DPICHANGED_AFTERPARENT
#define WM_DPICHANGED_AFTERPARENT 0x02E3
#endif

// The DPI functions of Windows 10 (1607 and later), looked up at run time so
// that the module still loads where they are missing: the editor then stays
// at scale 1.
struct DpiFunctions
{
  using GetThreadDpiAwarenessContextFn = HANDLE(WINAPI*)();
  using GetAwarenessFromDpiAwarenessContextFn = int(WINAPI*)(HANDLE);
  using GetDpiForWindowFn = UINT(WINAPI*)(HWND);
  using GetDpiForSystemFn = UINT(WINAPI*)();
  GetThreadDpiAwarenessContextFn threadContext = nullptr;
  GetAwarenessFromDpiAwarenessContextFn awareness = nullptr;
  GetDpiForWindowFn forWindow = nullptr;
  GetDpiForSystemFn forSystem = nullptr;

  template <typename F>
  static F Find(HMODULE user32, const char* name)
  {
    return reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(user32, name)));
  }

  static const DpiFunctions& Get()
  {
    static const DpiFunctions f = [] {
      DpiFunctions d;
      if (HMODULE user32 = GetModuleHandleA("user32.dll"))
      {
        d.threadContext = Find<GetThreadDpiAwarenessContextFn>(user32, "GetThreadDpiAwarenessContext");
        d.awareness = Find<GetAwarenessFromDpiAwarenessContextFn>(user32, "GetAwarenessFromDpiAwarenessContext");
        d.forWindow = Find<GetDpiForWindowFn>(user32, "GetDpiForWindow");
        d.forSystem = Find<GetDpiForSystemFn>(user32, "GetDpiForSystem");
      }
      return d;
    }();
    return f;
  }
};

// The scale of a window's screen for the calling thread; 1 in a DPI-unaware
// thread (awareness 0), where Windows scales the window itself.
double ScaleForWindow(HWND window)
{
  const DpiFunctions& f = DpiFunctions::Get();
  if (!f.threadContext || !f.awareness || !f.forWindow || !f.forSystem) return 1.0;
  if (f.awareness(f.threadContext()) <= 0) return 1.0;
  const UINT dpi = window && IsWindow(window) ? f.forWindow(window) : f.forSystem();
  if (dpi == 0) return 1.0;
  return std::clamp(dpi / 96.0, kMinEditorScale, kMaxEditorScale);
}

HINSTANCE OwnModuleHandle()
{
  // The module that contains this code, should its entry point not have
  // recorded the handle (a host that skips InitDll, or a test program).
  HMODULE module = nullptr;
  GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                     reinterpret_cast<LPCSTR>(&OwnModuleHandle), &module);
  return module;
}

UINT TimerPeriodMs(int frameRate)
{
  if (frameRate <= 0) return kDefaultTimerPeriodMs;
  const UINT period = (UINT)(1000.0 / frameRate);
  return period > 0 ? period : 1;
}

IMouseMod ModifiersFromKeyState(WPARAM wParam)
{
  const WORD keys = GET_KEYSTATE_WPARAM(wParam);
  IMouseMod mod;
  mod.L = (keys & MK_LBUTTON) != 0;
  mod.R = (keys & MK_RBUTTON) != 0;
  mod.S = (keys & MK_SHIFT) != 0;
  mod.C = (keys & MK_CONTROL) != 0;
  mod.A = GetKeyState(VK_MENU) < 0;
  return mod;
}

}  // namespace

struct IGraphicsWinProc
{
  static bool RegisterWindowClass(HINSTANCE instance)
  {
    WNDCLASSA wc = {};
    wc.style = CS_DBLCLKS;
    wc.lpfnWndProc = &IGraphicsWinProc::WndProc;
    wc.cbClsExtra = 0;
    wc.cbWndExtra = 0;
    wc.hInstance = instance;
    wc.hIcon = nullptr;
    wc.hCursor = LoadCursorA(nullptr, reinterpret_cast<LPCSTR>(IDC_ARROW));
    wc.hbrBackground = nullptr;
    wc.lpszMenuName = nullptr;
    wc.lpszClassName = IGraphicsWin::WindowClassName();
    return RegisterClassA(&wc) != 0;
  }

  static void AcquireClass(IGraphicsWin* g)
  {
    if (gWindowClassUseCount++ == 0) RegisterWindowClass(static_cast<HINSTANCE>(g->moduleInstance));
    g->holdsClassUse = true;
  }

  static void ReleaseClass(IGraphicsWin* g)
  {
    if (!g->holdsClassUse) return;
    g->holdsClassUse = false;
    if (gWindowClassUseCount > 0 && --gWindowClassUseCount == 0)
      UnregisterClassA(IGraphicsWin::WindowClassName(), static_cast<HINSTANCE>(g->moduleInstance));
  }

  // The editor that owns this window, or null when the message belongs to a
  // window that is not (or no longer) the editor's current one.
  static IGraphicsWin* Owner(HWND hwnd)
  {
    IGraphicsWin* g = reinterpret_cast<IGraphicsWin*>(GetWindowLongPtrA(hwnd, GWLP_USERDATA));
    if (!g || g->hwnd != static_cast<void*>(hwnd)) return nullptr;
    return g;
  }

  static void ForwardToRoot(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam)
  {
    // A host that hands unused keys back to the focused window would otherwise
    // bounce them between the two until the stack runs out.
    static thread_local bool forwarding = false;
    if (forwarding) return;
    HWND root = GetAncestor(hwnd, GA_ROOT);
    if (root && root != hwnd)
    {
      forwarding = true;
      SendMessageA(root, msg, wParam, lParam);
      forwarding = false;
    }
  }

  static LRESULT CALLBACK WndProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam)
  {
    if (msg == WM_CREATE)
    {
      const CREATESTRUCTA* cs = reinterpret_cast<const CREATESTRUCTA*>(lParam);
      SetWindowLongPtrA(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(cs->lpCreateParams));
      SetTimer(hwnd, IGraphicsWin::kTimerId, TimerPeriodMs(gFrameRateForNewWindow), nullptr);
      SetFocus(hwnd);
      return 0;
    }

    IGraphicsWin* g = Owner(hwnd);
    if (!g) return DefWindowProcA(hwnd, msg, wParam, lParam);

    switch (msg)
    {
      case WM_NCDESTROY:
        // Destroyed from outside (the host destroyed its parent window first):
        // the editor is closed from now on and must not touch this handle again.
        g->hwnd = nullptr;
        SetWindowLongPtrA(hwnd, GWLP_USERDATA, 0);
        return DefWindowProcA(hwnd, msg, wParam, lParam);

      case WM_SETFOCUS:
      case WM_KILLFOCUS:
        return 0;

      case WM_PAINT:
      {
        RECT r;
        if (GetUpdateRect(hwnd, &r, FALSE) && r.right > r.left && r.bottom > r.top)
          g->Redraw(IRect(r.left, r.top, r.right, r.bottom));
        // Whatever Redraw managed to present, the region counts as painted, so a
        // missing draw bitmap cannot turn into an endless stream of paints.
        ValidateRect(hwnd, nullptr);
        return 0;
      }

      case WM_CLOSE:
        g->CloseWindow();
        return 0;

      case WM_DPICHANGED:
      case WM_DPICHANGED_AFTERPARENT:
      {
        // Moved to a screen of another scale (a child window hears of it after
        // its parent). A host that gives the scale sends the new one itself.
        const int w = g->ScaledWidth(), h = g->ScaledHeight();
        g->FollowDisplayScale();
        if ((g->ScaledWidth() != w || g->ScaledHeight() != h) && g->GetPlug())
          g->GetPlug()->ResizeEditor(g->ScaledWidth(), g->ScaledHeight());
        return 0;
      }

      case WM_TIMER:
        if (wParam == IGraphicsWin::kTimerId)
        {
          IRect dirty;
          if (g->CollectDirtyRect(&dirty))
          {
            RECT r = {dirty.L, dirty.T, dirty.R, dirty.B};
            InvalidateRect(hwnd, &r, FALSE);
            UpdateWindow(hwnd);
          }
        }
        return 0;

      case WM_KEYDOWN:
      {
        const int key = IGraphicsWin::KeyCodeFromVirtualKey((int)wParam);
        if (key >= 0)
        {
          POINT p = {0, 0};
          GetCursorPos(&p);
          ScreenToClient(hwnd, &p);
          if (g->HandleKeyDown(g->LogicalCoord(p.x), g->LogicalCoord(p.y), key)) return 0;
        }
        ForwardToRoot(hwnd, msg, wParam, lParam);
        return DefWindowProcA(hwnd, msg, wParam, lParam);
      }

      case WM_KEYUP:
        ForwardToRoot(hwnd, msg, wParam, lParam);
        return DefWindowProcA(hwnd, msg, wParam, lParam);

      case WM_MOUSEMOVE:
        if ((wParam & (MK_LBUTTON | MK_RBUTTON)) && GetCapture() == hwnd)
          g->HandleMouseDrag(g->LogicalCoord(GET_X_LPARAM(lParam)), g->LogicalCoord(GET_Y_LPARAM(lParam)),
                             ModifiersFromKeyState(wParam));
        return 0;

      case WM_LBUTTONDOWN:
      case WM_RBUTTONDOWN:
      case WM_MBUTTONDOWN:
        SetFocus(hwnd);
        SetCapture(hwnd);
        g->HandleMouseDown(g->LogicalCoord(GET_X_LPARAM(lParam)), g->LogicalCoord(GET_Y_LPARAM(lParam)),
                           ModifiersFromKeyState(wParam));
        return 0;

      case WM_LBUTTONUP:
      case WM_RBUTTONUP:
      case WM_MBUTTONUP:
        g->releasingCapture = true;
        ReleaseCapture();
        g->releasingCapture = false;
        // The release may have closed the editor (a control reaching the host);
        // only a still-current owner gets the event.
        if ((g = Owner(hwnd)) != nullptr)
          g->HandleMouseUp(g->LogicalCoord(GET_X_LPARAM(lParam)), g->LogicalCoord(GET_Y_LPARAM(lParam)),
                           ModifiersFromKeyState(wParam));
        return 0;

      case WM_CAPTURECHANGED:
        // The mouse was taken away in the middle of a press (another window
        // captured it): the release will not come here, so the drag ends now.
        if (!g->releasingCapture) g->AbandonPress();
        return 0;

      case WM_LBUTTONDBLCLK:
        g->HandleDoubleClick(g->LogicalCoord(GET_X_LPARAM(lParam)), g->LogicalCoord(GET_Y_LPARAM(lParam)),
                             ModifiersFromKeyState(wParam));
        return 0;

      case WM_MOUSEWHEEL:
      {
        RECT wr = {0, 0, 0, 0};
        GetWindowRect(hwnd, &wr);
        const int x = GET_X_LPARAM(lParam) - wr.left;
        const int y = GET_Y_LPARAM(lParam) - wr.top;
        const int notches = GET_WHEEL_DELTA_WPARAM(wParam) / WHEEL_DELTA;  // truncates toward zero
        g->HandleMouseWheel(g->LogicalCoord(x), g->LogicalCoord(y), ModifiersFromKeyState(wParam), notches);
        return 0;
      }

      default:
        return DefWindowProcA(hwnd, msg, wParam, lParam);
    }
  }
};

IGraphicsWin::IGraphicsWin(IPlugBase* plug, int width, int height, int frameRate)
  : IGraphics(plug, width, height, frameRate)
{
  moduleInstance = GetModuleInstance();
  if (!moduleInstance) moduleInstance = OwnModuleHandle();
}

IGraphicsWin::~IGraphicsWin()
{
  // The plug-in is being destroyed: the window goes without telling the host.
  DestroyOwnWindow();
}

void IGraphicsWin::AbandonPress()
{
  ClearMouseCapture();
  EndOpenGesture();
}

int IGraphicsWin::WindowClassUseCount()
{
  return gWindowClassUseCount;
}

int IGraphicsWin::KeyCodeFromVirtualKey(int vk)
{
  switch (vk)
  {
    case VK_SPACE: return 0;
    case VK_UP: return 1;
    case VK_DOWN: return 2;
    case VK_LEFT: return 3;
    case VK_RIGHT: return 4;
    default: break;
  }
  if (vk >= '0' && vk <= '9') return vk - 43;
  if (vk >= 'A' && vk <= 'Z') return vk - 50;
  // Codes 97 to 122 (the lower-case character codes) count as letters too.
  if (vk >= 97 && vk <= 122) return vk - 82;
  return -1;
}

double IGraphicsWin::DisplayScale()
{
  return ScaleForWindow(static_cast<HWND>(hwnd ? hwnd : parentWindow));
}

void IGraphicsWin::ScaleChanged()
{
  if (hwnd)
    SetWindowPos(static_cast<HWND>(hwnd), nullptr, 0, 0, ScaledWidth(), ScaledHeight(),
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void* IGraphicsWin::OpenWindow(void* parent)
{
  HWND parentHwnd = static_cast<HWND>(parent);
  parentWindow = parent;
  // The screen of the host's window decides, which may not be the one the
  // host asked the size for: it then hears of the new size.
  const int askedW = ScaledWidth(), askedH = ScaledHeight();
  if (!hwnd) FollowDisplayScale();
  const bool resized = ScaledWidth() != askedW || ScaledHeight() != askedH;
  int w = ScaledWidth(), h = ScaledHeight();
  int x = 0, y = 0;

  if (hwnd)
  {
    // Re-opening: keep the old window's place and size, seen from the new parent.
    RECT old = {0, 0, 0, 0};
    GetWindowRect(static_cast<HWND>(hwnd), &old);
    POINT topLeft = {old.left, old.top};
    const bool mapped = parentHwnd && IsWindow(parentHwnd) && ScreenToClient(parentHwnd, &topLeft);
    CloseWindow();
    if (mapped)
    {
      x = topLeft.x;
      y = topLeft.y;
    }
    w = old.right - old.left;
    h = old.bottom - old.top;
  }
  else
  {
    // A window the host destroyed under us may still hold a class use.
    CloseWindow();
  }

  IGraphicsWinProc::AcquireClass(this);
  gFrameRateForNewWindow = FrameRate();

  HWND created = nullptr;
  if (parentHwnd && IsWindow(parentHwnd))
  {
    created = CreateWindowExA(0, WindowClassName(), "IPlug", WS_CHILD | WS_VISIBLE, x, y, w, h, parentHwnd,
                              nullptr, static_cast<HINSTANCE>(moduleInstance), this);
  }

  if (created)
  {
    hwnd = created;
    MarkAllDirty();
    if (resized && GetPlug()) GetPlug()->ResizeEditor(w, h);
    return hwnd;
  }

  const bool othersUseClass = gWindowClassUseCount > 1;
  IGraphicsWinProc::ReleaseClass(this);
  if (othersUseClass) MarkAllDirty();
  return nullptr;
}

void IGraphicsWin::CloseWindow()
{
  // A press held while the window goes never sees its release.
  if (hwnd) AbandonPress();
  DestroyOwnWindow();
}

void IGraphicsWin::DestroyOwnWindow()
{
  if (hwnd)
  {
    HWND h = static_cast<HWND>(hwnd);
    // Cleared first: messages sent while the window is torn down are no longer
    // the editor's and get default handling.
    hwnd = nullptr;
    if (IsWindow(h)) DestroyWindow(h);
  }
  IGraphicsWinProc::ReleaseClass(this);
}

bool IGraphicsWin::PresentRect(const IRect& r)
{
  HWND h = static_cast<HWND>(hwnd);
  if (!h) return true;
  PAINTSTRUCT ps;
  HDC dc = BeginPaint(h, &ps);
  LICE_IBitmap* bitmap = DrawBitmap();
  HDC src = bitmap ? static_cast<HDC>(bitmap->getDC()) : nullptr;
  if (dc && src) BitBlt(dc, r.L, r.T, r.W(), r.H(), src, r.L, r.T, SRCCOPY);
  EndPaint(h, &ps);
  return true;
}

LICE_IBitmap* IGraphicsWin::LoadImageResource(int resourceId, const char* name)
{
  if (!name) return nullptr;
  const char* dot = std::strrchr(name, '.');
  if (!dot || _stricmp(dot + 1, "png") != 0) return nullptr;

  HMODULE module = static_cast<HMODULE>(moduleInstance);
  HRSRC res = FindResourceA(module, MAKEINTRESOURCEA(resourceId & 0xFFFF), "PNG");
  if (!res) return nullptr;
  const DWORD size = SizeofResource(module, res);
  if (size < 8) return nullptr;
  HGLOBAL loaded = LoadResource(module, res);
  if (!loaded) return nullptr;
  const void* data = LockResource(loaded);
  if (!data) return nullptr;
  // The data stays mapped with the module, nothing to free: decoded when
  // first drawn.
  return LICE_PngImage::Open(static_cast<const unsigned char*>(data), size);
}

IGraphics* MakePlatformGraphics(IPlugBase* plug, int width, int height, int frameRate)
{
  return new IGraphicsWin(plug, width, height, frameRate);
}
