// A stick plugged into a Linux desktop where nobody mounts it, with the real plumbing: the
// test's own system bus, udev daemon and UDisks2, in a mount namespace of the test's own with a
// private /run and /media. A udev rule dresses a loop device holding an ext4 image as a USB
// stick; `udevadm trigger` plugs it in and pulls it out. The real Linux program runs offscreen;
// the test plays the timer, so it chooses when the tick falls. Needs root.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <linux/loop.h>
#include <sched.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QApplication>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "e2e/e2e_support.h"
#include "platform/posix/devices/drive_table.h"
#include "platform/qt/linux_program.h"
#include "support/fakes.h"

namespace salvatrix {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using e2e::Capture;
using e2e::ReadAll;
using e2e::Shell;
using e2e::Spin;
using e2e::SpinUntil;

std::string g_isolation_problem;  // empty when the process has its own namespace and /run

constexpr const char* kUdevd = "/lib/systemd/systemd-udevd";
constexpr const char* kUdisksd = "/usr/libexec/udisks2/udisksd";
constexpr const char* kArrivalLine = "\r\nwParam = DBT_DEVICEARRIVAL 05 ";
constexpr const char* kDeviceLine = "\r\nDevice Name: ";
constexpr const char* kVolumeLine = "\r\nDevice Type: DBT_DEVTYP_VOLUME 08 ";

double SecondsSince(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

// Starts a daemon in the foreground as a child that dies with the test process, should the
// test never get to stop it. Output goes to log.
pid_t Launch(const std::vector<std::string>& command, const fs::path& log) {
  std::vector<char*> argv;
  for (const std::string& word : command) {
    argv.push_back(const_cast<char*>(word.c_str()));
  }
  argv.push_back(nullptr);
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::prctl(PR_SET_PDEATHSIG, SIGTERM);
    const int out = ::open(log.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    const int in = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
    ::dup2(in, 0);
    ::dup2(out, 1);
    ::dup2(out, 2);
    ::execv(argv[0], argv.data());
    ::_exit(127);
  }
  return pid;
}

void Stop(pid_t& pid) {
  if (pid <= 0) {
    return;
  }
  ::kill(pid, SIGTERM);
  const auto deadline = Clock::now() + std::chrono::seconds(5);
  while (::waitpid(pid, nullptr, WNOHANG) == 0) {
    if (Clock::now() > deadline) {
      ::kill(pid, SIGKILL);
      ::waitpid(pid, nullptr, 0);
      break;
    }
    ::usleep(20'000);
  }
  pid = -1;
}

bool WaitFor(const std::function<bool()>& ready, int milliseconds) {
  const auto deadline = Clock::now() + std::chrono::milliseconds(milliseconds);
  while (!ready()) {
    if (Clock::now() > deadline) {
      return false;
    }
    ::usleep(20'000);
  }
  return true;
}

// Where the device is mounted in this namespace.
std::vector<std::string> MountPointsOf(const std::string& device) {
  std::vector<std::string> points;
  std::ifstream table("/proc/self/mountinfo");
  for (std::string line; std::getline(table, line);) {
    const auto entry = posix::ParseMountInfoLine(line);
    if (entry && entry->source == device) {
      points.push_back(entry->mount_point);
    }
  }
  return points;
}

std::set<std::string> Entries(const fs::path& folder) {
  std::set<std::string> names;
  std::error_code error;
  for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
    names.insert(it->path().filename().string());
  }
  return names;
}

class StickArrivalTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!g_isolation_problem.empty()) {
      GTEST_SKIP() << g_isolation_problem;
    }
    for (const char* tool : {"dbus-daemon", "udevadm", "busctl", "losetup", "mkfs.ext4"}) {
      if (!Shell(std::string("command -v ") + tool + " >/dev/null 2>&1")) {
        GTEST_SKIP() << tool << " is missing (packages dbus, udev, systemd, util-linux, "
                     << "e2fsprogs)";
      }
    }
    for (const char* daemon : {kUdevd, kUdisksd}) {
      if (::access(daemon, X_OK) != 0) {
        GTEST_SKIP() << daemon << " is missing (packages udev, udisks2)";
      }
    }
    base_ = fs::temp_directory_path() / ("salvatrix-stick-" + std::to_string(::getpid()));
    fs::remove_all(base_);
    fs::create_directories(base_ / "source");
    fs::create_directories(base_ / "stick");
    std::ofstream(base_ / "source" / "a.txt") << "first";
    std::ofstream(base_ / "source" / "b.txt") << "second";
    std::ofstream(base_ / "source" / "salvatrix") << "the program itself";

    fs::create_directories("/run/dbus");
    bus_ =
        Launch({"/usr/bin/dbus-daemon", "--system", "--nofork", "--nopidfile"}, base_ / "dbus.log");
    ASSERT_TRUE(WaitFor([] { return fs::exists("/run/dbus/system_bus_socket"); }, 10000))
        << ReadAll(base_ / "dbus.log");
    had_dev_block_ = fs::exists("/dev/block");
    dev_block_ = Entries("/dev/block");
    fs::create_directories("/run/udev/rules.d");
    udevd_ = Launch({kUdevd}, base_ / "udevd.log");
    udev_started_ = true;
    ASSERT_TRUE(WaitFor([] { return fs::exists("/run/udev/control"); }, 10000))
        << ReadAll(base_ / "udevd.log");
    StartUdisks();
  }

