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

// A DEV_BROADCAST_DEVICEINTERFACE_W as Windows hands it to a Unicode window: the size field
// counts the name's NUL unit and any padding after it.
std::vector<std::uint8_t> WideRecord(std::u16string_view name, std::size_t padding = 0,
                                     std::int32_t size_change = 0) {
  std::vector<std::uint8_t> bytes = Record(0, 5, 28 + 2 * (name.size() + 1) + padding);
  PutInt32(bytes, 0, static_cast<std::int32_t>(bytes.size()) + size_change);
  for (std::size_t i = 0; i < name.size(); ++i) {
    bytes[28 + 2 * i] = static_cast<std::uint8_t>(name[i] & 0xFF);
    bytes[28 + 2 * i + 1] = static_cast<std::uint8_t>(name[i] >> 8);
  }
  return bytes;
}

// An 8-bit record sized to end with its name's NUL, as the Linux watchers build it.
std::vector<std::uint8_t> NarrowRecord(std::string_view name) {
  const auto size = static_cast<std::int32_t>(28 + name.size() + 1);
  return Record(size, 5, static_cast<std::size_t>(size), name);
}

TEST(ArrivalLogLinesTest, DecodesRecordsByTheirOwnLayoutWithoutReadingPastThem) {
  struct Case {
    const char* what;
    std::vector<std::uint8_t> record;
    std::string name;  // the device-name line's name; unused for other device types
  };
  std::vector<std::uint8_t> no_nul = Record(1052, 5, 1052);
  std::fill(no_nul.begin() + 28, no_nul.end(), 'x');
  const std::u16string usb =
      u"\\\\?\\USBSTOR#Disk&Ven_SanDisk&Prod_Cruzer_Blade&Rev_1.00#4C530001&0#"
      u"{53f56307-b6bf-11d0-94f2-00a0c91efb8b}";
  const std::string usb_utf8 =
      "\\\\?\\USBSTOR#Disk&Ven_SanDisk&Prod_Cruzer_Blade&Rev_1.00#4C530001&0#"
      "{53f56307-b6bf-11d0-94f2-00a0c91efb8b}";
  const std::string arrival(kArrival);
  const std::vector<Case> cases = {
      {"8-bit name", NarrowRecord("ABC"), "ABC"},
      {"8-bit UTF-8 name", NarrowRecord("/dev/sdb Über Stick 中"), "/dev/sdb Über Stick 中"},
      {"8-bit bytes that are no UTF-8 read as Latin-1", NarrowRecord("Caf\xE9 \xFF"), "Café ÿ"},
      {"8-bit empty name", NarrowRecord(""), ""},
      {"8-bit name of 1023 characters", NarrowRecord(std::string(1023, 'n')),
       std::string(1023, 'n')},
      {"8-bit name of 1024 characters", NarrowRecord(std::string(1024, 'n')), ""},
      {"8-bit name with a line break", NarrowRecord("a\r\nwParam"), ""},
      {"UTF-16 name, sized to its NUL", WideRecord(usb), usb_utf8},
      {"UTF-16 name with padding after its NUL", WideRecord(usb, 4), usb_utf8},
      {"UTF-16 non-ASCII name", WideRecord(u"Stick \u00C9 \u4E2D \U0001F600"),
       "Stick É 中 \U0001F600"},
      {"UTF-16 one-letter name", WideRecord(u"A"), "A"},
      {"UTF-16 empty name", WideRecord(u""), ""},
      {"UTF-16 record of an odd size", WideRecord(u"ABCD", 1), ""},
      {"UTF-16 lone high surrogate",
       WideRecord(u"A\xD83D"
                  u"B"),
       ""},
      {"UTF-16 lone low surrogate", WideRecord(u"A\xDE00"), ""},
      {"UTF-16 high surrogate last", WideRecord(u"AB\xD83D"), ""},
      {"UTF-16 name with a line break", WideRecord(u"a\nb"), ""},
      {"UTF-16 NUL beyond the size field", WideRecord(u"USB\\VID_0781", 0, -2), ""},
      {"size beyond the record", WideRecord(u"USB\\VID_0781", 0, 2), ""},
      {"size beyond the record, 8-bit", Record(2000, 5, 40, "USB\\VID_0781"), ""},
      {"no NUL in 1024 characters", no_nul, ""},
      {"size smaller than the header", Record(4, 5, 40, "cut"), ""},
      {"negative size", Record(-1, 5, 40, "neg"), ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    // An exact-size heap copy, so that a read past it is caught by the address sanitizer.
    const std::vector<std::uint8_t> exact(c.record);
    EXPECT_EQ(ArrivalLogLines(exact.data(), exact.size()),
              arrival + "\r\nDevice Name: " + c.name + " 12 ");
  }

  const struct {
    const char* what;
    std::vector<std::uint8_t> record;
    std::string expected;
  } others[] = {
      {"volume", Record(20, 2, 20), arrival + "\r\nDevice Type: DBT_DEVTYP_VOLUME 08 "},
      {"port", Record(12, 3, 12), arrival},
      {"record shorter than a header", Record(0, 2, 6), arrival},
      {"no record", {}, arrival},
  };
  for (const auto& c : others) {
    SCOPED_TRACE(c.what);
    const std::vector<std::uint8_t> exact(c.record);
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
