#pragma once

// The source side of a copy on Linux: files and folders read where the user keeps them.

#include <dirent.h>
#include <sys/stat.h>

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "platform/file_primitives.h"
#include "platform/posix/copying/fd.h"

namespace salvatrix::posix {

EntryId IdOf(const struct stat& status);

class PosixSourceFile final : public SourceFile {
 public:
  /// status: in's fstat from right after it was opened. folder: where it was opened, when
  /// known; otherwise the folder of path is looked up when asked.
  PosixSourceFile(Fd in, const struct stat& status, std::string path,
                  std::optional<EntryId> folder);

  EntryId Id() const override { return IdOf(status_); }
  EntryId FolderId() override;
  FileStamp AtOpen() const override;
  FileStamp Stamp() override;
  bool SizeTellsContent() override;
  bool HasByteAt(std::uint64_t offset) override;

  int fd() const { return in_.get(); }
  const struct stat& status() const { return status_; }
  const std::string& path() const { return path_; }

 private:
  Fd in_;
  struct stat status_;
  std::string path_;
  std::optional<EntryId> folder_;
};

class PosixSourceFolder final : public SourceFolder {
 public:
  /// folder: open for reading.
  PosixSourceFolder(Fd folder, const struct stat& status, std::string path);

  EntryId Id() const override { return IdOf(status_); }
  std::vector<EntryId> Above() override;
  std::vector<SourceEntry> List() override;
  std::unique_ptr<SourceFile> OpenFile(const std::string& name, EntryKind& found) override;
  std::unique_ptr<SourceFolder> OpenFolder(const std::string& name, EntryKind& found) override;
  std::vector<std::string> RealPath() override;
  std::optional<std::vector<std::string>> RealPath(const std::string& name) override;
  std::string PathOf(std::string_view name) const override;

  unsigned mode() const { return status_.st_mode & 07777; }

 private:
  Fd folder_;
  struct stat status_;
  std::string path_;
};

/// What stands at a status.
EntryKind KindOf(const struct stat& status);

/// The identities of the folders above the open folder, nearest first.
std::vector<EntryId> IdsAbove(int folder, const std::string& path);

/// Calls visit with each entry of the open folder but "." and "..".
void ForEachEntry(int folder, const std::string& path,
                  const std::function<void(const dirent&)>& visit);

/// Opens path, links on the way followed (the user chose it): nothing, with what stands there
/// in found, when it is no regular file (or no folder). A FIFO or device is never opened.
std::unique_ptr<SourceFile> OpenSourceFileAt(const std::string& path, EntryKind& found);
std::unique_ptr<SourceFolder> OpenSourceFolderAt(const std::string& path, EntryKind& found);

}  // namespace salvatrix::posix