  void TearDown() override {
    if (stderr_saved_ >= 0) {
      std::fflush(stderr);
      ::dup2(stderr_saved_, 2);
      ::close(stderr_saved_);
    }
    if (!loop_.empty()) {
      for (const std::string& point : MountPointsOf(loop_)) {
        ::umount2(point.c_str(), MNT_DETACH);
      }
    }
    fs::remove(kRule);
    Stop(udisksd_);
    Stop(udevd_);
    Stop(bus_);
    if (!loop_.empty()) {
      ::close(loop_fd_);  // the loop detaches itself now: it was set to clear on last close
      std::ifstream backing("/sys/block/" + fs::path(loop_).filename().string() +
                            "/loop/backing_file");
      std::string file;
      if (std::getline(backing, file) && file == image_.string()) {
        Shell("losetup -d " + loop_ + " >/dev/null 2>&1");
      }
    }
    // The udev daemon links every device it sees under /dev/block, and /dev is the machine's.
    if (udev_started_) {
      std::error_code ignored;
      for (const std::string& name : Entries("/dev/block")) {
        if (!dev_block_.contains(name)) {
          fs::remove(fs::path("/dev/block") / name, ignored);
        }
      }
      if (!had_dev_block_) {
        fs::remove("/dev/block", ignored);
      }
    }
    if (!base_.empty()) {
      fs::remove_all(base_);
    }
  }

  void StartUdisks() {
    udisksd_ = Launch({kUdisksd}, base_ / "udisksd.log");
    ASSERT_TRUE(WaitFor(
        [] { return Shell("busctl --system status org.freedesktop.UDisks2 >/dev/null 2>&1"); },
        15000))
        << ReadAll(base_ / "udisksd.log");
  }

  // A loop device holding an image with an ext4 filesystem, or with nothing on it. It clears
  // itself once nothing holds it, should the test die before its tear-down.
  void Attach(bool with_filesystem) {
    image_ = base_ / "stick.img";
    ASSERT_TRUE(Shell("truncate -s 32M " + image_.string()));
    if (with_filesystem) {
      ASSERT_TRUE(Shell("mkfs.ext4 -q -F -L SALVATRIX " + image_.string() + " >/dev/null 2>&1"));
    }
    loop_ = Capture("losetup -f --show " + image_.string() + " 2>/dev/null");
    ASSERT_FALSE(loop_.empty()) << "no loop device can be attached here";
    loop_fd_ = ::open(loop_.c_str(), O_RDONLY | O_CLOEXEC);
    loop_info64 info{};
    ASSERT_EQ(::ioctl(loop_fd_, LOOP_GET_STATUS64, &info), 0);
    info.lo_flags |= LO_FLAGS_AUTOCLEAR;
    ASSERT_EQ(::ioctl(loop_fd_, LOOP_SET_STATUS64, &info), 0);
  }

