#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "platform/device_notifications.h"

namespace salvatrix::posix {

class DriveTable;
class WindowProcedures;

/// udev properties of one device, by name (DEVNAME, ID_VENDOR_ENC ...).
using DeviceProperties = std::map<std::string, std::string>;

/// The longest device name a device-interface arrival carries, without its NUL.
inline constexpr std::size_t kMaxDeviceNameBytes = 1023;

/// Whether a udev event is a storage device a person plugged in: action "add" of a whole
/// block disk that is not a virtual one (loop, device mapper, zram ...). Partitions are not:
/// their volumes arrive through the mount table.
bool IsStorageArrival(std::string_view action, const DeviceProperties& properties);

/// The name a device-interface arrival carries: device node (DEVPATH when there is none),
/// vendor, model, "serial" and serial number, then bus and vendor:product ids in parentheses,
/// each where udev has it, e.g. "/dev/sdb SanDisk Cruzer Blade serial 4C530001 (USB
/// 0781:5567)". The _ENC properties win over the plain ones and have their \xNN escapes
/// decoded; control bytes become blanks and runs of blanks shrink to one. Cut to
/// kMaxDeviceNameBytes without splitting a UTF-8 character.
std::string DeviceArrivalName(const DeviceProperties& properties);

/// A DEV_BROADCAST_VOLUME of 20 bytes for the drive letter ('A' to 'Z'), little-endian.
std::vector<std::uint8_t> VolumeArrivalRecord(char letter);

/// A DEV_BROADCAST_DEVICEINTERFACE_A: 28 header bytes (size, type 5, reserved, zero class
/// GUID), then name and one NUL. name is used as given; DeviceArrivalName caps it.
std::vector<std::uint8_t> DeviceInterfaceRecord(std::string_view name);

/// Device notifications on Linux. Watches the mount table (new drives → volume arrivals) and,
/// where udev runs, the udev monitor (new storage devices → device-interface arrivals), and
/// delivers them as WM_DEVICECHANGE / DBT_DEVICEARRIVAL to the registered window. Owns no
/// thread and never waits: the view polls Fds() in its event loop and calls OnReady. For the
/// UI thread only.
class DeviceWatch final : public DeviceNotifications {
 public:
  /// A descriptor to watch: for the exceptional condition (POLLPRI) when priority is set,
  /// otherwise for readability. The mount table fd is readable at all times, so it must be
  /// watched for the exceptional condition only.
  struct WatchFd {
    int fd;
    bool priority;
  };

  /// drives and windows must outlive the watch. mountinfo_path is the mount table to watch;
  /// give drives the same one. use_udev false leaves udev alone (tests).
  DeviceWatch(DriveTable& drives, WindowProcedures& windows,
              std::string mountinfo_path = "/proc/self/mountinfo", bool use_udev = true);
  /// Closes what is open without calling on_fds_changed.
  ~DeviceWatch() override;
  DeviceWatch(const DeviceWatch&) = delete;
  DeviceWatch& operator=(const DeviceWatch&) = delete;

  /// Starts watching for window. The drives mounted now are the baseline and arrive no more.
  /// Failures return 0 with an errno value in last_error and leave nothing open: EBUSY while a
  /// registration exists (there is one at a time), EINVAL for a window other than the main
  /// window or a filter or flags other than a 32-byte device-interface filter (type 5) with
  /// flags 4, or the error of opening or reading the mount table. udev missing or refusing is
  /// no failure: the mount table alone is watched then.
  std::uintptr_t Register(WindowHandle window, const NotificationFilter& filter,
                          std::uint32_t flags, std::uint32_t& last_error) override;
  /// Stops watching and closes the fds, then calls on_fds_changed. Any handle other than the
  /// current registration's does nothing.
  void Unregister(std::uintptr_t handle) override;

  /// The fds to watch; empty while unregistered.
  std::vector<WatchFd> Fds() const;
  /// Called after Register and Unregister changed Fds(), so the view re-hooks them.
  std::function<void()> on_fds_changed;

  /// The view's call when fd is ready. Mount table: re-reads it and delivers a volume arrival
  /// for each drive not in the baseline, which then becomes the current drives (a drive that
  /// goes and comes back arrives again). udev: delivers a device-interface arrival for each
  /// queued storage arrival. An fd that is not one of Fds(), or an error reading, drops the
  /// event. Exceptions of the window's procedure pass through.
  void OnReady(int fd);

 private:
  struct Udev;

  void OnMountTableChanged();
  void OnUdevReady();
  void CloseAll();

  DriveTable& drives_;
  WindowProcedures& windows_;
  std::string mountinfo_path_;
  bool use_udev_;

  std::uintptr_t handle_ = 0;
  std::uintptr_t next_handle_ = 1;
  WindowHandle window_ = 0;
  int mount_fd_ = -1;
  std::unique_ptr<Udev> udev_;
  std::set<std::string> known_keys_;
};

}  // namespace salvatrix::posix
