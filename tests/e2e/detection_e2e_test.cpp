// The whole road without a click: the real Linux program (offscreen) is running, a pen drive
// stand-in is mounted, the arrival reaches the detection log, the next tick of the timer
// rescans and compares, and autocopy puts the files on the stick. Needs root: the process
// moves into a mount namespace of its own before anything else runs.

#include <gtest/gtest.h>
#include <sched.h>
#include <sys/mount.h>
#include <unistd.h>

#include <QApplication>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "e2e/e2e_support.h"
#include "platform/qt/linux_program.h"
#include "support/fakes.h"

namespace salvatrix {
namespace {

namespace fs = std::filesystem;
using e2e::Capture;
using e2e::ReadAll;
using e2e::Shell;
using e2e::SpinUntil;

std::string g_isolation_problem;  // empty when the test runs in its own mount namespace

class DetectionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!g_isolation_problem.empty()) {
      GTEST_SKIP() << g_isolation_problem;
    }
    for (const char* tool : {"losetup", "mkfs.exfat", "mount.exfat-fuse"}) {
      if (!Shell(std::string("command -v ") + tool + " >/dev/null 2>&1")) {
        GTEST_SKIP() << tool << " is missing (packages util-linux, exfatprogs, exfat-fuse)";
      }
    }
    base_ = fs::temp_directory_path() / ("salvatrix-detect-" + std::to_string(::getpid()));
    fs::remove_all(base_);
    fs::create_directories(base_ / "source");
    fs::create_directories(base_ / "stick");
    image_ = base_ / "stick.img";
    if (!Shell("truncate -s 16M " + image_.string() + " && mkfs.exfat " + image_.string() +
               " >/dev/null 2>&1")) {
      GTEST_SKIP() << "cannot make an exFAT image";
    }
    loop_ = Capture("losetup -f --show " + image_.string() + " 2>/dev/null");
    if (loop_.empty()) {
      GTEST_SKIP() << "no loop device can be attached here";
    }
  }

  void TearDown() override {
    Shell("umount " + (base_ / "stick").string() + " >/dev/null 2>&1");
    if (!loop_.empty()) {
      Shell("losetup -d " + loop_ + " >/dev/null 2>&1");
    }
    if (!base_.empty()) {
      fs::remove_all(base_);
    }
  }

  fs::path base_;
  fs::path image_;
  std::string loop_;
};

TEST_F(DetectionTest, MountedStickIsLoggedRescannedOnTheTickAndAutocopied) {
  const fs::path source = base_ / "source";
  std::ofstream(source / "a.txt") << "first";
  std::ofstream(source / "b.txt") << "second";
  std::ofstream(source / "salvatrix") << "the program itself";

  testing::FakeAppInfo app;
  app.folder = source.string();
  app.exe_name = "salvatrix";
  testing::ScriptedMessageBoxes boxes;
  qt::LinuxProgram program(app, boxes);
  ASSERT_TRUE(program.Start());
  Form1& form = program.Form();
  ASSERT_TRUE(boxes.shown.empty()) << boxes.shown[0].text;  // registration worked
  form.Check1.UserClick();
  const std::string runtime = form.Text3.Text();

  ASSERT_TRUE(
      Shell("mount.exfat-fuse " + loop_ + " " + (base_ / "stick").string() + " >/dev/null 2>&1"));
  const auto mounted = std::chrono::steady_clock::now();
  ASSERT_TRUE(SpinUntil([&form] { return !form.Text1.Text().empty(); }, 5000));
  const auto logged = std::chrono::steady_clock::now();
  std::printf("mount to log line: %.1f ms\n",
              std::chrono::duration<double, std::milli>(logged - mounted).count());
  EXPECT_NE(form.Text1.Text().find("\r\nDevice Type: DBT_DEVTYP_VOLUME 08 "), std::string::npos)
      << form.Text1.Text();

  // No click: the timer's next tick rescans, compares and copies.
  ASSERT_TRUE(SpinUntil([&form] { return !form.Timer1.Enabled(); }, 15000));
  EXPECT_EQ(form.Text2.Text().size(), runtime.size() + 1);
  ASSERT_EQ(form.List3.ListCount(), 1);
  EXPECT_EQ(form.List2.Text(), form.List3.List(0));
  EXPECT_TRUE(boxes.shown.empty());
  EXPECT_EQ(form.Check1.Value(), 0);
  EXPECT_FALSE(form.Check1.Enabled());
  EXPECT_EQ(form.labelViewer.Caption(), "FINISHED COPYING");
  EXPECT_EQ(ReadAll(base_ / "stick" / "a.txt"), "first");
  EXPECT_EQ(ReadAll(base_ / "stick" / "b.txt"), "second");
  EXPECT_FALSE(fs::exists(base_ / "stick" / "salvatrix"));
  program.Window().close();
}

}  // namespace
}  // namespace salvatrix

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  salvatrix::g_isolation_problem =
      salvatrix::e2e::EnterPrivateMountNamespace("needs root to mount a pen drive stand-in");
  return salvatrix::e2e::RunAllTestsWithQt(argc, argv);
}
