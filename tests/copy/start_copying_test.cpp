#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <vector>

#include "app/form1.h"
#include "app/window_driver.h"
#include "support/fakes.h"
#include "support/program_fixture.h"

namespace salvatrix {
namespace {

class StartCopyingTest : public testing::ProgramFixture {
 protected:
  void SetUp() override {
    app_.folder = "/home/u/carry";
    for (const char* name : {"a.txt", "skip.txt", "b.txt"}) {
      form_.List4.AddItem(name);
    }
    form_.List4.SetSelected(0, true);
    form_.List4.SetSelected(2, true);
    form_.List6.AddItem("Docs");
    form_.List6.SetSelected(0, true);
    form_.List2.AddItem("C:\\");
    form_.List2.AddItem("E:\\");
    form_.List3.AddItem("E:\\");
    form_.List2.SetSelected(1, true);
  }

  void Run() { form_.Copy().StartCopying(form_.List4, form_.List2, form_.List6); }
};

TEST_F(StartCopyingTest, ManualCopyConfirmsThenCopiesFilesThenFoldersInListOrder) {
  std::vector<std::string> captions;
  files_.during_copy = [&](const auto&) { captions.push_back(form_.labelViewer.Caption()); };
  Run();
  ASSERT_EQ(boxes_.shown.size(), 1u);
  EXPECT_EQ(boxes_.shown[0].text,
            "Confirm that you want to copy the selected files and folders into the root of "
            "Drive E:\\");
  EXPECT_EQ(boxes_.shown[0].caption, "Confirm Copy");
  EXPECT_EQ(boxes_.shown[0].style, 1);
  ASSERT_EQ(files_.calls.size(), 4u);
  EXPECT_EQ(files_.calls[0].op, "CopyFile");
  EXPECT_EQ(files_.calls[0].source, "/home/u/carry/a.txt");
  EXPECT_EQ(files_.calls[0].destination, "E:\\a.txt");
  EXPECT_TRUE(files_.calls[0].overwrite);
  EXPECT_EQ(files_.calls[1].destination, "E:\\b.txt");
  EXPECT_EQ(files_.calls[2].op, "CopyFolder");
  EXPECT_EQ(files_.calls[2].source, "/home/u/carry/Docs");
  EXPECT_EQ(files_.calls[2].destination, "E:\\Docs");
  EXPECT_EQ(files_.calls[3].op, "Flush");  // before the job says it has finished
  EXPECT_EQ(captions, (std::vector<std::string>{"Copying a.txt", "Copying b.txt", "Copying Docs",
                                                "Copying Docs"}));
  EXPECT_EQ(form_.labelViewer.Caption(), "FINISHED COPYING");
  EXPECT_EQ(files_.objects_created, 1);
}

TEST_F(StartCopyingTest, ChecksComeFirstAndLeaveTheStatusAlone) {
  form_.labelViewer.SetCaption("earlier");
  SetAllSelected(form_.List2, false);
  Run();
  SetAllSelected(form_.List4, false);
  SetAllSelected(form_.List6, false);
  Run();
  ASSERT_EQ(boxes_.shown.size(), 2u);
  EXPECT_EQ(boxes_.shown[0].text, "No destination drive has been selected.");
  EXPECT_EQ(boxes_.shown[1].text, "No files or folders have been selected as source data.");
  for (const auto& box : boxes_.shown) {
    EXPECT_EQ(box.caption, "Salvatrix");
    EXPECT_EQ(box.style, 0);
  }
  EXPECT_EQ(form_.labelViewer.Caption(), "earlier");
  EXPECT_EQ(files_.objects_created, 0);
}

TEST_F(StartCopyingTest, CancelOnTheConfirmationEmptiesTheStatusAndWritesNothing) {
  boxes_.Answer(kIdCancel);
  Run();
  EXPECT_EQ(form_.labelViewer.Caption(), "");
  EXPECT_TRUE(files_.calls.empty());
  EXPECT_EQ(files_.objects_created, 0);
}

TEST_F(StartCopyingTest, AutocopyAsksOnlyWhenSeveralDrivesAreNew) {
  form_.Check1.SetValue(1);
  Run();  // one new drive: no question
  EXPECT_TRUE(boxes_.shown.empty());
  EXPECT_EQ(files_.calls.size(), 4u);

  files_.calls.clear();
  form_.List3.AddItem("F:\\");
  boxes_.Answer(kIdCancel);
  Run();
  ASSERT_EQ(boxes_.shown.size(), 1u);
  EXPECT_EQ(boxes_.shown[0].text,
            "There is more than one possible drive for autodetect to process. Confirm that you "
            "want to copy into Drive E:\\.\r\nAutocopy can only be fully automatic when it only "
            "has one destination choice.");
  EXPECT_EQ(boxes_.shown[0].caption, "AUTOCOPY CONFLICT POSSIBLE");
  EXPECT_EQ(boxes_.shown[0].style, 65);
  EXPECT_EQ(form_.labelViewer.Caption(), "PREPARING TO COPY");
  EXPECT_TRUE(files_.calls.empty());
}

TEST_F(StartCopyingTest, FailureStopsAtOnceAndLeavesEarlierCopies) {
  files_.fail_on = {"E:\\b.txt"};
  Run();
  // a.txt, then the failing b.txt; no folder; what was copied is still flushed to the device.
  ASSERT_EQ(files_.calls.size(), 3u);
  EXPECT_EQ(files_.calls[2].op, "Flush");
  ASSERT_EQ(boxes_.shown.size(), 2u);
  EXPECT_EQ(boxes_.shown[1].text, "'StartCopying' Failure. Error #476");
  EXPECT_EQ(boxes_.shown[1].caption, "Salvatrix");
  EXPECT_EQ(boxes_.shown[1].style, 0);
  EXPECT_EQ(form_.labelViewer.Caption(), "COPYING FAILURE");

  files_.calls.clear();
  files_.fail_on = {"E:\\"};  // the flush fails: not finished
  Run();
  EXPECT_EQ(form_.labelViewer.Caption(), "COPYING FAILURE");
}

TEST_F(StartCopyingTest, CannotBeStartedAgainWhileItsBoxIsOpen) {
  boxes_.on_show = [&](const auto& box) {
    if (box.caption == "Confirm Copy") {
      form_.cmdFileCopy.SetEnabled(true);
      form_.cmdFileCopy.Press();  // a click delivered by the box's message loop
    }
  };
  Run();
  EXPECT_EQ(boxes_.shown.size(), 1u);
  EXPECT_EQ(files_.calls.size(), 4u);
}

TEST_F(StartCopyingTest, ProgramRunFromADriveRootJoinsWithoutDoublingTheSeparator) {
  app_.folder = "/";
  form_.Check1.SetValue(1);
  Run();
  ASSERT_FALSE(files_.calls.empty());
  EXPECT_EQ(files_.calls[0].source, "/a.txt");
}

/// A window system that lets every kind of traffic through, so that only the core stands
/// between a waiting copy and the handlers: each answer delivers a click on the copy button, a
/// tick and a device arrival.
class EverythingUpkeep final : public WindowUpkeep, public WindowDriver::Host {
 public:
  EverythingUpkeep(Form1& form, testing::FakeWindowSystem& system) : form_(form), system_(system) {}

