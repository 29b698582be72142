#include <gtest/gtest.h>
#include <windows.h>
// windows.h first: commctrl.h needs its types.
#include <commctrl.h>
// windows.h turns the name into GetLogicalDriveStringsA or W: the interface means the method.
#undef GetLogicalDriveStrings

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "app/form1.h"
#include "platform/win32/win32_platform.h"
#include "platform/win32ui/drive_descriptions.h"
#include "platform/win32ui/main_window.h"
#include "platform/win32ui/view_metrics.h"
#include "platform/win32ui/win32ui_test_support.h"
#include "support/described_drives.h"
#include "support/program_fixture.h"

namespace salvatrix::win32ui {
namespace {

using salvatrix::testing::DescribedDrives;
using salvatrix::testing::RawDrives;

HWND TooltipOwnedBy(HWND owner) {
  struct Search {
    HWND owner;
    HWND found = nullptr;
  } search{owner};
  ::EnumThreadWindows(
      ::GetCurrentThreadId(),
      [](HWND window, LPARAM data) -> BOOL {
        auto* wanted = reinterpret_cast<Search*>(data);
        wchar_t name[64] = {};
        ::GetClassNameW(window, name, 64);
        if (std::wstring(name) == TOOLTIPS_CLASSW &&
            ::GetWindow(window, GW_OWNER) == wanted->owner) {
          wanted->found = window;
          return FALSE;
        }
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&search));
  return search.found;
}

class DriveTipsTest : public salvatrix::testing::ProgramFixtureWith<DescribedDrives> {
 protected:
  DriveTipsTest() {
    drives_.script.SetDrives(RawDrives("CD"));
    drives_.descriptions["D:\\"] = "removable drive (FAT32), label STICK";
    app_.exe_name = "salvatrix.exe";
    files_.folders[app_.folder] = {{"a.txt", "salvatrix.exe"}, {}};
  }

  /// The text the main window gives the tooltip with the mouse over the middle of an entry.
  std::string TipOver(HWND tooltip, const ListBox& list, int row) {
    HWND shown = reinterpret_cast<HWND>(window_.ChildOf(list));
    RECT item{};
    ::SendMessageW(shown, LB_GETITEMRECT, static_cast<WPARAM>(row),
                   reinterpret_cast<LPARAM>(&item));
    POINT middle{(item.left + item.right) / 2, (item.top + item.bottom) / 2};
    ::ClientToScreen(shown, &middle);
    ::SetCursorPos(middle.x, middle.y);
    NMTTDISPINFOW request{};
    request.hdr.hwndFrom = tooltip;
    request.hdr.idFrom = reinterpret_cast<UINT_PTR>(shown);
    request.hdr.code = TTN_GETDISPINFOW;
    ::SendMessageW(reinterpret_cast<HWND>(window_.Handle()), WM_NOTIFY, 0,
                   reinterpret_cast<LPARAM>(&request));
    return request.lpszText != nullptr ? win32::Narrow(request.lpszText) : "(none)";
  }

  MainWindow window_{form_, boxes_};
};

TEST_F(DriveTipsTest, TheDriveListsExplainTheEntryUnderTheMouse) {
  ASSERT_TRUE(window_.Dispatch([this] { form_.Form_Load(); }))
      << (boxes_.shown.empty() ? "" : boxes_.shown.back().text);
  HWND tooltip = TooltipOwnedBy(reinterpret_cast<HWND>(window_.Handle()));
  ASSERT_NE(tooltip, nullptr);
  // List1, List2, List3 and List5: the lists of drive roots.
  EXPECT_EQ(::SendMessageW(tooltip, TTM_GETTOOLCOUNT, 0, 0), 4);

  ASSERT_EQ(form_.List1.ListCount(), 2);
  ASSERT_EQ(form_.List1.List(1), "D:\\");
  EXPECT_EQ(TipOver(tooltip, form_.List1, 1), "removable drive (FAT32), label STICK");
  EXPECT_EQ(TipOver(tooltip, form_.List1, 0), "");
}

/// Drives whose description takes until the test lets it go (or 10 seconds), on whichever
/// thread asks, and says which thread that was.
class SlowDrives final : public DriveStrings {
 public:
  std::uint32_t GetLogicalDriveStrings(std::uint32_t length, char* buffer) override {
    return script.GetLogicalDriveStrings(length, buffer);
  }
  std::string DescribeDrive(std::string_view root) const override {
    std::unique_lock lock(mutex_);
    askers_.push_back(::GetCurrentThreadId());
    released_.wait_for(lock, std::chrono::seconds(10), [this] { return free_; });
    return root == "D:\\" ? "network drive (NTFS), label SLOW" : "";
  }
  void Release() {
    const std::lock_guard lock(mutex_);
    free_ = true;
    released_.notify_all();
  }
  std::vector<DWORD> Askers() const {
    const std::lock_guard lock(mutex_);
    return askers_;
  }

