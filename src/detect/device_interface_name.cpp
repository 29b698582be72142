#include <algorithm>
#include <cstring>

#include "detect/module1.h"
#include "platform/little_endian.h"

namespace salvatrix {
namespace {

constexpr std::size_t kNameOffset = 28;

// A name with a line break or another control character in it would write lines of its own
// into the log.
bool IsControl(char32_t c) {
  return c < 0x20 || c == 0x7F;
}

void AppendUtf8(std::string& out, char32_t c) {
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (c >> 18));
    out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

// Strict UTF-8: no overlong forms, no surrogates, nothing past U+10FFFF.
bool IsUtf8(const std::uint8_t* bytes, std::size_t length) {
  std::size_t at = 0;
  while (at < length) {
    const std::uint8_t lead = bytes[at];
    std::size_t follow = 0;
    char32_t c = 0;
    char32_t least = 0;
    if (lead < 0x80) {
      ++at;
      continue;
    } else if (lead >= 0xC2 && lead <= 0xDF) {
      follow = 1;
      c = lead & 0x1F;
      least = 0x80;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
      follow = 2;
      c = lead & 0x0F;
      least = 0x800;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
      follow = 3;
      c = lead & 0x07;
      least = 0x10000;
    } else {
      return false;
    }
    if (length - at <= follow) {
      return false;
    }
    for (std::size_t i = 1; i <= follow; ++i) {
      if ((bytes[at + i] & 0xC0) != 0x80) {
        return false;
      }
      c = (c << 6) | (bytes[at + i] & 0x3F);
    }
    if (c < least || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) {
      return false;
    }
    at += follow + 1;
  }
  return true;
}

// The Linux watchers write UTF-8; Windows' 8-bit records are in a code page this code cannot
// know. Bytes that are no UTF-8 are read as Latin-1, so that the log holds UTF-8 either way.
std::optional<std::string> DecodeEightBit(const std::uint8_t* name, std::size_t length) {
  if (std::any_of(name, name + length, [](std::uint8_t b) { return IsControl(b); })) {
    return std::nullopt;
  }
  if (IsUtf8(name, length)) {
    return std::string(reinterpret_cast<const char*>(name), length);
  }
  std::string utf8;
  for (std::size_t i = 0; i < length; ++i) {
    AppendUtf8(utf8, name[i]);
  }
  return utf8;
}

// UTF-16LE up to the first NUL unit among units; nothing when there is none, or when the text
// before it holds a lone surrogate or a control character.
std::optional<std::string> DecodeUtf16(const std::uint8_t* name, std::size_t units) {
  std::string utf8;
  const auto unit = [name](std::size_t i) -> char32_t {
    return static_cast<char32_t>(name[2 * i] | (name[2 * i + 1] << 8));
  };
  for (std::size_t i = 0; i < units; ++i) {
    char32_t c = unit(i);
    if (c == 0) {
      return utf8;
    }
    if (c >= 0xDC00 && c <= 0xDFFF) {
      return std::nullopt;
    }
    if (c >= 0xD800 && c <= 0xDBFF) {
      const char32_t low = i + 1 < units ? unit(i + 1) : 0;
      if (low < 0xDC00 || low > 0xDFFF) {
        return std::nullopt;
      }
      c = 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00);
      ++i;
    }
    if (IsControl(c)) {
      return std::nullopt;
    }
    AppendUtf8(utf8, c);
  }
  return std::nullopt;
}

}  // namespace

std::optional<std::string> DeviceInterfaceName(const std::uint8_t* record, std::size_t extent) {
  if (record == nullptr || extent < kNameOffset) {
    return std::nullopt;
  }
  const std::int32_t size = ReadLittleEndian32(record);
  // Room for at least the terminator, and every byte the record claims must be there to read.
  if (size <= static_cast<std::int32_t>(kNameOffset) || static_cast<std::size_t>(size) > extent) {
    return std::nullopt;
  }
  const std::uint8_t* name = record + kNameOffset;
  const std::size_t length = static_cast<std::size_t>(size) - kNameOffset;
  // An 8-bit record ends with its name's NUL: the Linux watchers size theirs so. A UTF-16
  // record ends with two zero bytes (and may be longer still), so its last byte never follows
  // the first zero byte of the record: the two layouts cannot be mistaken for each other.
  if (length <= kDeviceNameChars && std::memchr(name, 0, length) == name + length - 1) {
    return DecodeEightBit(name, length - 1);
  }
  if (length % 2 != 0) {
    return std::nullopt;
  }
  return DecodeUtf16(name, std::min(length / 2, kDeviceNameChars));
}

}  // namespace salvatrix
