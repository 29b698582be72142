#include <windows.h>

#include <string>

#include "platform/win32/win32_errors.h"
#include "platform/win32/win32_platform.h"

namespace salvatrix::win32 {
namespace {

// Paths have no length limit worth trusting (\\?\ paths reach 32767 characters), so the buffer
// grows until the name fits.
std::wstring ModulePath() {
  std::wstring path(MAX_PATH, L'\0');
  while (true) {
    const DWORD length =
        ::GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
    if (length == 0) {
      Fail("Cannot tell where the program is", ::GetLastError());
    }
    if (length < path.size()) {
      path.resize(length);
      return path;
    }
    path.resize(path.size() * 2);
  }
}

bool IsSeparator(wchar_t c) {
  return c == L'\\' || c == L'/';
}

std::size_t NameStart(const std::wstring& path) {
  const std::size_t separator = path.find_last_of(L"\\/");
  return separator == std::wstring::npos ? 0 : separator + 1;
}

}  // namespace

std::string Win32AppInfo::SourceFolder() const {
  const std::wstring path = ModulePath();
  std::wstring folder = path.substr(0, NameStart(path));
  // The separator goes, except where it makes the root ("C:\" rather than the current folder
  // of drive C:).
  if (folder.size() > 1 && IsSeparator(folder.back()) && folder[folder.size() - 2] != L':') {
    folder.pop_back();
  }
  return Narrow(folder);
}

std::string Win32AppInfo::ExecutableFileName() const {
  const std::wstring path = ModulePath();
  std::wstring name = path.substr(NameStart(path));
  const std::size_t dot = name.rfind(L'.');
  if (dot != std::wstring::npos && dot > 0) {
    name.resize(dot);
  }
  return Narrow(name) + ".exe";
}

std::string Win32AppInfo::JoinPath(std::string_view folder, std::string_view name) const {
  // An empty folder would otherwise turn name into a path at the root of the current drive.
  if (folder.empty()) {
    return std::string(name);
  }
  std::string path(folder);
  if (path.back() != '\\' && path.back() != '/') {
    path += '\\';
  }
  path += name;
  return path;
}

}  // namespace salvatrix::win32
