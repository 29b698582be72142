#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "platform/window_hooks.h"

namespace salvatrix::win32ui {

/// A tooltip over list boxes that explains the entry under the mouse. The tooltip asks the
/// owner window for each text (TTN_GETDISPINFOW in a WM_NOTIFY), which hands the request to
/// Answer.
class DriveTips final {
 public:
  /// Fails (throws Failure) when the tooltip cannot be created.
  explicit DriveTips(WindowHandle owner);
  ~DriveTips();
  DriveTips(const DriveTips&) = delete;
  DriveTips& operator=(const DriveTips&) = delete;

  /// Shows tips over a list box, a child of the owner. Returns false when the tooltip refuses
  /// the list (the list then shows no tips).
  [[nodiscard]] bool Add(WindowHandle list);

  /// The owner's WM_MOUSEMOVE: a disabled list takes no mouse input of its own, so its tips
  /// follow the moves its parent gets.
  void OwnerMouseMove();

  /// A text the tooltip found empty may have come since: with the mouse still over the entry
  /// it last asked about, the tooltip asks again.
  void Refresh();

  /// The text a tooltip asks for, for the row of the list under the mouse (-1 for none); the
  /// empty text shows no tip.
  using TipFor = std::function<std::string(int row)>;
  /// Answers the WM_NOTIFY whose lparam this is, when it is this tooltip's request for a text;
  /// returns whether it was.
  bool Answer(std::intptr_t lparam, const TipFor& tip);

 private:
  class Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace salvatrix::win32ui
