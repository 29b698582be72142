#include "platform/qt/caption_font.h"

#include <gtest/gtest.h>

#include <QApplication>
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
#include <iostream>
#include <string>
#include <vector>

#include "app/dispatch.h"
#include "app/form1.h"
#include "platform/qt/main_window.h"
#include "platform/qt/notes_window.h"
#include "support/fakes.h"
#include "support/program_fixture.h"

// The fit is checked under every font set and scale CTest runs these tests with: the machine's
// own fonts, and a fontconfig that knows only DejaVu (SALVATRIX_FONTS=dejavu), each at 100%
// and at QT_SCALE_FACTOR=1.5.

namespace salvatrix::qt {
namespace {

QString Q(const std::string& text) {
  return QString::fromStdString(text);
}

/// What the widget's style leaves its text, worked out here from the widget itself.
QRect TextArea(const QWidget& widget) {
  if (const auto* label = qobject_cast<const QLabel*>(&widget)) {
    return label->contentsRect().marginsRemoved(
        QMargins(label->margin(), label->margin(), label->margin(), label->margin()));
  }
  const auto& button = static_cast<const QAbstractButton&>(widget);
  QStyleOptionButton option;
  option.initFrom(&button);
  option.text = button.text();
  const bool check = qobject_cast<const QCheckBox*>(&widget) != nullptr;
  return widget.style()->subElementRect(
      check ? QStyle::SE_CheckBoxContents : QStyle::SE_PushButtonContents, &option, &widget);
}

class CaptionFitTest : public testing::ProgramFixture {
 protected:
  void SetUp() override {
    files_.folders[app_.folder] = {{"salvatrix", "a.txt"}, {"docs"}};
    ASSERT_TRUE(DispatchHandler(boxes_, [this] { form_.Form_Load(); }));
    window_.show();
    QApplication::processEvents();
  }

