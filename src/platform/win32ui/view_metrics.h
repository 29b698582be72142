#pragma once

#include "app/twips.h"

namespace salvatrix::win32ui {

/// The program icon's resource number in salvatrix.rc.
inline constexpr int kProgramIconId = 1;

/// The screen's logical pixels per inch, across and down.
struct ScreenDpi {
  int x = 96;
  int y = 96;
};

ScreenDpi GetScreenDpi();

}  // namespace salvatrix::win32ui
