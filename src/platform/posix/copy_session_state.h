#pragma once

// The parts of a copy session that the file copy and the folder walk share.

#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <system_error>

#include "platform/posix/copy_engine.h"
#include "platform/posix/fd.h"
#include "platform/posix/written_entries.h"

struct stat;

namespace salvatrix::posix {

/// What a session learnt about one filesystem it writes to, so as not to try again for every
/// file what is bound to fail.
struct FileSystemTraits {
  enum class Answer { kUnknown, kYes, kNo };
  bool fuse = false;             // a filesystem in user space: every call is a round trip
  bool refuses_unnamed = false;  // O_TMPFILE
  Answer keeps_modes = Answer::kUnknown;
};

/// One folder the session writes into.
struct DestinationFolder {
  DestinationFolder(Fd folder, std::uint64_t device, std::uint64_t inode,
                    FileSystemTraits& filesystem, bool made_now)
      : fd(std::move(folder)),
        device(device),
        inode(inode),
        traits(&filesystem),
        written(!filesystem.fuse),
        cleaned(made_now) {}

  Fd fd;
  std::uint64_t device;
  std::uint64_t inode;
  FileSystemTraits* traits;
  WrittenEntries written;
  bool cleaned;  // its stale temporaries are gone (or it was made by this session)
};

struct CopySession::State {
  /// Looks at the open folder fd (made now or not) and wraps it.
  std::error_code Wrap(Fd folder, bool made_now, std::unique_ptr<DestinationFolder>& out);

  /// Opens or makes the folder name in parent, with mode when it is made (see
  /// OpenOrMakeFolder). Fails with file_exists when the session wrote that folder, or a file,
  /// under another name before.
  std::error_code EnterFolder(DestinationFolder& parent, const std::string& name, unsigned mode,
                              std::unique_ptr<DestinationFolder>& out);

  /// Removes the stale temporaries from folder before the session first writes there.
  static void Clean(DestinationFolder& folder);

  std::unique_ptr<DestinationFolder> root;
  std::map<std::uint64_t, FileSystemTraits> filesystems;
};

/// Writes the content of the open regular file in (status: its fstat from right after it was
/// opened) as name into folder; CopySession::CopyFile tells how and how it fails.
std::error_code WriteFile(CopySession::State& session, int in, const struct stat& status,
                          DestinationFolder& folder, const std::string& name, bool overwrite);

/// The whole of CopySession::CopyFolder once the destination's parent folder is known.
std::error_code CopyFolderInto(CopySession::State& session, const std::filesystem::path& source,
                               DestinationFolder& parent, const std::string& name, bool overwrite);

/// The error for a source that is not a regular file: is_a_directory for a folder,
/// operation_not_supported for the rest.
std::error_code NotAFileError(const struct stat& status);

}  // namespace salvatrix::posix
