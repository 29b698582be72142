#include "app/twips.h"

#include <cmath>

namespace salvatrix {
namespace {

constexpr double kTwipsPerInch = 1440.0;

}  // namespace

int TwipsToPixels(int twips, double logical_dpi) {
  return static_cast<int>(std::lround(twips * logical_dpi / kTwipsPerInch));
}

}  // namespace salvatrix
