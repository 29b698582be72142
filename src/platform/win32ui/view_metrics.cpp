#include "platform/win32ui/view_metrics.h"

#include <windows.h>

#include <cmath>

namespace salvatrix::win32ui {
namespace {

constexpr double kTwipsPerInch = 1440.0;

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

int TwipsToPixels(int twips, int dpi) {
  return static_cast<int>(std::lround(twips * static_cast<double>(dpi) / kTwipsPerInch));
}

}  // namespace salvatrix::win32ui
