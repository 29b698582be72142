#include "platform/qt/notes_window.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QListWidget>

#include "app/form1.h"
#include "support/fakes.h"
#include "support/program_fixture.h"

namespace salvatrix::qt {
namespace {

int NotesWindowsOnScreen() {
  int count = 0;
  for (const QWidget* widget : QApplication::topLevelWidgets()) {
    if (widget->objectName() == "Dialog" && widget->isVisible()) {
      ++count;
    }
  }
  return count;
}

class NotesWindowTest : public testing::ProgramFixture {
 protected:
  NotesView view_{form_.Notes()};
};

TEST_F(NotesWindowTest, OneOwnerlessFixedWindowWithTheNotesEachTime) {
  int cancel = 0;
  form_.Form_Unload(cancel);  // never opened: closing the main window creates nothing
  EXPECT_EQ(view_.Window(), nullptr);

  for (int round = 0; round < 2; ++round) {
    SCOPED_TRACE(round);
    form_.Command1.Press();
    form_.Command1.Press();
    EXPECT_EQ(NotesWindowsOnScreen(), 1);
    QWidget* window = view_.Window();
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(window->parentWidget(), nullptr);
    EXPECT_EQ(window->windowTitle(), "Notes on usage");
    EXPECT_TRUE(window->windowFlags().testFlag(Qt::Tool));  // kept out of the taskbar
    EXPECT_FALSE(window->windowFlags().testFlag(Qt::WindowMaximizeButtonHint));
    EXPECT_EQ(window->minimumSize(), window->maximumSize());
    EXPECT_FALSE(window->windowIcon().isNull());
    const auto* list = window->findChild<QListWidget*>("List1");
    ASSERT_NE(list, nullptr);
    ASSERT_EQ(list->count(), 21);
    EXPECT_EQ(list->item(10)->text(),
              "There is no progress bar so look for the COPYING COMPLETED message.");
    EXPECT_EQ(list->item(19)->text(), "");
    EXPECT_EQ(list->font().pointSizeF(), 9.75);
    // The close button the first time, the main window's closing the second time.
    if (round == 0) {
      window->close();
    } else {
      form_.Form_Unload(cancel);
    }
    EXPECT_FALSE(form_.Notes().IsOpen());
    EXPECT_EQ(view_.Window(), nullptr);
    QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_EQ(NotesWindowsOnScreen(), 0);
  }
}

}  // namespace
}  // namespace salvatrix::qt
