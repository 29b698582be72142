#include "copy/policy/name_keys.h"

#include <random>

namespace salvatrix {
namespace {

constexpr std::string_view kPrefix = ".salvatrix-";
constexpr std::string_view kSuffix = ".tmp";
constexpr std::size_t kRandomLetters = 6;
constexpr std::string_view kLetters =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
constexpr char32_t kNoCodePoint = 0xFFFFFFFF;

// The code point starting at text[at] and its length in bytes; kNoCodePoint for a byte that
// does not start a well-formed sequence (overlong forms and surrogates included).
char32_t Decode(std::string_view text, std::size_t at, std::size_t& length) {
  const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[at + i]); };
  const unsigned char lead = byte(0);
  length = 1;
  if (lead < 0x80) {
    return lead;
  }
  std::size_t extra = 0;
  char32_t code = 0;
  char32_t minimum = 0;
  if ((lead & 0xE0) == 0xC0) {
    extra = 1;
    code = lead & 0x1F;
    minimum = 0x80;
  } else if ((lead & 0xF0) == 0xE0) {
    extra = 2;
    code = lead & 0x0F;
    minimum = 0x800;
  } else if ((lead & 0xF8) == 0xF0) {
    extra = 3;
    code = lead & 0x07;
    minimum = 0x10000;
  } else {
    return kNoCodePoint;
  }
  if (at + extra >= text.size()) {
    return kNoCodePoint;
  }
  for (std::size_t i = 1; i <= extra; ++i) {
    if ((byte(i) & 0xC0) != 0x80) {
      return kNoCodePoint;
    }
    code = (code << 6) | (byte(i) & 0x3F);
  }
  if (code < minimum || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) {
    return kNoCodePoint;
  }
  length = extra + 1;
  return code;
}

void PutUnit(char16_t unit, std::string& key) {
  key += static_cast<char>(unit >> 8);
  key += static_cast<char>(unit & 0xFF);
}

}  // namespace

std::string NameKey(std::string_view name, NameRule rule) {
  if (rule == NameRule::kExact) {
    return std::string(name);
  }
  // Two bytes per UTF-16 unit. A byte that is no UTF-8 becomes a lone low surrogate, as no
  // well-formed name gives one: the key of each name stays its own.
  std::string key;
  key.reserve(name.size() * 2);
  for (std::size_t at = 0; at < name.size();) {
    std::size_t length = 1;
    const char32_t code = Decode(name, at, length);
    if (code == kNoCodePoint) {
      PutUnit(static_cast<char16_t>(0xDC00 + static_cast<unsigned char>(name[at])), key);
    } else if (code >= 0x10000) {
      PutUnit(static_cast<char16_t>(0xD800 + ((code - 0x10000) >> 10)), key);
      PutUnit(static_cast<char16_t>(0xDC00 + ((code - 0x10000) & 0x3FF)), key);
    } else {
      PutUnit(UpcaseUnit(static_cast<char16_t>(code)), key);
    }
    at += length;
  }
  return key;
}

bool IsTemporaryName(std::string_view name) {
  if (name.size() != kPrefix.size() + kRandomLetters + kSuffix.size() ||
      !name.starts_with(kPrefix) || !name.ends_with(kSuffix)) {
    return false;
  }
  return name.substr(kPrefix.size(), kRandomLetters).find_first_not_of(kLetters) ==
         std::string_view::npos;
}

std::string TemporaryName() {
  thread_local std::minstd_rand random{std::random_device{}()};
  std::string name{kPrefix};
  for (std::size_t i = 0; i < kRandomLetters; ++i) {
    name += kLetters[random() % kLetters.size()];
  }
  name += kSuffix;
  return name;
}

}  // namespace salvatrix
