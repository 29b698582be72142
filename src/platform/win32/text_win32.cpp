#include <windows.h>

#include <climits>
#include <string>

#include "platform/failure.h"
#include "platform/win32/win32_errors.h"
#include "platform/win32/win32_platform.h"

namespace salvatrix::win32 {
namespace {

int CheckedLength(std::size_t size) {
  if (size > static_cast<std::size_t>(INT_MAX)) {
    throw Failure("A text is too long for the system");
  }
  return static_cast<int>(size);
}

}  // namespace

// Bytes that are not UTF-8, and halves of surrogate pairs on the way back, become U+FFFD rather
// than a failure: a name that cannot be told exactly is still better shown than lost.
std::wstring Widen(std::string_view utf8) {
  if (utf8.empty()) {
    return {};
  }
  const int length = CheckedLength(utf8.size());
  const int needed = ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), length, nullptr, 0);
  if (needed <= 0) {
    Fail("Converting a text from UTF-8", ::GetLastError());
  }
  std::wstring wide(static_cast<std::size_t>(needed), L'\0');
  ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), length, wide.data(), needed);
  return wide;
}

std::string Narrow(std::wstring_view utf16) {
  if (utf16.empty()) {
    return {};
  }
  const int length = CheckedLength(utf16.size());
  const int needed =
      ::WideCharToMultiByte(CP_UTF8, 0, utf16.data(), length, nullptr, 0, nullptr, nullptr);
  if (needed <= 0) {
    Fail("Converting a text to UTF-8", ::GetLastError());
  }
  std::string narrow(static_cast<std::size_t>(needed), '\0');
  ::WideCharToMultiByte(CP_UTF8, 0, utf16.data(), length, narrow.data(), needed, nullptr, nullptr);
  return narrow;
}

std::string SystemMessage(std::uint32_t error) {
  wchar_t* text = nullptr;
  const DWORD length = ::FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, error, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
  std::wstring message;
  if (length > 0 && text != nullptr) {
    message.assign(text, length);
  }
  ::LocalFree(text);
  while (!message.empty() &&
         (message.back() == L'\n' || message.back() == L'\r' || message.back() == L' ')) {
    message.pop_back();
  }
  if (message.empty()) {
    return "error " + std::to_string(error);
  }
  return Narrow(message);
}

void Fail(std::string_view what, std::uint32_t error) {
  throw Failure(std::string(what) + ": " + SystemMessage(error));
}

}  // namespace salvatrix::win32
