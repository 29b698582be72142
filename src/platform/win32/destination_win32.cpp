#include "platform/win32/destination_win32.h"

#include <algorithm>
#include <atomic>
#include <memory>
#include <vector>

#include "platform/failure.h"
#include "platform/win32/win32_platform.h"

namespace salvatrix::win32 {
namespace {

// Large enough that reading and writing run at device speed.
constexpr DWORD kBufferBytes = DWORD{1} << 20;
constexpr int kTemporaryAttempts = 100;
constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
constexpr std::wstring_view kTemporaryPrefix = L".salvatrix-";
constexpr std::wstring_view kTemporarySuffix = L".tmp";

char* Buffer() {
  thread_local std::unique_ptr<char[]> buffer;
  if (!buffer) {
    buffer = std::make_unique_for_overwrite<char[]>(kBufferBytes);
  }
  return buffer.get();
}

std::wstring TemporaryName() {
  static std::atomic<unsigned> counter{0};
  return std::wstring(kTemporaryPrefix) + std::to_wstring(::GetCurrentProcessId()) + L"-" +
         std::to_wstring(counter.fetch_add(1, std::memory_order_relaxed)) +
         std::wstring(kTemporarySuffix);
}

[[noreturn]] void FailChanged(const std::wstring& source) {
  throw Failure(Narrow(source) + ": changed while it was copied");
}

ULONGLONG SizeOf(const BY_HANDLE_FILE_INFORMATION& information) {
  return (ULONGLONG{information.nFileSizeHigh} << 32) | information.nFileSizeLow;
}

bool SameTime(const FILETIME& a, const FILETIME& b) {
  return a.dwLowDateTime == b.dwLowDateTime && a.dwHighDateTime == b.dwHighDateTime;
}

// What stands at a name, looked at without following a link there.
struct Standing {
  bool exists = false;
  bool folder = false;
  bool link = false;
  EntryId id;
};

Standing Inspect(const std::wstring& path) {
  Standing standing;
  Handle handle(::CreateFileW(Extended(path).c_str(), FILE_READ_ATTRIBUTES, kShareAll, nullptr,
                              OPEN_EXISTING,
                              FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  if (!handle.valid()) {
    const DWORD error = ::GetLastError();
    if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) {
      return standing;
    }
    FailAt(path, error);
  }
  const DWORD attributes = QueryAttributes(handle.get());
  if (attributes == INVALID_FILE_ATTRIBUTES || !QueryId(handle.get(), standing.id)) {
    FailAt(path, ::GetLastError());
  }
  standing.exists = true;
  standing.folder = (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  // Some systems (wine) open what a link leads to despite the flag, yet still tell by the path
  // that a link stands there.
  const DWORD by_path = ::GetFileAttributesW(Extended(path).c_str());
  standing.link = ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) ||
                  (by_path != INVALID_FILE_ATTRIBUTES && (by_path & FILE_ATTRIBUTE_REPARSE_POINT));
  return standing;
}

// Deletes through a handle the system opened on the link itself, so never what it leads to (a
// junction's folder would go if it were empty). A system that will not open the link itself
// gets a failure instead.
void RemoveLink(const std::wstring& path) {
  Handle link(::CreateFileW(Extended(path).c_str(), DELETE | FILE_READ_ATTRIBUTES, kShareAll,
                            nullptr, OPEN_EXISTING,
                            FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  if (!link.valid()) {
    FailAt(path, ::GetLastError());
  }
  const DWORD attributes = QueryAttributes(link.get());
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    FailAt(path, ::GetLastError());
  }
  if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0) {
    FailAt(path, ERROR_CANT_ACCESS_FILE);
  }
  FILE_DISPOSITION_INFO disposition{TRUE};
  if (!::SetFileInformationByHandle(link.get(), FileDispositionInfo, &disposition,
                                    sizeof disposition)) {
    FailAt(path, ::GetLastError());
  }
  if (const DWORD error = link.Close(); error != ERROR_SUCCESS) {
    FailAt(path, error);
  }
}

// Opens a folder to write in, without FILE_SHARE_DELETE: while the handle is open the folder
// can be neither deleted nor renamed. flags adds FILE_FLAG_OPEN_REPARSE_POINT where a link
// must not be followed.
TargetFolder OpenFolder(const std::wstring& path, DWORD flags) {
  TargetFolder folder{
      path,
      Handle(::CreateFileW(Extended(path).c_str(),
                           FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES | SYNCHRONIZE,
                           FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                           FILE_FLAG_BACKUP_SEMANTICS | flags, nullptr)),
      {}};
  if (!folder.handle.valid()) {
    FailAt(path, ::GetLastError());
  }
  const DWORD attributes = QueryAttributes(folder.handle.get());
  if (attributes == INVALID_FILE_ATTRIBUTES || !QueryId(folder.handle.get(), folder.id)) {
    FailAt(path, ::GetLastError());
  }
  if ((attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
    FailAt(path, ERROR_DIRECTORY);
  }
  // A link slipped in since the look shows here (wine tells it only by the path).
  if ((flags & FILE_FLAG_OPEN_REPARSE_POINT) != 0) {
    const DWORD by_path = ::GetFileAttributesW(Extended(path).c_str());
    if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 || by_path == INVALID_FILE_ATTRIBUTES ||
        (by_path & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
      FailAt(path, ERROR_CANT_ACCESS_FILE);
    }
  }
  return folder;
}

// A hidden file beside the target, open for this process alone: another copy's sweep cannot
// delete it while it is written (deleting needs a share this handle refuses). It is deleted
// again unless it took its name.
class Temporary {
 public:
  explicit Temporary(const std::wstring& folder) {
    for (int attempt = 0; attempt < kTemporaryAttempts; ++attempt) {
      path_ = Join(folder, TemporaryName());
      handle_ = Handle(::CreateFileW(
          Extended(path_).c_str(), GENERIC_WRITE | DELETE | FILE_READ_ATTRIBUTES, 0, nullptr,
          CREATE_NEW, FILE_ATTRIBUTE_HIDDEN | FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
      if (handle_.valid()) {
        return;
      }
      const DWORD error = ::GetLastError();
      if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS) {
        FailAt(path_, error);
      }
    }
    FailAt(path_, ERROR_FILE_EXISTS);
  }
  Temporary(const Temporary&) = delete;
  Temporary& operator=(const Temporary&) = delete;
  ~Temporary() {
    if (named_ || !handle_.valid()) {
      return;
    }
    FILE_DISPOSITION_INFO disposition{TRUE};
    const bool marked = ::SetFileInformationByHandle(handle_.get(), FileDispositionInfo,
                                                     &disposition, sizeof disposition);
    handle_.Close();
    if (!marked) {
      ::DeleteFileW(Extended(path_).c_str());
    }
  }

  HANDLE get() const { return handle_.get(); }

  // Renames through the handle, so the name goes to this very file; a link standing at the
  // name is replaced itself, not what it leads to.
  DWORD TakeName(const std::wstring& path, bool replace) {
    const std::wstring target = SystemPath(path);
    const std::size_t name_bytes = target.size() * sizeof(wchar_t);
    // Zero-filled and one character longer: wine reads the name up to a terminating zero.
    std::vector<std::byte> buffer(sizeof(FILE_RENAME_INFO) + name_bytes + sizeof(wchar_t));
    auto* rename = reinterpret_cast<FILE_RENAME_INFO*>(buffer.data());
    rename->ReplaceIfExists = replace ? TRUE : FALSE;
    rename->RootDirectory = nullptr;
    rename->FileNameLength = static_cast<DWORD>(name_bytes);
    std::copy(target.begin(), target.end(), rename->FileName);
    if (!::SetFileInformationByHandle(handle_.get(), FileRenameInfo, rename,
                                      static_cast<DWORD>(buffer.size()))) {
      return ::GetLastError();
    }
    named_ = true;
    return ERROR_SUCCESS;
  }

  DWORD Close() { return handle_.Close(); }

 private:
  std::wstring path_;
  Handle handle_;
  bool named_ = false;
};

// A file saved while it is copied would give a copy matching neither version: the source must
// give exactly the bytes it had at open, and still have the size and last-write time it had.
void CopyChecked(HANDLE in, const std::wstring& source, const BY_HANDLE_FILE_INFORMATION& at_open,
                 HANDLE out, const std::wstring& destination) {
  const ULONGLONG size = SizeOf(at_open);
  ULONGLONG total = 0;
  char* buffer = Buffer();
  while (true) {
    DWORD got = 0;
    if (!::ReadFile(in, buffer, kBufferBytes, &got, nullptr)) {
      FailAt(source, ::GetLastError());
    }
    if (got == 0) {
      break;
    }
    total += got;
    if (total > size) {
      FailChanged(source);
    }
    DWORD done = 0;
    while (done < got) {
      DWORD written = 0;
      if (!::WriteFile(out, buffer + done, got - done, &written, nullptr)) {
        FailAt(destination, ::GetLastError());
      }
      if (written == 0) {
        FailAt(destination, ERROR_WRITE_FAULT);
      }
      done += written;
    }
  }
  BY_HANDLE_FILE_INFORMATION now{};
  if (!::GetFileInformationByHandle(in, &now)) {
    FailAt(source, ::GetLastError());
  }
  if (total != size || SizeOf(now) != size ||
      !SameTime(now.ftLastWriteTime, at_open.ftLastWriteTime)) {
    FailChanged(source);
  }
}

void SetBasic(HANDLE out, const FILE_BASIC_INFO& basic, const std::wstring& destination) {
  FILE_BASIC_INFO copy = basic;
  if (!::SetFileInformationByHandle(out, FileBasicInfo, &copy, sizeof copy)) {
    FailAt(destination, ::GetLastError());
  }
}

void FlushTo(HANDLE out, const std::wstring& destination) {
  if (!::FlushFileBuffers(out)) {
    FailAt(destination, ::GetLastError());
  }
}

}  // namespace

bool IsTemporaryName(std::wstring_view name) {
  if (!name.starts_with(kTemporaryPrefix) || !name.ends_with(kTemporarySuffix)) {
    return false;
  }
  name.remove_prefix(kTemporaryPrefix.size());
  name.remove_suffix(kTemporarySuffix.size());
  const std::size_t dash = name.find(L'-');
  const auto digits = [](std::wstring_view part) {
    return !part.empty() &&
           std::all_of(part.begin(), part.end(), [](wchar_t c) { return c >= L'0' && c <= L'9'; });
  };
  return dash != std::wstring_view::npos && digits(name.substr(0, dash)) &&
         digits(name.substr(dash + 1));
}

TargetFolder Destination::OpenGiven(const std::wstring& path) {
  return OpenFolder(path, 0);
}

TargetFolder Destination::Enter(const TargetFolder& parent, const std::wstring& name) {
  const std::wstring path = Join(parent.path, name);
  Standing standing = Inspect(path);
  if (standing.exists && standing.link) {
    RemoveLink(path);
    standing = Standing{};
  }
  if (standing.exists && !standing.folder) {
    FailAt(path, ERROR_ALREADY_EXISTS);
  }
  if (!standing.exists && !::CreateDirectoryW(Extended(path).c_str(), nullptr)) {
    FailAt(path, ::GetLastError());
  }
  TargetFolder folder = OpenFolder(path, FILE_FLAG_OPEN_REPARSE_POINT);
  Check(parent, folder.id, name, path);
  Note(parent, folder.id, name);
  return folder;
}

void Destination::WriteFile(const TargetFolder& folder, const std::wstring& name, HANDLE source,
                            const std::wstring& source_path,
                            const BY_HANDLE_FILE_INFORMATION& at_open, bool overwrite) {
  const std::wstring path = Join(folder.path, name);
  const Standing standing = Inspect(path);
  if (standing.exists) {
    if (standing.folder && !standing.link) {
      FailAt(path, ERROR_ACCESS_DENIED);
    }
    if (!overwrite) {
      FailAt(path, ERROR_FILE_EXISTS);
    }
    Check(folder, standing.id, name, path);
  }
  Sweep(folder);

  Temporary temporary(folder.path);
  CopyChecked(source, source_path, at_open, temporary.get(), path);
  FILE_BASIC_INFO basic{};
  basic.LastWriteTime.LowPart = at_open.ftLastWriteTime.dwLowDateTime;
  basic.LastWriteTime.HighPart = static_cast<LONG>(at_open.ftLastWriteTime.dwHighDateTime);
  SetBasic(temporary.get(), basic, path);  // attributes 0: it stays hidden
  // Complete on the device before it takes the name: a pulled drive keeps the old file or the
  // whole new one.
  FlushTo(temporary.get(), path);
  if (standing.exists && standing.link && standing.folder) {
    RemoveLink(path);  // a rename does not replace a folder, even a link to one
  }
  if (const DWORD error = temporary.TakeName(path, overwrite); error != ERROR_SUCCESS) {
    FailAt(path, error);
  }
  EntryId id;
  if (!QueryId(temporary.get(), id)) {
    FailAt(path, ::GetLastError());
  }
  Note(folder, id, name);

  // The source's hidden, system and archive marks; read-only is left out, or the next copy
  // could not replace the file.
  basic = FILE_BASIC_INFO{};
  basic.FileAttributes = at_open.dwFileAttributes &
                         (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE);
  if (basic.FileAttributes == 0) {
    basic.FileAttributes = FILE_ATTRIBUTE_NORMAL;  // 0 would mean "leave them as they are"
  }
  SetBasic(temporary.get(), basic, path);
  FlushTo(temporary.get(), path);  // the new name and marks, as MOVEFILE_WRITE_THROUGH would
  if (const DWORD error = temporary.Close(); error != ERROR_SUCCESS) {
    FailAt(path, error);
  }
}

// Best effort: a temporary that cannot go now (another running copy still writes it, which
// refuses the delete) stays for a later run, and a folder that cannot be listed shows its
// error when the job writes in it.
void Destination::Sweep(const TargetFolder& folder) {
  if (!swept_.insert(folder.id).second) {
    return;
  }
  static_cast<void>(
      ListFolder(folder.path, L".salvatrix-*.tmp", [&](const WIN32_FIND_DATAW& entry) {
        constexpr DWORD kNotAFile = FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT;
        if (IsTemporaryName(entry.cFileName) && (entry.dwFileAttributes & kNotAFile) == 0) {
          ::DeleteFileW(Extended(Join(folder.path, entry.cFileName)).c_str());
        }
      }));
}

void Destination::Check(const TargetFolder& folder, const EntryId& entry, const std::wstring& name,
                        const std::wstring& path) {
  const auto written = written_.find({folder.id, entry});
  if (written == written_.end()) {
    return;
  }
  if (written->second != name) {
    throw Failure(Narrow(path) + ": this copy already wrote it as " + Narrow(written->second));
  }
  written_.erase(written);  // about to be replaced: its number may be given out again
}

void Destination::Note(const TargetFolder& folder, const EntryId& entry, const std::wstring& name) {
  written_[{folder.id, entry}] = name;
}

}  // namespace salvatrix::win32
