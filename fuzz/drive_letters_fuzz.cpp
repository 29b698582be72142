// The drive letters: the drives among the mounts and the letters they get, table after
// table, as properties of the results (letters unique and in C..Z, C only for "/", a drive
// keeps its letter while it stays, newcomers take the lowest free letters in the order first
// seen and wait unlisted beyond Z, reading a table again changes nothing), and the drive table
// reading the same tables from a file giving the same drives and drive strings.
//
// The input is a compact list of mounts, two bytes each, so that a few bytes reach many
// drives, hidden and bind mounts, and letters freed and taken again:
//   first byte:  device 8:0 to 8:31 (bits 0-4), file system (bits 5-7, kFileSystems);
//   second byte: mount point, "/" or one of 31 others (bits 0-4), a bind mount of a subfolder
//                (bit 5), under /snap/ (bit 6), and the table ends after this mount (bit 7).

#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz_check.h"
#include "mountinfo_model.h"
#include "platform/posix/devices/drive_letters.h"
#include "platform/posix/devices/drive_table.h"

namespace salvatrix::fuzz {
namespace {

using posix::Drive;

constexpr std::size_t kMaxTables = 8;

struct FileSystem {
  std::string_view type;
  std::string_view source;  // the device number is appended to a source ending in "/sd"
};
constexpr std::array<FileSystem, 8> kFileSystems = {{{"ext4", "/dev/sd"},
                                                     {"vfat", "/dev/sd"},
                                                     {"fuseblk", "/dev/sd"},
                                                     {"squashfs", "/dev/loop3"},
                                                     {"nfs4", "srv:/export"},
                                                     {"cifs", "//srv/share"},
                                                     {"tmpfs", "tmpfs"},
                                                     {"overlay", "overlay"}}};

std::vector<std::vector<MountEntry>> CompactTables(const std::uint8_t* data, std::size_t size) {
  std::vector<std::vector<MountEntry>> tables(1);
  for (std::size_t i = 0; i + 1 < size && tables.size() <= kMaxTables; i += 2) {
    const std::uint8_t device = data[i];
    const std::uint8_t place = data[i + 1];
    const FileSystem& fs = kFileSystems[device >> 5];
    const std::string number = std::to_string(device & 0x1F);
    const int point = place & 0x1F;
    MountEntry entry;
    entry.mount_id = std::to_string(i / 2 + 1);
    entry.device = "8:" + number;
    entry.root = (place & 0x20) != 0 ? "/sub" : "/";
    entry.mount_point = point == 0            ? "/"
                        : (place & 0x40) != 0 ? "/snap/m" + std::to_string(point)
                                              : "/media/m " + std::to_string(point);
    entry.fs_type = std::string(fs.type);
    entry.source = std::string(fs.source) + (fs.source.ends_with("/sd") ? number : "");
    tables.back().push_back(std::move(entry));
    if ((place & 0x80) != 0) {
      tables.emplace_back();
    }
  }
  if (tables.size() > kMaxTables) {
    tables.resize(kMaxTables);
  }
  return tables;
}

// The drives among the mounts: visible mount points only, each device once and not the
// root's, as its whole-filesystem mount where it has one, in the order devices first show.
void CheckDriveMounts(const std::vector<MountEntry>& entries, const std::vector<Drive>& seen) {
  std::map<std::string, const MountEntry*> visible_at;  // mount point → the last mount there
  for (const MountEntry& entry : entries) {
    visible_at[entry.mount_point] = &entry;
  }
  const auto root_at = visible_at.find("/");
  const MountEntry* root = root_at == visible_at.end() ? nullptr : root_at->second;

  std::vector<std::string> device_order;
  std::map<std::string, bool> has_whole;
  for (const MountEntry& entry : entries) {
    if (visible_at[entry.mount_point] != &entry || &entry == root || !posix::IsDriveMount(entry) ||
        (root != nullptr && entry.device == root->device)) {
      continue;
    }
    if (!has_whole.contains(entry.device)) {
      device_order.push_back(entry.device);
    }
    has_whole[entry.device] = has_whole[entry.device] || entry.root == "/";
  }

  std::vector<std::string> seen_order;
  std::size_t roots = 0;
  for (const Drive& drive : seen) {
    FUZZ_CHECK(drive.letter == 0 && drive.label.empty());
    const auto at = visible_at.find(drive.mount_point);
    FUZZ_CHECK(at != visible_at.end());
    const MountEntry& entry = *at->second;
    FUZZ_CHECK(drive.key == entry.device && drive.fs_type == entry.fs_type &&
               drive.source == entry.source);
    if (&entry == root) {
      ++roots;
      continue;
    }
    FUZZ_CHECK(posix::IsDriveMount(entry));
    FUZZ_CHECK(entry.root == "/" || !has_whole[entry.device]);
    seen_order.push_back(drive.key);
  }
  FUZZ_CHECK(roots == (root != nullptr ? 1u : 0u));
  FUZZ_CHECK(seen_order == device_order);
}

// The letter rules, told as properties of the result.
void CheckLetters(const std::vector<Drive>& previous, const std::vector<Drive>& seen,
                  const std::vector<Drive>& drives) {
  std::map<std::string, const Drive*> seen_by_key;
  bool root_seen = false;
  for (const Drive& drive : seen) {
    seen_by_key.emplace(drive.key, &drive);
    root_seen = root_seen || drive.mount_point == "/";
  }

  std::map<std::string, char> letter_of;
  for (std::size_t i = 0; i < drives.size(); ++i) {
    const Drive& drive = drives[i];
    FUZZ_CHECK(drive.letter >= 'C' && drive.letter <= 'Z');
    FUZZ_CHECK(i == 0 || drives[i - 1].letter < drive.letter);
    FUZZ_CHECK((drive.letter == 'C') == (drive.mount_point == "/"));
    const auto from = seen_by_key.find(drive.key);
    FUZZ_CHECK(from != seen_by_key.end());
    FUZZ_CHECK(drive.mount_point == from->second->mount_point &&
               drive.fs_type == from->second->fs_type && drive.source == from->second->source);
    FUZZ_CHECK(letter_of.emplace(drive.key, drive.letter).second);
  }
  FUZZ_CHECK(root_seen == (!drives.empty() && drives.front().letter == 'C'));

  std::map<std::string, char> before;
  for (const Drive& drive : previous) {
    if (drive.letter != 'C') {
      before.emplace(drive.key, drive.letter);
    }
  }
  std::set<char> kept;
  for (const Drive& drive : seen) {
    const auto was = before.find(drive.key);
    if (drive.mount_point != "/" && was != before.end()) {
      FUZZ_CHECK(letter_of.contains(drive.key) && letter_of[drive.key] == was->second);
      kept.insert(was->second);
    }
  }
  std::vector<char> free;
  for (char letter = 'D'; letter <= 'Z'; ++letter) {
    if (!kept.contains(letter)) {
      free.push_back(letter);
    }
  }
  // Newcomers take the free letters from the lowest, in the order first seen; beyond Z they
  // wait unlisted.
  std::size_t newcomers = 0;
  for (const Drive& drive : seen) {
    if (drive.mount_point == "/" || before.contains(drive.key)) {
      continue;
    }
    if (newcomers < free.size()) {
      FUZZ_CHECK(letter_of.contains(drive.key) && letter_of[drive.key] == free[newcomers]);
    } else {
      FUZZ_CHECK(!letter_of.contains(drive.key));
    }
    ++newcomers;
  }
  FUZZ_CHECK(drives.size() ==
             (root_seen ? 1u : 0u) + kept.size() + std::min(newcomers, free.size()));

  std::string text;
  for (const Drive& drive : drives) {
    text += std::string{drive.letter, ':', '\\', '\0'};
  }
  text += '\0';
  FUZZ_CHECK(posix::DriveStringsText(drives) == text);
}

// The drive table reads its tables from a memory file, the way it reads /proc/self/mountinfo.
class TableFile {
 public:
  TableFile() : fd_(::memfd_create("mountinfo", 0)) { FUZZ_CHECK(fd_ >= 0); }
  std::string Path() const { return "/proc/self/fd/" + std::to_string(fd_); }
  void Write(std::string_view text) const {
    FUZZ_CHECK(::ftruncate(fd_, 0) == 0);
    FUZZ_CHECK(::pwrite(fd_, text.data(), text.size(), 0) == static_cast<ssize_t>(text.size()));
  }

