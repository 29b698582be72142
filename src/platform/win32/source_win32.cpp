#include <windows.h>

#include <string>
#include <utility>
#include <vector>

#include "platform/failure.h"
#include "platform/win32/destination_win32.h"
#include "platform/win32/win32_errors.h"
#include "platform/win32/win32_platform.h"

namespace salvatrix::win32 {
namespace {

// A folder tree is never this deep; a loop of junctions might be.
constexpr int kMostLevels = 1024;

std::vector<std::string> Components(const std::wstring& path) {
  std::vector<std::string> names;
  std::size_t begin = 0;
  while (begin <= path.size()) {
    const std::size_t end = std::min(path.find(L'\\', begin), path.size());
    if (end > begin) {
      names.push_back(Narrow(std::wstring_view(path).substr(begin, end - begin)));
    }
    begin = end + 1;
  }
  return names;
}

EntryKind KindOf(DWORD attributes) {
  if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
    return EntryKind::kLink;
  }
  return (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ? EntryKind::kFolder : EntryKind::kFile;
}

// Opens path, with flags; what stands there in found (a link by its mark, or, where real is
// given, because the entry is not where its path says: wine marks no link to a file).
Handle OpenEntry(const std::wstring& path, DWORD access, DWORD flags, const std::wstring* real,
                 EntryKind& found) {
  Handle handle(::CreateFileW(Extended(path).c_str(), access, kShareAll, nullptr, OPEN_EXISTING,
                              flags, nullptr));
  if (!handle.valid()) {
    const DWORD error = ::GetLastError();
    if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) {
      found = EntryKind::kMissing;
      return Handle();
    }
    FailAt(path, error);
  }
  const DWORD attributes = QueryAttributes(handle.get());
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    FailAt(path, ::GetLastError());
  }
  found = KindOf(attributes);
  if (real != nullptr && found != EntryKind::kLink) {
    const std::wstring at = FinalPath(handle.get());
    const std::size_t name = path.find_last_of(L"\\/") + 1;
    if (at.empty() || at != Join(*real, std::wstring_view(path).substr(name))) {
      found = EntryKind::kLink;
    }
  }
  return handle;
}

class Win32SourceFolder final : public SourceFolder {
 public:
  Win32SourceFolder(std::wstring path, Handle handle, EntryId id)
      : path_(std::move(path)), handle_(std::move(handle)), id_(id) {}

  EntryId Id() const override { return id_; }
  std::vector<EntryId> Above() override { return IdsAbove(handle_.get(), path_); }

