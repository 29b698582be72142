#include "platform/win32/destination_win32.h"

#include <winioctl.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

#include "platform/failure.h"
#include "platform/win32/win32_platform.h"

namespace salvatrix::win32 {
namespace {

// Large enough that reading and writing run at device speed.
constexpr DWORD kBufferBytes = DWORD{1} << 20;

char* Buffer() {
  thread_local std::unique_ptr<char[]> buffer;
  if (!buffer) {
    buffer = std::make_unique_for_overwrite<char[]>(kBufferBytes);
  }
  return buffer.get();
}

constexpr DWORD kNoFollow = FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS;

// The entry at path itself, never what a link there leads to.
Handle OpenItself(const std::wstring& path, DWORD access) {
  return Handle(::CreateFileW(Extended(path).c_str(), access, kShareAll, nullptr, OPEN_EXISTING,
                              kNoFollow, nullptr));
}

// A volume mounted on a folder is a junction to \??\Volume{...}\; any other reparse point is a
// link.
bool IsVolumeMountPoint(HANDLE handle) {
  std::vector<std::byte> data(MAXIMUM_REPARSE_DATA_BUFFER_SIZE);
  DWORD got = 0;
  if (!::DeviceIoControl(handle, FSCTL_GET_REPARSE_POINT, nullptr, 0, data.data(),
                         static_cast<DWORD>(data.size()), &got, nullptr) ||
      got < 16) {
    return false;
  }
  DWORD tag = 0;
  std::memcpy(&tag, data.data(), sizeof tag);
  if (tag != IO_REPARSE_TAG_MOUNT_POINT) {
    return false;
  }
  // The mount point buffer: tag, length, reserved, then four offsets and lengths in bytes, then
  // the path buffer with the substitute name first.
  WORD offset = 0;
  WORD length = 0;
  std::memcpy(&offset, data.data() + 8, sizeof offset);
  std::memcpy(&length, data.data() + 10, sizeof length);
  constexpr std::wstring_view kVolume = L"\\??\\Volume{";
  if (16u + offset + length > got || length < kVolume.size() * sizeof(wchar_t)) {
    return false;
  }
  std::wstring name(length / sizeof(wchar_t), L'\0');
  std::memcpy(name.data(), data.data() + 16 + offset, length);
  return name.starts_with(kVolume);
}

bool SetBasic(HANDLE handle, const FILE_BASIC_INFO& basic) {
  FILE_BASIC_INFO copy = basic;
  return ::SetFileInformationByHandle(handle, FileBasicInfo, &copy, sizeof copy) != 0;
}

// A file being written, open for this process alone: another copy's clean-up cannot delete it
// (deleting needs a share this handle refuses). Removed again through its own handle, so never
// another program's file.
class Win32NewFile final : public NewFile {
 public:
  Win32NewFile(Handle handle, std::wstring folder, std::wstring name)
      : handle_(std::move(handle)), folder_(std::move(folder)), name_(std::move(name)) {}

  EntryId Id() override {
    EntryId id;
    if (!QueryId(handle_.get(), id)) {
      FailAt(Path(), ::GetLastError());
    }
    return id;
  }

  std::uint64_t Fill(SourceFile& from, std::uint64_t limit) override {
    auto& source = dynamic_cast<Win32SourceFile&>(from);
    std::uint64_t moved = 0;
    while (moved < limit) {
      DWORD got = 0;
      const auto want = static_cast<DWORD>(std::min<std::uint64_t>(limit - moved, kBufferBytes));
      if (!::ReadFile(source.get(), Buffer(), want, &got, nullptr)) {
        FailAt(source.path(), ::GetLastError());
      }
      if (got == 0) {
        break;
      }
      for (DWORD done = 0; done < got;) {
        DWORD written = 0;
        if (!::WriteFile(handle_.get(), Buffer() + done, got - done, &written, nullptr)) {
          FailAt(Path(), ::GetLastError());
        }
        if (written == 0) {
          FailAt(Path(), ERROR_WRITE_FAULT);
        }
        done += written;
      }
      moved += got;
    }
    return moved;
  }

