// udev's \xNN escapes (link names under /dev/disk/by-label, the _ENC properties): the decoder
// against a reference decoder, and udev's own encoding of any bytes decoded back to them.

#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz_check.h"
#include "platform/posix/devices/drive_table.h"

namespace salvatrix::fuzz {
namespace {

int HexDigit(char c) {
  const std::string_view digits = "0123456789abcdef0123456789ABCDEF";
  const auto at = digits.find(c);
  return at == std::string_view::npos ? -1 : static_cast<int>(at % 16);
}

// A backslash, an x and two hex digits of either case are one byte; anything else stands
// for itself, and a decoded byte is never read again as the start of an escape.
std::string ReferenceDecode(std::string_view text) {
  std::string decoded;
  std::size_t at = 0;
  while (at < text.size()) {
    const std::string_view rest = text.substr(at);
    if (rest.starts_with("\\x") && rest.size() >= 4 && HexDigit(rest[2]) >= 0 &&
        HexDigit(rest[3]) >= 0) {
      decoded += static_cast<char>(HexDigit(rest[2]) * 16 + HexDigit(rest[3]));
      at += 4;
    } else {
      decoded += rest[0];
      ++at;
    }
  }
  return decoded;
}

// Length of the valid UTF-8 sequence of two or more bytes at the start of text, else 0.
std::size_t MultiByteLength(std::string_view text) {
  const auto lead = static_cast<unsigned char>(text[0]);
  std::size_t length = 0;
  std::uint32_t code = 0;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
    code = lead & 0x1F;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    code = lead & 0x0F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    code = lead & 0x07;
  } else {
    return 0;
  }
  if (text.size() < length) {
    return 0;
  }
  for (std::size_t i = 1; i < length; ++i) {
    const auto next = static_cast<unsigned char>(text[i]);
    if ((next & 0xC0) != 0x80) {
      return 0;
    }
    code = code << 6 | (next & 0x3F);
  }
  const bool overlong = (length == 3 && code < 0x800) || (length == 4 && code < 0x10000);
  const bool surrogate = code >= 0xD800 && code <= 0xDFFF;
  return overlong || surrogate || code > 0x10FFFF ? 0 : length;
}

// udev keeps letters, digits, "#+-.:=@_" and valid multi-byte UTF-8 as they are and writes
// every other byte, the backslash included, as \x and two lower-case hex digits.
std::string UdevEncode(std::string_view raw, bool upper_case) {
  const char* digits = upper_case ? "0123456789ABCDEF" : "0123456789abcdef";
  const std::string_view kept = "#+-.:=@_";
  std::string encoded;
  while (!raw.empty()) {
    const char c = raw[0];
    const std::size_t multi_byte = MultiByteLength(raw);
    if (multi_byte > 0) {
      encoded += raw.substr(0, multi_byte);
      raw.remove_prefix(multi_byte);
      continue;
    }
    if ((c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
        kept.find(c) != std::string_view::npos) {
      encoded += c;
    } else {
      const auto byte = static_cast<unsigned char>(c);
      encoded += "\\x";
      encoded += digits[byte >> 4];
      encoded += digits[byte & 0xF];
    }
    raw.remove_prefix(1);
  }
  return encoded;
}

}  // namespace
}  // namespace salvatrix::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace salvatrix::fuzz;
  const std::string_view text = AsText(data, size);
  const std::string decoded = salvatrix::posix::DecodeUdevEscapes(text);
  FUZZ_CHECK(decoded == ReferenceDecode(text));
  for (const bool upper_case : {false, true}) {
    FUZZ_CHECK(salvatrix::posix::DecodeUdevEscapes(UdevEncode(text, upper_case)) == text);
  }
  return 0;
}
