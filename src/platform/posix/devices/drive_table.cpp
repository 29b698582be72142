#include "platform/posix/devices/drive_table.h"

#include "platform/drive_roots.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <system_error>
#include <unordered_map>
#include <unordered_set>
#include <utility>

namespace salvatrix::posix {
namespace {

namespace fs = std::filesystem;

bool IsOctalDigit(char c) {
  return c >= '0' && c <= '7';
}
bool IsDecimalDigit(char c) {
  return c >= '0' && c <= '9';
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') {
    return c - '0';
  }
  if (c >= 'a' && c <= 'f') {
    return c - 'a' + 10;
  }
  if (c >= 'A' && c <= 'F') {
    return c - 'A' + 10;
  }
  return -1;
}

bool IsNumber(std::string_view text) {
  return !text.empty() && std::all_of(text.begin(), text.end(), IsDecimalDigit);
}

bool IsDeviceNumber(std::string_view text) {
  const auto colon = text.find(':');
  return colon != std::string_view::npos && IsNumber(text.substr(0, colon)) &&
         IsNumber(text.substr(colon + 1));
}

// Fields are separated by exactly one space; an empty source shows up as an empty field and
// must keep its place, so runs of spaces are not collapsed.
std::vector<std::string_view> SplitFields(std::string_view line) {
  std::vector<std::string_view> fields;
  std::size_t start = 0;
  while (true) {
    const auto space = line.find(' ', start);
    if (space == std::string_view::npos) {
      fields.push_back(line.substr(start));
      return fields;
    }
    fields.push_back(line.substr(start, space - start));
    start = space + 1;
  }
}

// Both sides are resolved because a source such as /dev/mapper/x is itself a link, and the
// by-label links are relative ("../../sdb1").
std::string ResolvedPath(const fs::path& path) {
  std::error_code error;
  fs::path resolved = fs::weakly_canonical(path, error);
  if (error) {
    resolved = path.lexically_normal();
  }
  return resolved.string();
}

/// Device path (resolved) to the label udev published for it; empty when the folder is missing.
std::unordered_map<std::string, std::string> ReadLabels(const std::string& by_label_dir) {
  std::unordered_map<std::string, std::string> labels;
  std::error_code error;
  fs::directory_iterator it(by_label_dir, error);
  if (error) {
    return labels;
  }
  for (; it != fs::directory_iterator(); it.increment(error)) {
    if (error) {
      break;
    }
    std::error_code link_error;
    fs::path target = fs::read_symlink(it->path(), link_error);
    if (link_error) {
      continue;
    }
    if (target.is_relative()) {
      target = fs::path(by_label_dir) / target;
    }
    labels.emplace(ResolvedPath(target), DecodeUdevEscapes(it->path().filename().string()));
  }
  return labels;
}

bool IsNetworkFileSystem(std::string_view fs_type) {
  static constexpr auto kNetwork = std::to_array<std::string_view>(
      {"nfs", "nfs4", "cifs", "smb3", "smbfs", "fuse.sshfs", "sshfs", "davfs", "fuse.rclone"});
  return std::find(kNetwork.begin(), kNetwork.end(), fs_type) != kNetwork.end();
}

// Checked before the /dev/ rule, so a pseudo filesystem never counts whatever its source says.
bool IsPseudoFileSystem(std::string_view fs_type) {
  static constexpr auto kPseudo = std::to_array<std::string_view>(
      {"proc",    "sysfs",      "tmpfs",     "devtmpfs", "devpts",      "cgroup",     "cgroup2",
       "overlay", "autofs",     "mqueue",    "debugfs",  "tracefs",     "securityfs", "pstore",
       "bpf",     "hugetlbfs",  "configfs",  "fusectl",  "binfmt_misc", "efivarfs",   "ramfs",
       "nsfs",    "rpc_pipefs", "selinuxfs", "rootfs",   "nfsd"});
  return std::find(kPseudo.begin(), kPseudo.end(), fs_type) != kPseudo.end();
}

// A path "X:\..." names drive X; lower case is accepted as Windows does.
std::optional<char> RootLetter(std::string_view path) {
  if (!IsDriveRoot(path)) {
    return std::nullopt;
  }
  return UpperAscii(path[0]);
}

const Drive* FindDrive(const std::vector<Drive>& drives, char letter) {
  const auto it = std::find_if(drives.begin(), drives.end(),
                               [letter](const Drive& drive) { return drive.letter == letter; });
  return it == drives.end() ? nullptr : &*it;
}

Drive MakeDrive(const MountEntry& entry) {
  return Drive{0, entry.device, entry.mount_point, entry.fs_type, entry.source, {}};
}

}  // namespace

