#include "platform/posix/devices/device_watch.h"

#include <fcntl.h>
#include <linux/loop.h>
#include <poll.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <random>
#include <sstream>

#include "platform/posix/devices/drive_table.h"
#include "platform/posix/devices/window_procedures.h"
#include "support/temp_dir.h"

namespace salvatrix::posix {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

std::string Mount(const std::string& device, const std::string& point) {
  return "40 1 " + device + " / " + point + " rw - ext4 /dev/x" + device + " rw\n";
}
const std::string kRoot = Mount("8:1", "/"), kStick = Mount("8:17", "/media/stick"),
                  kCard = Mount("179:1", "/media/card");

std::uint32_t Le32(const std::vector<std::uint8_t>& bytes, std::size_t offset) {
  std::uint32_t value = 0;
  for (std::size_t i = 0; i < 4; ++i) {
    value |= static_cast<std::uint32_t>(bytes.at(offset + i)) << (8 * i);
  }
  return value;
}

NotificationFilter Filter(std::uint8_t size = 32, std::uint8_t type = 5) {
  NotificationFilter filter{};
  filter[0] = size;
  filter[4] = type;
  return filter;
}

/// A watch on a mount table file, with a procedure keeping every arrival record.
struct Rig {
  explicit Rig(const fs::path& mountinfo, bool use_udev = false)
      : table(mountinfo, "/nonexistent"), watch(table, windows, mountinfo, use_udev) {
    windows.SetWindowProcedure(
        1, windows.MakeProcedure(
               [this](WindowHandle, std::uint32_t, std::uintptr_t wparam, std::intptr_t lparam) {
                 const auto* bytes = reinterpret_cast<const std::uint8_t*>(lparam);
                 if (wparam == kDbtDeviceArrival) {
                   records.emplace_back(bytes, bytes + windows.RecordExtent(lparam));
                   delivered_at = Clock::now();
                 }
                 return std::intptr_t{0};
               }));
    watch.on_fds_changed = [this] { ++fds_changes; };
  }
  std::uintptr_t Register(std::uint32_t& error) { return watch.Register(1, Filter(), 4, error); }
  int MountFd() const { return watch.Fds().at(0).fd; }

  DriveTable table;
  WindowProcedures windows;
  DeviceWatch watch;
  std::vector<std::vector<std::uint8_t>> records;
  Clock::time_point delivered_at;
  int fds_changes = 0;
};

class DeviceWatchTest : public ::testing::Test {
 protected:
  DeviceWatchTest() : dir_(salvatrix::testing::MakeTempDir("salvatrix-watch-")) {}
  ~DeviceWatchTest() override { fs::remove_all(dir_); }
  void Write(const std::string& text) { std::ofstream(dir_ / "mountinfo") << text; }

