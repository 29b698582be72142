#include "platform/win32ui/win32_message_boxes.h"

#include <windows.h>

#include <string>

#include "platform/win32/win32_platform.h"

namespace salvatrix::win32ui {

int Win32MessageBoxes::Show(std::string_view text, std::string_view caption, int style) {
  const std::wstring wide_text = win32::Widen(text);
  const std::wstring wide_caption = win32::Widen(caption);
  // A box must not be owned by a window that is gone: MessageBoxW would refuse to open.
  HWND owner = reinterpret_cast<HWND>(owner_);
  if (owner != nullptr && ::IsWindow(owner) == FALSE) {
    owner = nullptr;
  }
  const int pressed =
      ::MessageBoxW(owner, wide_text.c_str(), wide_caption.c_str(), static_cast<UINT>(style));
  if (pressed == IDOK) {
    return kIdOk;
  }
  // Cancel, and a box that could not open or was torn down with its owner: where the box
  // asked for consent, nothing was consented to.
  return (style & kMbOkCancel) != 0 ? kIdCancel : kIdOk;
}

}  // namespace salvatrix::win32ui
