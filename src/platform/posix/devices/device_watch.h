#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "platform/device_notifications.h"
#include "platform/posix/devices/arrival_records.h"

namespace salvatrix::posix {

class DriveTable;
class WindowProcedures;

/// Device notifications on Linux. Watches the mount table (new drives → volume arrivals) and,
/// where udev runs, the udev monitor (sticks plugged in → device-interface arrivals), and
/// delivers them as WM_DEVICECHANGE / DBT_DEVICEARRIVAL to the registered window.
///
/// A stick's device line is held back until one of its filesystems is mounted, then delivered
/// just before that drive's volume line, so a poll that sees the line also sees the drive.
/// When nobody has mounted the stick two seconds after its arrival, UDisks2 is asked to mount
/// it (its hints and polkit decide). When no drive comes, the line goes out alone five seconds
/// after the arrival (later only while UDisks2 has yet to answer), or at once when the stick
/// is pulled. Owns no thread and never waits: the view polls Fds() in its event loop and calls
/// OnReady. For the UI thread only.
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
  /// goes and comes back arrives again), each led by its stick's device line when that is still
  /// held back. udev: takes in the sticks that arrived or went. The sticks' timer and the
  /// UDisks2 connection: asks for mounts and lets device lines go as they come due. An fd that
  /// is not one of Fds(), or an error reading, drops the event. Exceptions of the window's
  /// procedure pass through.
  void OnReady(int fd);

 private:
  struct Udev;
  struct Sticks;
  using Records = std::vector<std::vector<std::uint8_t>>;

  Records MountTableArrivals();
  Records UdevArrivals();
  Records SticksDue(int fd);
  void Deliver(const Records& records);
  bool HasDriveOf(std::uint64_t disk) const;
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
  std::unique_ptr<Sticks> sticks_;  // with udev only: sticks arrive through it
  std::set<std::string> known_keys_;
};

}  // namespace salvatrix::posix
