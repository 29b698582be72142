#include "platform/posix/device_watch.h"

#include <fcntl.h>
#include <libudev.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <exception>
#include <utility>

#include "platform/posix/drive_table.h"
#include "platform/posix/window_procedures.h"

namespace salvatrix::posix {
namespace {

constexpr std::size_t kVolumeRecordBytes = 20;
constexpr std::size_t kDeviceInterfaceHeaderBytes = 28;
constexpr std::uint32_t kFilterBytes = 32;
// A burst of udev events is handled over several wake-ups rather than holding the UI thread.
constexpr int kMaxUdevEventsPerWakeup = 32;

void PutLittleEndian32(std::vector<std::uint8_t>& bytes, std::size_t offset, std::uint32_t value) {
  for (std::size_t i = 0; i < 4; ++i) {
    bytes[offset + i] = static_cast<std::uint8_t>(value >> (8 * i));
  }
}

std::uint32_t GetLittleEndian32(const NotificationFilter& bytes, std::size_t offset) {
  std::uint32_t value = 0;
  for (std::size_t i = 0; i < 4; ++i) {
    value |= static_cast<std::uint32_t>(bytes[offset + i]) << (8 * i);
  }
  return value;
}

// SCSI inquiry strings come padded with blanks, and a decoded escape may be any byte; a NUL
// would cut the name short where the core reads it.
std::string Tidy(std::string_view text) {
  std::string tidy;
  bool blank_pending = false;
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte <= 0x20 || byte == 0x7F) {
      blank_pending = !tidy.empty();
      continue;
    }
    if (blank_pending) {
      tidy += ' ';
      blank_pending = false;
    }
    tidy += c;
  }
  return tidy;
}

std::string_view Property(const DeviceProperties& properties, const std::string& name) {
  const auto found = properties.find(name);
  return found == properties.end() ? std::string_view() : std::string_view(found->second);
}

// The plain properties have blanks replaced by underscores; the _ENC ones keep the device's
// own spelling.
std::string Preferred(const DeviceProperties& properties, const std::string& name) {
  std::string encoded = Tidy(DecodeUdevEscapes(Property(properties, name + "_ENC")));
  return encoded.empty() ? Tidy(Property(properties, name)) : encoded;
}

std::string UpperAscii(std::string text) {
  for (char& c : text) {
    if (c >= 'a' && c <= 'z') {
      c = static_cast<char>(c - 'a' + 'A');
    }
  }
  return text;
}

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

}  // namespace

bool IsStorageArrival(std::string_view action, const DeviceProperties& properties) {
  return action == "add" && Property(properties, "SUBSYSTEM") == "block" &&
         Property(properties, "DEVTYPE") == "disk" &&
         !Property(properties, "DEVPATH").starts_with("/devices/virtual/");
}

std::string DeviceArrivalName(const DeviceProperties& properties) {
  std::string node = Tidy(Property(properties, "DEVNAME"));
  if (node.empty()) {
    node = Tidy(Property(properties, "DEVPATH"));
  }
  std::vector<std::string> parts = {std::move(node), Preferred(properties, "ID_VENDOR"),
                                    Preferred(properties, "ID_MODEL")};
  const std::string serial = Tidy(Property(properties, "ID_SERIAL_SHORT"));
  if (!serial.empty()) {
    parts.push_back("serial " + serial);
  }
  const std::string vendor_id = Tidy(Property(properties, "ID_VENDOR_ID"));
  const std::string product_id = Tidy(Property(properties, "ID_MODEL_ID"));
  if (!vendor_id.empty() && !product_id.empty()) {
    const std::string bus = UpperAscii(Tidy(Property(properties, "ID_BUS")));
    std::string ids = "(";
    if (!bus.empty()) {
      ids += bus + ' ';
    }
    parts.push_back(ids + vendor_id + ':' + product_id + ')');
  }

  std::string name;
  for (const std::string& part : parts) {
    if (part.empty()) {
      continue;
    }
    if (!name.empty()) {
      name += ' ';
    }
    name += part;
  }
  if (name.size() > kMaxDeviceNameBytes) {
    std::size_t cut = kMaxDeviceNameBytes;
    while (cut > 0 && (static_cast<unsigned char>(name[cut]) & 0xC0) == 0x80) {
      --cut;
    }
    while (cut > 0 && name[cut - 1] == ' ') {
      --cut;
    }
    name.resize(cut);
  }
  return name;
}

