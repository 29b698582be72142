#pragma once

#include <string>

#include "app/form1.h"
#include "copy/policy/copy_policy.h"
#include "platform/posix/copying/posix_files.h"
#include "platform/posix/devices/device_watch.h"
#include "platform/posix/devices/drive_table.h"
#include "platform/posix/devices/window_procedures.h"
#include "platform/qt/fd_notifiers.h"
#include "platform/qt/main_window.h"
#include "platform/qt/notes_window.h"
#include "platform/qt/window_upkeep_qt.h"

namespace salvatrix::qt {

/// The program on Linux: the OS layer, the models and the Qt views wired together.
class LinuxProgram final {
 public:
  /// app and boxes must outlive the program. mountinfo is the mount table to read and watch.
  LinuxProgram(AppInfo& app, MessageBoxes& boxes,
               const std::string& mountinfo = "/proc/self/mountinfo");
  LinuxProgram(const LinuxProgram&) = delete;
  LinuxProgram& operator=(const LinuxProgram&) = delete;

  /// Runs the start-up handler and shows the window. False when start-up failed: its text has
  /// been shown and the program must end.
  bool Start();

  Form1& Form() { return form_; }
  MainWindow& Window() { return window_; }

 private:
  posix::DriveTable drives_;
  posix::PosixFiles primitives_;
  CopyPolicy files_;
  posix::WindowProcedures procedures_;
  posix::DeviceWatch watch_;
  MessageBoxes& boxes_;
  Form1 form_;
  MainWindow window_;
  NotesView notes_;
  FdNotifiers notifiers_;
  /// Answers the window while a copy job waits for its copying calls.
  QtWindowUpkeep upkeep_{&notifiers_};
};

}  // namespace salvatrix::qt
