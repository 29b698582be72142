#include "platform/qt/qt_message_boxes.h"

#include <QAbstractButton>
#include <QApplication>
#include <QString>
#include <QWidget>

#include "platform/qt/main_window.h"

namespace salvatrix::qt {
namespace {

constexpr int kIconMask = 0xF0;
constexpr int kIconHand = 0x10;
constexpr int kIconQuestion = 0x20;
constexpr int kIconExclamation = 0x30;
constexpr int kIconAsterisk = 0x40;

QMessageBox::Icon IconForStyle(int style) {
  switch (style & kIconMask) {
    case kIconHand:
      return QMessageBox::Critical;
    case kIconQuestion:
      return QMessageBox::Question;
    case kIconExclamation:
      return QMessageBox::Warning;
    case kIconAsterisk:
      return QMessageBox::Information;
    default:
      return QMessageBox::NoIcon;
  }
}

QWidget* BoxParent() {
  if (QWidget* active = QApplication::activeWindow()) {
    return active;
  }
  // A box raised while no window has focus (a timer tick, say) still belongs over ours.
  for (QWidget* top : QApplication::topLevelWidgets()) {
    if (qobject_cast<MainWindow*>(top) != nullptr && top->isVisible()) {
      return top;
    }
  }
  return nullptr;
}

QString FromBytes(std::string_view text) {
  QString decoded = QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
  // Windows boxes break lines at CR LF as well as at a lone CR or LF.
  decoded.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  decoded.replace(QLatin1Char('\r'), QLatin1Char('\n'));
  return decoded;
}

}  // namespace

BoxLook LookForStyle(int style) {
  const bool with_cancel = (style & kMbOkCancel) != 0;
  return {with_cancel ? QMessageBox::Ok | QMessageBox::Cancel
                      : QMessageBox::StandardButtons(QMessageBox::Ok),
          IconForStyle(style)};
}

int QtMessageBoxes::Show(std::string_view text, std::string_view caption, int style) {
  const BoxLook look = LookForStyle(style);
  QMessageBox box(look.icon, FromBytes(caption), FromBytes(text), look.buttons, BoxParent());
  box.setTextFormat(Qt::PlainText);
  QAbstractButton* ok = box.button(QMessageBox::Ok);
  QAbstractButton* cancel = box.button(QMessageBox::Cancel);
  box.setDefaultButton(QMessageBox::Ok);
  box.setEscapeButton(cancel != nullptr ? cancel : ok);
  box.exec();
  QAbstractButton* pressed = box.clickedButton();
  if (cancel != nullptr && (pressed == nullptr || pressed == cancel)) {
    return kIdCancel;
  }
  return kIdOk;
}

}  // namespace salvatrix::qt