  MainWindow window_{form_, boxes_};
  NotesView notes_{form_.Notes()};
};

TEST_F(CaptionFitTest, RunsUnderTheFontsAndScaleItWasStartedWith) {
  const QStringList families = QFontDatabase::families();
  if (qgetenv("SALVATRIX_FONTS") == "dejavu") {
    // Generic names such as "Sans Serif" are listed as well; they too must draw with DejaVu.
    for (const QString& family : families) {
      EXPECT_TRUE(QFontInfo(QFont(family)).family().startsWith("DejaVu")) << family.toStdString();
    }
  }
  const double scale =
      qEnvironmentVariableIsSet("QT_SCALE_FACTOR") ? qgetenv("QT_SCALE_FACTOR").toDouble() : 1.0;
  EXPECT_DOUBLE_EQ(window_.devicePixelRatioF(), scale);
  const QFontInfo chosen(window_.font());
  std::cout << "captions in " << chosen.family().toStdString() << " " << chosen.pointSizeF()
            << " pt at scale " << scale << "\n";
}

TEST_F(CaptionFitTest, EveryCaptionFitsItsControl) {
  int checked = 0;
  for (const CaptionedControl* control : salvatrix::testing::CaptionedControls(form_)) {
    SCOPED_TRACE(control->Name() + ": " + control->Caption());
    const auto* widget = window_.findChild<QWidget*>(Q(control->Name()));
    ASSERT_NE(widget, nullptr);
    const QFontMetrics metrics(widget->font());
    const QRect area = TextArea(*widget);
    if (const auto* label = qobject_cast<const QLabel*>(widget)) {
      ASSERT_TRUE(label->wordWrap());
      const QRect used =
          metrics.boundingRect(QRect(0, 0, area.width(), 10000), Qt::TextWordWrap, label->text());
      EXPECT_LE(used.width(), area.width());
      EXPECT_LE(used.height(), area.height());
      // The label's own layout agrees.
      EXPECT_LE(label->heightForWidth(label->width()), label->height());
    } else {
      const QString text = static_cast<const QAbstractButton*>(widget)->text();
      EXPECT_LE(metrics.horizontalAdvance(text), area.width());
      EXPECT_LE(metrics.height(), area.height());
    }
    ++checked;
  }
  // Every label, button and check box with a caption at start-up.
  EXPECT_EQ(checked, 18);
}

TEST_F(CaptionFitTest, EveryNoteFitsTheWidthOfItsList) {
  form_.Command1.Press();
  ASSERT_NE(notes_.Window(), nullptr);
  QApplication::processEvents();
  const auto* list = notes_.Window()->findChild<QListWidget*>("List1");
  ASSERT_NE(list, nullptr);
  EXPECT_EQ(list->horizontalScrollBar()->maximum(), 0);
  const QFontMetrics metrics(list->font());
  for (int row = 0; row < list->count(); ++row) {
    SCOPED_TRACE(list->item(row)->text().toStdString());
    EXPECT_LE(metrics.horizontalAdvance(list->item(row)->text()),
              list->visualItemRect(list->item(row)).width());
  }
}

TEST_F(CaptionFitTest, AnInstalledFaceWithArialsWidthsIsKeptAtTheFormsSize) {
  bool installed = false;
  for (const char* face : {"Liberation Sans", "Arimo", "Arial"}) {
    installed = installed || QFontDatabase::families().contains(face);
  }
  const QFontInfo chosen(window_.font());
  if (!installed) {
    EXPECT_FALSE(FormFaces().contains(chosen.family()));
    GTEST_SKIP() << "no face with Arial's widths is installed; drawn in "
                 << chosen.family().toStdString();
  }
  EXPECT_TRUE(FormFaces().contains(chosen.family())) << chosen.family().toStdString();
  EXPECT_DOUBLE_EQ(window_.font().pointSizeF(), kFormFontPoints);
}

TEST(CaptionFontTest, FitsLinesAndWrappedLinesByWidthAndHeight) {
  QFont font(InstalledFace({}));
  font.setPointSizeF(10);
  // A laid-out line may take a pixel more than the sum of its advances.
  const QSize one_word = QFontMetrics(font).size(Qt::TextSingleLine, "Drives");
  const int word = one_word.width();
  const int line = one_word.height();
  const struct {
    const char* what;
    CaptionPlace place;
    bool fits;
  } cases[] = {
      {"a line in room to spare", {"Drives", QRect(0, 0, word + 1, line + 1), false}, true},
      {"a line one pixel too wide", {"Drives", QRect(0, 0, word - 1, line), false}, false},
      {"a line one pixel too low", {"Drives", QRect(0, 0, word, line - 1), false}, false},
      {"a line is not wrapped", {"Drives Drives", QRect(0, 0, word, 3 * line), false}, false},
      {"two words on two lines", {"Drives Drives", QRect(0, 0, word, 3 * line), true}, true},
      {"two lines in room for one", {"Drives Drives", QRect(0, 0, word, line), true}, false},
      {"a word is not broken", {"DrivesDrives", QRect(0, 0, word, 3 * line), true}, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(CaptionFits(font, c.place), c.fits);
  }
}

TEST(CaptionFontTest, ShrinksToTheLargestQuarterPointThatFitsAndNoFurtherThanTheSmallest) {
  const QString face = InstalledFace({});
  QFont at_ten(face);
  at_ten.setPointSizeF(10);
  const QSize needed = QFontMetrics(at_ten).size(Qt::TextSingleLine, "Manual Override/Rescan");
  const int wide = needed.width();
  const int high = needed.height();
  enum class Size { kKept, kShrunk, kSmallest };
  const struct {
    const char* what;
    int width;
    Size size;
  } cases[] = {{"room enough", wide, Size::kKept},
               {"two thirds of the room", wide * 2 / 3, Size::kShrunk},
               {"far too narrow", 4, Size::kSmallest}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const std::vector<CaptionPlace> captions = {
        {"Manual Override/Rescan", QRect(0, 0, c.width, high), false},
        {"Rescan", QRect(0, 0, wide, high), false}};
    const QFont chosen = FittingFont(face, 10, captions);
    const double points = chosen.pointSizeF();
    switch (c.size) {
      case Size::kKept:
        EXPECT_DOUBLE_EQ(points, 10);
        break;
      case Size::kShrunk:
        EXPECT_LT(points, 10);
        EXPECT_GT(points, kSmallestFontPoints);
        break;
      case Size::kSmallest:
        EXPECT_DOUBLE_EQ(points, kSmallestFontPoints);
        break;
    }
    if (c.size != Size::kSmallest) {
      for (const CaptionPlace& caption : captions) {
        EXPECT_TRUE(CaptionFits(chosen, caption));
      }
    }
    if (c.size != Size::kKept) {
      // Nothing larger would have done.
      QFont larger = chosen;
      larger.setPointSizeF(points + 0.25);
      EXPECT_FALSE(CaptionFits(larger, captions[0]));
    }
  }
}

TEST(CaptionFontTest, AFaceOnlyStoodInForIsNotTakenForTheOneAskedFor) {
  const QString face = InstalledFace({"No Such Face Salvatrix"});
  EXPECT_NE(face, "No Such Face Salvatrix");
  EXPECT_TRUE(QFontDatabase::hasFamily(face)) << face.toStdString();
}

}  // namespace
}  // namespace salvatrix::qt