  // The rule that makes this loop device, and no other, a USB stick. The system's own rules
  // are hidden from the test's udev daemon, so blkid is asked here for what UDisks2 needs.
  void DressAsStick(bool udisks_auto) {
    const std::string name = fs::path(loop_).filename().string();
    std::ofstream(kRule) << "KERNEL==\"" << name << "\", SUBSYSTEM==\"block\", "
                         << "ATTR{loop/backing_file}==\"" << image_.string() << "\", "
                         << "IMPORT{builtin}=\"blkid\", ENV{ID_BUS}=\"usb\", "
                         << "ENV{ID_VENDOR}=\"Salvatrix\", ENV{ID_MODEL}=\"Test_Stick\", "
                         << "ENV{ID_SERIAL_SHORT}=\"E2E0001\", ENV{ID_VENDOR_ID}=\"1d6b\", "
                         << "ENV{ID_MODEL_ID}=\"0104\", ENV{UDISKS_AUTO}=\""
                         << (udisks_auto ? 1 : 0) << "\", ENV{UDISKS_SYSTEM}=\"0\"\n";
    ASSERT_TRUE(Shell("udevadm control --reload"));
  }

  void Trigger(const std::string& action) {
    ASSERT_TRUE(Shell("udevadm trigger --action=" + action + " /sys/block/" +
                      fs::path(loop_).filename().string()));
  }

  std::unique_ptr<qt::LinuxProgram> StartProgram() {
    app_.folder = (base_ / "source").string();
    app_.exe_name = "salvatrix";
    auto program = std::make_unique<qt::LinuxProgram>(app_, boxes_);
    EXPECT_TRUE(program->Start());
    Form1& form = program->Form();
    EXPECT_TRUE(boxes_.shown.empty()) << boxes_.shown[0].text;
    form.Check1.UserClick();
    form.Timer1.SetEnabled(false);  // the test ticks
    return program;
  }

  static void Tick(qt::LinuxProgram& program) {
    program.Window().Dispatch([&program] { program.Form().Timer1.tick.Emit(); });
  }