  fs::path dir_;
};

TEST_F(DeviceWatchTest, DeliversAVolumeArrivalForEachDriveNewSinceTheLastLook) {
  Write(kRoot + kStick);
  Rig rig(dir_ / "mountinfo");
  std::uint32_t error = 0;
  ASSERT_NE(rig.Register(error), 0u);
  ASSERT_EQ(rig.watch.Fds().size(), 1u);
  EXPECT_TRUE(rig.watch.Fds()[0].priority);
  const std::vector<std::pair<std::string, std::vector<char>>> steps = {
      {kRoot + kStick, {}},  // the baseline arrives no more
      {kRoot + kStick + kCard, {'E'}},
      {kRoot + kStick + kCard, {}},
      {kRoot + kCard, {}},
      {kRoot + kCard + kStick, {'D'}},
      {"", {}},
      {kRoot + kStick + kCard, {'C', 'D', 'E'}},
  };
  for (std::size_t i = 0; i < steps.size(); ++i) {
    SCOPED_TRACE("step " + std::to_string(i));
    Write(steps[i].first);
    rig.records.clear();
    rig.watch.OnReady(rig.MountFd());
    ASSERT_EQ(rig.records.size(), steps[i].second.size());
    for (std::size_t r = 0; r < rig.records.size(); ++r) {
      ASSERT_EQ(rig.records[r].size(), 20u);
      const std::uint32_t mask = 1u << (steps[i].second[r] - 'A');
      EXPECT_EQ(std::vector<std::uint32_t>({Le32(rig.records[r], 0), Le32(rig.records[r], 4),
                                            Le32(rig.records[r], 8), Le32(rig.records[r], 12),
                                            Le32(rig.records[r], 16)}),
                std::vector<std::uint32_t>({20, 2, 0, mask, 0}));
    }
  }
  // An unknown fd, and a mount fd that fails to read, drop the event.
  Write(kRoot);
  rig.watch.OnReady(rig.MountFd() + 100);
  const int folder = ::open(dir_.c_str(), O_RDONLY | O_CLOEXEC);
  ASSERT_EQ(::dup3(folder, rig.MountFd(), O_CLOEXEC), rig.MountFd());
  ::close(folder);
  Write(kRoot + kStick);
  EXPECT_NO_THROW(rig.watch.OnReady(rig.MountFd()));
  EXPECT_EQ(rig.records.size(), 3u);
}

TEST_F(DeviceWatchTest, RefusedRegistrationLeavesNothingOpen) {
  Write(kRoot);
  struct Case {
    std::string table;
    WindowHandle window;
    NotificationFilter filter;
    std::uint32_t flags, error;
  };
  for (const Case& c : std::vector<Case>{{"absent", 1, Filter(), 4, ENOENT},
                                         {".", 1, Filter(), 4, EISDIR},
                                         {"mountinfo", 2, Filter(), 4, EINVAL},
                                         {"mountinfo", 1, Filter(12), 4, EINVAL},
                                         {"mountinfo", 1, Filter(32, 2), 4, EINVAL},
                                         {"mountinfo", 1, Filter(), 0, EINVAL}}) {
    SCOPED_TRACE(c.table + " error " + std::to_string(c.error));
    Rig rig(dir_ / c.table);
    std::uint32_t error = 0;
    EXPECT_EQ(rig.watch.Register(c.window, c.filter, c.flags, error), 0u);
    EXPECT_EQ(error, c.error);
    EXPECT_TRUE(rig.watch.Fds().empty());
    EXPECT_EQ(rig.fds_changes, 0);
  }
}

TEST_F(DeviceWatchTest, UnregisterClosesTheFdsAndOneRegistrationIsAllowedAtATime) {
  Write(kRoot);
  for (const bool use_udev : {false, true}) {
    SCOPED_TRACE(use_udev ? "udev asked for, running or not" : "mount table only");
    Rig rig(dir_ / "mountinfo", use_udev);
    std::uint32_t error = 0;
    const std::uintptr_t handle = rig.Register(error);
    ASSERT_NE(handle, 0u);
    const auto fds = rig.watch.Fds();
    EXPECT_EQ(rig.Register(error), 0u);
    EXPECT_EQ(error, static_cast<std::uint32_t>(EBUSY));
    rig.watch.Unregister(handle + 1);
    EXPECT_EQ(rig.watch.Fds().size(), fds.size());
    rig.watch.Unregister(handle);
    EXPECT_TRUE(rig.watch.Fds().empty());
    EXPECT_EQ(rig.fds_changes, 2);
    for (const auto& fd : fds) {
      EXPECT_EQ(::fcntl(fd.fd, F_GETFD), -1);
    }
    EXPECT_NE(rig.Register(error), handle);
  }
}

TEST(UdevArrival, NameTellsWhatWasPluggedIn) {
  const std::vector<std::pair<DeviceProperties, std::string>> cases = {
      {{{"DEVNAME", "/dev/sdb"},
        {"ID_VENDOR", "SanDisk"},
        {"ID_VENDOR_ENC", R"(SanDisk\x20)"},
        {"ID_MODEL", "Cruzer_Blade"},
        {"ID_MODEL_ENC", R"(Cruzer\x20Blade\x20\x20\x20\x20)"},
        {"ID_SERIAL_SHORT", "4C530001"},
        {"ID_VENDOR_ID", "0781"},
        {"ID_MODEL_ID", "5567"},
        {"ID_BUS", "usb"}},
       "/dev/sdb SanDisk Cruzer Blade serial 4C530001 (USB 0781:5567)"},
      {{{"DEVNAME", "/dev/sdc"}, {"ID_MODEL", "Flash_Disk"}, {"ID_VENDOR_ID", "abcd"}},
       "/dev/sdc Flash_Disk"},
      {{{"DEVPATH", "/devices/b/sdd"}, {"ID_VENDOR_ID", "1"}, {"ID_MODEL_ID", "2"}},
       "/devices/b/sdd (1:2)"},
      {{{"DEVNAME", "/dev/sde"}, {"ID_MODEL_ENC", R"(\x00A\x09\x7fB\x2\xzz\xC3\xA9)"}},
       "/dev/sde A B\\x2\\xzz\xC3\xA9"},
      {{{"DEVNAME", "/dev/sdf"}, {"ID_MODEL_ENC", R"(\x20)"}, {"ID_MODEL", "Plain"}},
       "/dev/sdf Plain"},
  };
  for (const auto& [properties, name] : cases) {
    SCOPED_TRACE(name);
    EXPECT_EQ(DeviceArrivalName(properties), name);
  }
  // "/dev/sdg " and the Ms are 1022 bytes, so the cap falls inside the first é.
  const std::string model = std::string(1013, 'M') + "\xC3\xA9\xC3\xA9";
  const std::string name = DeviceArrivalName({{"DEVNAME", "/dev/sdg"}, {"ID_MODEL", model}});
  EXPECT_EQ(name, "/dev/sdg " + std::string(1013, 'M'));
  const auto record = DeviceInterfaceRecord(name);
  ASSERT_EQ(record.size(), 28 + name.size() + 1);
  EXPECT_EQ(Le32(record, 0), record.size());
  EXPECT_EQ(Le32(record, 4), 5u);
  EXPECT_TRUE(std::all_of(record.begin() + 8, record.begin() + 28, [](auto b) { return b == 0; }));
  EXPECT_EQ(std::string(record.begin() + 28, record.end()), name + '\0');
}

TEST(UdevArrival, OnlySticksCount) {
  const DeviceProperties usb = {{"SUBSYSTEM", "block"},
                                {"DEVTYPE", "disk"},
                                {"DEVPATH", "/devices/pci0/usb1/1-1/host6/block/sdb"},
                                {"ID_BUS", "usb"}};
  const auto with = [&usb](std::string key, std::string value) {
    DeviceProperties properties = usb;
    properties[key] = value;
    return properties;
  };
  struct Case {
    std::string what;
    std::string action;
    DeviceProperties properties;
    bool removable;
    bool stick;
  };
  for (const Case& c : std::vector<Case>{
           {"usb disk", "add", usb, false, true},
           {"sd card", "add", with("ID_BUS", "mmc"), false, true},
           {"firewire disk", "add", with("ID_BUS", "ieee1394"), false, true},
           {"internal disk", "add", with("ID_BUS", "ata"), false, false},
           {"card reader the kernel marks removable", "add", with("ID_BUS", "scsi"), true, true},
           {"no bus, not removable", "add", with("ID_BUS", ""), false, false},
           {"change", "change", usb, true, false},
           {"remove", "remove", usb, true, false},
           {"partition", "add", with("DEVTYPE", "partition"), true, false},
           {"not a block device", "add", with("SUBSYSTEM", "usb"), true, false},
           {"loop marked as a usb stick", "add", with("DEVPATH", "/devices/virtual/block/loop3"),
            false, true},
           {"loop on another bus", "add",
            [&] {
              auto p = with("DEVPATH", "/devices/virtual/block/loop3");
              p["ID_BUS"] = "mmc";
              return p;
            }(),
            true, false},
       }) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(IsStickArrival(c.action, c.properties, c.removable), c.stick);
  }
}

