#include <gtest/gtest.h>

#include <cstdint>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "app/program_icon.h"

namespace salvatrix {
namespace {

// The Windows program's icon file is made from ProgramIcon() (make icon) and committed; this
// keeps the two from drifting apart.
std::string IconFilePath() {
  std::string path = __FILE__;
  const std::size_t tests = path.rfind("tests");
  return path.substr(0, tests) + "src/platform/win32ui/salvatrix.ico";
}

std::uint32_t Read(const std::vector<unsigned char>& bytes, std::size_t at, int size) {
  std::uint32_t value = 0;
  for (int i = size - 1; i >= 0; --i) {
    value = value << 8 | bytes.at(at + static_cast<std::size_t>(i));
  }
  return value;
}

constexpr std::size_t kMaskBytes = kIconSize * 4;  // rows of 32 bits

/// Counts the pixels where an image differs from the program icon: in colour, and in the mask (a
/// bit per pixel, set where transparent). Rows are stored
/// bottom-up; colour(bytes, row, x) gives a stored pixel as 0xRRGGBB or 0xAARRGGBB.
template <typename Colour>
int Differences(const std::vector<unsigned char>& bytes, std::size_t mask, bool with_alpha,
                Colour colour) {
  const auto& pixels = ProgramIcon();
  int differing = 0;
  for (int y = 0; y < kIconSize; ++y) {
    const std::size_t row = static_cast<std::size_t>(kIconSize - 1 - y);
    for (int x = 0; x < kIconSize; ++x) {
      const std::uint32_t argb = pixels[static_cast<std::size_t>(y * kIconSize + x)];
      const bool transparent = argb >> 24 == 0;
      const bool masked =
          (bytes.at(mask + row * 4 + static_cast<std::size_t>(x / 8)) & (0x80 >> (x % 8))) != 0;
      const std::uint32_t stored = colour(row, static_cast<std::size_t>(x));
      // Without alpha, what a transparent pixel's colour is does not matter: the mask hides it.
      const bool colour_differs =
          with_alpha ? stored != argb : !transparent && stored != (argb & 0xFFFFFF);
      if (masked != transparent || colour_differs) {
        ++differing;
      }
    }
  }
  return differing;
}

TEST(ProgramIconFileTest, TheCommittedIconHoldsThe256ColourAndThe32BitImageOfTheProgramIcon) {
  std::ifstream file(IconFilePath(), std::ios::binary);
  ASSERT_TRUE(file) << IconFilePath();
  const std::vector<unsigned char> bytes{std::istreambuf_iterator<char>(file), {}};

  ASSERT_GE(bytes.size(), 6U);
  ASSERT_EQ(Read(bytes, 0, 4), 0x10000U);  // an icon file
  const std::uint32_t count = Read(bytes, 4, 2);
  ASSERT_EQ(count, 2U);
  std::vector<std::uint32_t> depths;
  for (std::uint32_t i = 0; i < count; ++i) {
    const std::size_t entry = 6 + 16 * static_cast<std::size_t>(i);
    const std::uint32_t depth = Read(bytes, entry + 6, 2);
    SCOPED_TRACE(depth);
    depths.push_back(depth);
    EXPECT_EQ(bytes.at(entry), kIconSize);
    EXPECT_EQ(bytes.at(entry + 1), kIconSize);
    const std::uint32_t length = Read(bytes, entry + 8, 4);
    const std::size_t image = Read(bytes, entry + 12, 4);
    ASSERT_LE(image + length, bytes.size());

    // A BITMAPINFOHEADER of twice the height (colours, then the mask), of the directory's depth.
    ASSERT_EQ(Read(bytes, image, 4), 40U);
    EXPECT_EQ(Read(bytes, image + 4, 4), static_cast<std::uint32_t>(kIconSize));
    EXPECT_EQ(Read(bytes, image + 8, 4), static_cast<std::uint32_t>(2 * kIconSize));
    ASSERT_EQ(Read(bytes, image + 14, 2), depth);
    EXPECT_EQ(Read(bytes, image + 16, 4), 0U);  // uncompressed
    const std::size_t colours = image + 40;
    if (depth == 8) {
      // 256 palette entries (blue, green, red, reserved), then one index byte per pixel.
      const std::uint32_t used = Read(bytes, image + 32, 4);
      EXPECT_TRUE(used == 0 || used == 256) << used;
      EXPECT_EQ(bytes.at(entry + 2), 0);  // the directory's way of saying 256 colours or more
      const std::size_t indices = colours + 256 * 4;
      const std::size_t mask = indices + kIconSize * kIconSize;
      ASSERT_EQ(length, mask + kMaskBytes - image);
      EXPECT_EQ(Differences(bytes, mask, false,
                            [&](std::size_t row, std::size_t x) {
                              const std::size_t index = bytes.at(indices + row * kIconSize + x);
                              return Read(bytes, colours + index * 4, 4);
                            }),
                0);
    } else {
      ASSERT_EQ(depth, 32U);
      const std::size_t mask = colours + kIconSize * kIconSize * 4;
      ASSERT_EQ(length, mask + kMaskBytes - image);
      EXPECT_EQ(Differences(bytes, mask, true,
                            [&](std::size_t row, std::size_t x) {
                              return Read(bytes, colours + (row * kIconSize + x) * 4, 4);
                            }),
                0);
    }
  }
  EXPECT_EQ(depths, (std::vector<std::uint32_t>{8, 32}));
}

}  // namespace
}  // namespace salvatrix