std::string DecodeUdevEscapes(std::string_view name) {
  std::string decoded;
  decoded.reserve(name.size());
  for (std::size_t i = 0; i < name.size(); ++i) {
    if (name[i] == '\\' && i + 3 < name.size() && name[i + 1] == 'x') {
      const int high = HexValue(name[i + 2]);
      const int low = HexValue(name[i + 3]);
      if (high >= 0 && low >= 0) {
        decoded += static_cast<char>(high * 16 + low);
        i += 3;
        continue;
      }
    }
    decoded += name[i];
  }
  return decoded;
}

std::string DecodeMountEscapes(std::string_view field) {
  std::string decoded;
  decoded.reserve(field.size());
  for (std::size_t i = 0; i < field.size(); ++i) {
    if (field[i] == '\\' && i + 3 < field.size() && IsOctalDigit(field[i + 1]) &&
        IsOctalDigit(field[i + 2]) && IsOctalDigit(field[i + 3])) {
      const int value = (field[i + 1] - '0') * 64 + (field[i + 2] - '0') * 8 + (field[i + 3] - '0');
      // \400 and above do not name a byte; such text cannot come from the kernel, keep it.
      if (value <= 0xFF) {
        decoded += static_cast<char>(value);
        i += 3;
        continue;
      }
    }
    decoded += field[i];
  }
  return decoded;
}

std::optional<MountEntry> ParseMountInfoLine(std::string_view line) {
  const std::vector<std::string_view> fields = SplitFields(line);
  // Six fixed fields, any number of optional ones, "-", then type, source and super options.
  constexpr std::size_t kFixedFields = 6;
  const auto separator = std::find(fields.begin() + std::min(kFixedFields, fields.size()),
                                   fields.end(), std::string_view("-"));
  if (separator == fields.end() || fields.end() - separator < 4) {
    return std::nullopt;
  }
  if (!IsNumber(fields[0]) || !IsNumber(fields[1]) || !IsDeviceNumber(fields[2]) ||
      fields[3].empty() || fields[4].empty() || fields[4].front() != '/' || separator[1].empty()) {
    return std::nullopt;
  }
  MountEntry entry;
  entry.mount_id = std::string(fields[0]);
  entry.device = std::string(fields[2]);
  entry.root = DecodeMountEscapes(fields[3]);
  entry.mount_point = DecodeMountEscapes(fields[4]);
  entry.fs_type = DecodeMountEscapes(separator[1]);
  entry.source = DecodeMountEscapes(separator[2]);
  return entry;
}

bool IsDriveMount(const MountEntry& entry) {
  if (entry.mount_point == "/") {
    return true;
  }
  if (IsPseudoFileSystem(entry.fs_type)) {
    return false;
  }
  // Every snap package is a squashfs image on a loop device; a person never put them there.
  if (entry.fs_type == "squashfs" && entry.mount_point.starts_with("/snap/")) {
    return false;
  }
  return IsNetworkFileSystem(entry.fs_type) || entry.source.starts_with("/dev/");
}

