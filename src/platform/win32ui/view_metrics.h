#pragma once

#include <cstdint>

#include "app/twips.h"
#include "platform/window_hooks.h"

namespace salvatrix::win32ui {

/// The program icon's resource number in salvatrix.rc.
inline constexpr int kProgramIconId = 1;

/// The screen's logical pixels per inch, across and down.
struct ScreenDpi {
  int x = 96;
  int y = 96;

  friend bool operator==(const ScreenDpi&, const ScreenDpi&) = default;
};

/// The system's DPI: the one every window has unless its monitor says otherwise.
ScreenDpi GetScreenDpi();

/// The DPI a window is drawn at: its monitor's where the system scales per monitor (Windows 8.1
/// and later), else the system's.
ScreenDpi WindowDpi(WindowHandle window);

/// The outer size of a window of style and ex_style whose client area is width by height
/// pixels at dpi, frame and caption drawn at dpi where the system can say (Windows 10 1607 and
/// later), else at the system's DPI.
struct FrameSize {
  int width = 0;
  int height = 0;
};
FrameSize FrameForClient(int width, int height, std::uint32_t style, std::uint32_t ex_style,
                         ScreenDpi dpi);

/// The new DPI and the window rectangle the system proposes, from a WM_DPICHANGED.
struct DpiChange {
  ScreenDpi dpi;
  int left = 0;
  int top = 0;
  int width = 0;
  int height = 0;
};
DpiChange ReadDpiChange(std::uintptr_t wparam, std::intptr_t lparam);

/// WM_DPICHANGED, which the headers of Windows 7 do not know.
inline constexpr std::uint32_t kWmDpiChanged = 0x02E0;

}  // namespace salvatrix::win32ui
