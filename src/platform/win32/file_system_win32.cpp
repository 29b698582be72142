#include <windows.h>
// windows.h turns the name into CopyFileA or CopyFileW, in our headers too: the interface means
// the method.
#undef CopyFile

#include <algorithm>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "platform/failure.h"
#include "platform/win32/destination_win32.h"
#include "platform/win32/win32_errors.h"
#include "platform/win32/win32_files.h"
#include "platform/win32/win32_platform.h"

namespace salvatrix::win32 {
namespace {

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// Files other programs have open, even for writing, can still be copied.
Handle OpenSource(const std::wstring& path, DWORD access, DWORD flags) {
  return Handle(::CreateFileW(Extended(path).c_str(), access, kShareAll, nullptr, OPEN_EXISTING,
                              flags, nullptr));
}

// The folder part of a destination (up to its last separator) and the name after it.
std::pair<std::wstring, std::wstring> Split(const std::wstring& destination) {
  const std::size_t name_start = destination.find_last_of(L"\\/:") + 1;  // npos + 1 == 0
  if (name_start == destination.size()) {
    FailAt(destination, ERROR_DIRECTORY);
  }
  std::wstring folder = destination.substr(0, name_start);
  return {folder.empty() ? L"." : std::move(folder), destination.substr(name_start)};
}

void CopyOpen(const Handle& in, const std::wstring& source, Destination& destination,
              const TargetFolder& folder, const std::wstring& name, bool overwrite) {
  BY_HANDLE_FILE_INFORMATION at_open{};
  if (!::GetFileInformationByHandle(in.get(), &at_open)) {
    FailAt(source, ::GetLastError());
  }
  destination.WriteFile(folder, name, in.get(), source, at_open, overwrite);
}

struct Descent {
  bool overwrite = false;
  Destination& destination;
  std::wstring top;  // where the copied folder really is, as FinalPath tells it
  EntryId destination_root;
  std::vector<EntryId> path;  // the source folders from the top down to the current one
};

bool Within(const std::wstring& path, const std::wstring& top) {
  return path.starts_with(top) &&
         (path.size() == top.size() || IsSeparator(top.back()) || path[top.size()] == L'\\');
}

// Inside a copied folder an entry is copied only where it really lies inside that folder: a
// link leading out of it (to C:\Windows, to a whole other drive) is not followed, and neither
// is one leading nowhere. Every entry is asked, not only those marked as links: some systems
// (wine) do not mark a link to a file. Returns no handle for an entry left out.
Handle OpenInside(const std::wstring& path, DWORD access, DWORD flags, bool link,
                  const Descent& descent) {
  Handle handle = OpenSource(path, access, flags);
  if (!handle.valid()) {
    const DWORD error = ::GetLastError();
    if (link && (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ||
                 error == ERROR_CANT_RESOLVE_FILENAME)) {  // the last: links in a circle
      return Handle();
    }
    FailAt(path, error);
  }
  const std::wstring real = FinalPath(handle.get());
  if (real.empty()) {
    FailAt(path, ::GetLastError());
  }
  return Within(real, descent.top) ? std::move(handle) : Handle();
}

void CopyTree(const std::wstring& source, const TargetFolder& destination, Descent& descent);

// Links that stay inside are followed, except into a folder on the way down from the top
// (which would never end) and into the destination itself.
void CopySubFolder(const std::wstring& source, const TargetFolder& parent, const std::wstring& name,
                   bool link, Descent& descent) {
  EntryId id;
  {
    const Handle folder =
        OpenInside(source, FILE_READ_ATTRIBUTES, FILE_FLAG_BACKUP_SEMANTICS, link, descent);
    if (!folder.valid()) {
      return;
    }
    if (!QueryId(folder.get(), id)) {
      FailAt(source, ::GetLastError());
    }
  }
  if (id == descent.destination_root ||
      std::find(descent.path.begin(), descent.path.end(), id) != descent.path.end()) {
    return;
  }
  const TargetFolder target = descent.destination.Enter(parent, name);
  descent.path.push_back(id);
  CopyTree(source, target, descent);
  descent.path.pop_back();
}

void CopyTree(const std::wstring& source, const TargetFolder& destination, Descent& descent) {
  const DWORD error = ListFolder(source, L"*", [&](const WIN32_FIND_DATAW& entry) {
    const std::wstring name = entry.cFileName;
    const std::wstring from = Join(source, name);
    const bool link = (entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
    if ((entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
      CopySubFolder(from, destination, name, link, descent);
      return;
    }
    const Handle in = OpenInside(from, GENERIC_READ, FILE_FLAG_SEQUENTIAL_SCAN, link, descent);
    if (in.valid()) {
      CopyOpen(in, from, descent.destination, destination, name, descent.overwrite);
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
    const DWORD error = ListFolder(path_, L"*", [&](const WIN32_FIND_DATAW& entry) {
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
    const DWORD attributes = ::GetFileAttributesW(Extended(folder).c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
      Fail(path, ::GetLastError());
    }
    if ((attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
      Fail(path, ERROR_DIRECTORY);
    }
    return std::make_unique<Win32Folder>(std::move(folder));
  }

  // The file the user chose is copied as it is found, a link to a file included.
  void CopyFile(std::string_view source, std::string_view destination, bool overwrite) override {
    const std::wstring from = Widen(source);
    const auto [folder_path, name] = Split(Widen(destination));
    const Handle in = OpenSource(from, GENERIC_READ, FILE_FLAG_SEQUENTIAL_SCAN);
    if (!in.valid()) {
      FailAt(from, ::GetLastError());
    }
    const TargetFolder folder = destination_.OpenGiven(folder_path);
    CopyOpen(in, from, destination_, folder, name, overwrite);
  }

  // The folder the user chose is copied as it is found, a junction or link to a folder
  // included; what lies inside it is checked.
  void CopyFolder(std::string_view source, std::string_view destination, bool overwrite) override {
    const std::wstring from = Widen(source);
    const Handle top = OpenSource(from, FILE_READ_ATTRIBUTES, FILE_FLAG_BACKUP_SEMANTICS);
    if (!top.valid()) {
      Fail(source, ::GetLastError());
    }
    const DWORD attributes = QueryAttributes(top.get());
    EntryId top_id;
    if (attributes == INVALID_FILE_ATTRIBUTES || !QueryId(top.get(), top_id)) {
      Fail(source, ::GetLastError());
    }
    if ((attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
      Fail(source, ERROR_DIRECTORY);
    }
    std::wstring top_path = FinalPath(top.get());
    if (top_path.empty()) {
      Fail(source, ::GetLastError());
    }
    const auto [folder_path, name] = Split(Widen(destination));
    const TargetFolder parent = destination_.OpenGiven(folder_path);
    const TargetFolder target = destination_.Enter(parent, name);
    Descent descent{overwrite, destination_, std::move(top_path), target.id, {top_id}};
    CopyTree(from, target, descent);
  }

  // Every file was flushed (FlushFileBuffers) before it took its name, and again after, which
  // puts the name on the device as MOVEFILE_WRITE_THROUGH would; there is nothing left to
  // write here.
  void Flush(std::string_view destination_root) override { static_cast<void>(destination_root); }

 private:
  Destination destination_;  // what this job wrote where
};

}  // namespace

std::unique_ptr<FileSystemObject> Win32FileSystem::CreateObject() {
  return std::make_unique<Win32FileSystemObject>();
}

}  // namespace salvatrix::win32
