#pragma once

namespace salvatrix {

/// Twips to pixels for a logical DPI: 1440 twips make an inch, so at 96 dpi 15 twips make one
/// pixel. Rounds to the nearest pixel.
int TwipsToPixels(int twips, double logical_dpi);

}  // namespace salvatrix