std::vector<Drive> DriveMounts(const std::vector<MountEntry>& entries) {
  // A later mount on the same mount point hides the earlier one; the hidden one cannot be
  // reached through its mount point, so it is no drive.
  std::vector<const MountEntry*> visible;
  {
    std::unordered_set<std::string> seen_points;
    for (auto it = entries.rbegin(); it != entries.rend(); ++it) {
      if (seen_points.insert(it->mount_point).second) {
        visible.push_back(&*it);
      }
    }
    std::reverse(visible.begin(), visible.end());
  }

  const auto root_it = std::find_if(visible.begin(), visible.end(), [](const MountEntry* entry) {
    return entry->mount_point == "/";
  });
  const MountEntry* root = root_it == visible.end() ? nullptr : *root_it;

  // One candidate per device, in the order each device first shows up.
  std::vector<const MountEntry*> candidates;
  std::unordered_map<std::string, std::size_t> index_of_device;
  for (const MountEntry* entry : visible) {
    if (entry == root || !IsDriveMount(*entry) || (root && entry->device == root->device)) {
      continue;
    }
    const auto [it, inserted] = index_of_device.emplace(entry->device, candidates.size());
    if (inserted) {
      candidates.push_back(entry);
    } else if (candidates[it->second]->root != "/" && entry->root == "/") {
      // A bind mount of a subfolder came first; the mount of the whole filesystem is the
      // better face for the drive, but the drive keeps its place in the order.
      candidates[it->second] = entry;
    }
  }

  std::vector<Drive> drives;
  if (root) {
    drives.push_back(MakeDrive(*root));
  }
  for (const MountEntry* entry : candidates) {
    drives.push_back(MakeDrive(*entry));
  }
  return drives;
}

DriveTable::DriveTable(std::string mountinfo_path, std::string by_label_dir)
    : mountinfo_path_(std::move(mountinfo_path)), by_label_dir_(std::move(by_label_dir)) {}

bool DriveTable::Refresh() {
  std::ifstream in(mountinfo_path_);
  if (!in) {
    return false;
  }
  std::vector<MountEntry> entries;
  std::string line;
  while (std::getline(in, line)) {
    if (auto entry = ParseMountInfoLine(line)) {
      entries.push_back(std::move(*entry));
    }
  }
  // A directory opens fine and only fails on the first read.
  if (in.bad()) {
    return false;
  }

  std::vector<Drive> drives = AssignLetters(drives_, DriveMounts(entries));
  const auto labels = ReadLabels(by_label_dir_);
  if (!labels.empty()) {
    for (Drive& drive : drives) {
      if (drive.source.starts_with('/')) {
        const auto label = labels.find(ResolvedPath(drive.source));
        if (label != labels.end()) {
          drive.label = label->second;
        }
      }
    }
  }
  drives_ = std::move(drives);
  return true;
}

std::uint32_t DriveTable::GetLogicalDriveStrings(std::uint32_t length, char* buffer) {
  if (!Refresh()) {
    return 0;
  }
  const std::string raw = DriveStringsText(drives_);
  const auto needed = static_cast<std::uint32_t>(raw.size());
  if (length < needed || buffer == nullptr) {
    return needed;
  }
  std::memcpy(buffer, raw.data(), raw.size());
  return needed - 1;
}

std::string DriveTable::DescribeDrive(std::string_view root) const {
  const auto letter = RootLetter(root);
  if (!letter || root.size() != 3) {
    return {};
  }
  const Drive* drive = FindDrive(drives_, *letter);
  if (drive == nullptr) {
    return {};
  }
  std::string text = drive->mount_point + " (" + drive->fs_type;
  if (!drive->label.empty()) {
    text += ", label \"" + drive->label + "\"";
  }
  text += ")";
  return text;
}

std::string DriveTable::ResolvePath(std::string_view path) const {
  const auto letter = RootLetter(path);
  if (!letter) {
    return std::string(path);
  }
  const Drive* drive = FindDrive(drives_, *letter);
  if (drive == nullptr) {
    return std::string(path);
  }
  const std::string_view rest = path.substr(3);
  if (rest.empty()) {
    return drive->mount_point;
  }
  if (drive->mount_point.ends_with('/')) {
    return drive->mount_point + std::string(rest);
  }
  return drive->mount_point + "/" + std::string(rest);
}

}  // namespace salvatrix::posix
