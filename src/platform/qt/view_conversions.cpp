#include "platform/qt/view_conversions.h"

#include <QApplication>
#include <QPalette>
#include <cstring>

#include "app/program_icon.h"

namespace salvatrix::qt {
namespace {

/// A Windows system colour (COLOR_...) and the palette colour that stands for it.
struct SystemColour {
  int index;
  bool menu;  // from the menus' palette rather than the widgets'
  QPalette::ColorGroup group;
  QPalette::ColorRole role;
};

// The system colours that have a sensible palette counterpart.
constexpr SystemColour kSystemColours[] = {
    {4, true, QPalette::Active, QPalette::Window},  // COLOR_MENU
    {5, false, QPalette::Active, QPalette::Base},   // COLOR_WINDOW
    {kColorMenuText, true, QPalette::Active, QPalette::WindowText},
    {8, false, QPalette::Active, QPalette::Text},        // COLOR_WINDOWTEXT
    {13, false, QPalette::Active, QPalette::Highlight},  // COLOR_HIGHLIGHT
    {kColorHighlightText, false, QPalette::Active, QPalette::HighlightedText},
    {15, false, QPalette::Active, QPalette::Button},      // COLOR_BTNFACE
    {17, false, QPalette::Disabled, QPalette::Text},      // COLOR_GRAYTEXT
    {18, false, QPalette::Active, QPalette::ButtonText},  // COLOR_BTNTEXT
};

}  // namespace

QColor ToQColor(const Colour& colour) {
  switch (colour.kind) {
    case Colour::Kind::kDefault:
      return {};
    case Colour::Kind::kRgb:
      return QColor(colour.red, colour.green, colour.blue);
    case Colour::Kind::kSystem:
      break;
  }
  for (const SystemColour& known : kSystemColours) {
    if (known.index == colour.system_index) {
      const QPalette palette =
          known.menu ? QApplication::palette("QMenu") : QApplication::palette();
      return palette.color(known.group, known.role);
    }
  }
  return {};
}

QImage ProgramIconImage() {
  QImage image(kIconSize, kIconSize, QImage::Format_ARGB32);
  const auto& pixels = ProgramIcon();
  for (int y = 0; y < kIconSize; ++y) {
    // Format_ARGB32 stores each pixel as a native 0xAARRGGBB word, as the icon table does.
    std::memcpy(image.scanLine(y), pixels.data() + y * kIconSize, kIconSize * sizeof(pixels[0]));
  }
  return image;
}

QString ModelTextToEditor(std::string_view text) {
  QString shown = QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
  shown.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  return shown;
}

std::string EditorTextToModel(const QString& text) {
  QString stored = text;
  stored.replace(QLatin1Char('\n'), QStringLiteral("\r\n"));
  return stored.toStdString();
}

}  // namespace salvatrix::qt
