#include <gtest/gtest.h>
#include <windows.h>
// windows.h first: commctrl.h needs its types.
#include <commctrl.h>

#include <string>

#include "app/form1.h"
#include "platform/win32/win32_platform.h"
#include "platform/win32ui/main_window.h"
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

}  // namespace
}  // namespace salvatrix::win32ui
