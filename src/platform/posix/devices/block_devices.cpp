#include "platform/posix/devices/block_devices.h"

#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <system_error>

namespace salvatrix::posix {
namespace {

namespace fs = std::filesystem;

std::string NumberName(std::uint64_t device) {
  return std::to_string(major(device)) + ':' + std::to_string(minor(device));
}

// The device's own folder under /sys/devices, reached through its number.
std::optional<fs::path> DeviceFolder(std::uint64_t device, const std::string& sys_root) {
  std::error_code error;
  fs::path folder = fs::canonical(fs::path(sys_root) / "dev" / "block" / NumberName(device), error);
  if (error) {
    return std::nullopt;
  }
  return folder;
}

std::optional<std::uint64_t> ReadNumber(const fs::path& file) {
  std::ifstream in(file);
  unsigned int major_number = 0;
  unsigned int minor_number = 0;
  char colon = 0;
  if (!(in >> major_number >> colon >> minor_number) || colon != ':') {
    return std::nullopt;
  }
  return makedev(major_number, minor_number);
}

bool IsPartition(const fs::path& folder) {
  std::error_code error;
  return fs::exists(folder / "partition", error);
}

}  // namespace

std::optional<std::uint64_t> WholeDisk(std::uint64_t device, const std::string& sys_root) {
  const std::optional<fs::path> folder = DeviceFolder(device, sys_root);
  if (!folder) {
    return std::nullopt;
  }
  if (!IsPartition(*folder)) {
    return device;
  }
  return ReadNumber(folder->parent_path() / "dev");
}

std::optional<std::uint64_t> WholeDiskOfSource(const std::string& source,
                                               const std::string& sys_root) {
  struct stat status {};
  if (source.empty() || source.front() != '/' || ::stat(source.c_str(), &status) != 0 ||
      !S_ISBLK(status.st_mode)) {
    return std::nullopt;
  }
  return WholeDisk(status.st_rdev, sys_root);
}

std::vector<std::string> DiskAndPartitionNames(std::uint64_t disk, const std::string& sys_root) {
  const std::optional<fs::path> folder = DeviceFolder(disk, sys_root);
  if (!folder) {
    return {};
  }
  std::vector<std::string> partitions;
  std::error_code error;
  for (fs::directory_iterator it(*folder, error), end; !error && it != end; it.increment(error)) {
    if (IsPartition(it->path())) {
      partitions.push_back(it->path().filename().string());
    }
  }
  std::sort(partitions.begin(), partitions.end());
  partitions.insert(partitions.begin(), folder->filename().string());
  return partitions;
}

}  // namespace salvatrix::posix
