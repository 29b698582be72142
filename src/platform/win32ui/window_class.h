#pragma once

// What the view's own window classes share: the program icon, registering a class once, and a
// window procedure that hands each message to the object behind the window.

#include <windows.h>

#include <exception>

namespace salvatrix::win32ui {

/// The program icon from the program's resource, at size x size pixels; shared, never freed.
HICON LoadProgramIcon(int size);

/// Registers a window class with the program icon, unless it is registered already. Fails
/// (throws Failure) naming what the class is for.
void RegisterWindowClass(const wchar_t* name, WNDPROC procedure, HBRUSH background,
                         const char* what);

/// The window procedure of a class whose windows are created with an Owner* as their creation
/// parameter. Owner has LRESULT Handle(HWND, UINT, WPARAM, LPARAM) and Keep(exception_ptr);
/// messages before WM_NCCREATE and after WM_NCDESTROY go to DefWindowProcW.
template <typename Owner>
LRESULT CALLBACK OwnedProcedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam) noexcept {
  if (message == WM_NCCREATE) {
    const auto* create = reinterpret_cast<const CREATESTRUCTW*>(lparam);
    ::SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
  }
  auto* self = reinterpret_cast<Owner*>(::GetWindowLongPtrW(window, GWLP_USERDATA));
  if (self == nullptr) {
    return ::DefWindowProcW(window, message, wparam, lparam);
  }
  if (message == WM_NCDESTROY) {
    ::SetWindowLongPtrW(window, GWLP_USERDATA, 0);
  }
  // Nothing may unwind through the window system: the owner reports what it keeps.
  try {
    return self->Handle(window, message, wparam, lparam);
  } catch (...) {
    self->Keep(std::current_exception());
    return 0;
  }
}

}  // namespace salvatrix::win32ui
