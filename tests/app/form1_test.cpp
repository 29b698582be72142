#include "app/form1.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

#include "app/dispatch.h"
#include "support/fakes.h"
#include "support/program_fixture.h"

namespace salvatrix {
namespace {

using testing::RawDrives;
using testing::ScriptedMessageBoxes;

class Form1Test : public testing::ProgramFixture {
 protected:
  void SetUp() override {
    drives_.SetDrives(RawDrives("CD"));
    app_.folder = "/home/user/carry";
    files_.folders[app_.folder] = {{"a.txt", "salvatrix", "b.txt"}, {"Docs", "Music"}};
  }
};

TEST_F(Form1Test, HoldsTheThirtyOneControlsWithUniqueNamesAndTabPositions) {
  const auto& controls = form_.Controls();
  ASSERT_EQ(controls.size(), 31u);
  EXPECT_EQ(controls.front()->Name(), "Command1");
  EXPECT_EQ(controls.back()->Name(), "Ru");
  std::set<std::string> names;
  std::set<int> tabs;
  for (const Control* control : controls) {
    names.insert(control->Name());
    if (control->TabIndex() >= 0) {
      EXPECT_TRUE(tabs.insert(control->TabIndex()).second) << control->Name();
    }
  }
  EXPECT_EQ(names.size(), 31u);
  EXPECT_EQ(tabs.size(), 29u);  // all but the timer and the picture
  EXPECT_EQ(form_.Text1.Text(), "Text1\r\n");
  EXPECT_FALSE(form_.cmdFileCopy.Enabled());
  EXPECT_FALSE(form_.List1.Enabled());
  EXPECT_FALSE(form_.List3.Enabled());
  EXPECT_TRUE(form_.Check1.Enabled());
  EXPECT_TRUE(form_.Timer1.Enabled());
  EXPECT_EQ(form_.Timer1.Interval(), 10000);
  EXPECT_EQ(form_.List4.Mode(), SelectionMode::kMultiple);
  EXPECT_EQ(form_.List2.Mode(), SelectionMode::kSingle);
  EXPECT_EQ(form_.labelViewer.ForeColour(), Colour::Rgb(192, 0, 192));
}

TEST_F(Form1Test, LoadFillsRuntimeDrivesEmptiesTheLogAndShowsTheSource) {
  form_.Form_Load();
  EXPECT_EQ(form_.Text3.Text(), "CD");
  EXPECT_EQ(form_.List1.ListCount(), 2);
  EXPECT_EQ(form_.Text1.Text(), "");
  EXPECT_EQ(form_.Text2.Text(), "");
  EXPECT_EQ(form_.Text4.Text(), "Source = /home/user/carry");
  EXPECT_TRUE(boxes_.shown.empty());
}

TEST_F(Form1Test, TickWaitsForTheLogThenRescansOnceAndStops) {
  form_.Form_Load();
  drives_.SetDrives(RawDrives("CDE"));
  for (int i = 0; i < 3; ++i) {
    form_.Timer1.tick.Emit();
  }
  EXPECT_EQ(form_.List2.ListCount(), 0);
  EXPECT_TRUE(form_.Timer1.Enabled());

  form_.Text1.SetText("\r\n");  // a bare line break is not empty
  form_.Timer1.tick.Emit();
  EXPECT_EQ(form_.Text2.Text(), "CDE");
  EXPECT_EQ(form_.List2.ListCount(), 3);
  EXPECT_FALSE(form_.Timer1.Enabled());
}

TEST_F(Form1Test, RescanButtonStopsTheTimerAndRescans) {
  form_.Form_Load();
  drives_.SetDrives(RawDrives("CDF"));
  form_.cmdOverride.Press();
  EXPECT_FALSE(form_.Timer1.Enabled());
  EXPECT_EQ(form_.Text2.Text(), "CDF");
  EXPECT_EQ(form_.List2.List(2), "F:\\");
}

TEST_F(Form1Test, ChangingTheDestinationWarnsUnlessItIsTheFirstNewDrive) {
  form_.List2.AddItem("C:\\");
  form_.List2.AddItem("E:\\");
  form_.List2.UserClick(1);  // List3 empty: always a warning
  ASSERT_EQ(boxes_.shown.size(), 1u);
  EXPECT_EQ(boxes_.shown[0].text, "Be warned that you have changed the default destination.");
  EXPECT_EQ(boxes_.shown[0].caption, "ARE YOU SURE?");
  EXPECT_EQ(boxes_.shown[0].style, 16);
  EXPECT_EQ(form_.List2.Text(), "E:\\");  // the choice stays

  form_.List3.AddItem("E:\\");
  form_.List2.UserClick(1);
  form_.List2.SetSelected(0, false);
  form_.List2.SetSelected(1, true);  // selection by code runs the click too
  EXPECT_EQ(boxes_.shown.size(), 1u);
  form_.List2.UserClick(0);
  EXPECT_EQ(boxes_.shown.size(), 2u);

  form_.List3.Clear();
  form_.List3.AddItem("e:\\");  // exact comparison
  form_.List2.UserClick(1);
  EXPECT_EQ(boxes_.shown.size(), 3u);
}

TEST(DispatchTest, UncaughtFailureIsShownAndEndsTheProgram) {
  ScriptedMessageBoxes boxes;
  EXPECT_TRUE(DispatchHandler(boxes, [] {}));
  EXPECT_FALSE(DispatchHandler(boxes, [] { throw Failure("Path not found: /gone"); }));
  int boxes_when_stopped = -1;
  EXPECT_FALSE(DispatchHandler(
      boxes, [] { throw 42; }, [&] { boxes_when_stopped = static_cast<int>(boxes.shown.size()); }));
  EXPECT_EQ(boxes_when_stopped, 1);  // the view stops its handlers before the box opens
  ASSERT_EQ(boxes.shown.size(), 2u);
  EXPECT_EQ(boxes.shown[0].text, "Path not found: /gone");
  EXPECT_EQ(boxes.shown[0].caption, "Salvatrix");
  EXPECT_EQ(boxes.shown[0].style, 16);
  EXPECT_FALSE(boxes.shown[1].text.empty());
}

}  // namespace
}  // namespace salvatrix