 private:
  int fd_;
};

// One call with room for every letter; each call reads the table afresh. No drive at all
// gives 0, the length of the lone closing NUL.
std::string LogicalDriveStrings(posix::DriveTable& table) {
  std::string raw(4 * 26 + 1, 'x');
  const std::uint32_t length =
      table.GetLogicalDriveStrings(static_cast<std::uint32_t>(raw.size()), raw.data());
  FUZZ_CHECK(length < raw.size());
  raw.resize(length + 1);
  return raw;
}

}  // namespace
}  // namespace salvatrix::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace salvatrix;
  using namespace salvatrix::fuzz;
  static const TableFile file;
  posix::DriveTable table(file.Path(), "/nonexistent/salvatrix-fuzz-by-label");

  std::vector<Drive> previous;
  for (const std::vector<MountEntry>& entries : CompactTables(data, size)) {
    const std::vector<Drive> seen = posix::DriveMounts(entries);
    CheckDriveMounts(entries, seen);
    const std::vector<Drive> drives = posix::AssignLetters(previous, seen);
    CheckLetters(previous, seen, drives);
    // Reading the same table again changes nothing.
    FUZZ_CHECK(posix::AssignLetters(drives, seen) == drives);

    std::string text;
    for (const MountEntry& entry : entries) {
      text += KernelLine(entry) + "\n";
    }
    file.Write(text);
    FUZZ_CHECK(LogicalDriveStrings(table) == posix::DriveStringsText(drives));
    FUZZ_CHECK(table.Drives() == drives);
    previous = drives;
  }
  // The table read once more, as every enumeration does.
  FUZZ_CHECK(LogicalDriveStrings(table) == posix::DriveStringsText(previous));
  FUZZ_CHECK(table.Drives() == previous);
  return 0;
}
