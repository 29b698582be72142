// The Qt main window with a full folder (32,767 files), and left alone.

#include <gtest/gtest.h>

#include <QAbstractEventDispatcher>
#include <QApplication>
#include <QCheckBox>
#include <QListWidget>
#include <QMouseEvent>
#include <QPushButton>
#include <QTimer>
#include <string>
#include <vector>

#include "app/dispatch.h"
#include "app/form1.h"
#include "platform/qt/main_window.h"
#include "platform/qt/main_window_fixture.h"
#include "support/fakes.h"
#include "support/program_fixture.h"

namespace salvatrix::qt {
namespace {

using salvatrix::testing::RawDrives;

/// Where the view and the model differ, item by item: empty when they agree.
std::string Differences(const QListWidget& view, const ListBox& model) {
  if (view.count() != model.ListCount()) {
    return "the view has " + std::to_string(view.count()) + " items, the model " +
           std::to_string(model.ListCount());
  }
  int differing = 0;
  std::string first;
  for (std::int16_t i = 0; i < model.ListCount(); ++i) {
    const QListWidgetItem* item = view.item(i);
    if (item->text().toStdString() != model.List(i) || item->isSelected() != model.Selected(i)) {
      if (differing++ == 0) {
        first = "item " + std::to_string(i) + " shows \"" + item->text().toStdString() + "\" " +
                (item->isSelected() ? "selected" : "unselected");
      }
    }
  }
  return differing == 0 ? "" : std::to_string(differing) + " items differ, first " + first;
}

void ClickRow(QListWidget* list, int row) {
  list->scrollToItem(list->item(row));
  const QPoint at = list->visualItemRect(list->item(row)).center();
  for (const QEvent::Type type : {QEvent::MouseButtonPress, QEvent::MouseButtonRelease}) {
    const Qt::MouseButtons buttons =
        type == QEvent::MouseButtonPress ? Qt::LeftButton : Qt::NoButton;
    QMouseEvent event(type, at, list->viewport()->mapToGlobal(at), Qt::LeftButton, buttons,
                      Qt::NoModifier);
    QApplication::sendEvent(list->viewport(), &event);
  }
}

class MainWindowListsTest : public testing::MainWindowFixture<> {
 protected:
  MainWindowListsTest() {
    drives_.SetDrives(RawDrives("CD"));
    auto& listing = files_.folders[app_.folder];
    for (int i = 0; i < ListBox::kMaxItems; ++i) {
      listing.files.push_back(i == 7 ? app_.exe_name : "file" + std::to_string(i));
    }
    listing.folders = {"docs"};
  }
};

TEST_F(MainWindowListsTest, AFullFileListShowsEveryItemAndSelectionAsTheModelHasThem) {
  Load();
  auto* files = Find<QListWidget>("List4");
  ASSERT_EQ(form_.List4.ListCount(), ListBox::kMaxItems);
  EXPECT_FALSE(form_.List4.Selected(7));
  EXPECT_EQ(Differences(*files, form_.List4), "");

  auto* select_all = Find<QCheckBox>("Check3");
  select_all->click();
  EXPECT_EQ(CountSelected(form_.List4), ListBox::kMaxItems);
  EXPECT_EQ(Differences(*files, form_.List4), "") << "after ticking Select/Deselect All";
  select_all->click();
  EXPECT_EQ(CountSelected(form_.List4), 0);
  EXPECT_EQ(Differences(*files, form_.List4), "") << "after unticking Select/Deselect All";

  for (const int row : {0, 16383, ListBox::kMaxItems - 1, 16383, 16384}) {
    ClickRow(files, row);
  }
  EXPECT_EQ(CountSelected(form_.List4), 3);
  EXPECT_TRUE(form_.List4.Selected(16384));
  EXPECT_EQ(Differences(*files, form_.List4), "") << "after single clicks";

  // The rescan refills the list with its default selection.
  Find<QPushButton>("cmdOverride")->click();
  EXPECT_EQ(CountSelected(form_.List4), ListBox::kMaxItems - 1);
  EXPECT_EQ(Differences(*files, form_.List4), "") << "after the rescan";
}

TEST_F(MainWindowListsTest, AnIdleWindowRunsNoClockButTimer1) {
  files_.folders[app_.folder].files.resize(3);
  Load();
  window_.activateWindow();
  QApplication::setActiveWindow(&window_);
  QApplication::processEvents();
  // The detection log has the focus, and with it the text cursor.
  ASSERT_EQ(QApplication::focusWidget(), Find<QWidget>("Text1"));

  std::vector<std::string> clocks;
  QList<QObject*> objects = window_.findChildren<QObject*>();
  objects.append(&window_);
  for (QObject* object : objects) {
    if (!QAbstractEventDispatcher::instance()->registeredTimers(object).isEmpty()) {
      clocks.push_back(object->objectName().isEmpty() ? object->metaObject()->className()
                                                      : object->objectName().toStdString());
    }
  }
  EXPECT_EQ(clocks, std::vector<std::string>{"Timer1"});
}

}  // namespace
}  // namespace salvatrix::qt
