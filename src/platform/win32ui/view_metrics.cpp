#include "platform/win32ui/view_metrics.h"

#include <windows.h>

namespace salvatrix::win32ui {
namespace {

// The per-monitor calls came after Windows 7, which the program still runs on: they are looked
// up when needed, never imported.
template <typename Function>
Function SystemCall(const wchar_t* module, const char* name) {
  HMODULE handle = ::GetModuleHandleW(module);
  if (handle == nullptr) {
    // shcore.dll is not loaded by the program itself; Windows 7 has none.
    handle = ::LoadLibraryExW(module, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
  }
  if (handle == nullptr) {
    return nullptr;
  }
  return reinterpret_cast<Function>(reinterpret_cast<void*>(::GetProcAddress(handle, name)));
}

using GetDpiForWindowCall = UINT(WINAPI*)(HWND);
using GetDpiForMonitorCall = HRESULT(WINAPI*)(HMONITOR, int, UINT*, UINT*);
using AdjustForDpiCall = BOOL(WINAPI*)(RECT*, DWORD, BOOL, DWORD, UINT);

}  // namespace

ScreenDpi GetScreenDpi() {
  ScreenDpi dpi;
  if (HDC screen = ::GetDC(nullptr)) {
    dpi.x = ::GetDeviceCaps(screen, LOGPIXELSX);
    dpi.y = ::GetDeviceCaps(screen, LOGPIXELSY);
    ::ReleaseDC(nullptr, screen);
  }
  return dpi;
}

ScreenDpi WindowDpi(WindowHandle window) {
  HWND hwnd = reinterpret_cast<HWND>(window);
  // Windows 10 1607 on.
  static const auto for_window = SystemCall<GetDpiForWindowCall>(L"user32.dll", "GetDpiForWindow");
  if (for_window != nullptr && hwnd != nullptr) {
    if (const UINT dpi = for_window(hwnd); dpi != 0) {
      return {static_cast<int>(dpi), static_cast<int>(dpi)};
    }
  }
  // Windows 8.1: the monitor's effective DPI (MDT_EFFECTIVE_DPI, 0).
  static const auto for_monitor =
      SystemCall<GetDpiForMonitorCall>(L"shcore.dll", "GetDpiForMonitor");
  if (for_monitor != nullptr && hwnd != nullptr) {
    UINT x = 0;
    UINT y = 0;
    if (SUCCEEDED(for_monitor(::MonitorFromWindow(hwnd, MONITOR_DEFAULTTONEAREST), 0, &x, &y)) &&
        x != 0 && y != 0) {
      return {static_cast<int>(x), static_cast<int>(y)};
    }
  }
  return GetScreenDpi();
}

FrameSize FrameForClient(int width, int height, std::uint32_t style, std::uint32_t ex_style,
                         ScreenDpi dpi) {
  RECT frame{0, 0, width, height};
  static const auto adjust =
      SystemCall<AdjustForDpiCall>(L"user32.dll", "AdjustWindowRectExForDpi");
  if (adjust == nullptr ||
      adjust(&frame, style, FALSE, ex_style, static_cast<UINT>(dpi.y)) == FALSE) {
    frame = {0, 0, width, height};
    ::AdjustWindowRectEx(&frame, style, FALSE, ex_style);
  }
  return {frame.right - frame.left, frame.bottom - frame.top};
}

DpiChange ReadDpiChange(std::uintptr_t wparam, std::intptr_t lparam) {
  DpiChange change;
  change.dpi = {LOWORD(wparam), HIWORD(wparam)};
  if (const auto* proposed = reinterpret_cast<const RECT*>(lparam)) {
    change.left = proposed->left;
    change.top = proposed->top;
    change.width = proposed->right - proposed->left;
    change.height = proposed->bottom - proposed->top;
  }
  return change;
}

}  // namespace salvatrix::win32ui
