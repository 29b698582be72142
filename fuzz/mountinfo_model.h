#pragma once

// A model of /proc/self/mountinfo written from the kernel's format, for the fuzz targets.

#include <algorithm>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/posix/devices/drive_table.h"

namespace salvatrix::fuzz {

using posix::MountEntry;

inline std::vector<std::string_view> Split(std::string_view text, std::string_view separator) {
  std::vector<std::string_view> parts;
  while (true) {
    const auto at = text.find(separator);
    if (at == std::string_view::npos) {
      parts.push_back(text);
      return parts;
    }
    parts.push_back(text.substr(0, at));
    text.remove_prefix(at + separator.size());
  }
}

inline bool IsOctal(char c) {
  return c >= '0' && c <= '7';
}

inline bool AllDigits(std::string_view text) {
  return !text.empty() &&
         std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// The kernel writes a blank, tab, newline or backslash inside a mountinfo field as a backslash
// and the byte's three octal digits.
inline std::string KernelEscape(std::string_view raw) {
  std::string escaped;
  for (const char c : raw) {
    if (c == ' ' || c == '\t' || c == '\n' || c == '\\') {
      const auto byte = static_cast<unsigned char>(c);
      escaped += '\\';
      escaped += static_cast<char>('0' + (byte >> 6));
      escaped += static_cast<char>('0' + ((byte >> 3) & 7));
      escaped += static_cast<char>('0' + (byte & 7));
    } else {
      escaped += c;
    }
  }
  return escaped;
}

// A backslash and three octal digits name a byte when the first digit is 0 to 3 (up to \377);
// anything else stands for itself.
inline std::string ReferenceUnescape(std::string_view field) {
  std::string raw;
  while (!field.empty()) {
    if (field.size() >= 4 && field[0] == '\\' && field[1] >= '0' && field[1] <= '3' &&
        IsOctal(field[2]) && IsOctal(field[3])) {
      raw +=
          static_cast<char>(((field[1] - '0') << 6) | ((field[2] - '0') << 3) | (field[3] - '0'));
      field.remove_prefix(4);
    } else {
      raw += field[0];
      field.remove_prefix(1);
    }
  }
  return raw;
}

// A line as the kernel writes it: mount id, parent id, major:minor, root, mount point,
// options, any number of optional fields, "-", type, source, super options. Read as leniently
// as the program means to: any non-empty root, and fields after the super options ignored.
inline std::optional<MountEntry> ReferenceParse(std::string_view line) {
  const std::vector<std::string_view> f = Split(line, " ");
  std::size_t dash = 6;
  while (dash < f.size() && f[dash] != "-") {
    ++dash;
  }
  if (dash + 4 > f.size()) {
    return std::nullopt;
  }
  const auto colon = f[2].find(':');
  if (!AllDigits(f[0]) || !AllDigits(f[1]) || colon == std::string_view::npos ||
      !AllDigits(f[2].substr(0, colon)) || !AllDigits(f[2].substr(colon + 1)) || f[3].empty() ||
      !f[4].starts_with('/') || f[dash + 1].empty()) {
    return std::nullopt;
  }
  return MountEntry{std::string(f[0]),
                    std::string(f[2]),
                    ReferenceUnescape(f[3]),
                    ReferenceUnescape(f[4]),
                    ReferenceUnescape(f[dash + 1]),
                    ReferenceUnescape(f[dash + 2])};
}

inline std::string KernelLine(const MountEntry& e) {
  return e.mount_id + " 1 " + e.device + " " + KernelEscape(e.root) + " " +
         KernelEscape(e.mount_point) + " rw,relatime shared:1 - " + KernelEscape(e.fs_type) + " " +
         KernelEscape(e.source) + " rw";
}

inline bool SameEntry(const MountEntry& a, const MountEntry& b) {
  return a.mount_id == b.mount_id && a.device == b.device && a.root == b.root &&
         a.mount_point == b.mount_point && a.fs_type == b.fs_type && a.source == b.source;
}

}  // namespace salvatrix::fuzz
