#pragma once

// The records of the window system are little-endian whatever the machine: 32-bit fields read
// and written byte by byte.

#include <cstdint>

namespace salvatrix {

constexpr std::uint32_t GetLittleEndian32(const std::uint8_t* bytes) {
  return static_cast<std::uint32_t>(bytes[0]) | (static_cast<std::uint32_t>(bytes[1]) << 8) |
         (static_cast<std::uint32_t>(bytes[2]) << 16) |
         (static_cast<std::uint32_t>(bytes[3]) << 24);
}

/// The same field as a signed number, as the records' sizes and types are declared.
constexpr std::int32_t ReadLittleEndian32(const std::uint8_t* bytes) {
  return static_cast<std::int32_t>(GetLittleEndian32(bytes));
}

constexpr void PutLittleEndian32(std::uint8_t* bytes, std::uint32_t value) {
  for (int i = 0; i < 4; ++i) {
    bytes[i] = static_cast<std::uint8_t>(value >> (8 * i));
  }
}

}  // namespace salvatrix
