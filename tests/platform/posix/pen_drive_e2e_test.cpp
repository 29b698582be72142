// The whole program on real pen drives: exFAT images on loop devices, mounted through
// exfat-fuse the way a desktop mounts a stick, found by the drive table, filled by the copy job.
// Needs root; every mount lives in a private mount namespace that dies with the test.

#include <fcntl.h>
#include <sched.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/mount.h>
#include <sys/prctl.h>
#include <sys/statvfs.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "app/form1.h"
#include "copy/start_copying.h"
#include "platform/posix/devices/drive_table.h"
#include "platform/posix/stick_fixture.h"

namespace salvatrix::posix {
namespace {

namespace fs = std::filesystem;
using testing::kFolderMark;
using testing::LoopStick;
using testing::ReadFile;
using testing::StickFormat;
using testing::Tree;
using testing::Window;
using testing::WriteFile;

constexpr std::uintmax_t kStickSize = 16 * 1024 * 1024;
constexpr std::string_view kConfirmCaption = "Confirm Copy";
constexpr std::string_view kFinished = "FINISHED COPYING";
constexpr std::string_view kFailure = "COPYING FAILURE";
// Exit status of the isolating child when the namespaces cannot be made.
constexpr int kCannotIsolate = 77;
constexpr auto kScenarioTimeout = std::chrono::seconds(60);

std::int16_t IndexOf(const ListBox& list, std::string_view text) {
  for (std::int16_t i = 0; i < list.ListCount(); ++i) {
    if (list.List(i) == text) {
      return i;
    }
  }
  return -1;
}

std::map<std::string, bool> Items(const ListBox& list) {
  std::map<std::string, bool> items;
  for (std::int16_t i = 0; i < list.ListCount(); ++i) {
    items[list.List(i)] = list.Selected(i);
  }
  return items;
}

void SelectOnly(ListBox& list, const std::set<std::string>& names) {
  for (std::int16_t i = 0; i < list.ListCount(); ++i) {
    list.SetSelected(i, names.contains(list.List(i)));
  }
}

void ExpectConfirmedCopy(const Window& window) {
  ASSERT_EQ(window.boxes.shown.size(), 1u);
  EXPECT_EQ(window.boxes.shown[0].caption, kConfirmCaption);
  EXPECT_EQ(window.form.labelViewer.Caption(), kFinished);
}

void ExpectFailedCopy(const Window& window) {
  ASSERT_EQ(window.boxes.shown.size(), 2u);
  EXPECT_EQ(window.boxes.shown[0].caption, kConfirmCaption);
  EXPECT_EQ(window.boxes.shown[1].text, kCopyFailureText);
  EXPECT_EQ(window.form.labelViewer.Caption(), kFailure);
}

class PenDriveTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (const std::string reason = testing::StickSkipReason(StickFormat::kExfat); !reason.empty()) {
      GTEST_SKIP() << reason;
    }
    std::string base = (fs::temp_directory_path() / "salvatrix-pen-XXXXXX").string();
    ASSERT_NE(::mkdtemp(base.data()), nullptr) << std::strerror(errno);
    // The mount table shows resolved paths.
    base_ = fs::canonical(base);
    log_ = base_ / "command.log";

    source_ = base_ / "source";
    fs::create_directories(source_ / "Docs" / "Deeper");
    WriteFile(source_ / "a.txt", "alpha\n");
    WriteFile(source_ / "b.txt", "bravo\n");
    WriteFile(source_ / "salvatrix", "the program itself\n");
    WriteFile(source_ / "Docs" / "nested.txt", "nested\n");
    WriteFile(source_ / "Docs" / "Deeper" / "deep.txt", "deep\n");

    for (int i = 0; i < 2; ++i) {
      sticks_.push_back(std::make_unique<LoopStick>(base_ / ("stick" + std::to_string(i) + ".img"),
                                                    StickFormat::kExfat, log_));
      ASSERT_EQ(sticks_.back()->Make(kStickSize), "");
      devices_.emplace_back();
      if (const std::string problem = sticks_.back()->Attach(devices_.back()); !problem.empty()) {
        GTEST_SKIP() << problem;
      }
      points_.push_back(base_ / ("stick" + std::to_string(i)));
      fs::create_directory(points_.back());
      if (i == 0) {
        // A second, read-only way to stick 0's image: it shows what reached the device, past
        // every cache of the mounted filesystem.
        if (const std::string problem = sticks_.back()->Attach(reader_, true); !problem.empty()) {
          GTEST_SKIP() << problem;
        }
      }
    }
  }

