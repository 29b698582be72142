// The arrival records the window procedure decodes: arbitrary bytes against a reference
// decoder written from the record layouts, and the records the Linux watchers build read back
// through the same decoding.
//
// The first input byte picks the case: even, the rest is a notification record of exactly its
// own length; odd, the rest is a device name (or, when that byte is 1, a volume letter) for
// the Linux records.

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "detect/module1.h"
#include "fuzz_check.h"
#include "platform/posix/devices/device_watch.h"

namespace salvatrix::fuzz {
namespace {

const std::string kArrivalLine = "\r\nwParam = DBT_DEVICEARRIVAL 05 ";
const std::string kVolumeLine = "\r\nDevice Type: DBT_DEVTYP_VOLUME 08 ";

// Code points to UTF-8, and back: nothing when the bytes are not strict UTF-8.
void PutUtf8(std::string& out, std::uint32_t c) {
  if (c < 0x80) {
    out += static_cast<char>(c);
    return;
  }
  const int extra = c < 0x800 ? 1 : c < 0x10000 ? 2 : 3;
  out += static_cast<char>(((0xFF00 >> (extra + 1)) & 0xFF) | (c >> (6 * extra)));
  for (int i = extra - 1; i >= 0; --i) {
    out += static_cast<char>(0x80 | ((c >> (6 * i)) & 0x3F));
  }
}

std::optional<std::vector<std::uint32_t>> CodePoints(std::string_view utf8) {
  std::vector<std::uint32_t> points;
  for (std::size_t at = 0; at < utf8.size();) {
    const auto lead = static_cast<std::uint8_t>(utf8[at]);
    const int extra = lead < 0x80 ? 0 : lead < 0xC0 ? -1 : lead < 0xE0 ? 1 : lead < 0xF0 ? 2 : 3;
    if (extra < 0 || lead >= 0xF8 || (extra > 0 && at + extra >= utf8.size())) {
      return std::nullopt;
    }
    std::uint32_t c = extra == 0 ? lead : lead & (0x3F >> extra);
    for (int i = 1; i <= extra; ++i) {
      const auto next = static_cast<std::uint8_t>(utf8[at + i]);
      if ((next & 0xC0) != 0x80) {
        return std::nullopt;
      }
      c = c << 6 | (next & 0x3F);
    }
    std::string again;
    PutUtf8(again, c);
    if (again != utf8.substr(at, extra + 1) || c > 0x10FFFF || (c >= 0xD800 && c < 0xE000)) {
      return std::nullopt;  // overlong, a surrogate, or past Unicode
    }
    points.push_back(c);
    at += extra + 1;
  }
  return points;
}

bool Control(std::uint32_t c) {
  return c < 32 || c == 127;
}

// DEV_BROADCAST_HDR: size, device type, reserved, little-endian 32-bit each. A volume
// (type 2) is told by its header alone. A device interface (type 5) has its class GUID at 12
// and its name at 28, and only the bytes up to its size field count, all of which must be
// there. The name is 8-bit (DEV_BROADCAST_DEVICEINTERFACE_A) when the size field ends the
// record at the name's one NUL, 1024 bytes at most: UTF-8, or Latin-1 where it is none.
// Otherwise the record must be UTF-16 (DEV_BROADCAST_DEVICEINTERFACE_W) of an even size with
// a NUL unit among its first 1024 units and whole surrogate pairs before it. A name with a
// control character, or one that fits neither layout, is shown empty.
std::string ReferenceName(const std::vector<std::uint8_t>& record) {
  if (record.size() < 28) {
    return {};
  }
  const auto size = static_cast<std::int32_t>(record[0] | record[1] << 8 | record[2] << 16 |
                                              static_cast<std::uint32_t>(record[3]) << 24);
  if (size <= 28 || static_cast<std::size_t>(size) > record.size()) {
    return {};
  }
  const std::vector<std::uint8_t> name(record.begin() + 28, record.begin() + size);
  std::vector<std::uint32_t> points;
  if (name.size() <= 1024 && std::count(name.begin(), name.end(), 0) == 1 && name.back() == 0) {
    const std::string bytes(name.begin(), name.end() - 1);
    if (auto utf8 = CodePoints(bytes)) {
      points = *utf8;
    } else {
      points.assign(name.begin(), name.end() - 1);
    }
  } else {
    if (name.size() % 2 != 0) {
      return {};
    }
    bool ended = false;
    for (std::size_t i = 0; i < std::min<std::size_t>(name.size() / 2, 1024) && !ended; ++i) {
      const std::uint32_t unit = name[2 * i] | name[2 * i + 1] << 8;
      const std::uint32_t next =
          2 * i + 3 < name.size() ? name[2 * i + 2] | name[2 * i + 3] << 8 : 0;
      ended = unit == 0;
      if (ended) {
        break;
      }
      if (unit >= 0xD800 && unit < 0xDC00 && next >= 0xDC00 && next < 0xE000) {
        points.push_back(0x10000 + ((unit - 0xD800) << 10) + (next - 0xDC00));
        ++i;
      } else if (unit >= 0xD800 && unit < 0xE000) {
        return {};
      } else {
        points.push_back(unit);
      }
    }
    if (!ended) {
      return {};
    }
  }
  std::string utf8;
  for (const std::uint32_t c : points) {
    if (Control(c)) {
      return {};
    }
    PutUtf8(utf8, c);
  }
  return utf8;
}

std::string ReferenceLines(const std::vector<std::uint8_t>& record) {
  const auto byte = [&record](std::size_t at) -> std::uint32_t {
    return at < record.size() ? record[at] : 0;
  };
  const std::uint32_t type = byte(4) | byte(5) << 8 | byte(6) << 16 | byte(7) << 24;
  std::string lines = kArrivalLine;
  if (type == 2) {
    lines += kVolumeLine;
  } else if (type == 5) {
    lines += "\r\nDevice Name: " + ReferenceName(record) + " 12 ";
  }
  return lines;
}

// A heap block of exactly the record's length, so that any read past it is caught.
std::string DecodeExact(const std::vector<std::uint8_t>& record) {
  const auto exact = std::make_unique<std::uint8_t[]>(record.size());
  std::copy(record.begin(), record.end(), exact.get());
  return ArrivalLogLines(exact.get(), record.size());
}

void CheckRecord(const std::vector<std::uint8_t>& record) {
  const std::string lines = DecodeExact(record);
  FUZZ_CHECK(lines == ReferenceLines(record));
  FUZZ_CHECK(lines.find('\0') == std::string::npos);
}

void CheckLinuxRecords(std::uint8_t selector, std::string_view payload) {
  if (selector == 1) {
    const char letter = payload.empty() ? 'D' : payload.front();
    const std::vector<std::uint8_t> record = posix::VolumeArrivalRecord(letter);
    CheckRecord(record);
    FUZZ_CHECK(DecodeExact(record) == kArrivalLine + kVolumeLine);
    return;
  }
  const std::vector<std::uint8_t> record = posix::DeviceInterfaceRecord(payload);
  CheckRecord(record);
  // A name as the watchers make them (UTF-8, no control character, up to 1023 bytes) reaches
  // the log whole.
  const auto points = CodePoints(payload);
  if (points && payload.size() <= posix::kMaxDeviceNameBytes &&
      std::none_of(points->begin(), points->end(), Control)) {
    FUZZ_CHECK(DecodeExact(record) ==
               kArrivalLine + "\r\nDevice Name: " + std::string(payload) + " 12 ");
  }
}

}  // namespace
}  // namespace salvatrix::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace salvatrix::fuzz;
  if (size == 0) {
    FUZZ_CHECK(salvatrix::ArrivalLogLines(nullptr, 0) == kArrivalLine);
    // The Windows layer vouches for any extent; a message without a record must still decode.
    FUZZ_CHECK(salvatrix::ArrivalLogLines(nullptr, SIZE_MAX) == kArrivalLine);
    return 0;
  }
  if (data[0] % 2 == 0) {
    CheckRecord(std::vector<std::uint8_t>(data + 1, data + size));
  } else {
    CheckLinuxRecords(data[0], AsText(data + 1, size - 1));
  }
  return 0;
}