std::vector<std::uint8_t> VolumeArrivalRecord(char letter) {
  std::vector<std::uint8_t> record(kVolumeRecordBytes, 0);
  PutLittleEndian32(record, 0, kVolumeRecordBytes);
  PutLittleEndian32(record, 4, kDbtDevtypVolume);
  if (letter >= 'A' && letter <= 'Z') {
    PutLittleEndian32(record, 12, std::uint32_t{1} << (letter - 'A'));
  }
  return record;
}

std::vector<std::uint8_t> DeviceInterfaceRecord(std::string_view name) {
  std::vector<std::uint8_t> record(kDeviceInterfaceHeaderBytes + name.size() + 1, 0);
  PutLittleEndian32(record, 0, static_cast<std::uint32_t>(record.size()));
  PutLittleEndian32(record, 4, kDbtDevtypDeviceInterface);
  for (std::size_t i = 0; i < name.size(); ++i) {
    record[kDeviceInterfaceHeaderBytes + i] = static_cast<std::uint8_t>(name[i]);
  }
  return record;
}

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
  if (window != windows_.MainWindow() || GetLittleEndian32(filter, 0) != kFilterBytes ||
      GetLittleEndian32(filter, 4) != kDbtDevtypDeviceInterface ||
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
  } catch (...) {
    ::close(fd);
    throw;
  }
  mount_fd_ = fd;
  window_ = window;
  known_keys_ = std::move(baseline);
  udev_ = std::move(udev);
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
  return fds;
}

void DeviceWatch::OnReady(int fd) {
  if (handle_ == 0 || fd < 0) {
    return;
  }
  if (fd == mount_fd_) {
    OnMountTableChanged();
  } else if (udev_ && fd == udev_->Fd()) {
    OnUdevReady();
  }
}

void DeviceWatch::OnMountTableChanged() {
  std::vector<char> arrived;
  try {
    if (ReadToEndFromStart(mount_fd_) != 0 || !drives_.Refresh()) {
      return;
    }
    std::set<std::string> keys;
    for (const Drive& drive : drives_.Drives()) {
      keys.insert(drive.key);
      if (!known_keys_.contains(drive.key)) {
        arrived.push_back(drive.letter);
      }
    }
    known_keys_ = std::move(keys);
  } catch (const std::exception&) {
    return;
  }
  // A procedure may unregister, or register anew, while it handles an arrival.
  const std::uintptr_t handle = handle_;
  for (const char letter : arrived) {
    if (handle_ != handle) {
      return;
    }
    windows_.Deliver(window_, kWmDeviceChange, kDbtDeviceArrival, VolumeArrivalRecord(letter));
  }
}

void DeviceWatch::OnUdevReady() {
  const std::uintptr_t handle = handle_;
  for (int i = 0; i < kMaxUdevEventsPerWakeup && handle_ == handle && udev_; ++i) {
    std::vector<std::uint8_t> record;
    {
      // Released before delivery: a procedure that unregisters takes the monitor with it.
      const std::unique_ptr<udev_device, DeviceUnref> device(
          udev_monitor_receive_device(udev_->monitor));
      if (!device) {
        return;
      }
      try {
        const char* action = udev_device_get_action(device.get());
        const DeviceProperties properties = PropertiesOf(device.get());
        if (IsStorageArrival(action == nullptr ? "" : action, properties)) {
          record = DeviceInterfaceRecord(DeviceArrivalName(properties));
        }
      } catch (const std::exception&) {
        continue;
      }
    }
    if (!record.empty()) {
      windows_.Deliver(window_, kWmDeviceChange, kDbtDeviceArrival, record);
    }
  }
}

void DeviceWatch::CloseAll() {
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