  void TearDown() override {
    // Mounts and FUSE daemons died with the scenario's namespaces; a device still held open
    // is detached as soon as it is closed.
    for (const auto& stick : sticks_) {
      EXPECT_EQ(stick->DetachAll(), "");
    }
    if (!base_.empty()) {
      std::error_code ignored;
      fs::remove_all(base_, ignored);
    }
  }

  // Runs scenario in a child with its own mount and PID namespaces: no mount escapes to the
  // machine, and when the child ends, the kernel kills every FUSE daemon it started and drops
  // its mounts. gtest failures inside print from the child and fail the test here.
  void RunIsolated(const std::function<void()>& scenario) {
    std::fflush(nullptr);
    const pid_t outer = ::fork();
    ASSERT_GE(outer, 0) << std::strerror(errno);
    if (outer == 0) {
      if (::unshare(CLONE_NEWNS | CLONE_NEWPID) != 0 ||
          ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) {
        std::fprintf(stderr, "cannot make private namespaces: %s\n", std::strerror(errno));
        ::_exit(kCannotIsolate);
      }
      const pid_t inner = ::fork();
      if (inner == 0) {
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        try {
          scenario();
        } catch (const std::exception& error) {
          ADD_FAILURE() << "uncaught: " << error.what();
        }
        std::fflush(nullptr);
        ::_exit(::testing::Test::HasFailure() ? 1 : 0);
      }
      int status = 0;
      while (inner > 0 && ::waitpid(inner, &status, 0) < 0 && errno == EINTR) {
      }
      ::_exit(inner > 0 && WIFEXITED(status) ? WEXITSTATUS(status) : 2);
    }

    int status = 0;
    const auto deadline = std::chrono::steady_clock::now() + kScenarioTimeout;
    while (::waitpid(outer, &status, WNOHANG) == 0) {
      if (std::chrono::steady_clock::now() > deadline) {
        ::kill(outer, SIGKILL);  // the scenario follows through its death signal
        ::waitpid(outer, &status, 0);
        FAIL() << "the scenario did not end within " << kScenarioTimeout.count() << " s";
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    ASSERT_TRUE(WIFEXITED(status)) << "the scenario died, signal " << WTERMSIG(status);
    const int exit_status = WEXITSTATUS(status);
    if (exit_status == kCannotIsolate) {
      GTEST_SKIP() << "cannot make a private mount namespace";
    }
    EXPECT_EQ(exit_status, 0) << "the scenario failed; its failures are printed above";
  }

  // In the scenario: plugs stick i in, as a desktop does.
  void Plug(int i) { ASSERT_EQ(sticks_[i]->Mount(devices_[i], points_[i]), ""); }

  void Unplug(int i) { ASSERT_EQ(::umount(points_[i].c_str()), 0) << std::strerror(errno); }

  // In the scenario: what stick 0's device holds, while the stick stays mounted.
  void ReadDevice(std::map<std::string, std::string>& tree) {
    const fs::path point = base_ / "device";
    ASSERT_EQ(sticks_[0]->Mount(reader_, point, "ro"), "");
    tree = Tree(point);
    ASSERT_EQ(::umount(point.c_str()), 0) << std::strerror(errno);
  }

  // After a rescan: exactly one letter more than at start, standing for stick i, preselected
  // as the destination. Returns its root ("E:\"), the empty text when it is not so.
  std::string ExpectNewStick(const Window& window, const std::string& runtime, int i) {
    const std::string rescanned = window.form.Text2.Text();
    std::string kept;
    std::string added;
    for (char letter : rescanned) {
      (runtime.find(letter) == std::string::npos ? added : kept) += letter;
    }
    EXPECT_EQ(kept, runtime);
    if (added.size() != 1) {
      ADD_FAILURE() << "at start " << runtime << ", after the rescan " << rescanned;
      return {};
    }
    const std::string root = added + ":\\";
    EXPECT_EQ(window.form.List3.ListCount(), 1);
    EXPECT_EQ(window.form.List3.List(0), root);
    EXPECT_EQ(window.form.List2.Text(), root);
    EXPECT_TRUE(window.form.cmdFileCopy.Enabled());
    const auto& drives = window.drives.Drives();
    const auto drive = std::find_if(drives.begin(), drives.end(),
                                    [&](const Drive& d) { return d.letter == added[0]; });
    if (drive == drives.end()) {
      ADD_FAILURE() << "no drive " << root << " in the table";
      return {};
    }
    EXPECT_EQ(drive->mount_point, points_[i].string());
    EXPECT_EQ(drive->fs_type, "fuseblk");
    EXPECT_EQ(drive->source, devices_[i]);
    return root;
  }

  // Loads the window, plugs stick 0 and rescans by hand: the stick is the one new drive.
  void LoadThenPlugAndRescan(Window& window) {
    window.form.Form_Load();
    const std::string runtime = window.form.Text3.Text();
    ASSERT_NO_FATAL_FAILURE(Plug(0));
    window.form.cmdOverride.Press();
    ASSERT_FALSE(ExpectNewStick(window, runtime, 0).empty());
  }

  fs::path base_;
  fs::path log_;
  fs::path source_;
  std::vector<std::unique_ptr<LoopStick>> sticks_;
  std::vector<std::string> devices_;  // the sticks' loop devices
  std::vector<fs::path> points_;
  std::string reader_;
};

TEST_F(PenDriveTest, CopiesTheSelectionOntoTheNewStickAndStopsAtANameExfatRejects) {
  const std::string backslash = "back\\slash.txt";
  WriteFile(source_ / backslash, "one name\n");
  RunIsolated([&] {
    Window window(source_);
    Form1& form = window.form;
    form.Form_Load();
    const std::string runtime = form.Text3.Text();

    ASSERT_NO_FATAL_FAILURE(Plug(0));
    form.cmdOverride.Press();
    EXPECT_TRUE(window.boxes.shown.empty());
    const std::string root = ExpectNewStick(window, runtime, 0);
    ASSERT_FALSE(root.empty());
    EXPECT_EQ(Items(form.List4),
              (std::map<std::string, bool>{
                  {"a.txt", true}, {"b.txt", true}, {backslash, true}, {"salvatrix", false}}));

    // exFAT refuses backslashes in names; that file gets a run of its own below.
    form.List4.SetSelected(IndexOf(form.List4, backslash), false);
    form.List6.UserClick(IndexOf(form.List6, "Docs"));
    window.Copy();
    ASSERT_NO_FATAL_FAILURE(ExpectConfirmedCopy(window));
    std::map<std::string, std::string> expected = {{"a.txt", "alpha\n"},
                                                   {"b.txt", "bravo\n"},
                                                   {"Docs", std::string(kFolderMark)},
                                                   {"Docs/nested.txt", "nested\n"},
                                                   {"Docs/Deeper", std::string(kFolderMark)},
                                                   {"Docs/Deeper/deep.txt", "deep\n"}};
    EXPECT_EQ(Tree(points_[0]), expected);
    std::map<std::string, std::string> device;
    ASSERT_NO_FATAL_FAILURE(ReadDevice(device));
    EXPECT_EQ(device, expected) << "not on the device when the job said it had finished";

    // A name the stick rejects, among files that changed since: the job stops there, files
    // before it are replaced, files after it keep what they had, no temporary stays behind.
    WriteFile(source_ / "a:b.txt", "colon\n");
    WriteFile(source_ / "a.txt", "alpha 2\n");
    WriteFile(source_ / "b.txt", "bravo 2\n");
    form.cmdOverride.Press();  // the way to see new source files
    SelectOnly(form.List4, {"a.txt", "a:b.txt", "b.txt"});
    SelectOnly(form.List6, {});
    window.Copy();
    ASSERT_NO_FATAL_FAILURE(ExpectFailedCopy(window));
    bool past_failure = false;
    for (std::int16_t i = 0; i < form.List4.ListCount(); ++i) {
      const std::string name = form.List4.List(i);
      if (name == "a:b.txt") {
        past_failure = true;
      } else if (name == "a.txt" || name == "b.txt") {
        if (!past_failure) {
          expected[name] = ReadFile(source_ / name);
        }
      }
    }
    EXPECT_EQ(Tree(points_[0]), expected);

    // The backslash stays part of the one name: no folder "back" with "slash.txt" in it.
    SelectOnly(form.List4, {backslash});
    window.Copy();
    ASSERT_NO_FATAL_FAILURE(ExpectFailedCopy(window));
    EXPECT_EQ(Tree(points_[0]), expected);

    // After a clean unplug the stick holds just that: nothing half-copied from the failed runs.
    ASSERT_NO_FATAL_FAILURE(Unplug(0));
    ASSERT_NO_FATAL_FAILURE(Plug(0));
    EXPECT_EQ(Tree(points_[0]), expected);
    ASSERT_NO_FATAL_FAILURE(Unplug(0));
  });
}

TEST_F(PenDriveTest, AutocopyGoesOntoTheStickPluggedInAfterStartWithoutAsking) {
  RunIsolated([&] {
    // A stick that was in at start is no destination.
    ASSERT_NO_FATAL_FAILURE(Plug(1));
    Window window(source_);
    Form1& form = window.form;
    form.Form_Load();
    const std::string runtime = form.Text3.Text();
    form.Check1.UserClick();
    ASSERT_EQ(form.Check1.Value(), 1);

    ASSERT_NO_FATAL_FAILURE(Plug(0));
    form.cmdOverride.Press();
    EXPECT_FALSE(ExpectNewStick(window, runtime, 0).empty());
    EXPECT_TRUE(window.boxes.shown.empty()) << window.boxes.shown.front().text;
    EXPECT_TRUE(window.Showed(kFinished));
    EXPECT_FALSE(window.Showed(kFailure));
    EXPECT_EQ(form.Check1.Value(), 0);
    EXPECT_FALSE(form.Check1.Enabled());
    // The files as selected at start: all but the program; no folder was selected.
    const std::map<std::string, std::string> expected = {{"a.txt", "alpha\n"},
                                                         {"b.txt", "bravo\n"}};
    EXPECT_EQ(Tree(points_[0]), expected);
    // Nobody confirms an autocopy; the stick may be pulled as soon as it says finished.
    std::map<std::string, std::string> device;
    ASSERT_NO_FATAL_FAILURE(ReadDevice(device));
    EXPECT_EQ(device, expected);
    EXPECT_TRUE(Tree(points_[1]).empty());
    ASSERT_NO_FATAL_FAILURE(Unplug(0));
    ASSERT_NO_FATAL_FAILURE(Unplug(1));
  });
}

TEST_F(PenDriveTest, AStickPulledAfterTheRescanGetsNothingAndItsMountPointStaysBare) {
  RunIsolated([&] {
    Window window(source_);
    Form1& form = window.form;
    ASSERT_NO_FATAL_FAILURE(LoadThenPlugAndRescan(window));
    form.List6.UserClick(IndexOf(form.List6, "Docs"));

    ASSERT_NO_FATAL_FAILURE(Unplug(0));
    window.Copy();
    ASSERT_NO_FATAL_FAILURE(ExpectFailedCopy(window));
    EXPECT_TRUE(Tree(points_[0]).empty());
  });
}

TEST_F(PenDriveTest, AFullStickFailsTheCopyAndKeepsTheFileItWouldHaveReplaced) {
  RunIsolated([&] {
    Window window(source_);
    Form1& form = window.form;
    ASSERT_NO_FATAL_FAILURE(LoadThenPlugAndRescan(window));

    // The stick already holds an a.txt and is nearly full; the new a.txt does not fit.
    WriteFile(points_[0] / "a.txt", "the old a\n");
    struct statvfs space {};
    ASSERT_EQ(::statvfs(points_[0].c_str(), &space), 0);
    const std::uintmax_t left = 256 * 1024;
    const std::uintmax_t free_bytes = std::uintmax_t{space.f_bavail} * space.f_frsize;
    ASSERT_GT(free_bytes, left);
    {
      std::ofstream filler(points_[0] / "filler.bin", std::ios::binary);
      const std::string block(64 * 1024, 'f');
      for (std::uintmax_t written = 0; written + block.size() <= free_bytes - left;
           written += block.size()) {
        filler << block;
      }
      ASSERT_TRUE(filler.flush()) << "filling the stick failed";
    }
    WriteFile(source_ / "a.txt", std::string(1024 * 1024, 'A'));

    SelectOnly(form.List4, {"a.txt"});
    window.Copy();
    ASSERT_NO_FATAL_FAILURE(ExpectFailedCopy(window));
    const auto tree = Tree(points_[0]);
    EXPECT_EQ(tree.size(), 2u);  // no temporary left
    EXPECT_EQ(tree.count("filler.bin"), 1u);
    EXPECT_EQ(ReadFile(points_[0] / "a.txt"), "the old a\n");
    ASSERT_NO_FATAL_FAILURE(Unplug(0));
  });
}

}  // namespace
}  // namespace salvatrix::posix