  salvatrix::testing::FakeDriveStrings script;

 private:
  mutable std::mutex mutex_;
  mutable std::condition_variable released_;
  mutable std::vector<DWORD> askers_;
  bool free_ = false;
};

/// The wiring the program has: descriptions made off the window's thread, here slow ones.
class SlowlyDescribedDrives final : public DriveStrings {
 public:
  std::uint32_t GetLogicalDriveStrings(std::uint32_t length, char* buffer) override {
    return descriptions.GetLogicalDriveStrings(length, buffer);
  }
  std::string DescribeDrive(std::string_view root) const override {
    return descriptions.DescribeDrive(root);
  }

  std::shared_ptr<SlowDrives> slow = std::make_shared<SlowDrives>();
  DriveDescriptions descriptions{slow};
};

class SlowDriveTipsTest : public salvatrix::testing::ProgramFixtureWith<SlowlyDescribedDrives> {
 protected:
  SlowDriveTipsTest() {
    drives_.slow->script.SetDrives(RawDrives("CD"));
    files_.folders[app_.folder] = {{"a.txt"}, {}};
  }
  ~SlowDriveTipsTest() override { drives_.slow->Release(); }

  /// Runs the window's messages until done says so, for at most limit.
  template <typename Done>
  bool PumpUntil(std::chrono::milliseconds limit, Done done) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!done()) {
      if (std::chrono::steady_clock::now() > end) {
        return false;
      }
      MSG message{};
      while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE) != FALSE) {
        ::TranslateMessage(&message);
        ::DispatchMessageW(&message);
      }
      window_.ReportPendingFailure();
      ::MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT);
    }
    return true;
  }

  MainWindow window_{form_, boxes_};
};

TEST_F(SlowDriveTipsTest, ASlowDriveHoldsNoWindowAndItsTipAppearsWhenItsTextComes) {
  ASSERT_TRUE(window_.Dispatch([this] { form_.Form_Load(); }));
  drives_.descriptions.NotifyWhenReady(window_.Handle());
  HWND main = H(window_.Handle());
  // List1 (disabled, as the form has it) on the screen whatever its size.
  ::SetWindowPos(main, HWND_TOP, -TwipsToPixels(9000, WindowDpi(window_.Handle()).x), 0, 0, 0,
                 SWP_NOSIZE);
  window_.Show(SW_SHOWNORMAL);
  HWND tooltip = TooltipOwnedBy(main);
  ASSERT_NE(tooltip, nullptr);
  HWND list = H(window_.ChildOf(form_.List1));
  ASSERT_EQ(form_.List1.List(1), "D:\\");
  RECT item{};
  ::SendMessageW(list, LB_GETITEMRECT, 1, reinterpret_cast<LPARAM>(&item));
  POINT middle{(item.left + item.right) / 2, (item.top + item.bottom) / 2};
  ::ClientToScreen(list, &middle);
  ::SetCursorPos(middle.x, middle.y);

  // The mouse rests on D:; the tooltip asks, and the window goes on while the drive is slow.
  ASSERT_TRUE(PumpUntil(std::chrono::seconds(5), [this] {
    return !drives_.slow->Askers().empty();
  })) << "the tooltip never asked for D:'s text";
  EXPECT_NE(drives_.slow->Askers().front(), ::GetCurrentThreadId());
  EXPECT_FALSE(::IsWindowVisible(tooltip));
  // Its text comes, and the tip shows it without another move of the mouse.
  drives_.slow->Release();
  EXPECT_TRUE(PumpUntil(std::chrono::seconds(5), [tooltip] {
    return ::IsWindowVisible(tooltip) != FALSE;
  })) << "no tip appeared";
  NMTTDISPINFOW request{};
  request.hdr.hwndFrom = tooltip;
  request.hdr.idFrom = reinterpret_cast<UINT_PTR>(list);
  request.hdr.code = TTN_GETDISPINFOW;
  ::SendMessageW(main, WM_NOTIFY, 0, reinterpret_cast<LPARAM>(&request));
  ASSERT_NE(request.lpszText, nullptr);
  EXPECT_EQ(win32::Narrow(request.lpszText), "network drive (NTFS), label SLOW");
  EXPECT_EQ(drives_.slow->Askers().size(), 1U);
}

}  // namespace
}  // namespace salvatrix::win32ui
