#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace salvatrix::posix {

/// udev properties of one device, by name (DEVNAME, ID_VENDOR_ENC ...).
using DeviceProperties = std::map<std::string, std::string>;

/// The longest device name a device-interface arrival carries, without its NUL.
inline constexpr std::size_t kMaxDeviceNameBytes = 1023;

/// Whether a udev "add" is a stick a person plugged in: a whole block disk that udev places on
/// a removable bus (ID_BUS usb, mmc or ieee1394) or that the kernel marks removable. A virtual
/// device (loop, device mapper, zram ...) counts only when its properties say ID_BUS=usb, as a
/// udev rule may for a stand-in. Partitions are not: their volumes arrive through the mount
/// table.
bool IsStickArrival(std::string_view action, const DeviceProperties& properties, bool removable);

/// The name a device-interface arrival carries: device node (DEVPATH when there is none),
/// vendor, model, "serial" and serial number, then bus and vendor:product ids in parentheses,
/// each where udev has it, e.g. "/dev/sdb SanDisk Cruzer Blade serial 4C530001 (USB
/// 0781:5567)". The _ENC properties win over the plain ones and have their \xNN escapes
/// decoded; control bytes become blanks and runs of blanks shrink to one. Cut to
/// kMaxDeviceNameBytes without splitting a UTF-8 character.
std::string DeviceArrivalName(const DeviceProperties& properties);

/// A DEV_BROADCAST_VOLUME of 20 bytes for the drive letter ('A' to 'Z'), little-endian.
std::vector<std::uint8_t> VolumeArrivalRecord(char letter);

/// A DEV_BROADCAST_DEVICEINTERFACE_A: 28 header bytes (size, type 5, reserved, zero class
/// GUID), then name and one NUL. name is used as given; DeviceArrivalName caps it.
std::vector<std::uint8_t> DeviceInterfaceRecord(std::string_view name);

}  // namespace salvatrix::posix
