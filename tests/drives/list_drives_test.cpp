#include "drives/list_drives.h"

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

TEST(DriveWalkTest, BuildsLettersFromRawLists) {
  struct Case {
    std::string raw;
    std::string letters;
  };
  const std::vector<Case> cases = {
      {RawDrives("ACD"), "ACD"},
      {std::string("c:\\\0e:\\\0\0", 9), "CE"},    // upper-cased
      {std::string(9, '\0'), ""},                  // only NULs
      {"", ""},                                    // nothing at all
      {std::string("C:\\\0D:", 6), "CD"},          // cut short: the last entry is shorter
      {std::string("C:\\\0\0D:\\\0\0", 10), "C"},  // the walk stops at the first NUL entry
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.letters);
    EXPECT_EQ(BuildDriveLetterString(c.raw), c.letters);
  }
}

class ListDrivesTest : public testing::ProgramFixture {
 protected:
};

TEST_F(ListDrivesTest, GetDriveStringsAsksForTheSizeThenReturnsTheWholeBuffer) {
  drives_.SetDrives(RawDrives("ACD"));
  const std::string raw = form_.Drives().GetDriveStrings();
  EXPECT_EQ(raw.size(), 13u);
  EXPECT_EQ(raw, RawDrives("ACD"));
  EXPECT_EQ(drives_.lengths, (std::vector<std::uint32_t>{0, 13}));
}

TEST_F(ListDrivesTest, DriveSetGrowingBetweenTheTwoCallsIsNotRetried) {
  drives_.Queue({RawDrives("C"), false});   // size query: 5
  drives_.Queue({RawDrives("CE"), false});  // too large for 5: buffer left alone
  const std::string raw = form_.Drives().GetDriveStrings();
  EXPECT_EQ(raw, std::string(5, '\0'));
  EXPECT_EQ(drives_.calls, 2);
}

TEST_F(ListDrivesTest, RuntimeListAndStringFromTwoEnumerations) {
  drives_.SetDrives(RawDrives("ACD"));
  form_.Drives().ListRuntimeDrives();
  EXPECT_EQ(form_.Text3.Text(), "ACD");
  EXPECT_EQ(Items(form_.List1), (std::vector<std::string>{"A:\\", "C:\\", "D:\\"}));
  EXPECT_EQ(form_.List1.ListIndex(), -1);
  EXPECT_EQ(drives_.calls, 4);
}

TEST_F(ListDrivesTest, FailureShowsTheNoDrivesTextInBothPlaces) {
  drives_.Queue({"", true});
  drives_.Queue({"", true});
  drives_.Queue({"", true});
  drives_.Queue({"", true});
  form_.List2.AddItem("Z:\\");
  form_.Drives().ListRescannedDrives();
  EXPECT_EQ(form_.Text2.Text(), "No Drives were found");
  EXPECT_EQ(Items(form_.List2), (std::vector<std::string>{"No Drives were found"}));
}

TEST_F(ListDrivesTest, NulOnlyListGivesEmptyStringAndEmptyList) {
  drives_.SetDrives(std::string(5, '\0'));
  form_.Drives().ListRescannedDrives();
  EXPECT_EQ(form_.Text2.Text(), "");
  EXPECT_EQ(form_.List2.ListCount(), 0);
}

TEST_F(ListDrivesTest, TwoRescansListEachDriveOnce) {
  drives_.SetDrives(RawDrives("CDE"));
  form_.Drives().ListRescannedDrives();
  form_.List2.SetSelected(1, true);
  form_.Drives().ListRescannedDrives();
  EXPECT_EQ(Items(form_.List2), (std::vector<std::string>{"C:\\", "D:\\", "E:\\"}));
  EXPECT_EQ(form_.List2.ListIndex(), -1);
  EXPECT_EQ(form_.Text2.Text(), "CDE");
}

TEST_F(ListDrivesTest, TextBoxAndListComeFromSeparateEnumerationsAndMayDisagree) {
  drives_.Queue({RawDrives("CD"), false});   // text box: size
  drives_.Queue({RawDrives("CD"), false});   // text box: fill
  drives_.Queue({RawDrives("CDE"), false});  // list: size
  drives_.Queue({RawDrives("CDE"), false});  // list: fill
  form_.Drives().ListRescannedDrives();
  EXPECT_EQ(form_.Text2.Text(), "CD");
  EXPECT_EQ(Items(form_.List2), (std::vector<std::string>{"C:\\", "D:\\", "E:\\"}));
}

}  // namespace
}  // namespace salvatrix