  // A link or junction to a folder carries the folder mark, a link to a file does not.
  std::vector<SourceEntry> List() override {
    std::vector<SourceEntry> entries;
    const DWORD error = ListFolder(path_, L"*", [&](const WIN32_FIND_DATAW& entry) {
      const EntryKind kind = KindOf(entry.dwFileAttributes);
      const EntryKind target = (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0
                                   ? EntryKind::kFolder
                                   : EntryKind::kFile;
      entries.push_back({Narrow(entry.cFileName), kind, target});
    });
    if (error != ERROR_SUCCESS) {
      FailAt(path_, error);
    }
    return entries;
  }

  std::unique_ptr<SourceFile> OpenFile(const std::string& name, EntryKind& found) override {
    return OpenSourceFileW(Join(path_, Widen(name)), found, FILE_FLAG_OPEN_REPARSE_POINT, &Real(),
                           id_);
  }

  std::unique_ptr<SourceFolder> OpenFolder(const std::string& name, EntryKind& found) override {
    return OpenSourceFolderW(Join(path_, Widen(name)), found, FILE_FLAG_OPEN_REPARSE_POINT,
                             &Real());
  }

  std::vector<std::string> RealPath() override { return Components(Real()); }

  std::optional<std::vector<std::string>> RealPath(const std::string& name) override {
    const std::wstring path = Join(path_, Widen(name));
    Handle handle(::CreateFileW(Extended(path).c_str(), FILE_READ_ATTRIBUTES, kShareAll, nullptr,
                                OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (!handle.valid()) {
      const DWORD error = ::GetLastError();
      if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ||
          error == ERROR_CANT_RESOLVE_FILENAME) {  // the last: links in a circle
        return std::nullopt;
      }
      FailAt(path, error);
    }
    const std::wstring real = FinalPath(handle.get());
    if (real.empty()) {
      FailAt(path, ::GetLastError());
    }
    return Components(real);
  }

  std::string PathOf(std::string_view name) const override {
    return Narrow(Join(path_, Widen(name)));
  }

 private:
  const std::wstring& Real() {
    if (real_.empty()) {
      real_ = FinalPath(handle_.get());
      if (real_.empty()) {
        FailAt(path_, ::GetLastError());
      }
    }
    return real_;
  }

  std::wstring path_;
  Handle handle_;
  EntryId id_;
  std::wstring real_;
};

class Win32Session final : public FileSession {
 public:
  std::unique_ptr<SourceFolder> OpenSourceFolder(std::string_view path, EntryKind& found) override {
    return OpenSourceFolderW(Widen(path), found, 0, nullptr);
  }

  std::unique_ptr<SourceFile> OpenSourceFile(std::string_view path, EntryKind& found) override {
    auto file = OpenSourceFileW(Widen(path), found, 0, nullptr, std::nullopt);
    if (found == EntryKind::kMissing) {
      FailAt(Widen(path), ERROR_FILE_NOT_FOUND);
    }
    return file;
  }

  // The folder part of a destination (up to its last separator) and the name after it.
  std::unique_ptr<DestinationFolder> OpenDestination(std::string_view destination,
                                                     std::string& name) override {
    const std::wstring path = Widen(destination);
    const std::size_t name_start = path.find_last_of(L"\\/:") + 1;  // npos + 1 == 0
    if (name_start == path.size()) {
      FailAt(path, ERROR_DIRECTORY);
    }
    name = Narrow(std::wstring_view(path).substr(name_start));
    const std::wstring folder = path.substr(0, name_start);
    return Win32Destination::Open(folder.empty() ? L"." : folder, false, traits_);
  }

  // Every file was flushed (FlushFileBuffers) before it took its name, and again after, which
  // puts the name on the device as MOVEFILE_WRITE_THROUGH would; there is nothing left to
  // write here.
  void Flush(std::string_view) override {}

  void Report(std::string_view line) override {
    ::OutputDebugStringW((Widen(line) + L"\n").c_str());
  }

 private:
  VolumeTraits traits_;
};

}  // namespace

std::vector<EntryId> IdsAbove(HANDLE folder, const std::wstring& path) {
  std::vector<EntryId> ids;
  std::wstring at = FinalPath(folder, true);
  if (at.empty()) {
    FailAt(path, ::GetLastError());
  }
  for (int level = 0; level < kMostLevels; ++level) {
    const std::size_t separator = at.find_last_of(L'\\');
    if (separator == std::wstring::npos || separator + 1 >= at.size()) {
      break;
    }
    at.resize(separator);
    // The volume's root keeps its separator: \\?\C: alone would be the volume itself.
    const std::wstring open = at.find(L'\\', 4) == std::wstring::npos ? at + L"\\" : at;
    Handle up(::CreateFileW(open.c_str(), FILE_READ_ATTRIBUTES, kShareAll, nullptr, OPEN_EXISTING,
                            FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    EntryId id;
    if (!up.valid() || !QueryId(up.get(), id)) {
      break;  // above what can be opened there is nothing the copy could write into
    }
    ids.push_back(id);
  }
  return ids;
}

Win32SourceFile::Win32SourceFile(Handle in, std::wstring path,
                                 const BY_HANDLE_FILE_INFORMATION& at_open, EntryId id,
                                 std::optional<EntryId> folder)
    : in_(std::move(in)), path_(std::move(path)), at_open_(at_open), id_(id), folder_(folder) {}

EntryId Win32SourceFile::FolderId() {
  if (!folder_) {
    const std::size_t name = path_.find_last_of(L"\\/");
    const std::wstring parent = name == std::wstring::npos ? L"." : path_.substr(0, name + 1);
    Handle folder(::CreateFileW(Extended(parent).c_str(), FILE_READ_ATTRIBUTES, kShareAll, nullptr,
                                OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    EntryId id;
    if (!folder.valid() || !QueryId(folder.get(), id)) {
      FailAt(parent, ::GetLastError());
    }
    folder_ = id;
  }
  return *folder_;
}

namespace {

FileStamp StampOf(const BY_HANDLE_FILE_INFORMATION& information) {
  return {(ULONGLONG{information.nFileSizeHigh} << 32) | information.nFileSizeLow,
          static_cast<std::int64_t>((ULONGLONG{information.ftLastWriteTime.dwHighDateTime} << 32) |
                                    information.ftLastWriteTime.dwLowDateTime)};
}

}  // namespace

FileStamp Win32SourceFile::AtOpen() const {
  return StampOf(at_open_);
}

FileStamp Win32SourceFile::Stamp() {
  BY_HANDLE_FILE_INFORMATION now{};
  if (!::GetFileInformationByHandle(in_.get(), &now)) {
    FailAt(path_, ::GetLastError());
  }
  return StampOf(now);
}

// A read at an offset moves the file position of a handle opened for plain reads; it is put
// back.
bool Win32SourceFile::HasByteAt(std::uint64_t offset) {
  LARGE_INTEGER position{};
  if (!::SetFilePointerEx(in_.get(), LARGE_INTEGER{}, &position, FILE_CURRENT)) {
    FailAt(path_, ::GetLastError());
  }
  OVERLAPPED at{};
  at.Offset = static_cast<DWORD>(offset);
  at.OffsetHigh = static_cast<DWORD>(offset >> 32);
  char probe = 0;
  DWORD got = 0;
  const BOOL read = ::ReadFile(in_.get(), &probe, 1, &got, &at);
  const DWORD error = ::GetLastError();
  ::SetFilePointerEx(in_.get(), position, nullptr, FILE_BEGIN);
  if (!read && error != ERROR_HANDLE_EOF) {
    FailAt(path_, error);
  }
  return read && got > 0;
}

std::unique_ptr<SourceFile> OpenSourceFileW(const std::wstring& path, EntryKind& found, DWORD flags,
                                            const std::wstring* folder_real,
                                            std::optional<EntryId> folder) {
  // Files other programs have open, even for writing, can still be copied.
  Handle in =
      OpenEntry(path, GENERIC_READ, FILE_FLAG_SEQUENTIAL_SCAN | FILE_FLAG_BACKUP_SEMANTICS | flags,
                folder_real, found);
  if (found != EntryKind::kFile) {
    return nullptr;
  }
  BY_HANDLE_FILE_INFORMATION at_open{};
  EntryId id;
  if (!::GetFileInformationByHandle(in.get(), &at_open) || !QueryId(in.get(), id)) {
    FailAt(path, ::GetLastError());
  }
  return std::make_unique<Win32SourceFile>(std::move(in), path, at_open, id, folder);
}

std::unique_ptr<SourceFolder> OpenSourceFolderW(const std::wstring& path, EntryKind& found,
                                                DWORD flags, const std::wstring* parent_real) {
  Handle folder =
      OpenEntry(path, FILE_READ_ATTRIBUTES, FILE_FLAG_BACKUP_SEMANTICS | flags, parent_real, found);
  if (found == EntryKind::kMissing && parent_real == nullptr) {
    FailAt(path, ERROR_PATH_NOT_FOUND);
  }
  if (found != EntryKind::kFolder) {
    return nullptr;
  }
  EntryId id;
  if (!QueryId(folder.get(), id)) {
    FailAt(path, ::GetLastError());
  }
  return std::make_unique<Win32SourceFolder>(path, std::move(folder), id);
}

std::unique_ptr<FileSession> Win32Files::StartSession() {
  return std::make_unique<Win32Session>();
}

}  // namespace salvatrix::win32
