#pragma once

#include <filesystem>
#include <system_error>

namespace salvatrix::posix {

/// Copies one regular file; a link as source is followed to its file. The data goes into a
/// temporary in the destination's folder (unnamed where the filesystem allows, as on ext4, XFS,
/// Btrfs and tmpfs; a hidden ".salvatrix-XXXXXX.tmp" elsewhere, as on exFAT and FAT), which takes
/// the source's modification and access times and permission bits (without set-user-id,
/// set-group-id and sticky; a filesystem that refuses permissions or times is not an error) and
/// replaces the destination only once complete. Nothing is synced to the device; see Flush.
///
/// Fails with file_exists when destination exists and overwrite is false, is_a_directory when
/// destination (or source) is a folder, operation_not_supported when source is a FIFO, socket or
/// device (which is never opened), invalid_argument when the destination's filesystem rejects the
/// name, and otherwise with the system's error (no_space_on_device, read_only_file_system, io_error
/// ...). On any failure no temporary is left behind and an existing destination is unchanged. A
/// link at destination is replaced, never followed.
std::error_code CopyFile(const std::filesystem::path& source,
                         const std::filesystem::path& destination, bool overwrite);

/// Copies the folder source with everything below it into destination, creating it or merging
/// into an existing folder; same-named files are replaced as by CopyFile when overwrite is set.
/// Empty folders are created. Links to files and folders are followed, except a link back to a
/// folder on the way down from source (a cycle) and a folder that is destination itself, which
/// are skipped; so are FIFOs, sockets, devices and dangling links.
///
/// Stops at the first failure and returns it; what was copied before stays. Fails with
/// not_a_directory when source is not a folder or a name on the destination side is a file where
/// a folder is needed, with is_a_directory the other way round, and otherwise as CopyFile.
std::error_code CopyFolder(const std::filesystem::path& source,
                           const std::filesystem::path& destination, bool overwrite);

/// Writes everything cached for the filesystem that holds destination (a folder or file) to its
/// device, and syncs the folder itself, which is what reaches filesystems in user space (FUSE,
/// such as exfat-fuse) whose syncfs does nothing. Fails with the error the device reports, or
/// when destination cannot be opened.
std::error_code Flush(const std::filesystem::path& destination);

}  // namespace salvatrix::posix
