// A copy of twenty seconds in the real window, with the real message hook: another thread plays
// the system, asking IsHungAppWindow and sending WM_NULL as Windows' hang detection does, posting
// a click and sending a device arrival. The copy blocks until that thread has done its part.

#include <windows.h>
// After windows.h, which it needs.
#include <dbt.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <future>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "app/form1.h"
#include "platform/win32/win32_platform.h"
#include "platform/win32ui/main_window.h"
#include "platform/win32ui/win32ui_test_support.h"
#include "platform/win32ui/window_upkeep_win32.h"
#include "support/fakes.h"

namespace salvatrix::win32ui {
namespace {

using Clock = std::chrono::steady_clock;
using salvatrix::testing::FakeFileSystem;

class CopyLivenessTest : public ::testing::Test {
 protected:
  CopyLivenessTest() {
    drives_.SetDrives(salvatrix::testing::RawDrives("CZ"));
    files_.folders[app_.folder] = {{"big.bin"}, {}};
    form_.Copy().KeepWindowAnswered(&upkeep_);
    hooks_.SetMainWindow(window_.Handle());
  }

  /// Drains the thread's queue as the message loop does.
  void Pump() {
    MSG message{};
    while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE) != FALSE) {
      ::TranslateMessage(&message);
      ::DispatchMessageW(&message);
      window_.ReportPendingFailure();
    }
  }

  long Copies() const {
    return std::count_if(files_.calls.begin(), files_.calls.end(),
                         [](const FakeFileSystem::Call& call) { return call.op == "CopyFile"; });
  }

  salvatrix::testing::FakeDriveStrings drives_;
  salvatrix::testing::ScriptedMessageBoxes boxes_;
  salvatrix::testing::FakeAppInfo app_;
  FakeFileSystem files_;
  salvatrix::testing::FakeWindowSystem notifications_;
  win32::Win32WindowHooks hooks_;
  Win32WindowUpkeep upkeep_;
  Form1 form_{FormServices{drives_, boxes_, app_, files_, notifications_, hooks_}};
  MainWindow window_{form_, boxes_};
};

TEST_F(CopyLivenessTest, TheWindowIsNeverHungAndTakesNoClickWhileItCopies) {
  ASSERT_TRUE(window_.Dispatch([this] { form_.Form_Load(); }));
  Pump();
  form_.List3.AddItem("Z:\\");
  form_.List2.AddItem("Z:\\");
  form_.List2.SetSelected(0, true);
  form_.cmdFileCopy.SetEnabled(true);
  std::vector<bool> ticks_copying;
  form_.Timer1.tick.Connect(
      [this, &ticks_copying] { ticks_copying.push_back(form_.Copy().Copying()); });
  HWND main = H(window_.Handle());
  HWND button = H(window_.ChildOf(form_.cmdFileCopy));

  std::promise<void> copying;
  std::promise<void> released;
  std::shared_future<void> release = released.get_future().share();
  bool first = true;
  files_.during_copy = [&](const FakeFileSystem::Call& call) {
    if (call.op == "CopyFile" && std::exchange(first, false)) {
      copying.set_value();
      release.wait();
    }
  };
  int looks = 0;
  int hung = 0;
  int unanswered = 0;
  double slowest_ms = 0;
  bool arrival_sent = false;
  std::string log_after_arrival = "not sent";
  std::thread system([&] {
    copying.get_future().wait();
    const Clock::time_point start = Clock::now();
    bool clicked = false;
    while (Clock::now() - start < std::chrono::seconds(20)) {
      ++looks;
      hung += ::IsHungAppWindow(main) != FALSE ? 1 : 0;
      DWORD_PTR result = 0;
      const Clock::time_point sent = Clock::now();
      if (::SendMessageTimeoutW(main, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, 2000, &result) == 0) {
        ++unanswered;
      }
      slowest_ms = std::max(slowest_ms,
                            std::chrono::duration<double, std::milli>(Clock::now() - sent).count());
      if (!clicked && Clock::now() - start > std::chrono::seconds(1)) {
        ::PostMessageW(button, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(5, 5));
        ::PostMessageW(button, WM_LBUTTONUP, 0, MAKELPARAM(5, 5));
        clicked = true;
      } else if (clicked && log_after_arrival == "not sent") {
        DEV_BROADCAST_VOLUME volume{};
        volume.dbcv_size = sizeof volume;
        volume.dbcv_devicetype = DBT_DEVTYP_VOLUME;
        volume.dbcv_unitmask = 1u << 25;
        arrival_sent = ::SendMessageTimeoutW(main, WM_DEVICECHANGE, DBT_DEVICEARRIVAL,
                                             reinterpret_cast<LPARAM>(&volume), SMTO_NORMAL, 2000,
                                             &result) != 0;
        log_after_arrival = form_.Text1.Text();
      }
      ::Sleep(200);  // the system's pace
    }
    released.set_value();
  });
  ::PostMessageW(button, BM_CLICK, 0, 0);
  Pump();  // the click starts the job, which ends in here; then the queue drains
  system.join();
  Pump();

  std::printf("%d looks at the window in 20 s, WM_NULL answered within %.1f ms at most\n", looks,
              slowest_ms);
  EXPECT_GE(looks, 40);
  EXPECT_EQ(hung, 0);
  EXPECT_EQ(unanswered, 0);
  EXPECT_LT(slowest_ms, 500);
  // The arrival was taken while copying and logged once the copy was over.
  EXPECT_TRUE(arrival_sent);
  EXPECT_EQ(log_after_arrival, "");
  EXPECT_NE(form_.Text1.Text().find("DBT_DEVTYP_VOLUME"), std::string::npos);
  // The posted click was thrown away; the clock's ticks came after the job.
  EXPECT_EQ(Copies(), 1);
  EXPECT_EQ(form_.labelViewer.Caption(), "FINISHED COPYING");
  EXPECT_EQ(boxes_.shown.at(0).caption, "Confirm Copy");
  ASSERT_FALSE(ticks_copying.empty());
  EXPECT_EQ(std::count(ticks_copying.begin(), ticks_copying.end(), true), 0);

  // The same click on an idle window starts the next copy (onto the drive again: the tick's
  // rescan refilled the destination list).
  form_.List2.SetSelected(static_cast<std::int16_t>(form_.List2.ListCount() - 1), true);
  ::PostMessageW(button, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(5, 5));
  ::PostMessageW(button, WM_LBUTTONUP, 0, MAKELPARAM(5, 5));
  Pump();
  EXPECT_EQ(Copies(), 2);
}

}  // namespace
}  // namespace salvatrix::win32ui
