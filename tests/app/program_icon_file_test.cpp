#include <gtest/gtest.h>

#include <cstdint>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "app/program_icon.h"

namespace salvatrix {
namespace {

// The Windows program's icon file is made once from ProgramIcon() and committed; this keeps
// the two from drifting apart.
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

TEST(ProgramIconFileTest, TheCommittedIconHoldsTheProgramIconsPixels) {
  std::ifstream file(IconFilePath(), std::ios::binary);
  ASSERT_TRUE(file) << IconFilePath();
  const std::vector<unsigned char> bytes{std::istreambuf_iterator<char>(file), {}};

  // One 32 x 32 image of 32 bits per pixel, at the offset the directory gives.
  ASSERT_GE(bytes.size(), 22U);
  ASSERT_EQ(Read(bytes, 0, 4), 0x10000U);  // an icon file
  ASSERT_EQ(Read(bytes, 4, 2), 1U);
  const std::uint32_t image = Read(bytes, 18, 4);
  ASSERT_EQ(Read(bytes, 14, 4), 40U + kIconSize * kIconSize * 4 + kIconSize * 4);
  ASSERT_EQ(image + Read(bytes, 14, 4), bytes.size());
  EXPECT_EQ(Read(bytes, image + 4, 4), static_cast<std::uint32_t>(kIconSize));
  EXPECT_EQ(Read(bytes, image + 8, 4), static_cast<std::uint32_t>(2 * kIconSize));
  ASSERT_EQ(Read(bytes, image + 14, 2), 32U);

  // Rows bottom-up: BGRA colours, then the mask (a bit per pixel, set where transparent).
  const std::size_t colours = image + 40;
  const std::size_t mask = colours + kIconSize * kIconSize * 4;
  const auto& pixels = ProgramIcon();
  int differing = 0;
  for (int y = 0; y < kIconSize; ++y) {
    const std::size_t row = static_cast<std::size_t>(kIconSize - 1 - y);
    for (int x = 0; x < kIconSize; ++x) {
      const std::uint32_t argb = pixels[static_cast<std::size_t>(y * kIconSize + x)];
      const std::uint32_t stored =
          Read(bytes, colours + (row * kIconSize + static_cast<std::size_t>(x)) * 4, 4);
      const bool masked =
          (bytes[mask + row * 4 + static_cast<std::size_t>(x / 8)] & (0x80 >> (x % 8))) != 0;
      if (stored != argb || masked != (argb >> 24 == 0)) {
        ++differing;
      }
    }
  }
  EXPECT_EQ(differing, 0);
}

}  // namespace
}  // namespace salvatrix
