#pragma once

#include <filesystem>
#include <memory>
#include <string_view>
#include <system_error>

namespace salvatrix::posix {

/// One copy job's writing beneath one destination folder (a drive's root), opened once for the
/// whole job. Everything it writes is resolved beneath that folder without following a link:
/// a link met where a folder is to be written is removed (never its target) and a real folder
/// made in its place; a link where a file is to be written is replaced by the file.
///
/// Files go through a temporary that replaces the destination only once complete: an unnamed
/// one where the filesystem has them (ext4, XFS, Btrfs, tmpfs), else a hidden
/// ".salvatrix-XXXXXX.tmp", locked while it is written; a name that is still free is written
/// directly (and removed again should the copy fail). The copy takes the source's modification
/// and access times and permission bits (without set-user-id, set-group-id and sticky; a
/// filesystem that refuses permissions or times is no error). The first write into a folder
/// that was there before removes the stale temporaries a killed copy left in it. What the
/// session learns about a filesystem (no unnamed files, no permissions) is not tried again.
///
/// Failures, for every call: file_exists when an entry exists and overwrite is false, or when
/// the session wrote that entry before under another name (a destination that folds case
/// makes README.txt and readme.txt one file; what was written first stays);
/// device_or_resource_busy when the source changed while it was copied (see CopyContent);
/// is_a_directory when a folder stands where a file goes (or the source is one);
/// not_a_directory the other way round; operation_not_supported when the source is a FIFO,
/// socket or device (which is never opened); invalid_argument when the destination's
/// filesystem rejects a name; and otherwise the system's error (no_space_on_device,
/// read_only_file_system, io_error ...). On any failure no temporary is left behind and an
/// existing destination file keeps its content.
class CopySession {
 public:
  /// Opens root (following links on its way: it comes from the mount table or the caller).
  /// Fails as open does.
  static std::error_code Open(const std::filesystem::path& root,
                              std::unique_ptr<CopySession>& session);
  ~CopySession();
  CopySession(const CopySession&) = delete;
  CopySession& operator=(const CopySession&) = delete;

  /// Copies one regular file; a link as source is followed to its file. destination is
  /// relative to root: names joined by "/", every one before the last an existing folder that
  /// is no link; the last one literal (a backslash is part of it).
  std::error_code CopyFile(const std::filesystem::path& source, std::string_view destination,
                           bool overwrite);

  /// Copies the folder source (a link as source is followed) with everything below it into
  /// destination (relative as for CopyFile), creating it or merging into an existing folder.
  /// Empty folders are created. Inside, a link is followed only when its target lies inside
  /// source: a link leading out of it (to / or /etc, say) copies nothing. Skipped too: a link
  /// back up to a folder on the way down (a cycle), a folder that is the destination itself,
  /// FIFOs, sockets, devices and dangling links. Stops at the first failure; what was copied
  /// before stays.
  std::error_code CopyFolder(const std::filesystem::path& source, std::string_view destination,
                             bool overwrite);

  /// Writes everything cached for root's filesystem to its device and syncs root itself, which
  /// is what reaches filesystems in user space (FUSE, such as exfat-fuse) whose syncfs does
  /// nothing. Fails with the error the device reports.
  std::error_code Flush();

  struct State;

 private:
  explicit CopySession(std::unique_ptr<State> state);
  std::unique_ptr<State> state_;
};

/// CopySession::CopyFile in a session of its own, opened on destination's folder.
std::error_code CopyFile(const std::filesystem::path& source,
                         const std::filesystem::path& destination, bool overwrite);

/// CopySession::CopyFolder in a session of its own, opened on destination's parent folder.
std::error_code CopyFolder(const std::filesystem::path& source,
                           const std::filesystem::path& destination, bool overwrite);

/// CopySession::Flush for the filesystem that holds destination (a folder or file). Fails
/// with the error the device reports, or when destination cannot be opened.
std::error_code Flush(const std::filesystem::path& destination);

}  // namespace salvatrix::posix
