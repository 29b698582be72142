#include <windows.h>

#include <exception>
#include <memory>

#include "app/dispatch.h"
#include "app/form1.h"
#include "copy/policy/copy_policy.h"
#include "platform/win32/win32_platform.h"
#include "platform/win32ui/drive_descriptions.h"
#include "platform/win32ui/main_window.h"
#include "platform/win32ui/win32_message_boxes.h"
#include "platform/win32ui/window_upkeep_win32.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR command_line, int show) {
  static_cast<void>(instance);
  static_cast<void>(previous);
  static_cast<void>(command_line);
  using namespace salvatrix;

  // Before anything touches a drive: an empty card reader, floppy or optical drive, or a
  // failing stick, answers the program's calls with an error instead of raising the system's
  // own box ("There is no disk in the drive") in front of the window, on every thread.
  ::SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);

  win32ui::Win32MessageBoxes boxes;
  // A failure outside any handler (the window cannot be created, say) is shown the same way a
  // failed handler is, and ends the program with 1.
  int exit_code = 1;
  DispatchHandler(boxes, [&boxes, show, &exit_code] {
    // The tooltips' volume queries run off the window's thread.
    win32ui::DriveDescriptions drives(std::make_shared<win32::Win32DriveStrings>());
    win32::Win32WindowHooks hooks;
    win32::Win32DeviceNotifications notifications;
    win32::Win32AppInfo app;
    win32::Win32Files primitives;
    CopyPolicy files(primitives);
    win32ui::Win32WindowUpkeep upkeep;
    Form1 form(FormServices{drives, boxes, app, files, notifications, hooks});
    form.Copy().KeepWindowAnswered(&upkeep);

    // The message hook that Form_Load installs needs the window, so it exists (hidden) first;
    // it mirrors the models from then on and opens showing what Form_Load put into them.
    win32ui::MainWindow window(form, boxes);
    hooks.SetMainWindow(window.Handle());
    drives.NotifyWhenReady(window.Handle());
    boxes.SetOwner(window.Handle());
    if (!window.Dispatch([&form] { form.Form_Load(); })) {
      return;
    }
    window.Show(show);
    exit_code = window.Run();
    boxes.SetOwner(0);
  });
  return exit_code;
}
