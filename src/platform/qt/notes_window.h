#pragma once

#include <QWidget>
#include <vector>

#include "controls/controls.h"

namespace salvatrix {
class Dialog;
}  // namespace salvatrix

namespace salvatrix::qt {

/// Shows the usage-notes window while the notes model is open: a window without owner, with a
/// fixed dialog frame, kept out of the taskbar, at its fixed place on the screen.
class NotesView final {
 public:
  /// The model must outlive the view.
  explicit NotesView(Dialog& notes);
  ~NotesView();
  NotesView(const NotesView&) = delete;
  NotesView& operator=(const NotesView&) = delete;

  /// The open window, or nullptr.
  QWidget* Window() const { return window_; }

 private:
  void Open();
  void Discard();

  Dialog& notes_;
  QWidget* window_ = nullptr;
  std::vector<Connection> connections_;
};

}  // namespace salvatrix::qt
