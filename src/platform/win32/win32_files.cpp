#include "platform/win32/win32_files.h"

#include <cstring>

#include "platform/win32/win32_errors.h"
#include "platform/win32/win32_platform.h"

namespace salvatrix::win32 {
namespace {

// Beyond this length CreateDirectoryW needs the \\?\ form (it keeps room for an 8.3 name).
constexpr std::size_t kShortPathLimit = MAX_PATH - 12;

// FILE_ID_INFO and its class number, which the headers declare only for Windows 8 and later.
struct FileIdInformation {
  ULONGLONG volume;
  BYTE file[16];
};
constexpr auto kFileIdInfo = static_cast<FILE_INFO_BY_HANDLE_CLASS>(18);

std::wstring FullPath(const std::wstring& path) {
  const DWORD needed = ::GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
  if (needed == 0) {
    return path;
  }
  std::wstring full(needed, L'\0');
  full.resize(::GetFullPathNameW(path.c_str(), needed, full.data(), nullptr));
  return full;
}

}  // namespace

bool IsSeparator(wchar_t c) {
  return c == L'\\' || c == L'/';
}

std::wstring Join(const std::wstring& folder, std::wstring_view name) {
  std::wstring path = folder;
  // "C:" is the current folder of drive C, and "C:\" would be its root.
  if (!path.empty() && !IsSeparator(path.back()) && path.back() != L':') {
    path += L'\\';
  }
  path += name;
  return path;
}

// The \\?\ form skips the MAX_PATH limit but also the usual clean-up of the path, so the path
// is made absolute and clean first.
std::wstring Extended(const std::wstring& path) {
  if (path.size() < kShortPathLimit || path.starts_with(L"\\\\?\\") ||
      path.starts_with(L"\\\\.\\")) {
    return path;
  }
  const std::wstring full = FullPath(path);
  if (full.starts_with(L"\\\\")) {
    return L"\\\\?\\UNC\\" + full.substr(2);
  }
  return L"\\\\?\\" + full;
}

std::wstring SystemPath(const std::wstring& path) {
  if (path.starts_with(L"\\\\?\\")) {
    return L"\\??\\" + path.substr(4);
  }
  const std::wstring full = FullPath(path);
  if (full.starts_with(L"\\\\")) {
    return L"\\??\\UNC\\" + full.substr(2);
  }
  return L"\\??\\" + full;
}

[[noreturn]] void FailAt(const std::wstring& path, DWORD error) {
  Fail(Narrow(path), error);
}

// The 128-bit number where the file system has one (ReFS needs it), the classic 64-bit one
// on systems before Windows 8; a file system answers the same way every time.
bool QueryId(HANDLE handle, EntryId& id) {
  FileIdInformation information{};
  if (::GetFileInformationByHandleEx(handle, kFileIdInfo, &information, sizeof information)) {
    id.volume = information.volume;
    std::memcpy(id.file.data(), information.file, id.file.size());
    return true;
  }
  BY_HANDLE_FILE_INFORMATION classic{};
  if (!::GetFileInformationByHandle(handle, &classic)) {
    return false;
  }
  id = EntryId{};
  id.volume = classic.dwVolumeSerialNumber;
  const std::uint64_t index = (std::uint64_t{classic.nFileIndexHigh} << 32) | classic.nFileIndexLow;
  std::memcpy(id.file.data(), &index, sizeof index);
  return true;
}

DWORD QueryAttributes(HANDLE handle) {
  FILE_BASIC_INFO basic{};
  return ::GetFileInformationByHandleEx(handle, FileBasicInfo, &basic, sizeof basic)
             ? basic.FileAttributes
             : INVALID_FILE_ATTRIBUTES;
}

std::wstring FinalPath(HANDLE handle, bool dos) {
  std::wstring path(MAX_PATH, L'\0');
  while (true) {
    const DWORD length = ::GetFinalPathNameByHandleW(
        handle, path.data(), static_cast<DWORD>(path.size()),
        FILE_NAME_NORMALIZED | (dos ? VOLUME_NAME_DOS : VOLUME_NAME_NT));
    if (length == 0) {
      return {};
    }
    if (length < path.size()) {
      path.resize(length);
      return path;
    }
    path.resize(length);
  }
}

}  // namespace salvatrix::win32
