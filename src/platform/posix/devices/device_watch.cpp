#include "platform/posix/devices/device_watch.h"

#include <fcntl.h>
#include <libudev.h>
#include <sys/timerfd.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <exception>
#include <optional>
#include <utility>

#include "platform/little_endian.h"
#include "platform/posix/devices/block_devices.h"
#include "platform/posix/devices/drive_table.h"
#include "platform/posix/devices/stick_arrivals.h"
#include "platform/posix/devices/udisks_mounter.h"
#include "platform/posix/devices/window_procedures.h"

namespace salvatrix::posix {
namespace {

constexpr std::uint32_t kFilterBytes = 32;
// A burst of udev events is handled over several wake-ups rather than holding the UI thread.
constexpr int kMaxUdevEventsPerWakeup = 32;

// Returns 0 or the errno of the failure. Reading the watched descriptor itself, rather than
// only the table by its path, is what tells a descriptor that went bad.
int ReadToEndFromStart(int fd) {
  if (::lseek(fd, 0, SEEK_SET) < 0) {
    return errno;
  }
  std::array<char, 4096> buffer{};
  while (true) {
    const ssize_t got = ::read(fd, buffer.data(), buffer.size());
    if (got == 0) {
      return 0;
    }
    if (got < 0 && errno != EINTR) {
      return errno;
    }
  }
}

struct DeviceUnref {
  void operator()(udev_device* device) const { udev_device_unref(device); }
};

DeviceProperties PropertiesOf(udev_device* device) {
  DeviceProperties properties;
  udev_list_entry* entry = nullptr;
  udev_list_entry_foreach(entry, udev_device_get_properties_list_entry(device)) {
    const char* name = udev_list_entry_get_name(entry);
    const char* value = udev_list_entry_get_value(entry);
    if (name != nullptr) {
      properties.emplace(name, value == nullptr ? "" : value);
    }
  }
  return properties;
}

// The clock of timerfd's CLOCK_MONOTONIC, which steady_clock need not be.
StickArrivals::Micros MonotonicNow() {
  timespec now{};
  ::clock_gettime(CLOCK_MONOTONIC, &now);
  return std::chrono::seconds(now.tv_sec) +
         std::chrono::duration_cast<StickArrivals::Micros>(std::chrono::nanoseconds(now.tv_nsec));
}

}  // namespace

struct DeviceWatch::Udev {
  udev* context = nullptr;
  udev_monitor* monitor = nullptr;

  Udev() = default;
  Udev(const Udev&) = delete;
  Udev& operator=(const Udev&) = delete;
  ~Udev() {
    if (monitor != nullptr) {
      udev_monitor_unref(monitor);
    }
    if (context != nullptr) {
      udev_unref(context);
    }
  }

  int Fd() const { return udev_monitor_get_fd(monitor); }

  // Nothing when udev cannot be had (no daemon, no netlink in a container): the mount table
  // still brings every drive.
  static std::unique_ptr<Udev> Open() {
    auto opened = std::make_unique<Udev>();
    opened->context = udev_new();
    if (opened->context == nullptr) {
      return nullptr;
    }
    // The "udev" group, not "kernel": its events come after the rules ran, so the vendor and
    // model properties are there. The socket filter drops partitions before they wake us.
    opened->monitor = udev_monitor_new_from_netlink(opened->context, "udev");
    if (opened->monitor == nullptr ||
        udev_monitor_filter_add_match_subsystem_devtype(opened->monitor, "block", "disk") < 0 ||
        udev_monitor_enable_receiving(opened->monitor) < 0) {
      return nullptr;
    }
    const int fd = opened->Fd();
    const int status = fd < 0 ? -1 : ::fcntl(fd, F_GETFL);
    if (status < 0 || ::fcntl(fd, F_SETFL, status | O_NONBLOCK) < 0) {
      return nullptr;
    }
    return opened;
  }
};

// The sticks whose device line is held back, the timer that brings their next step, and the
// way to UDisks2.
struct DeviceWatch::Sticks {
  StickArrivals arrivals;
  UdisksMounter mounter;
  int timer_fd = -1;

  Sticks() : timer_fd(::timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC)) {}
  ~Sticks() {
    if (timer_fd >= 0) {
      ::close(timer_fd);
    }
  }
  Sticks(const Sticks&) = delete;
  Sticks& operator=(const Sticks&) = delete;

