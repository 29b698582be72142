#include <windows.h>
// windows.h turns the name into CopyFileA or CopyFileW, in our headers too: the interface means
// the method.
#undef CopyFile

#include <algorithm>
#include <atomic>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "app/controls.h"
#include "platform/win32/win32_errors.h"
#include "platform/win32/win32_platform.h"

namespace salvatrix::win32 {
namespace {

// Large enough that reading and writing run at device speed.
constexpr DWORD kBufferBytes = DWORD{1} << 20;
// Beyond this length CreateDirectoryW needs the \\?\ form (it keeps room for an 8.3 name).
constexpr std::size_t kShortPathLimit = MAX_PATH - 12;
constexpr int kTemporaryAttempts = 100;

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
  // Closing is where a network or removable drive may report a write that failed late.
  DWORD Close() {
    return ::CloseHandle(std::exchange(handle_, INVALID_HANDLE_VALUE)) ? ERROR_SUCCESS
                                                                       : ::GetLastError();
  }

 private:
  HANDLE handle_ = INVALID_HANDLE_VALUE;
};

struct FindCloser {
  void operator()(HANDLE handle) const { ::FindClose(handle); }
};
using FindHandle = std::unique_ptr<void, FindCloser>;

bool IsSeparator(wchar_t c) {
  return c == L'\\' || c == L'/';
}

std::wstring Join(const std::wstring& folder, const wchar_t* name) {
  std::wstring path = folder;
  if (!path.empty() && !IsSeparator(path.back())) {
    path += L'\\';
  }
  path += name;
  return path;
}

// Long paths go to the API in the \\?\ form, which skips the MAX_PATH limit but also the
// usual clean-up of the path, so they are made absolute and clean first.
std::wstring Extended(const std::wstring& path) {
  if (path.size() < kShortPathLimit || path.starts_with(L"\\\\?\\") ||
      path.starts_with(L"\\\\.\\")) {
    return path;
  }
  const DWORD needed = ::GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
  if (needed == 0) {
    return path;
  }
  std::wstring full(needed, L'\0');
  full.resize(::GetFullPathNameW(path.c_str(), needed, full.data(), nullptr));
  if (full.starts_with(L"\\\\")) {
    return L"\\\\?\\UNC\\" + full.substr(2);
  }
  return L"\\\\?\\" + full;
}

[[noreturn]] void FailAt(const std::wstring& path, DWORD error) {
  Fail(Narrow(path), error);
}

DWORD Attributes(const std::wstring& path) {
  return ::GetFileAttributesW(Extended(path).c_str());
}

bool IsFolder(DWORD attributes) {
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

// Calls visit with every entry of folder but "." and ".."; returns the error that ended the
// listing early, or ERROR_SUCCESS.
template <typename Visit>
DWORD ListFolder(const std::wstring& folder, Visit visit) {
  WIN32_FIND_DATAW entry{};
  FindHandle find(::FindFirstFileExW(Extended(Join(folder, L"*")).c_str(), FindExInfoBasic, &entry,
                                     FindExSearchNameMatch, nullptr, FIND_FIRST_EX_LARGE_FETCH));
  if (find.get() == INVALID_HANDLE_VALUE) {
    find.release();
    const DWORD error = ::GetLastError();
    // The root of an empty drive has not even "." to list.
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

char* Buffer() {
  thread_local std::unique_ptr<char[]> buffer;
  if (!buffer) {
    buffer = std::make_unique_for_overwrite<char[]>(kBufferBytes);
  }
  return buffer.get();
}

// reading_failed tells which side an error comes from.
DWORD CopyData(HANDLE in, HANDLE out, bool& reading_failed) {
  char* buffer = Buffer();
  while (true) {
    DWORD got = 0;
    if (!::ReadFile(in, buffer, kBufferBytes, &got, nullptr)) {
      reading_failed = true;
      return ::GetLastError();
    }
    if (got == 0) {
      return ERROR_SUCCESS;
    }
    DWORD done = 0;
    while (done < got) {
      DWORD written = 0;
      if (!::WriteFile(out, buffer + done, got - done, &written, nullptr)) {
        return ::GetLastError();
      }
      if (written == 0) {
        return ERROR_WRITE_FAULT;
      }
      done += written;
    }
  }
}

std::wstring TemporaryName() {
  static std::atomic<unsigned> counter{0};
  return L".salvatrix-" + std::to_wstring(::GetCurrentProcessId()) + L"-" +
         std::to_wstring(counter.fetch_add(1, std::memory_order_relaxed)) + L".tmp";
}

// Opens a new, unused temporary beside destination, whose folder part (everything up to and
// including its last separator) ends at name_start.
Handle CreateTemporary(const std::wstring& destination, std::size_t name_start,
                       std::wstring& temporary) {
  const std::wstring folder_part = destination.substr(0, name_start);
  for (int attempt = 0; attempt < kTemporaryAttempts; ++attempt) {
    temporary = folder_part + TemporaryName();
    Handle out(::CreateFileW(Extended(temporary).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                             FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (out.valid()) {
      return out;
    }
    const DWORD error = ::GetLastError();
    if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS) {
      FailAt(destination, error);
    }
  }
  FailAt(destination, ERROR_FILE_EXISTS);
}

// The source's last-write time and its hidden, system and archive marks; read-only is left
// out, or the next copy run could not replace the file.
DWORD TakeOver(HANDLE out, const BY_HANDLE_FILE_INFORMATION& source) {
  FILE_BASIC_INFO basic{};
  basic.LastWriteTime.LowPart = source.ftLastWriteTime.dwLowDateTime;
  basic.LastWriteTime.HighPart = static_cast<LONG>(source.ftLastWriteTime.dwHighDateTime);
  basic.FileAttributes = source.dwFileAttributes &
                         (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE);
  if (basic.FileAttributes == 0) {
    basic.FileAttributes = FILE_ATTRIBUTE_NORMAL;  // 0 would mean "leave them as they are"
  }
  return ::SetFileInformationByHandle(out, FileBasicInfo, &basic, sizeof basic) ? ERROR_SUCCESS
                                                                                : ::GetLastError();
}

// The copy is complete on the device before it takes the destination's name, so a failure at
// any point (or a pulled drive) leaves either the old file or the whole new one.
void CopyOne(const std::wstring& source, const std::wstring& destination, bool overwrite) {
  const std::size_t name_start = destination.find_last_of(L"\\/:") + 1;  // npos + 1 == 0
  if (name_start == destination.size()) {
    FailAt(destination, ERROR_DIRECTORY);
  }
  const DWORD existing = Attributes(destination);
  if (IsFolder(existing)) {
    FailAt(destination, ERROR_ACCESS_DENIED);
  }
  if (!overwrite && existing != INVALID_FILE_ATTRIBUTES) {
    FailAt(destination, ERROR_FILE_EXISTS);
  }

  // Files other programs have open, even for writing, can still be copied.
  Handle in(::CreateFileW(Extended(source).c_str(), GENERIC_READ,
                          FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                          OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
  if (!in.valid()) {
    FailAt(source, ::GetLastError());
  }
  BY_HANDLE_FILE_INFORMATION information{};
  if (!::GetFileInformationByHandle(in.get(), &information)) {
    FailAt(source, ::GetLastError());
  }

  std::wstring temporary;
  Handle out = CreateTemporary(destination, name_start, temporary);
  bool reading_failed = false;
  DWORD error = CopyData(in.get(), out.get(), reading_failed);
  if (error == ERROR_SUCCESS) {
    error = TakeOver(out.get(), information);
  }
  if (error == ERROR_SUCCESS && !::FlushFileBuffers(out.get())) {
    error = ::GetLastError();
  }
  if (error == ERROR_SUCCESS) {
    error = out.Close();
  }
  in.Close();
  if (error == ERROR_SUCCESS &&
      !::MoveFileExW(Extended(temporary).c_str(), Extended(destination).c_str(),
                     MOVEFILE_WRITE_THROUGH | (overwrite ? MOVEFILE_REPLACE_EXISTING : 0))) {
    error = ::GetLastError();
  }
  if (error != ERROR_SUCCESS) {
    out = Handle();
    ::DeleteFileW(Extended(temporary).c_str());
    FailAt(reading_failed ? source : destination, error);
  }
}

// What a folder is, wherever the path to it came from (a junction or a link leads to the
// same folder).
struct FolderId {
  DWORD volume = 0;
  DWORD index_high = 0;
  DWORD index_low = 0;
  friend bool operator==(const FolderId&, const FolderId&) = default;
};

FolderId IdOf(const std::wstring& folder) {
  Handle handle(::CreateFileW(Extended(folder).c_str(), FILE_READ_ATTRIBUTES,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  BY_HANDLE_FILE_INFORMATION information{};
  if (!handle.valid() || !::GetFileInformationByHandle(handle.get(), &information)) {
    FailAt(folder, ::GetLastError());
  }
  return {information.dwVolumeSerialNumber, information.nFileIndexHigh, information.nFileIndexLow};
}

// Creates folder, or accepts the folder already there.
void MakeFolder(const std::wstring& folder) {
  if (::CreateDirectoryW(Extended(folder).c_str(), nullptr)) {
    return;
  }
  const DWORD error = ::GetLastError();
  if (error != ERROR_ALREADY_EXISTS || !IsFolder(Attributes(folder))) {
    FailAt(folder, error);
  }
}

struct Descent {
  bool overwrite = false;
  FolderId destination_root;
  std::vector<FolderId> path;  // the source folders from the top down to the current one
};

void CopyTree(const std::wstring& source, const std::wstring& destination, Descent& descent);

// Links and junctions are followed, except into a folder on the way down from the top (which
// would never end) and into the destination itself.
void CopySubFolder(const std::wstring& source, const std::wstring& destination, Descent& descent) {
  const FolderId id = IdOf(source);
  if (id == descent.destination_root ||
      std::find(descent.path.begin(), descent.path.end(), id) != descent.path.end()) {
    return;
  }
  MakeFolder(destination);
  descent.path.push_back(id);
  CopyTree(source, destination, descent);
  descent.path.pop_back();
}

void CopyTree(const std::wstring& source, const std::wstring& destination, Descent& descent) {
  const DWORD error = ListFolder(source, [&](const WIN32_FIND_DATAW& entry) {
    const std::wstring from = Join(source, entry.cFileName);
    const std::wstring to = Join(destination, entry.cFileName);
    if ((entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
      CopySubFolder(from, to, descent);
    } else {
      CopyOne(from, to, descent.overwrite);
    }
  });
  if (error != ERROR_SUCCESS) {
    FailAt(source, error);
  }
}

enum class EntryKind { kFile, kFolder };

class Win32Folder final : public Folder {
 public:
  explicit Win32Folder(std::wstring path) : path_(std::move(path)) {}

  void ForEachFile(const std::function<void(std::string)>& visit) override {
    ForEach(EntryKind::kFile, visit);
  }
  void ForEachSubFolder(const std::function<void(std::string)>& visit) override {
    ForEach(EntryKind::kFolder, visit);
  }

 private:
  // A link or junction to a folder carries the folder mark, a link to a file does not: each
  // counts as what it leads to.
  void ForEach(EntryKind wanted, const std::function<void(std::string)>& visit) {
    const DWORD error = ListFolder(path_, [&](const WIN32_FIND_DATAW& entry) {
      const bool folder = (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
      if (folder == (wanted == EntryKind::kFolder)) {
        visit(Narrow(entry.cFileName));
      }
    });
    if (error != ERROR_SUCCESS) {
      FailAt(path_, error);
    }
  }

  std::wstring path_;
};

class Win32FileSystemObject final : public FileSystemObject {
 public:
  std::unique_ptr<Folder> GetFolder(std::string_view path) override {
    std::wstring folder = Widen(path);
    const DWORD attributes = Attributes(folder);
    if (attributes == INVALID_FILE_ATTRIBUTES) {
      Fail(path, ::GetLastError());
    }
    if ((attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
      Fail(path, ERROR_DIRECTORY);
    }
    return std::make_unique<Win32Folder>(std::move(folder));
  }

  void CopyFile(std::string_view source, std::string_view destination, bool overwrite) override {
    CopyOne(Widen(source), Widen(destination), overwrite);
  }

  void CopyFolder(std::string_view source, std::string_view destination, bool overwrite) override {
    const std::wstring from = Widen(source);
    const std::wstring to = Widen(destination);
    const DWORD attributes = Attributes(from);
    if (attributes == INVALID_FILE_ATTRIBUTES) {
      Fail(source, ::GetLastError());
    }
    if ((attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
      Fail(source, ERROR_DIRECTORY);
    }
    MakeFolder(to);
    Descent descent{overwrite, IdOf(to), {IdOf(from)}};
    CopyTree(from, to, descent);
  }

  // Every file was flushed (FlushFileBuffers) before it took its name, and every name was
  // given with MOVEFILE_WRITE_THROUGH, which returns once the move is on the device; there is
  // nothing left to write here.
  void Flush(std::string_view destination_root) override { static_cast<void>(destination_root); }
};

}  // namespace

std::unique_ptr<FileSystemObject> Win32FileSystem::CreateObject() {
  return std::make_unique<Win32FileSystemObject>();
}

}  // namespace salvatrix::win32
