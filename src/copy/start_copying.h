#pragma once

#include <string_view>

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

 private:
  Form1Controls& controls_;
  FileSystem& files_;
  AppInfo& app_;
  MessageBoxes& boxes_;
  bool copying_ = false;
};

}  // namespace salvatrix
