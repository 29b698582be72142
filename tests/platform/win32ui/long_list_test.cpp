// The native main window with a full folder (32,767 files).

#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "app/form1.h"
#include "platform/win32/win32_platform.h"
#include "platform/win32ui/main_window.h"
#include "platform/win32ui/win32ui_test_support.h"
#include "support/fakes.h"
#include "support/program_fixture.h"

namespace salvatrix::win32ui {
namespace {

using salvatrix::testing::RawDrives;

std::string EntryText(HWND list, int index) {
  std::wstring text(static_cast<std::size_t>(::SendMessageW(list, LB_GETTEXTLEN, index, 0)) + 1,
                    L'\0');
  text.resize(static_cast<std::size_t>(
      ::SendMessageW(list, LB_GETTEXT, index, reinterpret_cast<LPARAM>(text.data()))));
  return win32::Narrow(text);
}

/// Where the list box and the model differ: empty when they agree. Texts are compared when
/// with_texts is set (reading them all back is the slow part under wine).
std::string Differences(HWND list, const ListBox& model, bool with_texts) {
  const auto count = ::SendMessageW(list, LB_GETCOUNT, 0, 0);
  if (count != model.ListCount()) {
    return "the list box has " + std::to_string(count) + " entries, the model " +
           std::to_string(model.ListCount());
  }
  int differing = 0;
  std::string first;
  for (std::int16_t i = 0; i < model.ListCount(); ++i) {
    const bool selected = ::SendMessageW(list, LB_GETSEL, static_cast<WPARAM>(i), 0) > 0;
    const bool text_differs = with_texts && EntryText(list, i) != model.List(i);
    if (text_differs || selected != model.Selected(i)) {
      if (differing++ == 0) {
        first = "entry " + std::to_string(i) + " \"" + EntryText(list, i) + "\" " +
                (selected ? "selected" : "unselected");
      }
    }
  }
  return differing == 0 ? "" : std::to_string(differing) + " entries differ, first " + first;
}

/// A click as the mouse makes it on an entry, scrolled into view first.
void ScrollToAndClick(HWND list, int index) {
  ::SendMessageW(list, LB_SETTOPINDEX, static_cast<WPARAM>(index), 0);
  ClickEntry(list, index);
}

class LongListTest : public testing::ProgramFixture {
 protected:
  LongListTest() {
    drives_.SetDrives(RawDrives("CZ"));
    app_.exe_name = "salvatrix.exe";
    auto& listing = files_.folders[app_.folder];
    for (int i = 0; i < ListBox::kMaxItems; ++i) {
      listing.files.push_back(i == 7 ? app_.exe_name : "file" + std::to_string(i));
    }
  }

  HWND Child(const Control& control) const {
    return reinterpret_cast<HWND>(window_.ChildOf(control));
  }

  MainWindow window_{form_, boxes_};
};

TEST_F(LongListTest, AFullFileListShowsEveryEntryAndSelectionAsTheModelHasThem) {
  ASSERT_TRUE(window_.Dispatch([this] { form_.Form_Load(); }));
  HWND files = Child(form_.List4);
  ASSERT_EQ(form_.List4.ListCount(), ListBox::kMaxItems);
  EXPECT_FALSE(form_.List4.Selected(7));
  EXPECT_EQ(Differences(files, form_.List4, true), "");

  HWND select_all = Child(form_.Check3);
  ::SendMessageW(select_all, BM_CLICK, 0, 0);
  EXPECT_EQ(::SendMessageW(files, LB_GETSELCOUNT, 0, 0), ListBox::kMaxItems);
  EXPECT_EQ(Differences(files, form_.List4, false), "") << "after ticking Select/Deselect All";
  ::SendMessageW(select_all, BM_CLICK, 0, 0);
  EXPECT_EQ(::SendMessageW(files, LB_GETSELCOUNT, 0, 0), 0);
  EXPECT_EQ(Differences(files, form_.List4, false), "") << "after unticking Select/Deselect All";

  for (const int index : {0, 16383, ListBox::kMaxItems - 1, 16383, 16384}) {
    ScrollToAndClick(files, index);
  }
  EXPECT_EQ(CountSelected(form_.List4), 3);
  EXPECT_TRUE(form_.List4.Selected(16384));
  EXPECT_EQ(Differences(files, form_.List4, false), "") << "after single clicks";

  // The rescan refills the list with its default selection.
  ::SendMessageW(Child(form_.cmdOverride), BM_CLICK, 0, 0);
  EXPECT_EQ(CountSelected(form_.List4), ListBox::kMaxItems - 1);
  EXPECT_EQ(Differences(files, form_.List4, true), "") << "after the rescan";
}

}  // namespace
}  // namespace salvatrix::win32ui
