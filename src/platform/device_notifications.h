#pragma once

#include <array>
#include <cstdint>

#include "platform/window_hooks.h"

namespace salvatrix {

/// The notification filter: a DEV_BROADCAST_DEVICEINTERFACE_A of 32 bytes.
using NotificationFilter = std::array<std::uint8_t, 32>;

inline constexpr std::uint32_t kDeviceNotifyAllInterfaceClasses = 4;

/// Registration of a window for device notifications.
class DeviceNotifications {
 public:
  virtual ~DeviceNotifications() = default;

  /// RegisterDeviceNotificationA: a non-zero handle on success; 0 on failure, with the error
  /// code of the failure in last_error.
  virtual std::uintptr_t Register(WindowHandle window, const NotificationFilter& filter,
                                  std::uint32_t flags, std::uint32_t& last_error) = 0;
  /// UnregisterDeviceNotification; its result is of no interest.
  virtual void Unregister(std::uintptr_t handle) = 0;
};

}  // namespace salvatrix
