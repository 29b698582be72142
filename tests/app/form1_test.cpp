#include "app/form1.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

#include "app/dispatch.h"
#include "support/fakes.h"

namespace salvatrix {
namespace {

using testing::FakeAppInfo;
using testing::FakeDriveStrings;
using testing::RawDrives;
using testing::ScriptedMessageBoxes;

class Form1Test : public ::testing::Test {
 protected:
  void SetUp() override {
    drives_.SetDrives(RawDrives("CD"));
    app_.folder = "/home/user/carry";
  }

  FakeDriveStrings drives_;
  ScriptedMessageBoxes boxes_;
  FakeAppInfo app_;
  Form1 form_{FormServices{drives_, boxes_, app_}};
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
  EXPECT_FALSE(DispatchHandler(boxes, [] { throw 42; }));
  ASSERT_EQ(boxes.shown.size(), 2u);
  EXPECT_EQ(boxes.shown[0].text, "Path not found: /gone");
  EXPECT_EQ(boxes.shown[0].caption, "Salvatrix");
  EXPECT_EQ(boxes.shown[0].style, 16);
  EXPECT_FALSE(boxes.shown[1].text.empty());
}

}  // namespace
}  // namespace salvatrix
