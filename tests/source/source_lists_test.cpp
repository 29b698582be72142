#include "source/source_lists.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "controls/controls.h"
#include "controls/list_selection.h"
#include "support/fakes.h"

namespace salvatrix {
namespace {

using testing::FakeAppInfo;
using testing::FakeFileSystem;
using testing::ScriptedMessageBoxes;

class SourceListsTest : public ::testing::Test {
 protected:
  FakeFileSystem files_;
  FakeAppInfo app_;
  ScriptedMessageBoxes boxes_;
  SourceLists sources_{files_, app_, boxes_};
  ListBox list_{"List4", {}, 13, SelectionMode::kMultiple};
};

TEST_F(SourceListsTest, EveryFileButTheProgramIsSelectedAndCaseCounts) {
  app_.exe_name = "salvatrix";
  files_.folders["/s"] = {{"b.doc", "salvatrix", "Salvatrix", "a.txt"}, {}};
  sources_.PopulateFilesList(list_, "/s");
  ASSERT_EQ(list_.ListCount(), 4);
  EXPECT_EQ(list_.List(0), "b.doc");  // listing order, not sorted
  EXPECT_FALSE(list_.Selected(1));
  EXPECT_TRUE(list_.Selected(2));
  EXPECT_EQ(CountSelected(list_), 3);
}

TEST_F(SourceListsTest, OnlyTheProgramOrAnEmptyFolderSelectsNothing) {
  files_.folders["/only"] = {{"salvatrix"}, {}};
  files_.folders["/empty"] = {};
  sources_.PopulateFilesList(list_, "/only");
  EXPECT_EQ(list_.ListCount(), 1);
  EXPECT_EQ(CountSelected(list_), 0);
  sources_.PopulateFilesList(list_, "/empty");
  EXPECT_EQ(list_.ListCount(), 0);
  SetAllSelected(list_, true);  // nothing to do, and no failure
  EXPECT_EQ(CountSelected(list_), 0);
}

TEST_F(SourceListsTest, AFolderThatCannotBeOpenedLeavesTheListAsItWas) {
  files_.folders["/s"] = {{"x"}, {"Sub"}};
  sources_.PopulateSubFoldersList("/s", list_);
  EXPECT_EQ(list_.List(0), "Sub");
  EXPECT_EQ(CountSelected(list_), 0);
  EXPECT_THROW(sources_.PopulateSubFoldersList("/gone", list_), std::exception);
  EXPECT_EQ(list_.ListCount(), 1);
}

TEST_F(SourceListsTest, MoreFilesThanAListHoldsAreCutAndReported) {
  auto& listing = files_.folders["/big"];
  for (int i = 0; i < ListBox::kMaxItems + 5; ++i) {
    listing.files.push_back("f" + std::to_string(i));
  }
  sources_.PopulateFilesList(list_, "/big");
  EXPECT_EQ(list_.ListCount(), ListBox::kMaxItems);
  EXPECT_EQ(CountSelected(list_), ListBox::kMaxItems);
  ASSERT_EQ(boxes_.shown.size(), 1u);
  EXPECT_NE(boxes_.shown[0].text.find("32767"), std::string::npos);
  EXPECT_NE(boxes_.shown[0].text.find("/big"), std::string::npos);
}

TEST_F(SourceListsTest, ViewsSeeEachWholeListOperationAsOneChange) {
  using Kind = ListBox::Change::Kind;
  app_.exe_name = "salvatrix";
  auto& listing = files_.folders["/big"];
  for (int i = 0; i < ListBox::kMaxItems + 1; ++i) {
    listing.files.push_back(i == 7 ? "salvatrix" : "f" + std::to_string(i));
  }
  listing.folders = {"a", "b"};
  // What a view would show, kept only from the changes it is sent.
  std::vector<ListBox::Change> sent;
  int shown_selected = -1;
  list_.items_changed.Connect([&](ListBox::Change change) {
    sent.push_back(change);
    if (change.kind != Kind::kCleared) {
      shown_selected = CountSelected(list_);
    }
  });
  int shown_when_boxed = -1;
  boxes_.on_show = [&](const ScriptedMessageBoxes::Box&) { shown_when_boxed = shown_selected; };

  sources_.PopulateFilesList(list_, "/big");
  EXPECT_EQ(sent, (std::vector<ListBox::Change>{{Kind::kCleared, -1, 0},
                                                {Kind::kAdded, 0, ListBox::kMaxItems}}));
  EXPECT_FALSE(list_.Selected(7));
  // The box about the cut list opens over a list that already shows the default selection.
  EXPECT_EQ(shown_when_boxed, ListBox::kMaxItems - 1);

  sent.clear();
  SetAllSelected(list_, false);
  SetAllSelected(list_, true);
  EXPECT_EQ(sent, (std::vector<ListBox::Change>{{Kind::kSelection, 0, ListBox::kMaxItems},
                                                {Kind::kSelection, 0, ListBox::kMaxItems}}));
  EXPECT_EQ(shown_selected, ListBox::kMaxItems);

  sent.clear();
  sources_.PopulateSubFoldersList("/big", list_);
  EXPECT_EQ(sent, (std::vector<ListBox::Change>{{Kind::kCleared, -1, 0}, {Kind::kAdded, 0, 2}}));
}

}  // namespace
}  // namespace salvatrix