  // Standard error goes to a file until the tear-down.
  void CaptureStderr() {
    std::fflush(stderr);
    stderr_saved_ = ::dup(2);
    const int file = ::open((base_ / "stderr").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ::dup2(file, 2);
    ::close(file);
  }

  std::string Stderr() {
    std::fflush(stderr);
    return ReadAll(base_ / "stderr");
  }

  std::string DeviceLine() const {
    return std::string(kDeviceLine) + loop_ +
           " Salvatrix Test_Stick serial E2E0001 (USB 1d6b:0104) 12 ";
  }

  static constexpr const char* kRule = "/run/udev/rules.d/61-salvatrix-e2e.rules";
  fs::path base_;
  fs::path image_;
  std::string loop_;
  int loop_fd_ = -1;
  pid_t bus_ = -1;
  pid_t udevd_ = -1;
  pid_t udisksd_ = -1;
  bool udev_started_ = false;
  bool had_dev_block_ = false;
  std::set<std::string> dev_block_;
  int stderr_saved_ = -1;
  testing::FakeAppInfo app_;
  testing::ScriptedMessageBoxes boxes_;
};

TEST_F(StickArrivalTest, StickNobodyMountsIsMountedByUdisksAndCopiedOnTheNextTick) {
  Attach(true);
  DressAsStick(true);
  auto program = StartProgram();
  Form1& form = program->Form();

  const auto plugged = Clock::now();
  Trigger("add");
  Spin(1000);
  Tick(*program);  // before the mount: the log is still empty, so the tick does nothing
  EXPECT_EQ(form.Text1.Text(), "");
  EXPECT_EQ(form.Text2.Text(), "");

  ASSERT_TRUE(SpinUntil([&form] { return !form.Text1.Text().empty(); }, 20000))
      << ReadAll(base_ / "udisksd.log");
  const double to_log = SecondsSince(plugged);
  const std::string log = form.Text1.Text();
  EXPECT_EQ(log.find(DeviceLine()), std::string(kArrivalLine).size()) << log;
  EXPECT_LT(log.find(DeviceLine()), log.find(kVolumeLine)) << log;
  const auto points = MountPointsOf(loop_);
  ASSERT_EQ(points.size(), 1u) << "mounted by UDisks2, once";
  EXPECT_TRUE(points[0].starts_with("/media/")) << points[0];

  Tick(*program);
  const double to_files = SecondsSince(plugged);
  EXPECT_TRUE(boxes_.shown.empty()) << boxes_.shown[0].text;
  EXPECT_EQ(form.labelViewer.Caption(), "FINISHED COPYING");
  EXPECT_EQ(ReadAll(fs::path(points[0]) / "a.txt"), "first");
  EXPECT_EQ(ReadAll(fs::path(points[0]) / "b.txt"), "second");
  EXPECT_FALSE(fs::exists(fs::path(points[0]) / "salvatrix"));
  std::printf(
      "arrival to device line: %.2f s; arrival to files on the stick: %.2f s "
      "(ticked as soon as the line was in)\n",
      to_log, to_files);
  program->Window().close();
}

TEST_F(StickArrivalTest, StickMountedByHandAfterATickIsCopiedByTheNextOne) {
  Attach(true);
  DressAsStick(false);  // UDisks2 must leave it alone: the hand does the mounting
  auto program = StartProgram();
  Form1& form = program->Form();

  Trigger("add");
  Spin(1000);
  Tick(*program);
  Spin(1500);
  ASSERT_TRUE(Shell("mount -t ext4 " + loop_ + " " + (base_ / "stick").string()));
  ASSERT_TRUE(SpinUntil(
      [&form] { return form.Text1.Text().find(kVolumeLine) != std::string::npos; }, 10000));
  const std::string log = form.Text1.Text();
  EXPECT_LT(log.find(DeviceLine()), log.find(kVolumeLine)) << log;

  Tick(*program);
  EXPECT_TRUE(boxes_.shown.empty()) << boxes_.shown[0].text;
  EXPECT_EQ(ReadAll(base_ / "stick" / "a.txt"), "first");
  EXPECT_EQ(ReadAll(base_ / "stick" / "b.txt"), "second");
  EXPECT_EQ(MountPointsOf(loop_).size(), 1u) << "UDisks2 mounted it too";
  program->Window().close();
}

TEST_F(StickArrivalTest, StickWithoutFilesystemOrPulledEarlyIsOnlyLogged) {
  Attach(false);
  DressAsStick(true);
  auto program = StartProgram();
  Form1& form = program->Form();
  const auto lines = [&form] {
    const std::string log = form.Text1.Text();
    int count = 0;
    for (auto at = log.find(kDeviceLine); at != std::string::npos;
         at = log.find(kDeviceLine, at + 1)) {
      ++count;
    }
    return count;
  };

  Trigger("add");  // nothing to mount: the line goes out alone, a few seconds later
  ASSERT_TRUE(SpinUntil([&] { return lines() == 1; }, 20000));
  EXPECT_NE(form.Text1.Text().find(DeviceLine()), std::string::npos) << form.Text1.Text();

  Trigger("add");  // plugged again and pulled at once: its line goes out at the pull
  Spin(200);
  Trigger("remove");
  ASSERT_TRUE(SpinUntil([&] { return lines() == 2; }, 20000));
  Spin(3000);
  EXPECT_EQ(lines(), 2);
  EXPECT_EQ(form.Text1.Text().find(kVolumeLine), std::string::npos);
  EXPECT_TRUE(MountPointsOf(loop_).empty());
  EXPECT_TRUE(boxes_.shown.empty()) << boxes_.shown[0].text;
  program->Window().close();
}

TEST_F(StickArrivalTest, UdisksAndTheBusGoingAwayLeaveTheDeviceLines) {
  Attach(true);
  DressAsStick(true);
  auto program = StartProgram();
  Form1& form = program->Form();
  CaptureStderr();
  const auto logged = [&form](std::size_t lines) {
    std::size_t count = 0;
    const std::string log = form.Text1.Text();
    for (auto at = log.find(kDeviceLine); at != std::string::npos;
         at = log.find(kDeviceLine, at + 1)) {
      ++count;
    }
    return count == lines;
  };

  Trigger("add");  // mounted by UDisks2: the program's connection to the bus is open now
  ASSERT_TRUE(SpinUntil([&] { return logged(1); }, 20000));
  ASSERT_EQ(MountPointsOf(loop_).size(), 1u);
  // The drive can show before UDisks2 answers; its answer must be in before it goes away.
  ASSERT_TRUE(SpinUntil(
      [&] { return ReadAll(base_ / "udisksd.log").find("Mounted " + loop_) != std::string::npos; },
      20000));
  Spin(500);
  ::umount2(MountPointsOf(loop_)[0].c_str(), 0);

  Stop(udisksd_);
  Trigger("add");
  ASSERT_TRUE(SpinUntil([&] { return logged(2); }, 20000));
  Stop(bus_);
  Trigger("add");
  ASSERT_TRUE(SpinUntil([&] { return logged(3); }, 20000));

  EXPECT_TRUE(MountPointsOf(loop_).empty());
  EXPECT_TRUE(boxes_.shown.empty()) << boxes_.shown[0].text;
  std::vector<std::string> ours;  // Qt may have its own say
  const std::string all_errors = Stderr();
  std::istringstream errors(all_errors);
  for (std::string line; std::getline(errors, line);) {
    if (line.starts_with("salvatrix: ")) {
      ours.push_back(line);
    }
  }
  ASSERT_EQ(ours.size(), 1u) << all_errors;
  EXPECT_NE(ours[0].find("no UDisks2"), std::string::npos) << ours[0];
  program->Window().close();
}

}  // namespace
}  // namespace salvatrix

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  // /run and /media of its own keep the test's bus, udev and UDisks2 apart from the machine's;
  // the system's D-Bus services and udev rules are hidden, so nothing is started by activation
  // and the udev daemon touches no other device's links in the machine's /dev.
  std::string& problem = salvatrix::g_isolation_problem;
  problem = salvatrix::e2e::EnterPrivateMountNamespace(
      "needs root to run a udev daemon and mount a stick");
  if (problem.empty() && (::mount("tmpfs", "/run", "tmpfs", 0, "mode=0755") != 0 ||
                          ::mount("tmpfs", "/media", "tmpfs", 0, "mode=0755") != 0)) {
    problem = "cannot make a private mount namespace with its own /run";
  }
  if (problem.empty()) {
    std::filesystem::create_directories("/run/salvatrix-empty");
    for (const char* hidden :
         {"/usr/share/dbus-1/system-services", "/usr/lib/udev/rules.d", "/etc/udev/rules.d"}) {
      if (std::filesystem::exists(hidden) &&
          ::mount("/run/salvatrix-empty", hidden, nullptr, MS_BIND, nullptr) != 0) {
        problem = std::string("cannot hide ") + hidden;
      }
    }
  }
  ::unsetenv("DBUS_SYSTEM_BUS_ADDRESS");  // the bus is the test's own, at its usual place
  return salvatrix::e2e::RunAllTestsWithQt(argc, argv);
}
