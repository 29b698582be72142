#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace salvatrix::posix {

/// Block devices as sysfs shows them. Device numbers are the kernel's (dev_t). sys_root is
/// where sysfs is mounted; tests give a tree of their own.

/// The whole disk a block device belongs to: itself for a disk, the parent for a partition.
/// Nothing when sysfs does not know the number.
std::optional<std::uint64_t> WholeDisk(std::uint64_t device, const std::string& sys_root = "/sys");

/// The whole disk behind a mount source such as "/dev/sdb1"; nothing when the source is not a
/// block device node (a network share, a fuse name) or sysfs does not know it.
std::optional<std::uint64_t> WholeDiskOfSource(const std::string& source,
                                               const std::string& sys_root = "/sys");

/// The kernel names of a disk and of its partitions ("sdb", "sdb1" ...), the disk first, the
/// partitions in name order. Empty when sysfs does not know the disk.
std::vector<std::string> DiskAndPartitionNames(std::uint64_t disk,
                                               const std::string& sys_root = "/sys");

}  // namespace salvatrix::posix
