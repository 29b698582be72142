#include "controls/controls.h"

#include <gtest/gtest.h>

#include <functional>
#include <ostream>
#include <string>
#include <vector>

namespace salvatrix {

void PrintTo(const ListBox::Change& change, std::ostream* out) {
  static const char* const kNames[] = {"cleared", "added", "selection"};
  *out << kNames[static_cast<int>(change.kind)] << "(" << change.index << ", " << change.count
       << ")";
}

namespace {

using Kind = ListBox::Change::Kind;

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
  EXPECT_EQ(kinds, (std::vector<Kind>{Kind::kAdded, Kind::kSelection, Kind::kCleared}));
}

TEST(ListBoxTest, ABatchSendsEachKindOfChangeOnceWhenItEnds) {
  struct Case {
    const char* name;
    int items_before;
    std::function<void(ListBox&)> operation;
    std::vector<ListBox::Change> sent;
  };
  const Case cases[] = {
      {"refill and select",
       2,
       [](ListBox& list) {
         list.Clear();
         for (const char* text : {"x", "y", "z"}) {
           list.AddItem(text);
         }
         list.SetSelected(0, true);
         list.SetSelected(2, true);
       },
       {{Kind::kCleared, -1, 0}, {Kind::kAdded, 0, 3}}},
      {"append and select old items",
       4,
       [](ListBox& list) {
         list.AddItem("new");
         list.SetSelected(4, true);
         list.SetSelected(3, true);
         list.SetSelected(1, true);
       },
       {{Kind::kAdded, 4, 1}, {Kind::kSelection, 1, 3}}},
      {"select all",
       5,
       [](ListBox& list) {
         for (std::int16_t i = 0; i < 5; ++i) {
           list.SetSelected(i, true);
         }
       },
       {{Kind::kSelection, 0, 5}}},
      {"no change", 3, [](ListBox& list) { list.SetSelected(1, false); }, {}},
      {"items added, then cleared",
       2,
       [](ListBox& list) {
         list.AddItem("gone");
         list.SetSelected(0, true);
         list.Clear();
       },
       {{Kind::kCleared, -1, 0}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ListBox list = MakeList(SelectionMode::kMultiple);
    for (int i = 0; i < c.items_before; ++i) {
      list.AddItem("item" + std::to_string(i));
    }
    std::vector<ListBox::Change> sent;
    list.items_changed.Connect([&sent](ListBox::Change change) { sent.push_back(change); });
    {
      const ListBox::Batch outer(list);
      {
        const ListBox::Batch inner(list);
        c.operation(list);
      }
      EXPECT_TRUE(sent.empty()) << "an inner batch held nothing back";
    }
    EXPECT_EQ(sent, c.sent);
  }
}

TEST(ListBoxTest, ABatchLetsViewsCatchUpBeforeAClickAndWhenItFails) {
  ListBox list = MakeList(SelectionMode::kSingle);
  std::vector<ListBox::Change> sent;
  list.items_changed.Connect([&sent](ListBox::Change change) { sent.push_back(change); });
  std::vector<ListBox::Change> seen_by_click;
  list.click.Connect([&] { seen_by_click = sent; });
  {
    const ListBox::Batch batch(list);
    list.AddItem("C:\\");
    list.AddItem("D:\\");
    list.SetSelected(1, true);
    EXPECT_EQ(seen_by_click, (std::vector<ListBox::Change>{{Kind::kAdded, 0, 2}}));
    list.SetSelected(0, true);
  }
  EXPECT_EQ(list.ListIndex(), 0);
  EXPECT_EQ(sent.back(), (ListBox::Change{Kind::kSelection, 0, 2}));

  // A failed operation leaves the list as far as it got, and the views show that much.
  sent.clear();
  EXPECT_THROW(
      {
        const ListBox::Batch batch(list);
        list.AddItem("E:\\");
        throw Failure("enumeration failed");
      },
      Failure);
  EXPECT_EQ(sent, (std::vector<ListBox::Change>{{Kind::kAdded, 2, 1}}));

  // A view's own failure reaches whoever ended the batch.
  list.items_changed.Connect([](ListBox::Change) { throw Failure("view failed"); });
  EXPECT_THROW(
      {
        const ListBox::Batch batch(list);
        list.AddItem("F:\\");
      },
      Failure);
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
