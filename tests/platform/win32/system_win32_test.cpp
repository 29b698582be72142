#include <windows.h>
// windows.h would rename the method in our headers too.
#undef GetLogicalDriveStrings

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "detect/module1.h"
#include "platform/win32/win32_platform.h"

namespace salvatrix::win32 {
namespace {

TEST(Win32DriveStrings, SizeQueryThenFillGivesTheRawListWithDriveC) {
  Win32DriveStrings drives;
  const std::uint32_t needed = drives.GetLogicalDriveStrings(0, nullptr);
  ASSERT_GT(needed, 4u);
  std::vector<char> buffer(needed + 8, 'x');
  const std::uint32_t written =
      drives.GetLogicalDriveStrings(static_cast<std::uint32_t>(buffer.size()), buffer.data());
  EXPECT_EQ(written, needed - 1);
  EXPECT_EQ(buffer[written - 1], '\0');
  EXPECT_EQ(buffer[written], '\0');
  const std::string raw(buffer.data(), written);
  EXPECT_NE(raw.find(std::string("C:\\\0", 4)), std::string::npos);
  // A buffer one short of the size is left alone and the size asked for again.
  std::vector<char> small(needed - 1, 'x');
  EXPECT_EQ(drives.GetLogicalDriveStrings(needed - 1, small.data()), needed);
  EXPECT_EQ(drives.DescribeDrive("C:\\").rfind("fixed drive", 0), 0u);
  // Wine's C: is a folder of the host: its file system has a name all the same.
  EXPECT_NE(drives.DescribeDrive("C:\\").find(" ("), std::string::npos);
  EXPECT_EQ(drives.DescribeDrive("?:\\"), "");
}

// Wine registers any window it knows (a handle of its own, last error 0; it never sends device
// notifications) and refuses a handle that is no window with 0 and ERROR_INVALID_PARAMETER (87).
TEST(Win32DeviceNotifications, WindowIsRegisteredAndAnInvalidHandleIsRefused) {
  HWND window =
      ::CreateWindowExA(0, "STATIC", "", 0, 0, 0, 1, 1, HWND_MESSAGE, nullptr, nullptr, nullptr);
  ASSERT_NE(window, nullptr);
  Win32DeviceNotifications notifications;
  std::uint32_t last_error = 12345;
  const std::uintptr_t handle =
      notifications.Register(reinterpret_cast<WindowHandle>(window), DeviceInterfaceFilter(),
                             kDeviceNotifyAllInterfaceClasses, last_error);
  EXPECT_NE(handle, 0u);
  notifications.Unregister(handle);

  last_error = 0;
  EXPECT_EQ(notifications.Register(0x7FFF'FFF0, DeviceInterfaceFilter(),
                                   kDeviceNotifyAllInterfaceClasses, last_error),
            0u);
  EXPECT_NE(last_error, 0u);
  ::DestroyWindow(window);
}

TEST(Win32AppInfo, NamesTheTestProgramAndItsFolder) {
  Win32AppInfo app;
  wchar_t path[MAX_PATH]{};
  ASSERT_GT(::GetModuleFileNameW(nullptr, path, MAX_PATH), 0u);
  const std::string full = Narrow(path);
  const std::string folder = app.SourceFolder();
  EXPECT_EQ(app.ExecutableFileName(), "salvatrix_win32_tests.exe");
  EXPECT_NE(folder.back(), '\\');
  EXPECT_STRCASEEQ(app.JoinPath(folder, app.ExecutableFileName()).c_str(), full.c_str());
  EXPECT_EQ(app.JoinPath("C:\\", "a.txt"), "C:\\a.txt");
  EXPECT_EQ(app.JoinPath("C:\\data", "a.txt"), "C:\\data\\a.txt");
}

}  // namespace
}  // namespace salvatrix::win32
