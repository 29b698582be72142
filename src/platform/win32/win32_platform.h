#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "platform/app_info.h"
#include "platform/device_notifications.h"
#include "platform/drive_strings.h"
#include "platform/file_primitives.h"
#include "platform/file_system.h"
#include "platform/window_hooks.h"

namespace salvatrix::win32 {

/// Texts cross into the Windows API as UTF-16: the core's texts are UTF-8.
std::wstring Widen(std::string_view utf8);
std::string Narrow(std::wstring_view utf16);

/// GetLogicalDriveStringsA.
class Win32DriveStrings final : public DriveStrings {
 public:
  std::uint32_t GetLogicalDriveStrings(std::uint32_t length, char* buffer) override;
  /// The drive type, file system and volume label, e.g. "removable drive (FAT32), label STICK".
  std::string DescribeDrive(std::string_view root) const override;
};

/// Window subclassing with GetWindowLongPtrW / SetWindowLongPtrW (GWLP_WNDPROC) and
/// CallWindowProcW. Procedures made here are real window procedures (a few at most) that take
/// their messages in Unicode form, so a Unicode window stays one while hooked and its texts
/// pass whole. Windows hands such a window the UTF-16 form of a device-interface arrival,
/// whichever form the registration was made with.
class Win32WindowHooks final : public WindowHooks {
 public:
  Win32WindowHooks();
  ~Win32WindowHooks() override;
  Win32WindowHooks(const Win32WindowHooks&) = delete;
  Win32WindowHooks& operator=(const Win32WindowHooks&) = delete;

  /// The view tells which window is the main window once it exists.
  void SetMainWindow(WindowHandle window) { main_window_ = window; }

  WindowHandle MainWindow() const override { return main_window_; }
  ProcedureValue GetWindowProcedure(WindowHandle window) override;
  ProcedureValue SetWindowProcedure(WindowHandle window, ProcedureValue procedure) override;
  std::intptr_t CallWindowProcedure(ProcedureValue procedure, WindowHandle window,
                                    std::uint32_t message, std::uintptr_t wparam,
                                    std::intptr_t lparam) override;
  /// Fails (throws Failure) when all trampoline slots are taken.
  ProcedureValue MakeProcedure(Procedure procedure) override;
  /// Windows vouches for the size fields of the records it sends.
  std::size_t RecordExtent(std::intptr_t lparam) const override;

  /// An exception must not unwind through the window system, so a procedure made by
  /// MakeProcedure that throws answers 0 to its message and its exception is kept (the first
  /// one, per thread; later ones are dropped until it is taken). The message loop calls this
  /// after every DispatchMessage (and after anything else that can send a message, such as a
  /// modal box): it rethrows the kept exception and forgets it, or does nothing.
  static void RethrowPending();

 private:
  WindowHandle main_window_ = 0;
  std::uint32_t slots_ = 0;  // a bit per trampoline this object took
};

/// RegisterDeviceNotificationA / UnregisterDeviceNotification.
class Win32DeviceNotifications final : public DeviceNotifications {
 public:
  std::uintptr_t Register(WindowHandle window, const NotificationFilter& filter,
                          std::uint32_t flags, std::uint32_t& last_error) override;
  void Unregister(std::uintptr_t handle) override;
};

/// The running program's folder and name, from GetModuleFileNameW.
class Win32AppInfo final : public AppInfo {
 public:
  std::string SourceFolder() const override;
  /// The base name followed by ".exe".
  std::string ExecutableFileName() const override;
  /// folder + "\" + name, without doubling the separator at a root ("C:\").
  std::string JoinPath(std::string_view folder, std::string_view name) const override;
};

/// The file primitives on Windows: FindFirstFileExW listings; files written through handles,
/// flushed (FlushFileBuffers) before and after they take their names by a rename through their
/// handle; links and mount points on the destination opened themselves, never followed;
/// wide-character paths throughout.
class Win32Files final : public FilePrimitives {
 public:
  std::unique_ptr<FileSession> StartSession() override;
};

}  // namespace salvatrix::win32
