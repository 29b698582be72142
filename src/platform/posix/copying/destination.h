#pragma once

// The writing side of a copy on Linux: folders on the destination, opened beneath the drive's
// root without following a link or entering another file system.

#include <sys/types.h>

#include <map>
#include <memory>
#include <string>

#include "platform/file_primitives.h"
#include "platform/posix/copying/fd.h"

namespace salvatrix::posix {

/// What a session learnt about one file system it writes to, so as not to try again for every
/// file what is bound to fail.
struct FileSystemFacts {
  enum class Answer { kUnknown, kYes, kNo };
  FolderTraits traits;
  bool fuse = false;  // a file system in user space: every call is a round trip
  Answer keeps_modes = Answer::kUnknown;
};

/// The facts of each file system a session writes to, by device.
using FactsByDevice = std::map<dev_t, FileSystemFacts>;

class PosixDestination final : public DestinationFolder {
 public:
  /// Wraps the open folder (O_PATH is enough); fails when it cannot be looked at.
  PosixDestination(Fd folder, std::string path, FactsByDevice& facts);

  EntryId Id() const override { return id_; }
  FolderTraits Traits() override { return facts_->traits; }
  std::vector<EntryId> Above() override;
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

  int fd() const { return folder_.get(); }

 private:
  Fd folder_;
  std::string path_;
  FactsByDevice& all_facts_;
  FileSystemFacts* facts_ = nullptr;
  EntryId id_;
  dev_t device_ = 0;
};

}  // namespace salvatrix::posix
