#pragma once

#include <QMessageBox>
#include <string_view>

#include "platform/message_boxes.h"

namespace salvatrix::qt {

/// What a message box style asks for.
struct BoxLook {
  QMessageBox::StandardButtons buttons;
  QMessageBox::Icon icon;
};

/// The buttons and icon of a message box style: bit 1 adds Cancel to OK; 16 critical,
/// 32 question, 48 warning, 64 information, no icon otherwise.
BoxLook LookForStyle(int style);

/// Modal QMessageBox boxes over the active window.
class QtMessageBoxes final : public MessageBoxes {
 public:
  int Show(std::string_view text, std::string_view caption, int style) override;
};

}  // namespace salvatrix::qt
