#pragma once

#include <string_view>

#include "platform/message_boxes.h"
#include "platform/window_hooks.h"

namespace salvatrix::win32ui {

/// MessageBoxW with the style as the program gives it, owned by the main window while that
/// window exists.
class Win32MessageBoxes final : public MessageBoxes {
 public:
  /// The window the boxes belong to; 0 for none.
  void SetOwner(WindowHandle window) { owner_ = window; }

  int Show(std::string_view text, std::string_view caption, int style) override;

 private:
  WindowHandle owner_ = 0;
};

}  // namespace salvatrix::win32ui
