#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/form1.h"
#include "support/fakes.h"
#include "support/list_items.h"
#include "support/program_fixture.h"

namespace salvatrix {
namespace {

using testing::Items;
using testing::RawDrives;

std::vector<std::string> Roots(std::string_view letters) {
  std::vector<std::string> roots;
  for (char letter : letters) {
    roots.push_back(std::string(1, letter) + ":\\");
  }
  return roots;
}

class CompareTest : public testing::ProgramFixture {
 protected:
  void Scan(std::string_view at_start, std::string_view now) {
    drives_.SetDrives(RawDrives(at_start));
    form_.Drives().ListRuntimeDrives();
    drives_.SetDrives(RawDrives(now));
    form_.Drives().ListRescannedDrives();
  }
};

TEST_F(CompareTest, OutcomesOfTheComparison) {
  struct Case {
    const char* at_start;
    const char* now;
    const char* added;    // List3
    const char* removed;  // List5
    std::int16_t destination;
    const char* box;  // "" for none
  };
  const std::vector<Case> cases = {
      {"CDE", "CDE", "", "", -1,
       "The drive letters are the same as they were at runtime. No new drive letters."},
      {"CDE", "CD", "", "E", -1, ""},
      {"CD", "CDE", "E", "", 2, ""},
      {"CD", "CDEF", "EF", "", 2, ""},  // one device, two letters: the first is the destination
      {"CDE", "CDF", "F", "", 2, ""},   // equal counts: only the new side is listed
      {"CDE", "CF", "", "DE", -1, ""},  // fewer drives: only the removed side is listed
      {"CE", "CDE", "D", "", 1, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.at_start) + " -> " + c.now);
    testing::FakeProgram<> program;
    Form1& form = program.form;
    const auto& boxes = program.boxes;
    program.drives.SetDrives(RawDrives(c.at_start));
    form.Drives().ListRuntimeDrives();
    program.drives.SetDrives(RawDrives(c.now));
    form.Drives().ListRescannedDrives();
    form.List3.AddItem("stale");
    form.List5.AddItem("stale");

    form.Comparison().CompareDriveLetters();

    EXPECT_EQ(Items(form.List3), Roots(c.added));
    EXPECT_EQ(Items(form.List5), Roots(c.removed));
    EXPECT_EQ(form.List2.ListIndex(), c.destination);
    const bool new_drives = c.destination >= 0;
    EXPECT_EQ(form.cmdFileCopy.Enabled(), new_drives);
    EXPECT_EQ(form.Check1.Enabled(), !new_drives);
    if (new_drives) {
      EXPECT_TRUE(form.List3.Selected(0));
    }
    ASSERT_EQ(boxes.shown.size(), std::string(c.box).empty() ? 0u : 1u);  // no warning box
    if (!boxes.shown.empty()) {
      EXPECT_EQ(boxes.shown[0].text, c.box);
      EXPECT_EQ(boxes.shown[0].caption, "Salvatrix");
      EXPECT_EQ(boxes.shown[0].style, 0);
    }
  }
}

TEST_F(CompareTest, StringsDifferButNoEntryIsNewReportsError101AndKeepsTheControls) {
  Scan("CD", "CD");
  form_.Text2.SetText("CDX");  // typed by the user
  form_.Comparison().CompareDriveLetters();
  ASSERT_EQ(boxes_.shown.size(), 1u);
  EXPECT_EQ(boxes_.shown[0].text, "'CompareDriveLetters' Failure. Error #101");
  EXPECT_EQ(boxes_.shown[0].style, 0);
  EXPECT_EQ(form_.List3.ListCount(), 0);
  EXPECT_EQ(form_.List5.ListCount(), 0);
  EXPECT_FALSE(form_.cmdFileCopy.Enabled());
  EXPECT_TRUE(form_.Check1.Enabled());
  EXPECT_FALSE(form_.Comparison().Comparing());
}

TEST_F(CompareTest, AutocopyRunsBeforeTheButtonsChangeAndUnticksAfterwards) {
  app_.folder = "/src";
  files_.folders["/src"] = {{"a.txt"}, {}};
  form_.List4.AddItem("a.txt");
  form_.List4.SetSelected(0, true);
  form_.Check1.UserClick();
  Scan("CD", "CDE");
  bool copy_button_during_copy = true;
  files_.during_copy = [&](const auto&) { copy_button_during_copy = form_.cmdFileCopy.Enabled(); };
  form_.Comparison().CompareDriveLetters();
  ASSERT_FALSE(files_.calls.empty());
  EXPECT_EQ(files_.calls[0].destination, "E:\\a.txt");
  EXPECT_FALSE(copy_button_during_copy);
  EXPECT_EQ(form_.Check1.Value(), 0);
  EXPECT_FALSE(form_.Check1.Enabled());

  // A second comparison with the same drives reselects and never copies again.
  files_.calls.clear();
  form_.Comparison().CompareDriveLetters();
  EXPECT_TRUE(files_.calls.empty());
  EXPECT_EQ(form_.List2.ListIndex(), 2);
  EXPECT_TRUE(boxes_.shown.empty());
}

TEST_F(CompareTest, MembershipIsExactAndVisitsTheWholeList) {
  EXPECT_TRUE(form_.Comparison().IsNotInRuntimeList("C:\\"));  // empty list
  form_.List1.AddItem("C:\\");
  form_.List1.AddItem("C:\\");
  form_.List2.AddItem("d:\\");
  EXPECT_FALSE(form_.Comparison().IsNotInRuntimeList("C:\\"));
  EXPECT_TRUE(form_.Comparison().IsNotInRescannedList("D:\\"));
  EXPECT_FALSE(form_.Comparison().IsNotInRescannedList("d:\\"));
}

}  // namespace
}  // namespace salvatrix
