#include "platform/win32ui/view_metrics.h"

#include <windows.h>

namespace salvatrix::win32ui {
ScreenDpi GetScreenDpi() {
  ScreenDpi dpi;
  if (HDC screen = ::GetDC(nullptr)) {
    dpi.x = ::GetDeviceCaps(screen, LOGPIXELSX);
    dpi.y = ::GetDeviceCaps(screen, LOGPIXELSY);
    ::ReleaseDC(nullptr, screen);
  }
  return dpi;
}

}  // namespace salvatrix::win32ui
