#include "platform/qt/display_check.h"

namespace salvatrix::qt {
namespace {

bool IsSet(const char* value) {
  return value != nullptr && *value != '\0';
}

}  // namespace

std::string NoDisplayMessage(const char* qpa_platform, const char* display,
                             const char* wayland_display) {
  // A chosen platform plugin (offscreen, vnc, eglfs ...) needs neither variable.
  if (IsSet(qpa_platform) || IsSet(display) || IsSet(wayland_display)) {
    return {};
  }
  return "salvatrix: no display found (DISPLAY is not set); run it from a desktop session, "
         "or under xvfb-run";
}

}  // namespace salvatrix::qt
