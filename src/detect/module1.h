#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "platform/device_notifications.h"
#include "platform/window_hooks.h"

namespace salvatrix {

class MessageBoxes;
class TextBox;

/// Bytes of a DEV_BROADCAST_HDR; characters of a device name, its NUL included, at most.
inline constexpr std::size_t kArrivalHeaderBytes = 12;
inline constexpr std::size_t kDeviceNameChars = 1024;

/// The lines an arrival adds to the detection log, each led by CR LF: the arrival line, then a
/// volume line or a device-name line for those two device types (with an empty name where
/// DeviceInterfaceName has none). record points to the notification; no more than extent
/// bytes are read from it, and bytes beyond read as zero.
std::string ArrivalLogLines(const std::uint8_t* record, std::size_t extent);

/// The name of a device-interface arrival, in UTF-8, decoded by the record's own layout: its
/// size field (dbcc_size) ends an 8-bit record (DEV_BROADCAST_DEVICEINTERFACE_A, as the Linux
/// watchers build it) right after the name's NUL; anything else is a UTF-16 record
/// (DEV_BROADCAST_DEVICEINTERFACE_W, what Windows gives a Unicode window) of an even size with
/// a NUL unit among its first kDeviceNameChars units. 8-bit bytes that are not UTF-8 are read
/// as Latin-1. Nothing (std::nullopt) for a name that cannot be told for sure: a size that
/// leaves no room for a NUL or reaches past extent, an odd-sized record that is not an 8-bit
/// one, no NUL, a lone surrogate, or a control character in the name.
std::optional<std::string> DeviceInterfaceName(const std::uint8_t* record, std::size_t extent);

/// The notification filter: 32 zero bytes but for the size field (32) and the device type (5).
NotificationFilter DeviceInterfaceFilter();

/// The message hook of the main window and its device notification registration.
class Module1 final {
 public:
  Module1(TextBox& log, MessageBoxes& boxes, DeviceNotifications& notifications,
          WindowHooks& hooks);
  Module1(const Module1&) = delete;
  Module1& operator=(const Module1&) = delete;

  /// Registers window for device-interface arrivals of every class and writes the handle (0
  /// on failure) to handle. On failure shows the error code in a box and returns false.
  bool RegisterForDeviceNotifications(WindowHandle window, std::uintptr_t& handle);
  /// Saves the window's procedure, then makes WindowProc the window's procedure.
  void InstallMessageHook(WindowHandle window);
  /// Logs each device arrival in the detection log, then passes every message on to the saved
  /// procedure and returns its result unchanged.
  std::intptr_t WindowProc(WindowHandle window, std::uint32_t message, std::uintptr_t wparam,
                           std::intptr_t lparam);
  /// Ends the registration, when there is one.
  void ReleaseDeviceNotifications();
  /// Puts the saved procedure back. Nothing when no procedure was ever saved.
  void RemoveMessageHook(WindowHandle window);

  /// While holding, WindowProc keeps each arrival's lines instead of writing them: the window
  /// then runs no handler, yet a sent message still reaches it. Ending the hold writes what
  /// was kept, in the order it came.
  void HoldArrivals(bool hold);

  /// The device notification handle, 0 while there is no registration.
  std::uintptr_t& NotificationHandle() { return handle_; }

 private:
  TextBox& log_;
  MessageBoxes& boxes_;
  DeviceNotifications& notifications_;
  WindowHooks& hooks_;
  std::optional<ProcedureValue> saved_;
  std::optional<ProcedureValue> hook_;
  std::uintptr_t handle_ = 0;
  bool holding_ = false;
  std::string held_;
};

}  // namespace salvatrix
