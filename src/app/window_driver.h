#pragma once

#include <functional>
#include <string>
#include <vector>

#include "controls/controls.h"

namespace salvatrix {

class Form1;
class MessageBoxes;

/// The rules every view of the main window follows, whatever draws it: how a handler runs and
/// what a failure does, unloading once, the tab order, when the clock runs and which lists
/// explain their drives. A view renders the models and forwards input here.
class WindowDriver final {
 public:
  /// What the driver asks of the view.
  class Host {
   public:
    /// Stops every clock; the driver has already marked the program as ending.
    virtual void StopClocks() = 0;
    /// Closes the windows without running handlers and ends the event loops with 1.
    virtual void EndProgram() = 0;
    /// Raises a failure that the view had to keep back (one that may not unwind through the
    /// window system), as the running handler's. Called before and after every handler.
    virtual void RethrowKept() {}

   protected:
    ~Host() = default;
  };

  /// The form, the boxes and the host must outlive the driver.
  WindowDriver(Form1& form, MessageBoxes& boxes, Host& host);

  /// Runs a handler; nothing while a copy job copies (the window takes no input then). A
  /// failure is shown with its text, after the clocks have stopped (the
  /// box's modal loop must not run more handlers against a program that is about to end), and
  /// then ends the program. Returns false then, and for every call once the program is ending.
  bool Run(const std::function<void()>& handler);
  /// Whether the program is ending: no handler runs any more.
  bool Ending() const { return ending_; }
  /// The window is going away without the program ending by a failure: no more handlers.
  void Stop() { ending_ = true; }

  // Input, each run as a handler.
  bool Press(CommandButton& button);
  bool Click(CheckBox& check);
  /// Nothing for a row outside the list.
  bool ClickItem(ListBox& list, int row);
  bool Edit(TextBox& box, std::string text);
  bool Tick(Timer& timer);
  /// The user closes the window: Form_Unload, once, unless the program is ending.
  void Close();

  /// Every control but the timer, by tab index, creation order among equals, and those
  /// without a tab index last.
  std::vector<Control*> TabOrder() const;
  /// The controls the focus visits, in tab order.
  std::vector<Control*> FocusOrder() const;
  /// The control the window opens with the focus on: the first enabled one in focus order.
  Control* FirstFocus() const;

  /// Whether the window's clock for timer runs.
  bool ClockRuns(const Timer& timer) const;

  /// Whether list holds drive roots, whose entries explain their drive in a tooltip.
  bool ShowsDriveTips(const ListBox& list) const;
  /// The tooltip for the entry at row: the empty text when there is none, or nothing can be
  /// learnt about its drive.
  std::string ItemTip(const ListBox& list, int row) const;

 private:
  Form1& form_;
  MessageBoxes& boxes_;
  Host& host_;
  bool ending_ = false;
  bool unloaded_ = false;
};

}  // namespace salvatrix
