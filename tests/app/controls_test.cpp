#include "app/controls.h"

#include <gtest/gtest.h>

#include <vector>

namespace salvatrix {
namespace {

ListBox MakeList(SelectionMode mode) {
  return ListBox("ListX", {0, 0, 100, 100}, 0, mode);
}

TEST(ListBoxTest, ReadsPastTheEndGiveTheEmptyTextAndSelectingOutsideFails) {
  ListBox list = MakeList(SelectionMode::kSingle);
  list.AddItem("C:\\");
  list.AddItem("D:\\");
  EXPECT_EQ(list.ListCount(), 2);
  EXPECT_EQ(list.List(1), "D:\\");
  EXPECT_EQ(list.List(2), "");
  EXPECT_EQ(list.List(-1), "");
  for (std::int16_t bad : {std::int16_t{-1}, std::int16_t{2}, std::int16_t{32767}}) {
    SCOPED_TRACE(bad);
    EXPECT_THROW(list.SetSelected(bad, true), Failure);
    EXPECT_THROW(static_cast<void>(list.Selected(bad)), Failure);
  }
  EXPECT_EQ(list.Text(), "");
}

TEST(ListBoxTest, HoldsAtMost32767Items) {
  ListBox list = MakeList(SelectionMode::kMultiple);
  for (int i = 0; i < ListBox::kMaxItems; ++i) {
    list.AddItem("x");
  }
  EXPECT_EQ(list.ListCount(), 32767);
  EXPECT_THROW(list.AddItem("one too many"), Failure);
  EXPECT_EQ(list.ListCount(), 32767);
}

TEST(ListBoxTest, SingleSelectionMovesAndClicksOnlyWhenItMoves) {
  ListBox list = MakeList(SelectionMode::kSingle);
  int clicks = 0;
  list.click.Connect([&clicks] { ++clicks; });
  for (const char* text : {"A", "B", "C"}) {
    list.AddItem(text);
  }
  list.SetSelected(2, true);
  EXPECT_EQ(list.ListIndex(), 2);
  EXPECT_EQ(list.Text(), "C");
  EXPECT_EQ(clicks, 1);
  list.SetSelected(0, true);
  EXPECT_FALSE(list.Selected(2));
  EXPECT_TRUE(list.Selected(0));
  EXPECT_EQ(clicks, 2);
  list.SetSelected(0, true);  // already selected: nothing moves
  EXPECT_EQ(clicks, 2);
  list.UserClick(0);  // a user's click on the selected entry is still a click
  EXPECT_EQ(clicks, 3);
  list.SetSelected(0, false);
  EXPECT_EQ(list.ListIndex(), -1);
  EXPECT_EQ(clicks, 3);
  list.Clear();
  EXPECT_EQ(list.ListCount(), 0);
  EXPECT_EQ(list.ListIndex(), -1);
}

TEST(ListBoxTest, MultipleSelectionTogglesOneEntryPerClick) {
  ListBox list = MakeList(SelectionMode::kMultiple);
  for (const char* text : {"a", "b", "c"}) {
    list.AddItem(text);
  }
  list.UserClick(0);
  list.UserClick(2);
  EXPECT_TRUE(list.Selected(0));
  EXPECT_FALSE(list.Selected(1));
  EXPECT_TRUE(list.Selected(2));
  list.UserClick(0);
  EXPECT_FALSE(list.Selected(0));
  EXPECT_TRUE(list.Selected(2));
}

TEST(ListBoxTest, ReportsEachChangeForViews) {
  ListBox list = MakeList(SelectionMode::kMultiple);
  std::vector<ListBox::Change::Kind> kinds;
  list.items_changed.Connect([&kinds](ListBox::Change change) { kinds.push_back(change.kind); });
  list.AddItem("a");
  list.SetSelected(0, true);
  list.SetSelected(0, true);  // no change, no event
  list.Clear();
  using Kind = ListBox::Change::Kind;
  EXPECT_EQ(kinds, (std::vector<Kind>{Kind::kAdded, Kind::kSelection, Kind::kCleared}));
}

TEST(ControlsTest, DisabledControlsIgnoreTheUser) {
  ListBox list = MakeList(SelectionMode::kSingle);
  list.AddItem("a");
  list.SetEnabled(false);
  list.UserClick(0);
  EXPECT_EQ(list.ListIndex(), -1);

  CommandButton button("cmd", {}, 0, "Go");
  int presses = 0;
  button.click.Connect([&presses] { ++presses; });
  button.SetEnabled(false);
  button.Press();
  EXPECT_EQ(presses, 0);
  button.SetEnabled(true);
  button.Press();
  EXPECT_EQ(presses, 1);

  CheckBox check("chk", {}, 0, "Tick");
  int clicks = 0;
  check.click.Connect([&] { clicks += check.Value() + 10; });
  check.UserClick();  // the handler sees the new value
  EXPECT_EQ(clicks, 11);
  check.SetEnabled(false);
  check.UserClick();
  EXPECT_EQ(check.Value(), 1);
  check.SetValue(0);  // by code: no click
  EXPECT_EQ(clicks, 11);
}

}  // namespace
}  // namespace salvatrix