  void AnswerPending(const std::function<Admission(WindowTraffic)>& admit) override {
    admitted = {admit(WindowTraffic::kInput), admit(WindowTraffic::kTimer),
                admit(WindowTraffic::kDeviceMessage)};
    driver->Press(form_.cmdFileCopy);
    driver->Tick(form_.Timer1);
    const std::vector<std::uint8_t> volume = {20, 0, 0, 0, 2, 0, 0, 0, 0, 0,
                                              0,  0, 0, 0, 0, 0, 0, 0, 0, 0};
    system_.Send(kWmDeviceChange, kDbtDeviceArrival, volume);
    log_while_copying.push_back(form_.Text1.Text());
    answers.fetch_add(1);
    answers.notify_all();
  }
  void StopClocks() override {}
  void EndProgram() override {}

  WindowDriver* driver = nullptr;
  std::vector<Admission> admitted;
  std::vector<std::string> log_while_copying;
  std::atomic<int> answers{0};

 private:
  Form1& form_;
  testing::FakeWindowSystem& system_;
};

class AnsweredCopyTest : public StartCopyingTest {
 protected:
  void SetUp() override {
    StartCopyingTest::SetUp();
    form_.Text1.SetText("");
    form_.Hook().InstallMessageHook(system_.window);
    form_.cmdFileCopy.SetEnabled(true);
    form_.Timer1.tick.Connect([this] { ++ticks_; });
    upkeep_.driver = &driver_;
    form_.Copy().KeepWindowAnswered(&upkeep_);
  }

  EverythingUpkeep upkeep_{form_, system_};
  WindowDriver driver_{form_, boxes_, upkeep_};
  int ticks_ = 0;
};

TEST_F(AnsweredCopyTest, WhileItCopiesTheWindowIsAnsweredAndNoHandlerRuns) {
  files_.fail_on = {"E:\\b.txt"};
  files_.during_copy = [this](const testing::FakeFileSystem::Call& call) {
    // A long copy: it returns only once the window has been answered twice meanwhile.
    for (int seen = upkeep_.answers.load(); call.destination == "E:\\a.txt" && seen < 2;
         seen = upkeep_.answers.load()) {
      upkeep_.answers.wait(seen);
    }
  };
  std::string log_at_failure_box;
  boxes_.on_show = [&](const auto& box) {
    if (box.text == kCopyFailureText) {
      log_at_failure_box = form_.Text1.Text();
    }
  };
  ASSERT_TRUE(driver_.Press(form_.cmdFileCopy));

  EXPECT_GE(upkeep_.answers.load(), 2);
  EXPECT_EQ(upkeep_.admitted,
            (std::vector<Admission>{Admission::kDiscard, Admission::kLeave, Admission::kLeave}));
  // No second job, no tick, and the arrivals kept back until the copying ended, then logged
  // before the failure box (whose own loop would have handled them).
  EXPECT_EQ(files_.objects_created, 1);
  EXPECT_EQ(ticks_, 0);
  for (const std::string& log : upkeep_.log_while_copying) {
    EXPECT_EQ(log, "");
  }
  const std::string arrival =
      "\r\nwParam = DBT_DEVICEARRIVAL 05 \r\nDevice Type: DBT_DEVTYP_VOLUME 08 ";
  std::string expected_log;
  for (int i = 0; i < upkeep_.answers.load(); ++i) {
    expected_log += arrival;
  }
  EXPECT_EQ(log_at_failure_box, expected_log);
  // The failure thrown on the copying thread ends the job as before.
  ASSERT_EQ(boxes_.shown.size(), 2u);
  EXPECT_EQ(boxes_.shown[1].text, kCopyFailureText);
  EXPECT_EQ(form_.labelViewer.Caption(), "COPYING FAILURE");
  ASSERT_EQ(files_.calls.size(), 3u);
  EXPECT_EQ(files_.calls[2].op, "Flush");

  // Once the job is over, input and ticks are handled again.
  EXPECT_FALSE(form_.Copy().Copying());
  form_.Text1.SetText("");
  EXPECT_TRUE(driver_.Tick(form_.Timer1));
  EXPECT_EQ(ticks_, 1);
}

}  // namespace
}  // namespace salvatrix
