#include "platform/qt/caption_font.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QFontDatabase>
#include <QFontInfo>
#include <QFontMetrics>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QScrollBar>
#include <QStyle>
#include <QStyleOptionButton>
#include <algorithm>

#include "app/dialog.h"

namespace salvatrix::qt {
namespace {

constexpr double kPointStep = 0.25;
// Tall enough for any number of wrapped lines; the height used is measured, not assumed.
constexpr int kUnboundedHeight = 1 << 20;

CaptionPlace ButtonPlace(const QAbstractButton& button, QStyle::SubElement contents) {
  QStyleOptionButton option;
  option.initFrom(&button);
  option.text = button.text();
  return {button.text(), button.style()->subElementRect(contents, &option, &button), false};
}

}  // namespace

QStringList FormFaces() {
  // The layout was made for the 8 pt MS Sans Serif of Windows. Arial and the faces made with
  // its widths come closest; the usual desktop sans is too wide for the captions at this size.
  return {QStringLiteral("Liberation Sans"), QStringLiteral("Arimo"), QStringLiteral("Arial")};
}

QStringList NotesFaces() {
  QStringList faces{QString::fromLatin1(Dialog::kFontName.data(),
                                        static_cast<qsizetype>(Dialog::kFontName.size())),
                    QStringLiteral("Microsoft Sans Serif")};
  return faces + FormFaces();
}

std::vector<CaptionPlace> CaptionPlaces(const QWidget& window) {
  std::vector<CaptionPlace> places;
  for (const QWidget* widget : window.findChildren<QWidget*>()) {
    if (widget->isHidden()) {
      continue;
    }
    if (const auto* label = qobject_cast<const QLabel*>(widget)) {
      // The picture is a label too; it has no text.
      if (!label->text().isEmpty()) {
        const int margin = label->margin();
        places.push_back({label->text(),
                          label->contentsRect().adjusted(margin, margin, -margin, -margin),
                          label->wordWrap()});
      }
    } else if (const auto* check = qobject_cast<const QCheckBox*>(widget)) {
      if (!check->text().isEmpty()) {
        places.push_back(ButtonPlace(*check, QStyle::SE_CheckBoxContents));
      }
    } else if (const auto* button = qobject_cast<const QPushButton*>(widget)) {
      if (!button->text().isEmpty()) {
        places.push_back(ButtonPlace(*button, QStyle::SE_PushButtonContents));
      }
    }
  }
  return places;
}

std::vector<CaptionPlace> ListEntryPlaces(const QListWidget& list) {
  // The view leaves a focus margin and one pixel on each side of an entry's text. The window
  // is not laid out yet, so the viewport's width is worked out rather than read.
  const QStyle* style = list.style();
  const int text_margin = style->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, &list) + 1;
  const int scroll_bar =
      style->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, list.verticalScrollBar());
  const int width = list.width() - 2 * list.frameWidth() - scroll_bar - 2 * text_margin;
  std::vector<CaptionPlace> places;
  for (int row = 0; row < list.count(); ++row) {
    places.push_back({list.item(row)->text(), QRect(0, 0, width, kUnboundedHeight), false});
  }
  return places;
}

bool CaptionFits(const QFont& font, const CaptionPlace& caption) {
  const QFontMetrics metrics(font);
  const QRect& area = caption.area;
  QSize used;
  if (caption.wraps) {
    // A word longer than the width is not broken: the lines come out wider than the area.
    used = metrics
               .boundingRect(QRect(0, 0, area.width(), kUnboundedHeight),
                             Qt::AlignLeft | Qt::AlignTop | Qt::TextWordWrap, caption.text)
               .size();
  } else {
    used = metrics.size(Qt::TextSingleLine | Qt::TextShowMnemonic, caption.text);
  }
  return used.width() <= area.width() && used.height() <= area.height();
}

QString InstalledFace(const QStringList& wanted) {
  for (const QString& name : wanted) {
    // fontconfig answers a request for a missing face with another one; only the face it
    // actually draws with tells whether that has the wanted widths. No style hint: with one,
    // fontconfig answers with its generic sans before it looks at the Arial alias.
    const QString drawn = QFontInfo(QFont(name)).family();
    if (wanted.contains(drawn, Qt::CaseInsensitive) && QFontDatabase::hasFamily(drawn)) {
      return drawn;
    }
  }
  return QFontInfo(QFontDatabase::systemFont(QFontDatabase::GeneralFont)).family();
}

QFont FittingFont(const QString& face, double points, const std::vector<CaptionPlace>& captions) {
  QFont font(face);
  for (double size = points; size > kSmallestFontPoints; size -= kPointStep) {
    font.setPointSizeF(size);
    if (std::all_of(captions.begin(), captions.end(),
                    [&font](const CaptionPlace& caption) { return CaptionFits(font, caption); })) {
      return font;
    }
  }
  font.setPointSizeF(std::min(points, kSmallestFontPoints));
  return font;
}

}  // namespace salvatrix::qt
