#pragma once

#include <functional>
#include <optional>
#include <string_view>

#include "controls/controls.h"
#include "copy/answered_calls.h"
#include "platform/window_upkeep.h"

namespace salvatrix {

class AppInfo;
class FileSystem;
class Form1Controls;
class ListBox;
class MessageBoxes;

inline constexpr std::string_view kCopyFailureText = "'StartCopying' Failure. Error #476";

/// The copy job: the selected source files and sub-folders into a drive's root.
class CopyJob final {
 public:
  CopyJob(Form1Controls& controls, FileSystem& files, AppInfo& app, MessageBoxes& boxes);
  CopyJob(const CopyJob&) = delete;
  CopyJob& operator=(const CopyJob&) = delete;

  /// Checks the selection and the destination, confirms, then copies the selected files and
  /// after them the selected sub-folders into the destination's root. Never fails: a failure
  /// stops the job, is reported in its own box and in the status line. Does nothing while a job
  /// already runs (waiting in one of its boxes).
  void StartCopying(ListBox& files, ListBox& destination, ListBox& folders);

  /// From now on the copying calls run on a thread of their own while upkeep keeps the window
  /// answered; nullptr: they run right here and the window is silent until the job ends.
  /// upkeep must outlive its use.
  void KeepWindowAnswered(WindowUpkeep* upkeep) { upkeep_ = upkeep; }
  /// Whether a job is copying (from its confirmation to its flush): the window takes no input
  /// and no handler may run.
  bool Copying() const { return copying_; }
  /// Raised with true when a job starts copying and with false when it stops, before its
  /// closing status or failure box.
  Signal<bool> copying_changed;

  /// The rule while a job copies: the window answers the desktop and lets nothing else through.
  /// Input is thrown away, so that a click meant for a window that seemed idle cannot start
  /// anything once the copy is over; clocks and device messages wait for the job's end.
  static Admission WhileCopying(WindowTraffic traffic);

 private:
  class CopyingScope;

  /// Runs a call that blocks until its copy is done.
  void Blocking(const std::function<void()>& call);

  Form1Controls& controls_;
  FileSystem& files_;
  AppInfo& app_;
  MessageBoxes& boxes_;
  WindowUpkeep* upkeep_ = nullptr;
  std::optional<AnsweredCalls> calls_;
  bool running_ = false;
  bool copying_ = false;
};

}  // namespace salvatrix
