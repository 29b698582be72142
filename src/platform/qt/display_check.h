#pragma once

#include <string>

namespace salvatrix::qt {

/// The one line to print when Qt would find no display to open, from the values of
/// QT_QPA_PLATFORM, DISPLAY and WAYLAND_DISPLAY (null when unset); the empty text when the
/// program can start. An empty variable counts as unset.
std::string NoDisplayMessage(const char* qpa_platform, const char* display,
                             const char* wayland_display);

}  // namespace salvatrix::qt
