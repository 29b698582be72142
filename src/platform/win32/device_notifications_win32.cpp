#include <windows.h>
// windows.h first: dbt.h uses its types.
#include <dbt.h>

#include <cstring>

#include "platform/win32/win32_platform.h"

namespace salvatrix::win32 {

static_assert(sizeof(DEV_BROADCAST_DEVICEINTERFACE_A) == std::tuple_size_v<NotificationFilter>);

std::uintptr_t Win32DeviceNotifications::Register(WindowHandle window,
                                                  const NotificationFilter& filter,
                                                  std::uint32_t flags, std::uint32_t& last_error) {
  DEV_BROADCAST_DEVICEINTERFACE_A record{};
  std::memcpy(&record, filter.data(), sizeof record);
  ::SetLastError(ERROR_SUCCESS);
  HDEVNOTIFY handle =
      ::RegisterDeviceNotificationA(reinterpret_cast<HANDLE>(window), &record, flags);
  last_error = ::GetLastError();
  return reinterpret_cast<std::uintptr_t>(handle);
}

void Win32DeviceNotifications::Unregister(std::uintptr_t handle) {
  ::UnregisterDeviceNotification(reinterpret_cast<HDEVNOTIFY>(handle));
}

}  // namespace salvatrix::win32
