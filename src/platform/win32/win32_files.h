#pragma once

#include <windows.h>

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <utility>

#include "platform/file_primitives.h"

namespace salvatrix::win32 {

/// An owned kernel handle, closed when it goes.
class Handle {
 public:
  Handle() = default;
  explicit Handle(HANDLE handle) : handle_(handle) {}
  Handle(Handle&& other) noexcept : handle_(std::exchange(other.handle_, INVALID_HANDLE_VALUE)) {}
  Handle& operator=(Handle&& other) noexcept {
    std::swap(handle_, other.handle_);
    return *this;
  }
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
  ~Handle() {
    if (valid()) {
      ::CloseHandle(handle_);
    }
  }

  HANDLE get() const { return handle_; }
  bool valid() const { return handle_ != INVALID_HANDLE_VALUE && handle_ != nullptr; }
  /// Closes now; returns the error closing reported (a removable or network drive may report
  /// a write that failed late), or ERROR_SUCCESS.
  DWORD Close() {
    return ::CloseHandle(std::exchange(handle_, INVALID_HANDLE_VALUE)) ? ERROR_SUCCESS
                                                                       : ::GetLastError();
  }

 private:
  HANDLE handle_ = INVALID_HANDLE_VALUE;
};

bool IsSeparator(wchar_t c);
/// folder + "\" + name, without doubling a separator folder already ends in (or adding one
/// after a bare drive, "C:").
std::wstring Join(const std::wstring& folder, std::wstring_view name);
/// The path as the API takes it at any length: the \\?\ form, made absolute and clean, once
/// the path is too long for the plain form; the path itself otherwise.
std::wstring Extended(const std::wstring& path);
/// The path in the system's own form (\??\C:\...), as a rename through a handle wants it.
std::wstring SystemPath(const std::wstring& path);
/// Throws Failure with the path and the system's text for error.
[[noreturn]] void FailAt(const std::wstring& path, DWORD error);

/// The identity of an open file or folder; false (with the error in GetLastError) when the
/// system cannot tell it.
bool QueryId(HANDLE handle, EntryId& id);
/// The attributes of an open file or folder; INVALID_FILE_ATTRIBUTES on failure.
DWORD QueryAttributes(HANDLE handle);
/// Where an open file or folder really is once every link on the way is resolved
/// (\Device\...\name); empty (with the error in GetLastError) when the system cannot tell.
/// dos: in the \\?\C:\... form, which can be opened again (the device form needs no question
/// to the mount manager, and two answers of the same form can be compared).
std::wstring FinalPath(HANDLE handle, bool dos = false);

struct FindCloser {
  void operator()(HANDLE handle) const { ::FindClose(handle); }
};
using FindHandle = std::unique_ptr<void, FindCloser>;

/// Calls visit with every entry of folder whose name matches pattern ("*" for all), but "."
/// and ".."; returns the error that ended the listing early, or ERROR_SUCCESS.
template <typename Visit>
DWORD ListFolder(const std::wstring& folder, const wchar_t* pattern, Visit visit) {
  WIN32_FIND_DATAW entry{};
  FindHandle find(::FindFirstFileExW(Extended(Join(folder, pattern)).c_str(), FindExInfoBasic,
                                     &entry, FindExSearchNameMatch, nullptr,
                                     FIND_FIRST_EX_LARGE_FETCH));
  if (find.get() == INVALID_HANDLE_VALUE) {
    find.release();
    const DWORD error = ::GetLastError();
    // The root of an empty drive has not even "." to list, and a pattern may match nothing.
    return error == ERROR_FILE_NOT_FOUND ? ERROR_SUCCESS : error;
  }
  do {
    const std::wstring_view name = entry.cFileName;
    if (name != L"." && name != L"..") {
      visit(entry);
    }
  } while (::FindNextFileW(find.get(), &entry));
  const DWORD error = ::GetLastError();
  return error == ERROR_NO_MORE_FILES ? ERROR_SUCCESS : error;
}

}  // namespace salvatrix::win32
