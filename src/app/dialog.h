#pragma once

#include <array>
#include <memory>
#include <string_view>

#include "controls/controls.h"

namespace salvatrix {

/// The usage-notes window. Its list exists only while the window is open.
class Dialog final {
 public:
  static constexpr std::string_view kCaption = "Notes on usage";
  static constexpr int kClientWidth = 9585;  // twips
  static constexpr int kClientHeight = 5355;
  static constexpr int kScreenLeft = 2760;  // client area's top-left corner on the screen
  static constexpr int kScreenTop = 3750;
  static constexpr std::string_view kFontName = "MS Sans Serif";
  static constexpr double kFontPoints = 9.75;
  static constexpr int kFontWeight = 400;

  /// The notes, in the order they are listed.
  static const std::array<std::string_view, 21>& Notes();

  Dialog() = default;
  Dialog(const Dialog&) = delete;
  Dialog& operator=(const Dialog&) = delete;

  bool IsOpen() const { return list_ != nullptr; }
  /// The notes list; only while open.
  ListBox& List1() { return *list_; }

  /// Opens the window (creating and filling its list) unless it is open already.
  void Show();
  /// Closes the window if it is open; nothing otherwise.
  void Close();

  /// Raised after the window opened, and before it closes.
  Signal<> opened;
  Signal<> closing;

 private:
  void Form_Load();

  std::unique_ptr<ListBox> list_;
};

}  // namespace salvatrix