  // Nothing when a descriptor cannot be made: sticks then go into the log on arrival.
  static std::unique_ptr<Sticks> Open() {
    try {
      auto opened = std::make_unique<Sticks>();
      return opened->timer_fd < 0 ? nullptr : std::move(opened);
    } catch (const std::exception&) {
      return nullptr;
    }
  }

  void Rearm() const {
    itimerspec when{};
    if (const auto next = arrivals.NextWake()) {
      // 0 would disarm the timer; a time already past fires at once.
      const auto usec = std::max<std::int64_t>(next->count(), 1);
      when.it_value.tv_sec = static_cast<time_t>(usec / 1'000'000);
      when.it_value.tv_nsec = static_cast<long>((usec % 1'000'000) * 1000);
    }
    ::timerfd_settime(timer_fd, TFD_TIMER_ABSTIME, &when, nullptr);
  }
};

DeviceWatch::DeviceWatch(DriveTable& drives, WindowProcedures& windows, std::string mountinfo_path,
                         bool use_udev)
    : drives_(drives),
      windows_(windows),
      mountinfo_path_(std::move(mountinfo_path)),
      use_udev_(use_udev) {}

DeviceWatch::~DeviceWatch() {
  CloseAll();
}

std::uintptr_t DeviceWatch::Register(WindowHandle window, const NotificationFilter& filter,
                                     std::uint32_t flags, std::uint32_t& last_error) {
  if (handle_ != 0) {
    last_error = EBUSY;
    return 0;
  }
  // Only what the program asks for can be honoured: every interface class, to one window.
  if (window != windows_.MainWindow() || GetLittleEndian32(filter.data()) != kFilterBytes ||
      GetLittleEndian32(filter.data() + 4) != kDbtDevtypDeviceInterface ||
      flags != kDeviceNotifyAllInterfaceClasses) {
    last_error = EINVAL;
    return 0;
  }
  const int fd = ::open(mountinfo_path_.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    last_error = static_cast<std::uint32_t>(errno);
    return 0;
  }
  if (const int error = ReadToEndFromStart(fd); error != 0) {
    ::close(fd);
    last_error = static_cast<std::uint32_t>(error);
    return 0;
  }
  std::set<std::string> baseline;
  std::unique_ptr<Udev> udev;
  std::unique_ptr<Sticks> sticks;
  try {
    // Should the table not read by its path, the letters of the last good read are the
    // baseline.
    drives_.Refresh();
    for (const Drive& drive : drives_.Drives()) {
      baseline.insert(drive.key);
    }
    if (use_udev_) {
      udev = Udev::Open();
    }
    if (udev) {
      sticks = Sticks::Open();
    }
  } catch (...) {
    ::close(fd);
    throw;
  }
  mount_fd_ = fd;
  window_ = window;
  known_keys_ = std::move(baseline);
  udev_ = std::move(udev);
  sticks_ = std::move(sticks);
  handle_ = next_handle_++;
  if (on_fds_changed) {
    on_fds_changed();
  }
  return handle_;
}

void DeviceWatch::Unregister(std::uintptr_t handle) {
  if (handle == 0 || handle != handle_) {
    return;
  }
  CloseAll();
  if (on_fds_changed) {
    on_fds_changed();
  }
}

std::vector<DeviceWatch::WatchFd> DeviceWatch::Fds() const {
  std::vector<WatchFd> fds;
  if (mount_fd_ >= 0) {
    fds.push_back({mount_fd_, true});
  }
  if (udev_) {
    fds.push_back({udev_->Fd(), false});
  }
  if (sticks_) {
    fds.push_back({sticks_->timer_fd, false});
    fds.push_back({sticks_->mounter.Fd(), false});
  }
  return fds;
}

void DeviceWatch::OnReady(int fd) {
  if (handle_ == 0 || fd < 0) {
    return;
  }
  // Every record is made before the first is delivered: a procedure may unregister, or
  // register anew, while it handles one.
  if (fd == mount_fd_) {
    Deliver(MountTableArrivals());
  } else if (udev_ && fd == udev_->Fd()) {
    Deliver(UdevArrivals());
  } else if (sticks_ && (fd == sticks_->timer_fd || fd == sticks_->mounter.Fd())) {
    Deliver(SticksDue(fd));
  }
}

