#pragma once

#include <functional>
#include <memory>

#include "platform/window_hooks.h"

namespace salvatrix {
class Control;
class Form1;
class MessageBoxes;
}  // namespace salvatrix

namespace salvatrix::win32ui {

/// The main window: a top-level window with one standard child control per control of the
/// form, placed and coloured as the models say and kept in step with every model change. User
/// input goes back to the models through the window driver, which decides; the window only
/// shows.
class MainWindow final {
 public:
  /// The control at position i of the form's creation order has the ID kFirstControlId + i
  /// (the timer's ID is its timer's).
  static constexpr int kFirstControlId = 100;

  /// Creates the window, hidden. The form and the boxes must outlive the window; model changes
  /// after the window is gone are ignored.
  MainWindow(Form1& form, MessageBoxes& boxes);
  ~MainWindow();
  MainWindow(const MainWindow&) = delete;
  MainWindow& operator=(const MainWindow&) = delete;

  /// The window's handle; 0 once it is destroyed.
  WindowHandle Handle() const;
  /// The child window that shows control; 0 for the timer and once the window is gone.
  WindowHandle ChildOf(const Control& control) const;
  /// The open notes window, or 0.
  WindowHandle NotesHandle() const;
  /// Whether the window's clock for the form's timer runs.
  bool TimerRunning() const;

  /// ShowWindow with the start-up show command, then the first paint.
  void Show(int show_command);

  /// Runs a handler. When it fails, its text has been shown, the window is destroyed without
  /// running further handlers and the message loop ends with 1. Returns false then, and for
  /// every call once the program is ending.
  bool Dispatch(const std::function<void()>& handler);
  /// Whether a failed handler has ended the program.
  bool Ending() const;

  /// Reports a failure that a window procedure had to keep back (an exception may not unwind
  /// through the window system) as a failed handler. The message loop calls it after each
  /// message; tests that pump messages themselves call it as well.
  void ReportPendingFailure();

  /// The message loop: runs until the window is destroyed; returns the exit code.
  int Run();

 private:
  class Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace salvatrix::win32ui
