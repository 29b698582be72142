#include "platform/qt/view_conversions.h"

#include <QApplication>
#include <QPalette>
#include <cstring>

#include "app/program_icon.h"

namespace salvatrix::qt {
namespace {

// Windows system colour indices that have a sensible palette counterpart.
constexpr int kColorMenu = 4;
constexpr int kColorWindow = 5;
constexpr int kColorWindowText = 8;
constexpr int kColorHighlight = 13;
constexpr int kColorButtonFace = 15;
constexpr int kColorGrayText = 17;
constexpr int kColorButtonText = 18;

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
  const QPalette widgets = QApplication::palette();
  const QPalette menus = QApplication::palette("QMenu");
  switch (colour.system_index) {
    case kColorMenu:
      return menus.color(QPalette::Active, QPalette::Window);
    case kColorWindow:
      return widgets.color(QPalette::Active, QPalette::Base);
    case kColorMenuText:
      return menus.color(QPalette::Active, QPalette::WindowText);
    case kColorWindowText:
      return widgets.color(QPalette::Active, QPalette::Text);
    case kColorHighlight:
      return widgets.color(QPalette::Active, QPalette::Highlight);
    case kColorHighlightText:
      return widgets.color(QPalette::Active, QPalette::HighlightedText);
    case kColorButtonFace:
      return widgets.color(QPalette::Active, QPalette::Button);
    case kColorGrayText:
      return widgets.color(QPalette::Disabled, QPalette::Text);
    case kColorButtonText:
      return widgets.color(QPalette::Active, QPalette::ButtonText);
    default:
      return {};
  }
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
