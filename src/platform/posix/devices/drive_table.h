#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/drive_strings.h"
#include "platform/posix/devices/drive_letters.h"

namespace salvatrix::posix {

/// One line of /proc/self/mountinfo, with its octal escapes (\040 ...) decoded.
struct MountEntry {
  std::string mount_id;
  std::string device;  // "major:minor"
  std::string root;
  std::string mount_point;
  std::string fs_type;
  std::string source;
};

/// Decodes the octal escapes the kernel writes into mountinfo fields (\040, \011, \012, \134).
std::string DecodeMountEscapes(std::string_view field);

/// Decodes the \xNN escapes udev writes into link names and encoded properties.
std::string DecodeUdevEscapes(std::string_view text);

/// Parses one mountinfo line; nothing when the line is malformed.
std::optional<MountEntry> ParseMountInfoLine(std::string_view line);

/// Whether a mount is something a person would call a drive: "/", block-device backed
/// filesystems (including fuseblk), network filesystems. Pseudo filesystems and snap images
/// are not.
bool IsDriveMount(const MountEntry& entry);

/// The drives among the mounts of one table, in the order each is first seen, without letters
/// or labels; the key is the device number. A mount hidden by a later one on the same mount
/// point is no drive; a device counts once (as "/" when it is the root's), by its mount of
/// the whole filesystem where it has one.
std::vector<Drive> DriveMounts(const std::vector<MountEntry>& entries);

/// The Linux stand-in for drive letters: "/" is C, other drives take the lowest free letter
/// from D in the order they are first seen and keep it while they stay mounted.
class DriveTable final : public DriveStrings {
 public:
  explicit DriveTable(std::string mountinfo_path = "/proc/self/mountinfo",
                      std::string by_label_dir = "/dev/disk/by-label");

  /// Re-reads the mount table and updates the letters. False when the table cannot be read;
  /// the letters are then left as they were.
  bool Refresh();
  /// The drives, in ascending letter order.
  const std::vector<Drive>& Drives() const { return drives_; }

  /// Reads the mount table afresh on every call. Returns 0 when it cannot be read, and from a
  /// filling call when there is no drive at all (the list is then a lone NUL, size 1).
  std::uint32_t GetLogicalDriveStrings(std::uint32_t length, char* buffer) override;
  std::string DescribeDrive(std::string_view root) const override;

  /// "E:\rest" becomes the mount point of E followed by "/" and rest as one literal name
  /// (backslashes in rest stay part of the name). Paths that do not start with an assigned
  /// root are returned unchanged. Uses the letters of the last Refresh; the letter may be
  /// lower case.
  std::string ResolvePath(std::string_view path) const;

 private:
  std::string RawDriveList() const;

  std::string mountinfo_path_;
  std::string by_label_dir_;
  std::vector<Drive> drives_;
};

}  // namespace salvatrix::posix
