#include <windows.h>
// windows.h turns the name into GetLogicalDriveStringsA or W, in our headers too: the interface
// means the method.
#undef GetLogicalDriveStrings

#include <array>
#include <string>

#include "platform/win32/win32_platform.h"

namespace salvatrix::win32 {
namespace {

std::string DriveTypeText(UINT type) {
  switch (type) {
    case DRIVE_REMOVABLE:
      return "removable drive";
    case DRIVE_FIXED:
      return "fixed drive";
    case DRIVE_REMOTE:
      return "network drive";
    case DRIVE_CDROM:
      return "CD/DVD drive";
    case DRIVE_RAMDISK:
      return "RAM disk";
    default:
      return {};
  }
}

}  // namespace

std::uint32_t Win32DriveStrings::GetLogicalDriveStrings(std::uint32_t length, char* buffer) {
  return ::GetLogicalDriveStringsA(length, buffer);
}

std::string Win32DriveStrings::DescribeDrive(std::string_view root) const {
  std::wstring path = Widen(root);
  if (!path.empty() && path.back() != L'\\') {
    path += L'\\';
  }
  std::string text = DriveTypeText(::GetDriveTypeW(path.c_str()));
  if (text.empty()) {
    return text;
  }
  // A drive without a medium (an empty card reader) answers with an error rather than the
  // system's "insert a disk" box: WinMain has set the process's error mode for that.
  std::array<wchar_t, MAX_PATH + 1> label{};
  std::array<wchar_t, MAX_PATH + 1> file_system{};
  const BOOL has_volume = ::GetVolumeInformationW(
      path.c_str(), label.data(), static_cast<DWORD>(label.size()), nullptr, nullptr, nullptr,
      file_system.data(), static_cast<DWORD>(file_system.size()));
  if (has_volume && file_system[0] != L'\0') {
    text += " (" + Narrow(file_system.data()) + ")";
  }
  if (has_volume && label[0] != L'\0') {
    text += ", label " + Narrow(label.data());
  }
  return text;
}

}  // namespace salvatrix::win32
