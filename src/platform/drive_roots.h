#pragma once

// Drive root entries ("E:\"), as every layer spells and recognises them.

#include <string_view>

namespace salvatrix {

/// An ASCII letter (a drive letter) in upper case; any other byte as it is.
constexpr char UpperAscii(char c) {
  return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}

/// Whether path begins with a drive root: a letter of either case, a colon and a backslash.
constexpr bool IsDriveRoot(std::string_view path) {
  const char letter = UpperAscii(path.empty() ? '\0' : path[0]);
  return path.size() >= 3 && letter >= 'A' && letter <= 'Z' && path[1] == ':' && path[2] == '\\';
}

}  // namespace salvatrix
