#pragma once

// What the native window's tests share: handles, texts and mouse clicks.

#include <windows.h>

#include <cstddef>
#include <string>

#include "platform/win32/win32_platform.h"
#include "platform/window_hooks.h"

namespace salvatrix::win32ui {

inline HWND H(WindowHandle window) {
  return reinterpret_cast<HWND>(window);
}

/// The window's whole text.
inline std::wstring WideTextOf(HWND window) {
  std::wstring text(static_cast<std::size_t>(::GetWindowTextLengthW(window)) + 1, L'\0');
  text.resize(static_cast<std::size_t>(
      ::GetWindowTextW(window, text.data(), static_cast<int>(text.size()))));
  return text;
}

inline std::string TextOf(HWND window) {
  return win32::Narrow(WideTextOf(window));
}

/// A click as the mouse makes it, in the middle of an entry.
inline void ClickEntry(HWND list, int index) {
  RECT item{};
  ::SendMessageW(list, LB_GETITEMRECT, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(&item));
  const LPARAM at = MAKELPARAM((item.left + item.right) / 2, (item.top + item.bottom) / 2);
  ::SendMessageW(list, WM_LBUTTONDOWN, MK_LBUTTON, at);
  ::SendMessageW(list, WM_LBUTTONUP, 0, at);
}

}  // namespace salvatrix::win32ui
