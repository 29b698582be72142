#include "app/window_driver.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <stdexcept>
#include <string>
#include <vector>

#include "app/form1.h"
#include "app/twips.h"
#include "support/described_drives.h"
#include "support/program_fixture.h"

namespace salvatrix {
namespace {

using testing::DescribedDrives;
using testing::RawDrives;
using testing::ScriptedMessageBoxes;

/// A view that records what the driver asks of it.
class RecordingHost final : public WindowDriver::Host {
 public:
  void StopClocks() override { calls.push_back("stop clocks"); }
  void EndProgram() override { calls.push_back("end program"); }
  void RethrowKept() override {
    if (kept) {
      kept = false;
      throw Failure("kept back");
    }
  }
  std::vector<std::string> calls;
  bool kept = false;
};

class WindowDriverTest : public testing::ProgramFixtureWith<DescribedDrives> {
 protected:
  void SetUp() override {
    drives_.script.SetDrives(RawDrives("CDE"));
    drives_.descriptions["D:\\"] = "removable drive, label STICK";
    drives_.failing = "E:\\";
    app_.folder = "/home/user/carry";
    files_.folders[app_.folder] = {{"a.txt"}, {}};
  }

  long Count(const std::string& prefix) const {
    return std::count_if(system_.calls.begin(), system_.calls.end(),
                         [&](const std::string& call) { return call.rfind(prefix, 0) == 0; });
  }

  RecordingHost host_;
  WindowDriver driver_{form_, boxes_, host_};
};

TEST_F(WindowDriverTest, AFailureStopsTheClocksBeforeItsBoxThenEndsTheProgramOnce) {
  boxes_.on_show = [this](const ScriptedMessageBoxes::Box&) {
    host_.calls.push_back("box");
    // The box's own loop may deliver a tick: it must not run.
    EXPECT_FALSE(driver_.Tick(form_.Timer1));
    EXPECT_FALSE(driver_.ClockRuns(form_.Timer1));
  };
  EXPECT_TRUE(driver_.Run([] {}));
  EXPECT_TRUE(driver_.ClockRuns(form_.Timer1));

  EXPECT_FALSE(driver_.Run([] { throw Failure("Path not found: /gone"); }));
  EXPECT_TRUE(driver_.Ending());
  EXPECT_EQ(host_.calls, (std::vector<std::string>{"stop clocks", "box", "end program"}));
  ASSERT_EQ(boxes_.shown.size(), 1u);
  EXPECT_EQ(boxes_.shown[0].text, "Path not found: /gone");
  EXPECT_EQ(boxes_.shown[0].style, kMbIconError);

  // Nothing runs any more, and nothing is reported twice.
  bool ran = false;
  EXPECT_FALSE(driver_.Run([&ran] { ran = true; }));
  EXPECT_FALSE(driver_.Press(form_.Command1));
  driver_.Close();
  EXPECT_FALSE(ran);
  EXPECT_EQ(boxes_.shown.size(), 1u);
  EXPECT_EQ(host_.calls.size(), 3u);
  EXPECT_EQ(Count("Unregister"), 0);
}

TEST_F(WindowDriverTest, AFailureTheViewKeptBackFailsTheHandlerThatRuns) {
  host_.kept = true;
  EXPECT_FALSE(driver_.Run([] {}));
  ASSERT_EQ(boxes_.shown.size(), 1u);
  EXPECT_EQ(boxes_.shown[0].text, "kept back");
  EXPECT_EQ(host_.calls.back(), "end program");
}

TEST_F(WindowDriverTest, ClosingUnloadsOnceAndAStoppedWindowNotAtAll) {
  ASSERT_TRUE(driver_.Run([this] { form_.Form_Load(); }));
  ASSERT_EQ(Count("Unregister"), 0);
  driver_.Close();
  driver_.Close();
  EXPECT_EQ(Count("Unregister"), 1);
  EXPECT_FALSE(driver_.Ending());

  WindowDriver gone(form_, boxes_, host_);
  gone.Stop();
  gone.Close();
  EXPECT_EQ(Count("Unregister"), 1);
  EXPECT_FALSE(gone.ClockRuns(form_.Timer1));
}

TEST_F(WindowDriverTest, TabOrderFollowsTheTabIndexWithTheUntabbedLastAndNoTimer) {
  const std::vector<Control*> order = driver_.TabOrder();
  ASSERT_EQ(order.size(), form_.Controls().size() - 1);
  EXPECT_EQ(std::find(order.begin(), order.end(), &form_.Timer1), order.end());
  EXPECT_EQ(order.back(), &form_.Image1);  // the one without a tab index
  for (std::size_t i = 1; i + 1 < order.size(); ++i) {
    EXPECT_LT(order[i - 1]->TabIndex(), order[i]->TabIndex()) << order[i]->Name();
  }

  // The focus skips labels and the picture, and opens on the first enabled control.
  const std::vector<Control*> focus = driver_.FocusOrder();
  for (const Control* control : focus) {
    EXPECT_NE(control->Kind(), ControlKind::kLabel) << control->Name();
    EXPECT_NE(control->Kind(), ControlKind::kPicture);
  }
  ASSERT_FALSE(focus.empty());
  EXPECT_TRUE(std::is_sorted(focus.begin(), focus.end(), [](const Control* a, const Control* b) {
    return a->TabIndex() < b->TabIndex();
  }));
  focus.front()->SetEnabled(false);
  EXPECT_EQ(driver_.FirstFocus(), focus[1]);
}

TEST_F(WindowDriverTest, ClockRunsWhileTheTimerIsEnabled) {
  EXPECT_TRUE(driver_.ClockRuns(form_.Timer1));
  form_.Timer1.SetEnabled(false);
  EXPECT_FALSE(driver_.ClockRuns(form_.Timer1));
}

TEST_F(WindowDriverTest, OnlyTheDriveListsExplainTheirEntries) {
  for (ListBox* list : {&form_.List1, &form_.List2, &form_.List3, &form_.List5}) {
    EXPECT_TRUE(driver_.ShowsDriveTips(*list)) << list->Name();
  }
  for (ListBox* list : {&form_.List4, &form_.List6}) {
    EXPECT_FALSE(driver_.ShowsDriveTips(*list)) << list->Name();
  }
  form_.List1.AddItem("C:\\");
  form_.List1.AddItem("D:\\");
  form_.List1.AddItem("E:\\");
  form_.List4.AddItem("D:\\");
  EXPECT_EQ(driver_.ItemTip(form_.List1, 1), "removable drive, label STICK");
  EXPECT_EQ(driver_.ItemTip(form_.List1, 0), "");
  EXPECT_EQ(driver_.ItemTip(form_.List1, 2), "");  // its description failed
  EXPECT_EQ(driver_.ItemTip(form_.List1, 3), "");
  EXPECT_EQ(driver_.ItemTip(form_.List4, 0), "");
}

TEST_F(WindowDriverTest, InputReachesTheModelsAsHandlers) {
  form_.List4.AddItem("a");
  EXPECT_TRUE(driver_.ClickItem(form_.List4, 0));
  EXPECT_TRUE(form_.List4.Selected(0));
  EXPECT_TRUE(driver_.ClickItem(form_.List4, 5));  // past the end: nothing
  EXPECT_TRUE(driver_.Edit(form_.Text3, "CDE"));
  EXPECT_EQ(form_.Text3.Text(), "CDE");
  const int before = form_.Check1.Value();
  EXPECT_TRUE(driver_.Click(form_.Check1));
  EXPECT_NE(form_.Check1.Value(), before);
}

TEST(TwipsToPixelsTest, RoundsToTheNearestPixelForTheScreenDpi) {
  struct Case {
    int twips;
    double dpi;
    int pixels;
  };
  const Case cases[] = {
      {0, 96.0, 0},       {15, 96.0, 1},      {7, 96.0, 0},
      {8, 96.0, 1},       {10935, 96.0, 729}, {6840, 96.0, 456},
      {1440, 120.0, 120}, {255, 144.0, 26},   {10695, 192.0, 1426},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.twips) + " twips at " + std::to_string(c.dpi) + " dpi");
    EXPECT_EQ(TwipsToPixels(c.twips, c.dpi), c.pixels);
  }
}

