#pragma once

// The file primitives on Windows: the source side (source_win32.cpp) and the writing side
// (destination_win32.cpp) of a copy, wide-character paths throughout.

#include <windows.h>

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/file_primitives.h"
#include "platform/win32/win32_files.h"

namespace salvatrix::win32 {

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

/// The identities of the folders above the open folder, nearest first.
std::vector<EntryId> IdsAbove(HANDLE folder, const std::wstring& path);

class Win32SourceFile final : public SourceFile {
 public:
  Win32SourceFile(Handle in, std::wstring path, const BY_HANDLE_FILE_INFORMATION& at_open,
                  EntryId id, std::optional<EntryId> folder);

  EntryId Id() const override { return id_; }
  EntryId FolderId() override;
  FileStamp AtOpen() const override;
  FileStamp Stamp() override;
  bool SizeTellsContent() override { return true; }
  bool HasByteAt(std::uint64_t offset) override;

  HANDLE get() const { return in_.get(); }
  const std::wstring& path() const { return path_; }
  const BY_HANDLE_FILE_INFORMATION& at_open() const { return at_open_; }

 private:
  Handle in_;
  std::wstring path_;
  BY_HANDLE_FILE_INFORMATION at_open_;
  EntryId id_;
  std::optional<EntryId> folder_;
};

/// Opens the file at path (a link on the way followed: the user chose it); nothing, with what
/// stands there in found, when it is no file. link_check: the folder's real path, against which
/// the file's own is compared to tell a link the system does not mark (wine).
std::unique_ptr<SourceFile> OpenSourceFileW(const std::wstring& path, EntryKind& found, DWORD flags,
                                            const std::wstring* folder_real,
                                            std::optional<EntryId> folder);
std::unique_ptr<SourceFolder> OpenSourceFolderW(const std::wstring& path, EntryKind& found,
                                                DWORD flags, const std::wstring* parent_real);

/// The facts of each volume a session writes to, by its serial number.
using VolumeTraits = std::map<std::uint64_t, FolderTraits>;

class Win32Destination final : public DestinationFolder {
 public:
  /// Opens a folder to write in, without sharing deletion: while it is open it can be neither
  /// deleted nor renamed, so its path keeps leading to it. no_link: refuses a link or a mount
  /// point at path (nothing is made then).
  static std::unique_ptr<Win32Destination> Open(const std::wstring& path, bool no_link,
                                                VolumeTraits& traits);

  EntryId Id() const override { return id_; }
  FolderTraits Traits() override { return *traits_; }
  std::vector<EntryId> Above() override { return IdsAbove(handle_.get(), path_); }
  EntryInfo Look(const std::string& name) override;
  std::vector<std::string> List() override;
  std::unique_ptr<DestinationFolder> Open(const std::string& name) override;
  bool Make(const std::string& name, SourceFolder& like) override;
  void RemoveLink(const std::string& name, const EntryInfo& expected) override;
  void ClearReadOnly(const std::string& name, const EntryInfo& expected) override;
  std::unique_ptr<NewFile> CreateFile(const std::string& name, Create how,
                                      SourceFile& like) override;
  bool RemoveStale(const std::string& name) override;
  std::string PathOf(std::string_view name) const override;

 private:
  Win32Destination(std::wstring path, Handle handle, EntryId id, VolumeTraits& all);

  std::wstring path_;
  Handle handle_;
  EntryId id_;
  VolumeTraits& all_traits_;
  FolderTraits* traits_ = nullptr;
};

}  // namespace salvatrix::win32