  void TakeAttributes(SourceFile& from) override {
    const BY_HANDLE_FILE_INFORMATION& at_open = dynamic_cast<Win32SourceFile&>(from).at_open();
    FILE_BASIC_INFO basic{};
    basic.LastWriteTime.LowPart = at_open.ftLastWriteTime.dwLowDateTime;
    basic.LastWriteTime.HighPart = static_cast<LONG>(at_open.ftLastWriteTime.dwHighDateTime);
    if (!SetBasic(handle_.get(), basic)) {  // attributes 0: a temporary stays hidden
      FailAt(Path(), ::GetLastError());
    }
    // The source's own marks, read-only among them, once the file has its name.
    marks_ = at_open.dwFileAttributes & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
                                         FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_READONLY);
  }

  // Complete on the device before it takes the name: a pulled drive keeps the old file or the
  // whole new one.
  void Commit() override { Flush(); }

  bool Link(const std::string&, bool) override { FailAt(Path(), ERROR_NOT_SUPPORTED); }

  // Renames through the handle, so the name goes to this very file; a link standing at the
  // name is replaced itself, not what it leads to.
  void Rename(const std::string& name) override {
    const std::wstring wide = Widen(name);
    const std::wstring target = SystemPath(Join(folder_, wide));
    const std::size_t name_bytes = target.size() * sizeof(wchar_t);
    // Zero-filled and one character longer: wine reads the name up to a terminating zero.
    std::vector<std::byte> buffer(sizeof(FILE_RENAME_INFO) + name_bytes + sizeof(wchar_t));
    auto* rename = reinterpret_cast<FILE_RENAME_INFO*>(buffer.data());
    rename->ReplaceIfExists = TRUE;
    rename->RootDirectory = nullptr;
    rename->FileNameLength = static_cast<DWORD>(name_bytes);
    std::copy(target.begin(), target.end(), rename->FileName);
    if (!::SetFileInformationByHandle(handle_.get(), FileRenameInfo, rename,
                                      static_cast<DWORD>(buffer.size()))) {
      FailAt(Join(folder_, wide), ::GetLastError());
    }
    name_ = wide;
  }

  void Close() override {
    FILE_BASIC_INFO basic{};
    basic.FileAttributes = marks_ == 0 ? FILE_ATTRIBUTE_NORMAL : marks_;  // 0 would keep them
    if (!SetBasic(handle_.get(), basic)) {
      FailAt(Path(), ::GetLastError());
    }
    Flush();  // the new name and marks, as MOVEFILE_WRITE_THROUGH would
    closed_ = true;
    if (const DWORD error = handle_.Close(); error != ERROR_SUCCESS) {
      FailAt(Path(), error);
    }
  }

  void Discard() noexcept override {
    if (closed_ || !handle_.valid()) {
      return;
    }
    FILE_DISPOSITION_INFO disposition{TRUE};
    ::SetFileInformationByHandle(handle_.get(), FileDispositionInfo, &disposition,
                                 sizeof disposition);
    handle_.Close();
  }

 private:
  std::wstring Path() const { return Join(folder_, name_); }
  void Flush() {
    if (!::FlushFileBuffers(handle_.get())) {
      FailAt(Path(), ::GetLastError());
    }
  }

  Handle handle_;
  std::wstring folder_;
  std::wstring name_;
  DWORD marks_ = 0;
  bool closed_ = false;
};

// Windows' file systems fold case (the rule matters only where identities cannot tell, which
// they always can here); FAT's sizes have 32 bits.
FolderTraits TraitsOf(HANDLE folder) {
  FolderTraits traits;
  traits.names = NameRule::kUpcase;
  wchar_t name[MAX_PATH + 1] = {};
  if (::GetVolumeInformationByHandleW(folder, nullptr, 0, nullptr, nullptr, nullptr, name,
                                      MAX_PATH + 1) &&
      std::wstring_view(name).starts_with(L"FAT")) {
    traits.max_file_size = 0xFFFFFFFF;
  }
  return traits;
}

}  // namespace

