#include "platform/qt/main_window.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QElapsedTimer>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QTimer>
#include <algorithm>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "app/dispatch.h"
#include "app/form1.h"
#include "app/program_icon.h"
#include "platform/qt/main_window_fixture.h"
#include "platform/qt/view_conversions.h"
#include "support/fakes.h"
#include "support/program_fixture.h"

namespace salvatrix::qt {
namespace {

using salvatrix::testing::FakeDriveStrings;
using salvatrix::testing::RawDrives;
using salvatrix::testing::ScriptedMessageBoxes;

/// Scripted drives that also describe D:, for the tooltips.
class DescribedDrives final : public DriveStrings {
 public:
  std::uint32_t GetLogicalDriveStrings(std::uint32_t length, char* buffer) override {
    return script.GetLogicalDriveStrings(length, buffer);
  }
  std::string DescribeDrive(std::string_view root) const override {
    return root == "D:\\" ? "D:\\ = /media/stick (vfat, STICK)" : "";
  }
  FakeDriveStrings script;
};

/// The Qt class that shows a control of each kind.
const char* QtClassFor(const Control& control) {
  switch (control.Kind()) {
    case ControlKind::kButton:
      return "QPushButton";
    case ControlKind::kCheckBox:
      return "QCheckBox";
    case ControlKind::kListBox:
      return "QListWidget";
    case ControlKind::kTextBox:
      return static_cast<const TextBox&>(control).MultiLine() ? "QPlainTextEdit" : "QLineEdit";
    case ControlKind::kLabel:
    case ControlKind::kPicture:
      return "QLabel";
    case ControlKind::kTimer:
      return "QTimer";
  }
  return "";
}

/// What a widget shows as its text, with line breaks as the model keeps them.
std::string ShownText(const QObject* widget) {
  if (const auto* button = qobject_cast<const QAbstractButton*>(widget)) {
    return button->text().toStdString();
  }
  if (const auto* label = qobject_cast<const QLabel*>(widget)) {
    return label->text().toStdString();
  }
  if (const auto* line = qobject_cast<const QLineEdit*>(widget)) {
    return line->text().toStdString();
  }
  if (const auto* lines = qobject_cast<const QPlainTextEdit*>(widget)) {
    return EditorTextToModel(lines->toPlainText());
  }
  return {};
}

std::string ModelText(const Control& control) {
  if (const auto* captioned = dynamic_cast<const CaptionedControl*>(&control)) {
    return captioned->Caption();
  }
  if (const auto* box = dynamic_cast<const TextBox*>(&control)) {
    return box->Text();
  }
  return {};
}

QString Q(std::string_view text) {
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

void SendMouse(QWidget* target, QEvent::Type type, QPoint at, Qt::MouseButtons buttons) {
  QMouseEvent event(type, at, target->mapToGlobal(at), Qt::LeftButton, buttons, Qt::NoModifier);
  QApplication::sendEvent(target, &event);
}

void ClickRow(QListWidget* list, int row) {
  const QPoint at = list->visualItemRect(list->item(row)).center();
  SendMouse(list->viewport(), QEvent::MouseButtonPress, at, Qt::LeftButton);
  SendMouse(list->viewport(), QEvent::MouseButtonRelease, at, Qt::NoButton);
}

void PressKey(QWidget* target, Qt::Key key, const QString& text = {},
              Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
  QKeyEvent press(QEvent::KeyPress, key, modifiers, text);
  QApplication::sendEvent(target, &press);
}

std::vector<int> SelectedRows(const QListWidget* list) {
  std::vector<int> rows;
  for (const QListWidgetItem* item : list->selectedItems()) {
    rows.push_back(list->row(item));
  }
  std::sort(rows.begin(), rows.end());
  return rows;
}

std::vector<int> ModelSelection(const ListBox& list) {
  std::vector<int> rows;
  for (std::int16_t i = 0; i < list.ListCount(); ++i) {
    if (list.Selected(i)) {
      rows.push_back(i);
    }
  }
  return rows;
}

class MainWindowTest : public testing::MainWindowFixture<DescribedDrives> {
 protected:
  MainWindowTest() {
    drives_.script.SetDrives(RawDrives("CD"));
    files_.folders[app_.folder] = {{"salvatrix", "a.txt", "b.txt"}, {"docs", "music"}};
  }

  QRect Pixels(const Geometry& g) const {
    const QScreen* screen = window_.screen();
    const double x = screen->logicalDotsPerInchX();
    const double y = screen->logicalDotsPerInchY();
    return {TwipsToPixels(g.left, x), TwipsToPixels(g.top, y), TwipsToPixels(g.width, x),
            TwipsToPixels(g.height, y)};
  }

  /// Runs until done() holds, for at most two seconds.
  static bool RunUntil(const std::function<bool()>& done) {
    QElapsedTimer clock;
    clock.start();
    while (!done() && clock.elapsed() < 2000) {
      QApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    return done();
  }
};

TEST_F(MainWindowTest, OpensShowingEveryControlAsTheLoadedModelsSay) {
  Load();
  EXPECT_EQ(window_.windowTitle(), Q(Form1::kCaption));
  EXPECT_EQ(window_.size(), Pixels({0, 0, Form1::kClientWidth, Form1::kClientHeight}).size());

  ASSERT_EQ(form_.Controls().size(), 31u);
  for (const Control* control : form_.Controls()) {
    SCOPED_TRACE(control->Name());
    const auto* object = window_.findChild<QObject*>(Q(control->Name()));
    ASSERT_NE(object, nullptr);
    EXPECT_TRUE(object->inherits(QtClassFor(*control))) << object->metaObject()->className();
    if (const auto* clock = qobject_cast<const QTimer*>(object)) {
      EXPECT_TRUE(clock->isActive());
      EXPECT_EQ(clock->interval(), 10000);
      continue;
    }
    const auto* widget = qobject_cast<const QWidget*>(object);
    ASSERT_NE(widget, nullptr);
    EXPECT_EQ(widget->geometry(), Pixels(control->Place()));
    EXPECT_EQ(widget->isEnabled(), control->Enabled());
    EXPECT_EQ(ShownText(widget), ModelText(*control));
    if (const auto* list = qobject_cast<const QListWidget*>(widget)) {
      const bool multiple =
          static_cast<const ListBox*>(control)->Mode() == SelectionMode::kMultiple;
      EXPECT_EQ(list->selectionMode(),
                multiple ? QAbstractItemView::MultiSelection : QAbstractItemView::SingleSelection);
    }
  }
  // What Form_Load wrote, as the widgets show it.
  EXPECT_EQ(Find<QLineEdit>("Text4")->text(), QStringLiteral("Source = /media/source"));
  EXPECT_EQ(Find<QLineEdit>("Text3")->text(), QStringLiteral("CD"));
  EXPECT_EQ(Find<QLabel>("Image1")->pixmap().toImage().pixel(5, 7),
            ProgramIcon()[7 * kIconSize + 5]);
  const auto* runtime = Find<QListWidget>("List1");
  ASSERT_EQ(runtime->count(), 2);
  EXPECT_EQ(runtime->item(0)->text(), QStringLiteral("C:\\"));
  EXPECT_EQ(runtime->item(0)->toolTip(), QString());
  EXPECT_EQ(runtime->item(1)->toolTip(), QStringLiteral("D:\\ = /media/stick (vfat, STICK)"));
  const auto* files = Find<QListWidget>("List4");
  ASSERT_EQ(files->count(), 3);
  EXPECT_EQ(files->item(1)->text(), QStringLiteral("a.txt"));
  EXPECT_EQ(SelectedRows(files), (std::vector<int>{1, 2}));

  // Tab goes by TabIndex through the controls that take focus, from TabIndex 0 on. The focus
  // chain is a cycle, so it is compared from there.
  std::vector<std::pair<int, std::string>> by_tab_index;
  for (const Control* control : form_.Controls()) {
    if (control->TabIndex() >= 0 && control->Kind() != ControlKind::kLabel) {
      by_tab_index.emplace_back(control->TabIndex(), control->Name());
    }
  }
  std::sort(by_tab_index.begin(), by_tab_index.end());
  std::vector<std::string> expected_chain;
  for (const auto& entry : by_tab_index) {
    expected_chain.push_back(entry.second);
  }
  std::vector<std::string> chain;
  for (QWidget* w = window_.nextInFocusChain(); w != &window_; w = w->nextInFocusChain()) {
    if (w->focusPolicy() != Qt::NoFocus && !w->objectName().isEmpty()) {
      chain.push_back(w->objectName().toStdString());
    }
  }
  const auto first = std::find(chain.begin(), chain.end(), expected_chain.front());
  ASSERT_NE(first, chain.end());
  std::rotate(chain.begin(), first, chain.end());
  EXPECT_EQ(chain, expected_chain);
  EXPECT_EQ(window_.focusWidget(), Find<QWidget>("Text1"));

  // The form in the menu-text colour; Text4 and Label3 in highlight text on it; labelViewer in
  // magenta; Label9's colours are its ordinary ones, not the form's.
  const QColor menu_text = ToQColor(Colour::System(kColorMenuText));
  const QColor highlight_text = ToQColor(Colour::System(kColorHighlightText));
  EXPECT_EQ(window_.grab().toImage().pixelColor(2, 2), menu_text);
  EXPECT_EQ(Find<QWidget>("Text4")->palette().color(QPalette::Base), menu_text);
  EXPECT_EQ(Find<QWidget>("Text4")->palette().color(QPalette::Text), highlight_text);
  EXPECT_EQ(Find<QWidget>("Label3")->palette().color(QPalette::Window), menu_text);
  EXPECT_EQ(Find<QWidget>("Label3")->palette().color(QPalette::WindowText), highlight_text);
  EXPECT_EQ(Find<QWidget>("labelViewer")->palette().color(QPalette::WindowText),
            QColor(192, 0, 192));
  EXPECT_EQ(Find<QWidget>("Label9")->palette().color(QPalette::Window),
            QApplication::palette(Find<QWidget>("Label9")).color(QPalette::Window));
}

TEST_F(MainWindowTest, ShowsModelChangesInTheWidgets) {
  Load();
  auto* destination = Find<QListWidget>("List2");
  form_.List2.AddItem("E:\\");
  form_.List2.AddItem("F\xff:\\");
  ASSERT_EQ(destination->count(), 2);
  EXPECT_EQ(destination->item(0)->text(), QStringLiteral("E:\\"));
  EXPECT_EQ(destination->item(1)->text(), QString::fromUtf8("F\xef\xbf\xbd:\\"));
  form_.List2.SetSelected(1, true);
  EXPECT_EQ(SelectedRows(destination), std::vector<int>{1});
  form_.List2.SetSelected(0, true);
  EXPECT_EQ(SelectedRows(destination), std::vector<int>{0});
  form_.List2.Clear();
  EXPECT_EQ(destination->count(), 0);

  form_.labelViewer.SetCaption("copying <b>a&b.txt</b>");
  EXPECT_EQ(Find<QLabel>("labelViewer")->text(), QStringLiteral("copying <b>a&b.txt</b>"));
  EXPECT_EQ(Find<QLabel>("labelViewer")->textFormat(), Qt::PlainText);
  form_.cmdFileCopy.SetEnabled(true);
  EXPECT_TRUE(Find<QWidget>("cmdFileCopy")->isEnabled());
  form_.Check1.SetValue(1);
  EXPECT_TRUE(Find<QCheckBox>("Check1")->isChecked());
  form_.Text1.SetText("one\r\ntwo\r\n");
  EXPECT_EQ(Find<QPlainTextEdit>("Text1")->toPlainText(), QStringLiteral("one\ntwo\n"));
  // Setting the text from the model is not an edit by the user.
  EXPECT_EQ(form_.Text1.Text(), "one\r\ntwo\r\n");
  form_.Label9.SetColours(Colour::Rgb(0, 0, 255), Colour::Rgb(255, 255, 0));
  EXPECT_EQ(Find<QWidget>("Label9")->palette().color(QPalette::Window), QColor(0, 0, 255));
  EXPECT_EQ(Find<QWidget>("Label9")->palette().color(QPalette::WindowText), QColor(255, 255, 0));

  form_.Timer1.SetEnabled(false);
  EXPECT_FALSE(Find<QTimer>("Timer1")->isActive());
  form_.Timer1.SetEnabled(true);
  EXPECT_TRUE(Find<QTimer>("Timer1")->isActive());
}

TEST_F(MainWindowTest, ClicksOnAListReachTheModelWhichOwnsTheSelection) {
  Load();
  drives_.script.SetDrives(RawDrives("CDE"));
  Find<QPushButton>("cmdOverride")->click();
  auto* destination = Find<QListWidget>("List2");
  ASSERT_EQ(destination->count(), 3);
  // The rescan selected the new drive by itself.
  EXPECT_EQ(SelectedRows(destination), std::vector<int>{2});
  EXPECT_TRUE(boxes_.shown.empty());

  ClickRow(destination, 0);
  EXPECT_EQ(form_.List2.ListIndex(), 0);
  EXPECT_EQ(SelectedRows(destination), std::vector<int>{0});
  ASSERT_EQ(boxes_.shown.size(), 1u);
  EXPECT_EQ(boxes_.shown[0].text, Form1::kDestinationWarning);
  EXPECT_EQ(boxes_.shown[0].caption, Form1::kDestinationWarningCaption);

  // In a single list, moving with the keyboard is a click on the new entry.
  PressKey(destination, Qt::Key_Down);
  EXPECT_EQ(ModelSelection(form_.List2), std::vector<int>{1});
  EXPECT_EQ(SelectedRows(destination), std::vector<int>{1});
  EXPECT_EQ(boxes_.shown.size(), 2u);

  // A multiple-selection list toggles one entry per click, and never selects by itself.
  auto* folders = Find<QListWidget>("List6");
  form_.List6.AddItem("photos");
  ASSERT_EQ(folders->count(), 3);
  struct Step {
    int row;
    std::vector<int> selected;
  };
  const Step steps[] = {{1, {1}}, {2, {1, 2}}, {1, {2}}, {0, {0, 2}}};
  for (const Step& step : steps) {
    SCOPED_TRACE("click on row " + std::to_string(step.row));
    ClickRow(folders, step.row);
    EXPECT_EQ(ModelSelection(form_.List6), step.selected);
    EXPECT_EQ(SelectedRows(folders), step.selected);
  }
  PressKey(folders, Qt::Key_Down);
  EXPECT_EQ(SelectedRows(folders), (std::vector<int>{0, 2}));
  PressKey(folders, Qt::Key_Space, QStringLiteral(" "));
  EXPECT_EQ(ModelSelection(form_.List6), (std::vector<int>{0, 1, 2}));
  EXPECT_EQ(SelectedRows(folders), (std::vector<int>{0, 1, 2}));
  ClickRow(folders, 2);
  PressKey(folders, Qt::Key_A, QStringLiteral("a"), Qt::ControlModifier);
  EXPECT_EQ(ModelSelection(form_.List6), (std::vector<int>{0, 1}));
  EXPECT_EQ(SelectedRows(folders), (std::vector<int>{0, 1}));
}

TEST_F(MainWindowTest, UserInputReachesTheModel) {
  Load();
  auto* check = Find<QCheckBox>("Check1");
  check->click();
  EXPECT_EQ(form_.Check1.Value(), 1);
  EXPECT_TRUE(check->isChecked());
  check->click();
  EXPECT_EQ(form_.Check1.Value(), 0);
  EXPECT_FALSE(check->isChecked());
  // A click whose handler changes another control shows there too.
  Find<QCheckBox>("Check2")->click();
  EXPECT_EQ(SelectedRows(Find<QListWidget>("List6")), (std::vector<int>{0, 1}));

  auto* line = Find<QLineEdit>("Text2");
  PressKey(line, Qt::Key_X, QStringLiteral("x"));
  EXPECT_EQ(form_.Text2.Text(), "x");

  auto* lines = Find<QPlainTextEdit>("Text1");
  PressKey(lines, Qt::Key_A, QStringLiteral("a"));
  PressKey(lines, Qt::Key_Return, QStringLiteral("\r"));
  PressKey(lines, Qt::Key_B, QStringLiteral("b"));
  EXPECT_EQ(form_.Text1.Text(), "a\r\nb");
  // The model's echo of the edit leaves the text and the cursor where the user put them.
  EXPECT_EQ(lines->toPlainText(), QStringLiteral("a\nb"));
  EXPECT_EQ(lines->textCursor().position(), 3);
}

TEST_F(MainWindowTest, TimerTicksRunTheTimerHandler) {
  Load();
  auto* clock = Find<QTimer>("Timer1");
  clock->setInterval(1);
  form_.Text1.SetText("new drive");
  ASSERT_TRUE(RunUntil([this] { return !form_.Timer1.Enabled(); }));
  EXPECT_FALSE(clock->isActive());
  EXPECT_EQ(Find<QListWidget>("List2")->count(), 2);
  EXPECT_EQ(Find<QLineEdit>("Text2")->text(), QStringLiteral("CD"));
  ASSERT_EQ(boxes_.shown.size(), 1u);
  EXPECT_EQ(boxes_.shown[0].text, kUnchangedDrivesText);
}

TEST_F(MainWindowTest, FailedHandlerShowsItsTextAndEndsTheProgram) {
  Load();
  drives_.script.SetDrives(RawDrives("CDE"));
  Find<QPushButton>("cmdOverride")->click();
  form_.Notes().Show();
  bool failed_once = false;
  boxes_.on_show = [&failed_once](const ScriptedMessageBoxes::Box&) {
    if (!failed_once) {
      failed_once = true;
      throw Failure("The box could not be shown.");
    }
  };
  QTimer::singleShot(0, &window_, [this] { ClickRow(Find<QListWidget>("List2"), 0); });
  // Should the program not end, this ends the loop with a code the test rejects. A local timer,
  // so that it cannot fire into a later test.
  QTimer watchdog;
  watchdog.setSingleShot(true);
  QObject::connect(&watchdog, &QTimer::timeout, [] { QCoreApplication::exit(99); });
  watchdog.start(5000);
  EXPECT_EQ(QApplication::exec(), 1);
  QGuiApplication::setQuitOnLastWindowClosed(true);

  EXPECT_TRUE(window_.Ending());
  EXPECT_FALSE(window_.isVisible());
  EXPECT_FALSE(Find<QTimer>("Timer1")->isActive());
  ASSERT_EQ(boxes_.shown.size(), 2u);
  EXPECT_EQ(boxes_.shown[1].text, "The box could not be shown.");
  EXPECT_EQ(boxes_.shown[1].style, kMbIconError);

  // Nothing runs any more; the window closed without running Form_Unload.
  EXPECT_TRUE(form_.Notes().IsOpen());
  bool ran = false;
  EXPECT_FALSE(window_.Dispatch([&ran] { ran = true; }));
  EXPECT_FALSE(ran);
  ClickRow(Find<QListWidget>("List2"), 1);
  EXPECT_EQ(form_.List2.ListIndex(), 0);
  EXPECT_EQ(SelectedRows(Find<QListWidget>("List2")), std::vector<int>{0});
  EXPECT_EQ(boxes_.shown.size(), 2u);
}

TEST_F(MainWindowTest, ClosingRunsUnloadAndAGoneWindowIgnoresTheModels) {
  Load();
  form_.Notes().Show();
  EXPECT_TRUE(window_.close());
  EXPECT_FALSE(form_.Notes().IsOpen());

  auto second = std::make_unique<MainWindow>(form_, boxes_);
  second.reset();
  form_.List2.AddItem("X:\\");
  form_.labelViewer.SetCaption("still here");
  EXPECT_EQ(Find<QListWidget>("List2")->count(), 1);
}

}  // namespace
}  // namespace salvatrix::qt
