#include "app/dialog.h"

#include <gtest/gtest.h>

namespace salvatrix {
namespace {

TEST(DialogTest, ShowsTheTwentyOneNotesOnceAndAnewAfterClosing) {
  Dialog notes;
  int opened = 0;
  int closing = 0;
  notes.opened.Connect([&opened] { ++opened; });
  notes.closing.Connect([&closing] { ++closing; });
  notes.Close();  // never opened: nothing to close, nothing created
  EXPECT_FALSE(notes.IsOpen());
  EXPECT_EQ(closing, 0);

  for (int round = 0; round < 2; ++round) {
    SCOPED_TRACE(round);
    notes.Show();
    notes.Show();
    ASSERT_TRUE(notes.IsOpen());
    ListBox& list = notes.List1();
    ASSERT_EQ(list.ListCount(), 21);
    EXPECT_EQ(list.List(0),
              "Remove the intended storage device from the PC if it is currently attached to it.");
    EXPECT_EQ(list.List(18), "No checks are made for the availability of adequate storage space.");
    EXPECT_EQ(list.List(19), "");
    EXPECT_EQ(list.List(20), "");
    notes.Close();
  }
  EXPECT_EQ(opened, 2);
  EXPECT_EQ(closing, 2);
}

}  // namespace
}  // namespace salvatrix
