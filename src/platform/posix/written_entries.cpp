#include "platform/posix/written_entries.h"

#include <dirent.h>
#include <fcntl.h>
#include <locale.h>
#include <sys/stat.h>
#include <unistd.h>
#include <wctype.h>

#include <cerrno>
#include <memory>

#include "platform/posix/fd.h"

namespace salvatrix::posix {
namespace {

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

void Encode(char32_t code, std::string& out) {
  if (code < 0x80) {
    out += static_cast<char>(code);
  } else if (code < 0x800) {
    out += static_cast<char>(0xC0 | (code >> 6));
    out += static_cast<char>(0x80 | (code & 0x3F));
  } else if (code < 0x10000) {
    out += static_cast<char>(0xE0 | (code >> 12));
    out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (code & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (code >> 18));
    out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (code & 0x3F));
  }
}

char32_t Upper(char32_t code) {
  // The program's own locale may be anything; the folding must not depend on it.
  static const locale_t utf8 = ::newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(0));
  if (utf8 == static_cast<locale_t>(0)) {
    return code >= 'a' && code <= 'z' ? code - 'a' + 'A' : code;
  }
  return static_cast<char32_t>(::towupper_l(static_cast<wint_t>(code), utf8));
}

}  // namespace

std::string FoldKey(std::string_view name) {
  std::string key;
  key.reserve(name.size());
  for (std::size_t at = 0; at < name.size();) {
    std::size_t length = 1;
    const char32_t code = Decode(name, at, length);
    if (code == kNoCodePoint) {
      key += name[at];
    } else {
      Encode(Upper(code), key);
    }
    at += length;
  }
  return key;
}

void WrittenEntries::Add(std::string_view name, std::uint64_t inode) {
  if (by_identity_) {
    name_of_inode_[inode] = std::string(name);
  } else {
    name_of_key_.try_emplace(FoldKey(name), name);
  }
}

bool WrittenEntries::WrittenUnderAnotherName(int folder, const std::string& name,
                                             std::error_code& error) {
  if (by_identity_) {
    if (name_of_inode_.empty()) {
      return false;
    }
    struct stat status {};
    if (::fstatat(folder, name.c_str(), &status, AT_SYMLINK_NOFOLLOW) != 0) {
      error = LastError();
      return false;
    }
    const auto written = name_of_inode_.find(status.st_ino);
    return written != name_of_inode_.end() && written->second != name;
  }
  const auto written = name_of_key_.find(FoldKey(name));
  if (written == name_of_key_.end() || written->second == name || keeps_spellings_apart_) {
    return false;
  }
  // Both spellings exist by name; only the listing tells whether they are two entries.
  if (Listed(folder, name, error)) {
    keeps_spellings_apart_ = true;
    return false;
  }
  return !error;
}

bool WrittenEntries::Listed(int folder, const std::string& name, std::error_code& error) const {
  const int fd = ::openat(folder, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) {
    error = LastError();
    return false;
  }
  const std::unique_ptr<DIR, int (*)(DIR*)> listing(::fdopendir(fd), ::closedir);
  if (!listing) {
    error = LastError();
    ::close(fd);
    return false;
  }
  while (true) {
    errno = 0;
    const dirent* entry = ::readdir(listing.get());
    if (entry == nullptr) {
      if (errno != 0) {
        error = LastError();
      }
      return false;
    }
    if (name == entry->d_name) {
      return true;
    }
  }
}

}  // namespace salvatrix::posix