DeviceWatch::Records DeviceWatch::MountTableArrivals() {
  Records records;
  try {
    if (ReadToEndFromStart(mount_fd_) != 0 || !drives_.Refresh()) {
      return records;
    }
    std::set<std::string> keys;
    for (const Drive& drive : drives_.Drives()) {
      keys.insert(drive.key);
      if (known_keys_.contains(drive.key)) {
        continue;
      }
      if (sticks_) {
        if (const auto disk = WholeDiskOfSource(drive.source)) {
          if (auto name = sticks_->arrivals.Settled(*disk)) {
            records.push_back(DeviceInterfaceRecord(*name));
          }
        }
      }
      records.push_back(VolumeArrivalRecord(drive.letter));
    }
    known_keys_ = std::move(keys);
  } catch (const std::exception&) {
    return {};
  }
  if (sticks_) {
    sticks_->Rearm();
  }
  return records;
}

bool DeviceWatch::HasDriveOf(std::uint64_t disk) const {
  for (const Drive& drive : drives_.Drives()) {
    if (WholeDiskOfSource(drive.source) == disk) {
      return true;
    }
  }
  return false;
}

DeviceWatch::Records DeviceWatch::UdevArrivals() {
  Records records;
  for (int i = 0; i < kMaxUdevEventsPerWakeup; ++i) {
    const std::unique_ptr<udev_device, DeviceUnref> device(
        udev_monitor_receive_device(udev_->monitor));
    if (!device) {
      break;
    }
    try {
      const char* action = udev_device_get_action(device.get());
      const std::string_view what = action == nullptr ? "" : action;
      const std::uint64_t disk = udev_device_get_devnum(device.get());
      if (what == "remove" && sticks_) {
        // Pulled before any mount: it did arrive, and the log says so.
        if (auto name = sticks_->arrivals.Settled(disk)) {
          records.push_back(DeviceInterfaceRecord(*name));
        }
        continue;
      }
      const char* removable = udev_device_get_sysattr_value(device.get(), "removable");
      const DeviceProperties properties = PropertiesOf(device.get());
      if (!IsStickArrival(what, properties, removable != nullptr && removable[0] == '1')) {
        continue;
      }
      std::string name = DeviceArrivalName(properties);
      // Someone mounted it before its event reached us: its drive can be seen already.
      if (!sticks_ || disk == 0 || HasDriveOf(disk)) {
        records.push_back(DeviceInterfaceRecord(name));
      } else if (auto earlier = sticks_->arrivals.Arrived(disk, std::move(name), MonotonicNow())) {
        records.push_back(DeviceInterfaceRecord(*earlier));
      }
    } catch (const std::exception&) {
      continue;
    }
  }
  if (sticks_) {
    sticks_->Rearm();
  }
  return records;
}

DeviceWatch::Records DeviceWatch::SticksDue(int fd) {
  Records records;
  bool mounted = false;
  try {
    if (fd == sticks_->timer_fd) {
      std::uint64_t expirations = 0;
      while (::read(fd, &expirations, sizeof expirations) > 0) {
      }
    } else {
      for (const UdisksMounter::Finished& finished : sticks_->mounter.Process()) {
        sticks_->arrivals.MountFinished(finished.request);
        mounted = mounted || finished.mounted;
      }
    }
    // UDisks2 answers once the filesystem is mounted: the drive is there to be read, whether
    // or not the table has told us yet, and its line must go out with it.
    if (mounted) {
      records = MountTableArrivals();
    }
    StickArrivals::Due due = sticks_->arrivals.Advance(MonotonicNow());
    bool refused_at_once = false;
    for (const std::uint64_t disk : due.mount) {
      if (!sticks_->mounter.Mount(disk, DiskAndPartitionNames(disk))) {
        sticks_->arrivals.MountFinished(disk);
        refused_at_once = true;
      }
    }
    if (refused_at_once) {
      StickArrivals::Due now = sticks_->arrivals.Advance(MonotonicNow());
      due.lines.insert(due.lines.end(), now.lines.begin(), now.lines.end());
    }
    for (const std::string& name : due.lines) {
      records.push_back(DeviceInterfaceRecord(name));
    }
  } catch (const std::exception&) {
    // What was made stays; the timer below brings the rest.
  }
  sticks_->Rearm();
  return records;
}

void DeviceWatch::Deliver(const Records& records) {
  const std::uintptr_t handle = handle_;
  for (const auto& record : records) {
    if (handle_ != handle) {
      return;
    }
    windows_.Deliver(window_, kWmDeviceChange, kDbtDeviceArrival, record);
  }
}

void DeviceWatch::CloseAll() {
  sticks_.reset();
  udev_.reset();
  if (mount_fd_ >= 0) {
    ::close(mount_fd_);
    mount_fd_ = -1;
  }
  known_keys_.clear();
  handle_ = 0;
  window_ = 0;
}

}  // namespace salvatrix::posix
