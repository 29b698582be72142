#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <system_error>
#include <unordered_map>

namespace salvatrix::posix {

/// The key under which a case-folding filesystem files a name: every code point upper-cased
/// as towupper does in the C.UTF-8 locale; bytes that are not UTF-8 stay as they are.
std::string FoldKey(std::string_view name);

/// What one copy job wrote into one destination folder, so that it notices a name about to
/// be written that lands on an entry it wrote before under another name (the destination folds
/// case, as exFAT, FAT and NTFS do, or normalises Unicode). Costs nothing for a name that does
/// not exist yet; the folder listing is read at most once per folder.
class WrittenEntries {
 public:
  /// by_identity: the filesystem gives an entry one inode number whatever spelling reaches it
  /// (kernel filesystems), so the inode tells. Otherwise (FUSE, where exfat-fuse numbers every
  /// spelling apart) names are compared by FoldKey and a suspect is checked in the listing.
  explicit WrittenEntries(bool by_identity) : by_identity_(by_identity) {}

  /// Notes that the job wrote name, now with the inode number inode.
  void Add(std::string_view name, std::uint64_t inode);

  /// For a name that already exists in folder: whether it is an entry that this job wrote under
  /// another name. Fails when the entry or the listing cannot be read.
  bool WrittenUnderAnotherName(int folder, const std::string& name, std::error_code& error);

 private:
  bool Listed(int folder, const std::string& name, std::error_code& error) const;

  bool by_identity_;
  std::unordered_map<std::uint64_t, std::string> name_of_inode_;
  std::unordered_map<std::string, std::string> name_of_key_;
  // The listing showed two spellings with one key as two entries: this folder does not fold.
  bool keeps_spellings_apart_ = false;
};

}  // namespace salvatrix::posix