namespace salvatrix {
namespace {

class Form1FlowTest : public Form1Test {
 protected:
  void SetUp() override {
    Form1Test::SetUp();
    form_.Form_Load();
  }
};

TEST_F(Form1FlowTest, LoadListsTheSourceWithTheDefaultSelection) {
  ASSERT_EQ(form_.List4.ListCount(), 3);
  EXPECT_TRUE(form_.List4.Selected(0));
  EXPECT_FALSE(form_.List4.Selected(1));  // the program itself
  EXPECT_TRUE(form_.List4.Selected(2));
  ASSERT_EQ(form_.List6.ListCount(), 2);
  EXPECT_EQ(CountSelected(form_.List6), 0);
}

TEST_F(Form1FlowTest, RescanButtonRunsAllItsStepsEvenWithNothingNew) {
  form_.labelViewer.SetCaption("FINISHED COPYING");
  form_.Check1.UserClick();
  form_.List4.UserClick(0);  // the user's choice is thrown away
  form_.List6.UserClick(1);  // ... but not in the sub-folder list
  form_.cmdOverride.Press();
  ASSERT_EQ(boxes_.shown.size(), 1u);
  EXPECT_EQ(boxes_.shown[0].text,
            "The drive letters are the same as they were at runtime. No new drive letters.");
  EXPECT_TRUE(form_.cmdFileCopy.Enabled());
  EXPECT_EQ(form_.Check1.Value(), 0);
  EXPECT_FALSE(form_.Check1.Enabled());
  EXPECT_TRUE(form_.List4.Selected(0));
  EXPECT_TRUE(form_.List6.Selected(1));
  EXPECT_EQ(form_.labelViewer.Caption(), "");
  EXPECT_FALSE(form_.Timer1.Enabled());
  EXPECT_TRUE(files_.calls.empty());
}

TEST_F(Form1FlowTest, RescanWithAutocopyCopiesOnceAndClearsTheStatusAfterwards) {
  form_.Check1.UserClick();
  drives_.SetDrives(RawDrives("CDE"));
  form_.cmdOverride.Press();
  ASSERT_EQ(files_.calls.size(), 3u);  // a.txt, b.txt, flush
  EXPECT_EQ(files_.calls[0].destination, "E:\\a.txt");
  EXPECT_TRUE(boxes_.shown.empty());
  EXPECT_EQ(form_.labelViewer.Caption(), "");
  EXPECT_EQ(form_.Check1.Value(), 0);
  form_.cmdOverride.Press();  // autocopy acts once per run
  EXPECT_EQ(files_.calls.size(), 3u);
}

TEST_F(Form1FlowTest, TickDoesNotStackComparisonsWhileOneOfTheirBoxesIsOpen) {
  form_.Text1.SetText("\r\nwParam = DBT_DEVICEARRIVAL 05 ");
  int nested_ticks = 0;
  boxes_.on_show = [&](const auto&) {
    // The nested message loop delivers further ticks while the box is open.
    if (nested_ticks++ < 3) {
      form_.Timer1.tick.Emit();
    }
  };
  form_.Timer1.tick.Emit();
  EXPECT_EQ(boxes_.shown.size(), 1u);
  EXPECT_FALSE(form_.Timer1.Enabled());
}

TEST_F(Form1FlowTest, StickMountedWhileTheNoChangeBoxIsOpenIsCopiedByTheNextTick) {
  form_.Check1.UserClick();
  form_.Text1.SetText("\r\nwParam = DBT_DEVICEARRIVAL 05 ");
  int ticks_in_box = 0;
  boxes_.on_show = [&](const auto& box) {
    if (box.text == kUnchangedDrivesText && ticks_in_box++ == 0) {
      drives_.SetDrives(RawDrives("CDE"));  // the desktop mounts the stick meanwhile
      form_.Timer1.tick.Emit();
    }
  };
  form_.Timer1.tick.Emit();
  ASSERT_EQ(boxes_.shown.size(), 1u);  // the no-change box, and no other
  ASSERT_EQ(files_.calls.size(), 3u);  // a.txt, b.txt, flush
  EXPECT_EQ(files_.calls[0].destination, "E:\\a.txt");
  EXPECT_EQ(form_.List2.Text(), "E:\\");
  EXPECT_EQ(form_.Check1.Value(), 0);
  EXPECT_FALSE(form_.Check1.Enabled());
  EXPECT_TRUE(form_.cmdFileCopy.Enabled());
  EXPECT_FALSE(form_.Timer1.Enabled());
  // The first comparison then finishes its own steps.
  EXPECT_EQ(form_.List3.ListCount(), 0);
  EXPECT_FALSE(form_.Comparison().Comparing());
}

TEST_F(Form1FlowTest, TickWaitsWhileAComparisonShowsAnyOtherBox) {
  form_.Text1.SetText("\r\nwParam = DBT_DEVICEARRIVAL 05 ");
  // The string sees a drive the list does not: the comparison fails with error 101.
  drives_.Queue({RawDrives("CDE")});
  drives_.Queue({RawDrives("CDE")});
  int calls_in_box = -1;
  boxes_.on_show = [&](const auto&) {
    const int before = drives_.calls;
    form_.Timer1.tick.Emit();
    calls_in_box = drives_.calls - before;
  };
  form_.Timer1.tick.Emit();
  ASSERT_EQ(boxes_.shown.size(), 1u);
  EXPECT_EQ(boxes_.shown[0].text, kCompareFailureText);
  EXPECT_EQ(calls_in_box, 0);  // no rescan while the failure box is open
}

TEST_F(Form1FlowTest, SelectAllSwitchesEachTouchOnlyTheirOwnList) {
  form_.List6.UserClick(0);
  form_.Check3.UserClick();  // ticked: everything, the program included
  EXPECT_EQ(CountSelected(form_.List4), 3);
  EXPECT_EQ(CountSelected(form_.List6), 1);
  form_.Check3.UserClick();
  EXPECT_EQ(CountSelected(form_.List4), 0);
  form_.Check2.UserClick();
  EXPECT_EQ(CountSelected(form_.List6), 2);
  EXPECT_EQ(CountSelected(form_.List4), 0);
}

TEST_F(Form1FlowTest, NotesOpenOnceAndCloseWithTheMainWindow) {
  int opened = 0;
  form_.Notes().opened.Connect([&opened] { ++opened; });
  form_.Command1.Press();
  form_.Command1.Press();
  EXPECT_EQ(opened, 1);
  ASSERT_TRUE(form_.Notes().IsOpen());
  EXPECT_EQ(form_.Notes().List1().ListCount(), 21);
  int cancel = 0;
  form_.Form_Unload(cancel);
  EXPECT_FALSE(form_.Notes().IsOpen());
  EXPECT_EQ(cancel, 0);
}

TEST_F(Form1FlowTest, SourceFolderGoneAtRescanIsNotCaught) {
  files_.folders.clear();
  EXPECT_THROW(form_.cmdOverride.Press(), std::runtime_error);
  EXPECT_EQ(form_.List4.ListCount(), 3);  // the list stays as it was
}

}  // namespace
}  // namespace salvatrix