// In a child with a mount namespace of its own: mounts the image on a loop device ten times,
// each time polling the mount table. Returns "skip: why", "fail: why", or the delays in µs
// from mount() returning to the arrival's delivery.
std::string MountTenTimes(const fs::path& image, const fs::path& point) {
  const auto failed = [](const std::string& what) { return what + ": " + std::strerror(errno); };
  if (::unshare(CLONE_NEWNS) != 0 || ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr)) {
    return failed("skip: own mount namespace");
  }
  const int control = ::open("/dev/loop-control", O_RDWR | O_CLOEXEC);
  const std::string device = "/dev/loop" + std::to_string(::ioctl(control, LOOP_CTL_GET_FREE));
  const int loop = ::open(device.c_str(), O_RDWR | O_CLOEXEC);
  const int file = ::open(image.c_str(), O_RDWR | O_CLOEXEC);
  loop_info64 info{};
  info.lo_flags = LO_FLAGS_AUTOCLEAR;  // detached when the child ends, whatever happens
  if (loop < 0 || file < 0 || ::ioctl(loop, LOOP_SET_FD, file) != 0 ||
      ::ioctl(loop, LOOP_SET_STATUS64, &info) != 0) {
    return failed("skip: attach a loop device");
  }
  Rig rig("/proc/self/mountinfo");
  std::uint32_t error = 0;
  if (rig.Register(error) == 0) {
    return "fail: register, error " + std::to_string(error);
  }
  pollfd watched{rig.MountFd(), POLLPRI, 0};
  std::string delays;
  for (int i = 0; i < 10; ++i) {
    if (::mount(device.c_str(), point.c_str(), "ext4", 0, nullptr) != 0) {
      return failed(i == 0 ? "skip: mount ext4 from a loop device" : "fail: mount again");
    }
    const auto mounted_at = Clock::now();
    if (::poll(&watched, 1, 1000) != 1 || (watched.revents & POLLPRI) == 0) {
      return "fail: no POLLPRI within a second of mounting";
    }
    rig.records.clear();
    rig.watch.OnReady(watched.fd);
    const auto& drives = rig.table.Drives();
    const auto drive = std::find_if(drives.begin(), drives.end(),
                                    [&](const Drive& d) { return d.mount_point == point; });
    if (drive == drives.end() || rig.records.size() != 1 ||
        rig.records[0] != VolumeArrivalRecord(drive->letter)) {
      return "fail: expected one volume arrival for the mounted drive";
    }
    using std::chrono::microseconds;
    delays += std::to_string(
                  std::chrono::duration_cast<microseconds>(rig.delivered_at - mounted_at).count()) +
              " ";
    if (::umount2(point.c_str(), 0) != 0 || ::poll(&watched, 1, 1000) != 1) {
      return failed("fail: unmount and its POLLPRI");
    }
    rig.watch.OnReady(watched.fd);
    if (rig.records.size() != 1) {
      return "fail: an unmount delivered an arrival";
    }
  }
  return delays;
}