TEST(SignalTest, AScopedSlotRunsUntilItsConnectionGoes) {
  Signal<int> signal;
  std::vector<int> seen;
  signal.Connect([&seen](int value) { seen.push_back(value); });
  {
    Connection scoped = signal.ConnectScoped([&seen](int value) { seen.push_back(-value); });
    signal.Emit(1);
    Connection moved = std::move(scoped);
    signal.Emit(2);
  }
  signal.Emit(3);
  EXPECT_EQ(seen, (std::vector<int>{1, -1, 2, -2, 3}));
}

TEST(SignalTest, ASlotMayDropItsOwnAndLaterConnectionsWhileItRuns) {
  Signal<> signal;
  int later_ran = 0;
  std::string captured = "kept alive while it runs";
  std::string seen;
  Connection own;
  Connection later;
  own = signal.ConnectScoped([&, captured] {
    own.Disconnect();
    later.Disconnect();
    seen = captured;  // the slot's own state outlives its disconnection until it returns
  });
  later = signal.ConnectScoped([&later_ran] { ++later_ran; });
  signal.Emit();
  signal.Emit();
  EXPECT_EQ(seen, captured);
  EXPECT_EQ(later_ran, 0);
}

TEST(SignalTest, AConnectionMayOutliveItsSignal) {
  Connection connection;
  {
    Signal<> signal;
    connection = signal.ConnectScoped([] {});
  }
  connection.Disconnect();
  SUCCEED();
}

}  // namespace
}  // namespace salvatrix
