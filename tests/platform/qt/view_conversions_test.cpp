#include "platform/qt/view_conversions.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QPalette>
#include <string>

#include "platform/qt/display_check.h"

namespace salvatrix::qt {
namespace {

TEST(ToQColorTest, MapsSystemIndicesToThePaletteAndKeepsDefaultsInvalid) {
  const QColor menu_text =
      QApplication::palette("QMenu").color(QPalette::Active, QPalette::WindowText);
  const QColor highlight_text =
      QApplication::palette().color(QPalette::Active, QPalette::HighlightedText);
  EXPECT_EQ(ToQColor(Colour::System(kColorMenuText)), menu_text);
  EXPECT_EQ(ToQColor(Colour::System(kColorHighlightText)), highlight_text);
  EXPECT_EQ(ToQColor(Colour::Rgb(192, 0, 192)), QColor(192, 0, 192));
  EXPECT_FALSE(ToQColor(Colour{}).isValid());
  EXPECT_FALSE(ToQColor(Colour::System(99)).isValid());
}

TEST(NoDisplayMessageTest, SpeaksOnlyWhenNothingNamesADisplay) {
  struct Case {
    const char* qpa;
    const char* display;
    const char* wayland;
    bool refuses;
  };
  const Case cases[] = {
      {nullptr, nullptr, nullptr, true},      {"", "", "", true},
      {nullptr, ":0", nullptr, false},        {nullptr, nullptr, "wayland-0", false},
      {"offscreen", nullptr, nullptr, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.qpa ? c.qpa : "(unset)") + " / " +
                 (c.display ? c.display : "(unset)") + " / " + (c.wayland ? c.wayland : "(unset)"));
    const std::string message = NoDisplayMessage(c.qpa, c.display, c.wayland);
    EXPECT_EQ(!message.empty(), c.refuses);
    EXPECT_EQ(message.find('\n'), std::string::npos);
  }
  EXPECT_NE(NoDisplayMessage(nullptr, nullptr, nullptr).find("DISPLAY"), std::string::npos);
}

}  // namespace
}  // namespace salvatrix::qt
