#include "app/program_icon.h"

namespace salvatrix {
namespace {

using Pixels = std::array<std::uint32_t, kIconSize * kIconSize>;

constexpr std::uint32_t kMetal = 0xFFC8C8C8;
constexpr std::uint32_t kMetalEdge = 0xFF707070;
constexpr std::uint32_t kHole = 0xFF303030;
constexpr std::uint32_t kBody = 0xFF2A62C9;
constexpr std::uint32_t kBodyEdge = 0xFF123072;
constexpr std::uint32_t kArrow = 0xFFFFB020;
constexpr std::uint32_t kArrowEdge = 0xFF8A4A00;

void Fill(Pixels& p, int x0, int y0, int x1, int y1, std::uint32_t colour) {
  for (int y = y0; y <= y1; ++y) {
    for (int x = x0; x <= x1; ++x) {
      p[static_cast<std::size_t>(y * kIconSize + x)] = colour;
    }
  }
}

// A filled rectangle with a one-pixel border; rounded drops the four corner pixels.
void Box(Pixels& p, int x0, int y0, int x1, int y1, std::uint32_t edge, std::uint32_t inside,
         bool rounded) {
  Fill(p, x0, y0, x1, y1, edge);
  Fill(p, x0 + 1, y0 + 1, x1 - 1, y1 - 1, inside);
  if (rounded) {
    for (int x : {x0, x1}) {
      for (int y : {y0, y1}) {
        p[static_cast<std::size_t>(y * kIconSize + x)] = 0;
      }
    }
  }
}

Pixels Draw() {
  Pixels p{};  // fully transparent
  // The stick's plug, with its two contact holes.
  Box(p, 11, 1, 20, 9, kMetalEdge, kMetal, false);
  Fill(p, 13, 4, 14, 5, kHole);
  Fill(p, 17, 4, 18, 5, kHole);
  // The stick's body.
  Box(p, 7, 9, 24, 30, kBodyEdge, kBody, true);
  // A downward arrow: data going onto the stick.
  Box(p, 13, 12, 18, 20, kArrowEdge, kArrow, false);
  for (int row = 0; row < 7; ++row) {
    const int y = 21 + row;
    const int x0 = 10 + row;
    const int x1 = 21 - row;
    Fill(p, x0, y, x1, y, kArrowEdge);
    if (x1 - x0 >= 2) {
      Fill(p, x0 + 1, y, x1 - 1, y, kArrow);
    }
  }
  Fill(p, 14, 20, 17, 21, kArrow);
  return p;
}

}  // namespace

const Pixels& ProgramIcon() {
  static const Pixels pixels = Draw();
  return pixels;
}

}  // namespace salvatrix
