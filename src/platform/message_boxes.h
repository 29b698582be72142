#pragma once

#include <string_view>

namespace salvatrix {

inline constexpr std::string_view kApplicationTitle = "Salvatrix";

/// Message box styles, combined by adding.
inline constexpr int kMbOk = 0;
inline constexpr int kMbOkCancel = 1;
inline constexpr int kMbIconError = 16;
inline constexpr int kMbIconInformation = 64;

/// Buttons a message box returns.
inline constexpr int kIdOk = 1;
inline constexpr int kIdCancel = 2;

/// Modal message boxes.
class MessageBoxes {
 public:
  virtual ~MessageBoxes() = default;

  /// Shows a modal box and returns the button pressed (kIdOk or kIdCancel). Closing a box
  /// without a Cancel button counts as OK; closing one with Cancel counts as Cancel.
  virtual int Show(std::string_view text, std::string_view caption, int style) = 0;
};

}  // namespace salvatrix
