#pragma once

#include <string>
#include <vector>

namespace salvatrix::posix {

/// A drive with the letter it holds.
struct Drive {
  char letter = 0;
  std::string key;  // what identifies the drive while it stays mounted
  std::string mount_point;
  std::string fs_type;
  std::string source;
  std::string label;

  friend bool operator==(const Drive&, const Drive&) = default;
};

inline constexpr char kRootDriveLetter = 'C';
inline constexpr char kFirstDriveLetter = 'D';
inline constexpr char kLastDriveLetter = 'Z';

/// The letter rules. seen holds the drives mounted now, in the order they were first seen,
/// each key once (letters ignored). The drive mounted at "/" is C. Any other drive keeps its
/// letter from previous when it is there under the same key; the rest take the lowest free
/// letter from D in the order of seen. A drive that finds no letter left (more than 23 besides
/// "/") is left out until a letter is freed. The result is in ascending letter order.
std::vector<Drive> AssignLetters(const std::vector<Drive>& previous, std::vector<Drive> seen);

/// The raw drive list as GetLogicalDriveStrings gives it: "X:\" and a NUL for each drive,
/// then a closing NUL.
std::string DriveStringsText(const std::vector<Drive>& drives);

}  // namespace salvatrix::posix
