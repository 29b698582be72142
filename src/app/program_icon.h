#pragma once

#include <array>
#include <cstdint>

namespace salvatrix {

inline constexpr int kIconSize = 32;

/// The program icon, 32 x 32 pixels, row by row from the top, each 0xAARRGGBB.
const std::array<std::uint32_t, kIconSize * kIconSize>& ProgramIcon();

}  // namespace salvatrix