TEST_F(DeviceWatchTest, RealMountWakesPollAndDeliversTheVolume) {
  if (::geteuid() != 0) {
    GTEST_SKIP() << "mounting a loop device needs root";
  }
  const fs::path image = dir_ / "disk.img", point = dir_ / "mnt";
  fs::create_directory(point);
  if (std::system(("truncate -s 4M '" + image.string() + "' && mkfs.ext4 -q -F '" + image.string() +
                   "' >/dev/null 2>&1")
                      .c_str()) != 0) {
    GTEST_SKIP() << "cannot make an ext4 image with truncate and mkfs.ext4";
  }
  const fs::path result_file = dir_ / "result";
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    std::ofstream(result_file) << MountTenTimes(image, point);
    ::_exit(0);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  std::ifstream in(result_file);
  const std::string result((std::istreambuf_iterator<char>(in)), {});
  ASSERT_TRUE(WIFEXITED(status)) << result;
  if (result.starts_with("skip:")) {
    GTEST_SKIP() << result;
  }
  ASSERT_FALSE(result.starts_with("fail:")) << result;
  std::vector<long> delays;
  std::istringstream numbers(result);
  for (long delay; numbers >> delay;) {
    delays.push_back(delay);
  }
  ASSERT_EQ(delays.size(), 10u);
  std::sort(delays.begin(), delays.end());
  std::cout << "mount() to delivery, µs: median " << (delays[4] + delays[5]) / 2 << ", max "
            << delays.back() << '\n';
}

}  // namespace
}  // namespace salvatrix::posix
