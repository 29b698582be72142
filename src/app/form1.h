#pragma once

#include <string_view>

#include "app/dialog.h"
#include "controls/controls.h"
#include "controls/form1_controls.h"
#include "controls/list_selection.h"
#include "copy/start_copying.h"
#include "detect/module1.h"
#include "drives/compare_drive_letters.h"
#include "drives/list_drives.h"
#include "source/source_lists.h"

namespace salvatrix {

class AppInfo;
class DeviceNotifications;
class DriveStrings;
class WindowHooks;
class FileSystem;
class MessageBoxes;

/// What the main window needs from the platform.
struct FormServices {
  DriveStrings& drives;
  MessageBoxes& boxes;
  AppInfo& app;
  FileSystem& files;
  DeviceNotifications& notifications;
  WindowHooks& hooks;
};

/// The main window: all working state lives in its controls, read and written by name. It owns
/// the subsystems that work on them and runs its handlers when a control raises an event.
class Form1 final : public Form1Controls {
 public:
  static constexpr std::string_view kCaption = "AUTO-COPIER FOR EXTERNAL STORAGE (eg Flash Drive)";
  static constexpr int kClientWidth = 10935;  // twips
  static constexpr int kClientHeight = 6840;  // twips
  static constexpr std::string_view kDestinationWarning =
      "Be warned that you have changed the default destination.";
  static constexpr std::string_view kDestinationWarningCaption = "ARE YOU SURE?";

  explicit Form1(FormServices services);
  Form1(const Form1&) = delete;
  Form1& operator=(const Form1&) = delete;

  static Colour BackColour() { return Colour::System(kColorMenuText); }

  ListDrives& Drives() { return list_drives_; }
  DriveComparison& Comparison() { return comparison_; }
  CopyJob& Copy() { return copy_job_; }
  SourceLists& Sources() { return source_lists_; }
  /// The usage-notes window.
  Dialog& Notes() { return notes_; }
  Module1& Hook() { return module1_; }
  const FormServices& Services() const { return services_; }

  // Handlers, entered from the window's message loop. Failures they do not catch reach the
  // view's dispatch.
  void Form_Load();
  /// Never sets cancel.
  void Form_Unload(int& cancel);
  void Timer1_Timer();
  void cmdOverride_Click();
  void cmdFileCopy_Click();
  void Command1_Click();
  void List2_Click();
  void Check2_Click();
  void Check3_Click();

 private:
  FormServices services_;
  ListDrives list_drives_;
  CopyJob copy_job_;
  DriveComparison comparison_;
  SourceLists source_lists_;
  Dialog notes_;
  Module1 module1_;
};

}  // namespace salvatrix
