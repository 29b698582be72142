#include "platform/posix/devices/arrival_records.h"

#include "platform/device_notifications.h"
#include "platform/drive_roots.h"
#include "platform/little_endian.h"
#include "platform/posix/devices/drive_table.h"

#include <utility>

namespace salvatrix::posix {
namespace {

constexpr std::size_t kVolumeRecordBytes = 20;
constexpr std::size_t kDeviceInterfaceHeaderBytes = 28;

// SCSI inquiry strings come padded with blanks, and a decoded escape may be any byte; a NUL
// would cut the name short where the core reads it.
std::string Tidy(std::string_view text) {
  std::string tidy;
  bool blank_pending = false;
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte <= 0x20 || byte == 0x7F) {
      blank_pending = !tidy.empty();
      continue;
    }
    if (blank_pending) {
      tidy += ' ';
      blank_pending = false;
    }
    tidy += c;
  }
  return tidy;
}

std::string_view Property(const DeviceProperties& properties, const std::string& name) {
  const auto found = properties.find(name);
  return found == properties.end() ? std::string_view() : std::string_view(found->second);
}

// The plain properties have blanks replaced by underscores; the _ENC ones keep the device's
// own spelling.
std::string Preferred(const DeviceProperties& properties, const std::string& name) {
  std::string encoded = Tidy(DecodeUdevEscapes(Property(properties, name + "_ENC")));
  return encoded.empty() ? Tidy(Property(properties, name)) : encoded;
}

std::string UpperAscii(std::string text) {
  for (char& c : text) {
    c = salvatrix::UpperAscii(c);
  }
  return text;
}

}  // namespace

bool IsStickArrival(std::string_view action, const DeviceProperties& properties, bool removable) {
  if (action != "add" || Property(properties, "SUBSYSTEM") != "block" ||
      Property(properties, "DEVTYPE") != "disk") {
    return false;
  }
  const std::string_view bus = Property(properties, "ID_BUS");
  if (Property(properties, "DEVPATH").starts_with("/devices/virtual/")) {
    return bus == "usb";
  }
  return bus == "usb" || bus == "mmc" || bus == "ieee1394" || removable;
}

std::string DeviceArrivalName(const DeviceProperties& properties) {
  std::string node = Tidy(Property(properties, "DEVNAME"));
  if (node.empty()) {
    node = Tidy(Property(properties, "DEVPATH"));
  }
  std::vector<std::string> parts = {std::move(node), Preferred(properties, "ID_VENDOR"),
                                    Preferred(properties, "ID_MODEL")};
  const std::string serial = Tidy(Property(properties, "ID_SERIAL_SHORT"));
  if (!serial.empty()) {
    parts.push_back("serial " + serial);
  }
  const std::string vendor_id = Tidy(Property(properties, "ID_VENDOR_ID"));
  const std::string product_id = Tidy(Property(properties, "ID_MODEL_ID"));
  if (!vendor_id.empty() && !product_id.empty()) {
    const std::string bus = UpperAscii(Tidy(Property(properties, "ID_BUS")));
    std::string ids = "(";
    if (!bus.empty()) {
      ids += bus + ' ';
    }
    parts.push_back(ids + vendor_id + ':' + product_id + ')');
  }

  std::string name;
  for (const std::string& part : parts) {
    if (part.empty()) {
      continue;
    }
    if (!name.empty()) {
      name += ' ';
    }
    name += part;
  }
  if (name.size() > kMaxDeviceNameBytes) {
    std::size_t cut = kMaxDeviceNameBytes;
    while (cut > 0 && (static_cast<unsigned char>(name[cut]) & 0xC0) == 0x80) {
      --cut;
    }
    while (cut > 0 && name[cut - 1] == ' ') {
      --cut;
    }
    name.resize(cut);
  }
  return name;
}

std::vector<std::uint8_t> VolumeArrivalRecord(char letter) {
  std::vector<std::uint8_t> record(kVolumeRecordBytes, 0);
  PutLittleEndian32(record.data(), kVolumeRecordBytes);
  PutLittleEndian32(record.data() + 4, kDbtDevtypVolume);
  if (letter >= 'A' && letter <= 'Z') {
    PutLittleEndian32(record.data() + 12, std::uint32_t{1} << (letter - 'A'));
  }
  return record;
}

std::vector<std::uint8_t> DeviceInterfaceRecord(std::string_view name) {
  std::vector<std::uint8_t> record(kDeviceInterfaceHeaderBytes + name.size() + 1, 0);
  PutLittleEndian32(record.data(), static_cast<std::uint32_t>(record.size()));
  PutLittleEndian32(record.data() + 4, kDbtDevtypDeviceInterface);
  for (std::size_t i = 0; i < name.size(); ++i) {
    record[kDeviceInterfaceHeaderBytes + i] = static_cast<std::uint8_t>(name[i]);
  }
  return record;
}

}  // namespace salvatrix::posix
