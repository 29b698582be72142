#include "platform/qt/qt_message_boxes.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QKeyEvent>
#include <QPushButton>
#include <QTimer>
#include <functional>
#include <string>

namespace salvatrix::qt {
namespace {

TEST(LookForStyleTest, MapsButtonsAndIcon) {
  struct Case {
    int style;
    QMessageBox::StandardButtons buttons;
    QMessageBox::Icon icon;
  };
  const QMessageBox::StandardButtons ok(QMessageBox::Ok);
  const QMessageBox::StandardButtons ok_cancel = QMessageBox::Ok | QMessageBox::Cancel;
  const Case cases[] = {
      {0, ok, QMessageBox::NoIcon},
      {1, ok_cancel, QMessageBox::NoIcon},
      {16, ok, QMessageBox::Critical},
      {32, ok, QMessageBox::Question},
      {48, ok, QMessageBox::Warning},
      {64, ok, QMessageBox::Information},
      {65, ok_cancel, QMessageBox::Information},
      {17, ok_cancel, QMessageBox::Critical},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE("style " + std::to_string(c.style));
    const BoxLook look = LookForStyle(c.style);
    EXPECT_EQ(look.buttons, c.buttons);
    EXPECT_EQ(look.icon, c.icon);
  }
}

// Acts on the box once it is open, from inside its own event loop.
void WhenBoxOpens(const std::function<void(QMessageBox&)>& act) {
  auto* poll = new QTimer;
  QObject::connect(poll, &QTimer::timeout, [poll, act] {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    if (box == nullptr) {
      return;
    }
    poll->stop();
    poll->deleteLater();
    act(*box);
  });
  poll->start(10);
}

TEST(QtMessageBoxesTest, AnswersWithTheButtonThatEndedTheBox) {
  enum class Action { kEscape, kCloseWindow, kClickOk, kClickCancel };
  struct Case {
    int style;
    Action action;
    int answer;
  };
  const Case cases[] = {
      {kMbOk, Action::kEscape, kIdOk},
      {kMbIconError, Action::kCloseWindow, kIdOk},
      {kMbOkCancel, Action::kEscape, kIdCancel},
      {kMbOkCancel + kMbIconInformation, Action::kCloseWindow, kIdCancel},
      {kMbOkCancel + kMbIconInformation, Action::kClickOk, kIdOk},
      {kMbOkCancel, Action::kClickCancel, kIdCancel},
  };
  QtMessageBoxes boxes;
  for (const Case& c : cases) {
    SCOPED_TRACE("style " + std::to_string(c.style) + ", action " +
                 std::to_string(static_cast<int>(c.action)));
    QString title;
    QString text;
    WhenBoxOpens([&](QMessageBox& box) {
      title = box.windowTitle();
      text = box.text();
      switch (c.action) {
        case Action::kEscape: {
          QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
          QApplication::sendEvent(&box, &escape);
          break;
        }
        case Action::kCloseWindow:
          box.close();
          break;
        case Action::kClickOk:
          box.button(QMessageBox::Ok)->click();
          break;
        case Action::kClickCancel:
          box.button(QMessageBox::Cancel)->click();
          break;
      }
    });
    EXPECT_EQ(boxes.Show("First line\r\nsecond <b>line</b>", "ARE YOU SURE?", c.style), c.answer);
    EXPECT_EQ(title, QStringLiteral("ARE YOU SURE?"));
    EXPECT_EQ(text, QStringLiteral("First line\nsecond <b>line</b>"));
  }
}

}  // namespace
}  // namespace salvatrix::qt
