// The arrival records the window procedure decodes: arbitrary bytes and extents against a
// reference decoder written from the record layouts, and the records the Linux watchers build
// read back through the same decoding.
//
// The first input byte picks the case: even, the rest is a notification record of exactly its
// own length; odd, the rest is a device name (or, when that byte is 1, a volume letter) for
// the Linux records.

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
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

// DEV_BROADCAST_HDR: size, device type, reserved, little-endian 32-bit each. A volume
// (type 2) is told by its header alone. A device interface (type 5), as
// DEV_BROADCAST_DEVICEINTERFACE_A, has its class GUID at 12 and its NUL-ended ANSI name at
// 28; the program copies at most 1052 bytes of it, and no more than the size field gives (a
// negative size, as the signed field reads, gives none), into a zeroed record, and takes
// the name up to the first NUL of the 1024 name bytes, or nothing when there is none.
std::string ReferenceLines(const std::vector<std::uint8_t>& record) {
  const auto byte = [&record](std::size_t at) -> std::uint32_t {
    return at < record.size() ? record[at] : 0;
  };
  const auto int32 = [&byte](std::size_t at) {
    return static_cast<std::int32_t>(byte(at) | byte(at + 1) << 8 | byte(at + 2) << 16 |
                                     byte(at + 3) << 24);
  };
  std::string lines = kArrivalLine;
  const std::int32_t type = int32(4);
  if (type == 2) {
    lines += kVolumeLine;
  } else if (type == 5) {
    const std::int32_t size = int32(0);
    const std::size_t copied = size <= 0 ? 0 : std::min<std::size_t>(size, 1052);
    std::string name;
    bool ended = false;
    for (std::size_t at = 28; at < 28 + 1024 && !ended; ++at) {
      const std::uint32_t value = at < copied ? byte(at) : 0;
      ended = value == 0;
      if (!ended) {
        name += static_cast<char>(value);
      }
    }
    lines += "\r\nDevice Name: " + (ended ? name : std::string()) + " 12 ";
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
  // A name up to 1023 bytes reaches the log whole, up to its first NUL; a longer one leaves
  // no NUL among the 1024 name bytes unless it holds one there.
  std::string_view expected = payload.substr(0, payload.find('\0'));
  if (payload.size() > posix::kMaxDeviceNameBytes && expected.size() >= kDeviceNameChars) {
    expected = {};
  }
  FUZZ_CHECK(DecodeExact(record) ==
             kArrivalLine + "\r\nDevice Name: " + std::string(expected) + " 12 ");
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