Win32Destination::Win32Destination(std::wstring path, Handle handle, EntryId id, VolumeTraits& all)
    : path_(std::move(path)), handle_(std::move(handle)), id_(id), all_traits_(all) {
  auto known = all_traits_.find(id_.volume);
  if (known == all_traits_.end()) {
    known = all_traits_.emplace(id_.volume, TraitsOf(handle_.get())).first;
  }
  traits_ = &known->second;
}

std::unique_ptr<Win32Destination> Win32Destination::Open(const std::wstring& path, bool no_link,
                                                         VolumeTraits& traits) {
  Handle handle(::CreateFileW(Extended(path).c_str(),
                              FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES | SYNCHRONIZE,
                              FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                              FILE_FLAG_BACKUP_SEMANTICS | (no_link ? kNoFollow : 0), nullptr));
  if (!handle.valid()) {
    const DWORD error = ::GetLastError();
    if (no_link && (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND)) {
      return nullptr;
    }
    FailAt(path, error);
  }
  const DWORD attributes = QueryAttributes(handle.get());
  EntryId id;
  if (attributes == INVALID_FILE_ATTRIBUTES || !QueryId(handle.get(), id)) {
    FailAt(path, ::GetLastError());
  }
  if ((attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
    if (no_link) {
      return nullptr;
    }
    FailAt(path, ERROR_DIRECTORY);
  }
  // A link slipped in since the look shows here (wine tells it only by the path).
  if (no_link) {
    const DWORD by_path = ::GetFileAttributesW(Extended(path).c_str());
    if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 || by_path == INVALID_FILE_ATTRIBUTES ||
        (by_path & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
      return nullptr;
    }
  }
  return std::unique_ptr<Win32Destination>(
      new Win32Destination(path, std::move(handle), id, traits));
}

EntryInfo Win32Destination::Look(const std::string& name) {
  const std::wstring path = Join(path_, Widen(name));
  const Handle handle = OpenItself(path, FILE_READ_ATTRIBUTES);
  if (!handle.valid()) {
    const DWORD error = ::GetLastError();
    if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) {
      return {};
    }
    FailAt(path, error);
  }
  EntryInfo info;
  const DWORD attributes = QueryAttributes(handle.get());
  if (attributes == INVALID_FILE_ATTRIBUTES || !QueryId(handle.get(), info.id)) {
    FailAt(path, ::GetLastError());
  }
  const bool folder = (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  // Some systems (wine) open what a link leads to despite the flag, yet still tell by the path
  // that a link stands there.
  const DWORD by_path = ::GetFileAttributesW(Extended(path).c_str());
  const bool link =
      (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 ||
      (by_path != INVALID_FILE_ATTRIBUTES && (by_path & FILE_ATTRIBUTE_REPARSE_POINT));
  info.kind = link ? (IsVolumeMountPoint(handle.get()) ? EntryKind::kMountPoint : EntryKind::kLink)
              : folder ? EntryKind::kFolder
                       : EntryKind::kFile;
  info.leads_to_folder = link && folder;
  info.read_only = (attributes & FILE_ATTRIBUTE_READONLY) != 0 && !folder;
  return info;
}

std::vector<std::string> Win32Destination::List() {
  std::vector<std::string> names;
  const DWORD error = ListFolder(path_, L"*", [&](const WIN32_FIND_DATAW& entry) {
    names.push_back(Narrow(entry.cFileName));
  });
  if (error != ERROR_SUCCESS) {
    FailAt(path_, error);
  }
  return names;
}

std::unique_ptr<DestinationFolder> Win32Destination::Open(const std::string& name) {
  auto folder = Open(Join(path_, Widen(name)), true, all_traits_);
  // Another volume is another file system, whichever way it came to stand there.
  if (folder != nullptr && folder->id_.volume != id_.volume) {
    return nullptr;
  }
  return folder;
}

bool Win32Destination::Make(const std::string& name, SourceFolder&) {
  const std::wstring path = Join(path_, Widen(name));
  if (::CreateDirectoryW(Extended(path).c_str(), nullptr)) {
    return true;
  }
  if (::GetLastError() != ERROR_ALREADY_EXISTS) {
    FailAt(path, ::GetLastError());
  }
  return false;
}

// Deletes through a handle the system opened on the link itself, so never what it leads to (a
// junction's folder would go if it were empty). A system that will not open the link itself
// gets a failure instead.
void Win32Destination::RemoveLink(const std::string& name, const EntryInfo& expected) {
  const std::wstring path = Join(path_, Widen(name));
  Handle link = OpenItself(path, DELETE | FILE_READ_ATTRIBUTES);
  EntryId id;
  const DWORD attributes = link.valid() ? QueryAttributes(link.get()) : INVALID_FILE_ATTRIBUTES;
  if (attributes == INVALID_FILE_ATTRIBUTES || !QueryId(link.get(), id)) {
    FailAt(path, ::GetLastError());
  }
  if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0 || id != expected.id) {
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

// FAT refuses a rename onto a read-only file, which Explorer's copies often are.
void Win32Destination::ClearReadOnly(const std::string& name, const EntryInfo& expected) {
  const std::wstring path = Join(path_, Widen(name));
  const Handle file = OpenItself(path, FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES);
  FILE_BASIC_INFO basic{};
  EntryId id;
  if (!file.valid() || !QueryId(file.get(), id) ||
      !::GetFileInformationByHandleEx(file.get(), FileBasicInfo, &basic, sizeof basic)) {
    FailAt(path, ::GetLastError());
  }
  if (id != expected.id) {
    FailAt(path, ERROR_CANT_ACCESS_FILE);
  }
  basic.FileAttributes &= ~DWORD{FILE_ATTRIBUTE_READONLY};
  if (basic.FileAttributes == 0) {
    basic.FileAttributes = FILE_ATTRIBUTE_NORMAL;
  }
  if (!SetBasic(file.get(), basic)) {
    FailAt(path, ::GetLastError());
  }
}

std::unique_ptr<NewFile> Win32Destination::CreateFile(const std::string& name, Create how,
                                                      SourceFile&) {
  if (how == Create::kUnnamed) {
    return nullptr;
  }
  const std::wstring wide = Widen(name);
  const std::wstring path = Join(path_, wide);
  Handle file(::CreateFileW(
      Extended(path).c_str(), GENERIC_WRITE | DELETE | FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES,
      0, nullptr, CREATE_NEW,
      (how == Create::kTemporary ? FILE_ATTRIBUTE_HIDDEN : FILE_ATTRIBUTE_NORMAL) |
          FILE_FLAG_SEQUENTIAL_SCAN,
      nullptr));
  if (!file.valid()) {
    const DWORD error = ::GetLastError();
    if (error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS) {
      return nullptr;
    }
    FailAt(path, error);
  }
  return std::make_unique<Win32NewFile>(std::move(file), path_, wide);
}

// A temporary that another running copy still writes refuses the delete (it shares nothing).
bool Win32Destination::RemoveStale(const std::string& name) {
  const std::wstring path = Join(path_, Widen(name));
  Handle file(::CreateFileW(Extended(path).c_str(), DELETE | FILE_READ_ATTRIBUTES, 0, nullptr,
                            OPEN_EXISTING, kNoFollow, nullptr));
  const DWORD attributes = file.valid() ? QueryAttributes(file.get()) : INVALID_FILE_ATTRIBUTES;
  // wine opens what a link leads to despite the flag, but tells the link by its path.
  const DWORD by_path = ::GetFileAttributesW(Extended(path).c_str());
  constexpr DWORD kNotAFile = FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT;
  if (attributes == INVALID_FILE_ATTRIBUTES || by_path == INVALID_FILE_ATTRIBUTES ||
      ((attributes | by_path) & kNotAFile) != 0) {
    return false;
  }
  FILE_DISPOSITION_INFO disposition{TRUE};
  return ::SetFileInformationByHandle(file.get(), FileDispositionInfo, &disposition,
                                      sizeof disposition) &&
         file.Close() == ERROR_SUCCESS;
}

std::string Win32Destination::PathOf(std::string_view name) const {
  return Narrow(Join(path_, Widen(name)));
}

}  // namespace salvatrix::win32
