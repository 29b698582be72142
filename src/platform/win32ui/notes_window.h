#pragma once

#include <functional>
#include <memory>

#include "platform/window_hooks.h"

namespace salvatrix {
class Dialog;
}  // namespace salvatrix

namespace salvatrix::win32ui {

/// Shows the usage-notes window while the notes model is open: a window without owner, with a
/// fixed dialog frame, kept out of the taskbar, its client area at a fixed place on the screen.
class NotesWindow final {
 public:
  /// Runs a handler for the program; false when it failed or the program is ending.
  using Dispatcher = std::function<bool(const std::function<void()>&)>;

  /// The model must outlive the view.
  NotesWindow(Dialog& notes, Dispatcher dispatch);
  ~NotesWindow();
  NotesWindow(const NotesWindow&) = delete;
  NotesWindow& operator=(const NotesWindow&) = delete;

  /// The open window, or 0.
  WindowHandle Handle() const;
  /// Destroys the window, if open, without telling the model (the program is ending).
  void Discard();

 private:
  class Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace salvatrix::win32ui
