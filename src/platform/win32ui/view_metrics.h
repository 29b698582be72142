#pragma once

namespace salvatrix::win32ui {

/// The program icon's resource number in salvatrix.rc.
inline constexpr int kProgramIconId = 1;

/// The screen's logical pixels per inch, across and down.
struct ScreenDpi {
  int x = 96;
  int y = 96;
};

ScreenDpi GetScreenDpi();

/// Twips to pixels at the given DPI, rounded to the nearest pixel.
int TwipsToPixels(int twips, int dpi);

}  // namespace salvatrix::win32ui
