#include "detect/module1.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "app/form1.h"
#include "controls/controls.h"
#include "support/fakes.h"
#include "support/program_fixture.h"

namespace salvatrix {
namespace {

using testing::FakeWindowSystem;
using testing::ScriptedMessageBoxes;

constexpr std::string_view kArrival = "\r\nwParam = DBT_DEVICEARRIVAL 05 ";

void PutInt32(std::vector<std::uint8_t>& bytes, std::size_t at, std::int32_t value) {
  std::memcpy(bytes.data() + at, &value, sizeof value);
}

std::vector<std::uint8_t> Record(std::int32_t size_field, std::int32_t type, std::size_t length,
                                 std::string_view name = {}) {
  std::vector<std::uint8_t> bytes(length, 0);
  if (length >= 4) {
    PutInt32(bytes, 0, size_field);
  }
  if (length >= 8) {
    PutInt32(bytes, 4, type);
  }
  for (std::size_t i = 0; i < name.size() && 28 + i < length; ++i) {
    bytes[28 + i] = static_cast<std::uint8_t>(name[i]);
  }
  return bytes;
}

TEST(ArrivalLogLinesTest, DecodesRecordsWithoutReadingPastThem) {
  struct Case {
    const char* what;
    std::vector<std::uint8_t> record;
    std::string expected;
  };
  std::vector<std::uint8_t> no_nul = Record(2000, 5, 1052);
  std::fill(no_nul.begin() + 28, no_nul.end(), 'x');
  std::vector<std::uint8_t> name_1023 = Record(1052, 5, 1052);
  std::fill(name_1023.begin() + 28, name_1023.end() - 1, 'n');
  const std::string arrival(kArrival);
  const std::vector<Case> cases = {
      {"volume", Record(20, 2, 20), arrival + "\r\nDevice Type: DBT_DEVTYP_VOLUME 08 "},
      {"interface", Record(32, 5, 32, "ABC"), arrival + "\r\nDevice Name: ABC 12 "},
      {"port", Record(12, 3, 12), arrival},
      {"size larger than the record", Record(2000, 5, 40, "USB\\VID_0781"),
       arrival + "\r\nDevice Name: USB\\VID_0781 12 "},
      {"no NUL in 1024 characters", no_nul, arrival + "\r\nDevice Name:  12 "},
      {"name of 1023 characters", name_1023,
       arrival + "\r\nDevice Name: " + std::string(1023, 'n') + " 12 "},
      {"size smaller than the header", Record(4, 5, 40, "cut"), arrival + "\r\nDevice Name:  12 "},
      {"negative size", Record(-1, 5, 40, "neg"), arrival + "\r\nDevice Name:  12 "},
      {"record shorter than a header", Record(0, 2, 6), arrival},
      {"no record", {}, arrival},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    // An exact-size heap copy, so that a read past it is caught by the address sanitizer.
    std::vector<std::uint8_t> exact(c.record);
    EXPECT_EQ(ArrivalLogLines(exact.empty() ? nullptr : exact.data(), exact.size()), c.expected);
  }
}

TEST(DeviceInterfaceFilterTest, IsThirtyTwoBytesWithSizeAndType) {
  const NotificationFilter filter = DeviceInterfaceFilter();
  std::vector<std::uint8_t> expected(32, 0);
  expected[0] = 32;
  expected[4] = 5;
  EXPECT_EQ(std::vector<std::uint8_t>(filter.begin(), filter.end()), expected);
}

class Module1Test : public ::testing::Test {
 protected:
  TextBox log_{"Text1", {}, 0, "", true};
  ScriptedMessageBoxes boxes_;
  FakeWindowSystem window_;
  Module1 module_{log_, boxes_, window_, window_};
};

TEST_F(Module1Test, HookLogsArrivalsAndPassesEveryMessageOn) {
  module_.InstallMessageHook(window_.window);
  ASSERT_EQ(window_.calls.size(), 2u);
  EXPECT_EQ(window_.calls[0], "Get");  // read and store before replacing
  EXPECT_NE(window_.Slot(), FakeWindowSystem::kOriginal);

  EXPECT_EQ(window_.Send(kWmDeviceChange, kDbtDeviceArrival, Record(20, 2, 20)),
            FakeWindowSystem::kOriginalResult);
  EXPECT_EQ(window_.Send(kWmDeviceChange, 0x8004, Record(20, 2, 20)),  // removal: only passed on
            FakeWindowSystem::kOriginalResult);
  EXPECT_EQ(window_.Send(0x000F, kDbtDeviceArrival, {}), FakeWindowSystem::kOriginalResult);
  EXPECT_EQ(window_.Send(kWmDeviceChange, kDbtDeviceArrival, Record(37, 5, 37, "/dev/sdb")),
            FakeWindowSystem::kOriginalResult);
  EXPECT_EQ(log_.Text(), std::string(kArrival) + "\r\nDevice Type: DBT_DEVTYP_VOLUME 08 " +
                             std::string(kArrival) + "\r\nDevice Name: /dev/sdb 12 ");
  EXPECT_EQ(window_.original_saw, (std::vector<std::uint32_t>{kWmDeviceChange, kWmDeviceChange,
                                                              0x000F, kWmDeviceChange}));

  module_.RemoveMessageHook(window_.window);
  EXPECT_EQ(window_.Slot(), FakeWindowSystem::kOriginal);
}

TEST_F(Module1Test, RemovingAHookThatWasNeverInstalledInstallsNothing) {
  module_.RemoveMessageHook(window_.window);
  EXPECT_TRUE(window_.calls.empty());
  EXPECT_EQ(window_.Slot(), FakeWindowSystem::kOriginal);
}

TEST_F(Module1Test, RegistrationWritesTheHandleEitherWay) {
  std::uintptr_t handle = 99;
  EXPECT_TRUE(module_.RegisterForDeviceNotifications(window_.window, handle));
  EXPECT_EQ(handle, 0x77u);
  EXPECT_EQ(window_.flags, 4u);
  EXPECT_EQ(window_.filter, DeviceInterfaceFilter());
  EXPECT_TRUE(boxes_.shown.empty());

  window_.registration = 0;
  window_.registration_error = 1066;
  EXPECT_FALSE(module_.RegisterForDeviceNotifications(window_.window, handle));
  EXPECT_EQ(handle, 0u);
  ASSERT_EQ(boxes_.shown.size(), 1u);
  EXPECT_EQ(boxes_.shown[0].text, "RegisterDeviceNotification failed: 1066");
  EXPECT_EQ(boxes_.shown[0].caption, "Salvatrix");
  EXPECT_EQ(boxes_.shown[0].style, 0);
}

class Form1HookTest : public testing::ProgramFixture {
 protected:
  void SetUp() override { files_.folders[app_.folder] = {}; }
};

TEST_F(Form1HookTest, LoadRegistersThenHooksAndUnloadUndoesItInReverse) {
  form_.Form_Load();
  int cancel = 0;
  form_.Form_Unload(cancel);
  EXPECT_EQ(system_.calls,
            (std::vector<std::string>{"Register", "Get", "Set 200", "Unregister 119", "Set 100"}));
}

TEST_F(Form1HookTest, RefusedRegistrationStillHooksAndIsNotReleased) {
  system_.registration = 0;
  system_.registration_error = 13;
  form_.Form_Load();
  ASSERT_EQ(boxes_.shown.size(), 1u);
  EXPECT_EQ(boxes_.shown[0].text, "RegisterDeviceNotification failed: 13");
  system_.Send(kWmDeviceChange, kDbtDeviceArrival, Record(20, 2, 20));
  EXPECT_FALSE(form_.Text1.Text().empty());  // the timer will act on it
  int cancel = 0;
  form_.Form_Unload(cancel);
  EXPECT_EQ(system_.calls, (std::vector<std::string>{"Register", "Get", "Set 200", "Set 100"}));
}

}  // namespace
}  // namespace salvatrix
