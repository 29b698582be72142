#include "platform/win32ui/caption_font.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <string>
#include <vector>

#include "app/form1.h"
#include "platform/win32/win32_platform.h"
#include "platform/win32ui/main_window.h"
#include "platform/win32ui/view_metrics.h"
#include "platform/win32ui/win32ui_test_support.h"
#include "support/fakes.h"
#include "support/program_fixture.h"

namespace salvatrix::win32ui {
namespace {

using salvatrix::testing::RawDrives;

/// The face a control's font asks for.
std::wstring FaceOf(HWND control) {
  LOGFONTW font{};
  ::GetObjectW(reinterpret_cast<HFONT>(::SendMessageW(control, WM_GETFONT, 0, 0)), sizeof font,
               &font);
  return font.lfFaceName;
}

/// The width a check box takes before its text, as the system draws it: the box and half a
/// digit's width of gap, then a pixel for the focus rectangle.
int CheckIndent(HWND control, int dpi) {
  HDC dc = ::GetDC(nullptr);
  const HGDIOBJ previous =
      ::SelectObject(dc, reinterpret_cast<HFONT>(::SendMessageW(control, WM_GETFONT, 0, 0)));
  INT digit = 0;
  ::GetCharWidth32W(dc, L'0', L'0', &digit);
  const int box = ::MulDiv(12, dpi, 96) + 1;
  ::SelectObject(dc, previous);
  ::ReleaseDC(nullptr, dc);
  return box + digit / 2 + 1;
}

/// What a control's text takes in the font it shows, measured here as the control draws it.
SIZE Extent(HWND control, int wrap_width) {
  HDC dc = ::GetDC(nullptr);
  const HGDIOBJ previous =
      ::SelectObject(dc, reinterpret_cast<HFONT>(::SendMessageW(control, WM_GETFONT, 0, 0)));
  const std::wstring text = WideTextOf(control);
  SIZE size{};
  if (wrap_width > 0) {
    RECT used{0, 0, wrap_width, 0};
    ::DrawTextW(dc, text.c_str(), -1, &used, DT_CALCRECT | DT_WORDBREAK | DT_NOPREFIX);
    size = {used.right - used.left, used.bottom - used.top};
  } else {
    ::GetTextExtentPoint32W(dc, text.c_str(), static_cast<int>(text.size()), &size);
  }
  ::SelectObject(dc, previous);
  ::ReleaseDC(nullptr, dc);
  return size;
}

class CaptionFitTest : public testing::ProgramFixture {
 protected:
  CaptionFitTest() {
    drives_.SetDrives(RawDrives("C"));
    files_.folders[app_.folder] = {{"a.txt"}, {"docs"}};
  }

  /// Every control sits at its twips at dpi, and its caption fits it in the chosen face.
  void ExpectLaidOutAt(ScreenDpi dpi, const std::wstring& face) {
    int checked = 0;
    for (Control* control : form_.Controls()) {
      HWND child = H(window_.ChildOf(*control));
      if (child == nullptr) {
        continue;  // the timer
      }
      SCOPED_TRACE(control->Name());
      RECT at{};
      ::GetWindowRect(child, &at);
      ::MapWindowPoints(nullptr, H(window_.Handle()), reinterpret_cast<POINT*>(&at), 2);
      const Geometry& place = control->Place();
      EXPECT_EQ(at.left, TwipsToPixels(place.left, dpi.x));
      EXPECT_EQ(at.top, TwipsToPixels(place.top, dpi.y));
      EXPECT_EQ(at.right - at.left, TwipsToPixels(place.width, dpi.x));
      EXPECT_EQ(at.bottom - at.top, TwipsToPixels(place.height, dpi.y));
    }
    for (const CaptionedControl* control : salvatrix::testing::CaptionedControls(form_)) {
      SCOPED_TRACE(control->Name() + ": " + control->Caption());
      HWND child = H(window_.ChildOf(*control));
      ASSERT_NE(child, nullptr);
      EXPECT_EQ(FaceOf(child), face);
      RECT client{};
      ::GetClientRect(child, &client);
      switch (control->Kind()) {
        case ControlKind::kLabel: {
          const SIZE used = Extent(child, client.right);
          EXPECT_LE(used.cx, client.right);
          EXPECT_LE(used.cy, client.bottom);
          break;
        }
        case ControlKind::kCheckBox: {
          const SIZE used = Extent(child, 0);
          EXPECT_LE(used.cx, client.right - CheckIndent(child, dpi.x));
          EXPECT_LE(used.cy, client.bottom);
          break;
        }
        default: {
          const SIZE used = Extent(child, 0);
          EXPECT_LE(used.cx, client.right - 4);
          EXPECT_LE(used.cy, client.bottom - 4);
          break;
        }
      }
      ++checked;
    }
    EXPECT_EQ(checked, 18);
  }

  static int FontPixels(HWND control) {
    LOGFONTW font{};
    ::GetObjectW(reinterpret_cast<HFONT>(::SendMessageW(control, WM_GETFONT, 0, 0)), sizeof font,
                 &font);
    return -font.lfHeight;
  }

  MainWindow window_{form_, boxes_};
};

TEST_F(CaptionFitTest, EveryCaptionFitsItsControlInTheFormsFaceOrTheMessageFonts) {
  ASSERT_TRUE(window_.Dispatch([this] { form_.Form_Load(); }));
  const std::wstring face = FaceOf(H(window_.ChildOf(form_.Command1)));
  const bool form_face = FaceInstalled(kFormFontFace);
  EXPECT_EQ(face, form_face ? std::wstring(kFormFontFace) : MessageFontFace());
  const ScreenDpi dpi = WindowDpi(window_.Handle());
  std::printf("captions in %s, %d pixels, at %d dpi\n", win32::Narrow(face).c_str(),
              FontPixels(H(window_.ChildOf(form_.Command1))), dpi.y);
  if (const char* expected = std::getenv("SALVATRIX_EXPECT_DPI")) {
    // The run at a scale: make sure the window sees it.
    EXPECT_EQ(dpi.x, std::atoi(expected));
    EXPECT_EQ(dpi.y, std::atoi(expected));
  }
  if (const char* fonts = std::getenv("SALVATRIX_FONTS");
      fonts != nullptr && std::string(fonts) == "dejavu") {
    // The run that should see DejaVu only: make sure it does.
    HDC dc = ::GetDC(nullptr);
    const HGDIOBJ previous =
        ::SelectObject(dc, reinterpret_cast<HFONT>(::SendMessageW(
                               H(window_.ChildOf(form_.Command1)), WM_GETFONT, 0, 0)));
    wchar_t drawn[LF_FACESIZE] = {};
    ::GetTextFaceW(dc, LF_FACESIZE, drawn);
    ::SelectObject(dc, previous);
    ::ReleaseDC(nullptr, dc);
    EXPECT_EQ(std::wstring(drawn).rfind(L"DejaVu", 0), 0U) << win32::Narrow(drawn);
  }
  ExpectLaidOutAt(dpi, face);

  form_.Command1.Press();
  HWND list = ::FindWindowExW(H(window_.NotesHandle()), nullptr, L"ListBox", nullptr);
  ASSERT_NE(list, nullptr);
  RECT client{};
  ::GetClientRect(list, &client);
  const auto count = ::SendMessageW(list, LB_GETCOUNT, 0, 0);
  ASSERT_EQ(count, 21);
  HDC dc = ::GetDC(nullptr);
  const HGDIOBJ previous =
      ::SelectObject(dc, reinterpret_cast<HFONT>(::SendMessageW(list, WM_GETFONT, 0, 0)));
  for (WPARAM i = 0; i < static_cast<WPARAM>(count); ++i) {
    wchar_t entry[256] = {};
    ::SendMessageW(list, LB_GETTEXT, i, reinterpret_cast<LPARAM>(entry));
    SIZE used{};
    ::GetTextExtentPoint32W(dc, entry, static_cast<int>(std::wcslen(entry)), &used);
    EXPECT_LE(used.cx, client.right - 2) << win32::Narrow(entry);
  }
  ::SelectObject(dc, previous);
  ::ReleaseDC(nullptr, dc);
}

TEST_F(CaptionFitTest, AMoveToAMonitorOfAnotherDpiLaysTheWindowOutAnew) {
  ASSERT_TRUE(window_.Dispatch([this] { form_.Form_Load(); }));
  HWND main = H(window_.Handle());
  const ScreenDpi before = WindowDpi(window_.Handle());
  const int pixels_before = FontPixels(H(window_.ChildOf(form_.Command1)));
  // What Windows sends a per-monitor window dragged onto a monitor at twice the scale.
  const ScreenDpi after{before.x * 2, before.y * 2};
  RECT proposed{40, 30, 40 + TwipsToPixels(Form1::kClientWidth, after.x),
                30 + TwipsToPixels(Form1::kClientHeight, after.y)};
  ::SendMessageW(main, kWmDpiChanged, MAKEWPARAM(after.x, after.y),
                 reinterpret_cast<LPARAM>(&proposed));
  RECT frame{};
  ::GetWindowRect(main, &frame);
  EXPECT_EQ(frame.left, proposed.left);
  EXPECT_EQ(frame.top, proposed.top);
  ExpectLaidOutAt(after, FaceOf(H(window_.ChildOf(form_.Command1))));
  EXPECT_GT(FontPixels(H(window_.ChildOf(form_.Command1))), pixels_before);
}

TEST(CaptionFontTest, KeepsTheSizeWhenAllFitAndShrinksByPixelsToTheSmallest) {
  const std::wstring face = MessageFontFace();
  const int dpi = 96;
  const CaptionFont full(face, 12, dpi, {});
  ASSERT_NE(full.Handle(), 0U);
  EXPECT_EQ(full.PixelHeight(), 16);
  EXPECT_EQ(full.Face(), face);

  const auto room_for = [&full](const wchar_t* text) {
    HDC dc = ::GetDC(nullptr);
    const HGDIOBJ previous = ::SelectObject(dc, reinterpret_cast<HFONT>(full.Handle()));
    SIZE size{};
    ::GetTextExtentPoint32W(dc, text, static_cast<int>(std::wcslen(text)), &size);
    ::SelectObject(dc, previous);
    ::ReleaseDC(nullptr, dc);
    return size;
  };
  const SIZE needed = room_for(L"Manual Override/Rescan");
  const int word = room_for(L"Drives").cx;
  enum class Size { kKept, kShrunk, kSmallest };
  const struct {
    const char* what;
    CaptionRoom room;
    Size size;
  } cases[] = {
      {"room enough", {L"Manual Override/Rescan", needed.cx, needed.cy}, Size::kKept},
      {"two thirds of the room",
       {L"Manual Override/Rescan", needed.cx * 2 / 3, needed.cy},
       Size::kShrunk},
      {"far too narrow", {L"Manual Override/Rescan", 3, needed.cy}, Size::kSmallest},
      {"a check box's box takes its share",
       {L"Manual Override/Rescan", needed.cx, needed.cy, CaptionRoom::Kind::kCheck},
       Size::kShrunk},
      {"two words in room for two lines",
       {L"Drives Drives", word, 2 * needed.cy, CaptionRoom::Kind::kWrapped},
       Size::kKept},
      {"a word is not broken",
       {L"DrivesDrives", word * 3 / 2, 4 * needed.cy, CaptionRoom::Kind::kWrapped},
       Size::kShrunk},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const CaptionFont font(face, 12, dpi, {c.room});
    switch (c.size) {
      case Size::kKept:
        EXPECT_EQ(font.PixelHeight(), 16);
        break;
      case Size::kShrunk:
        EXPECT_LT(font.PixelHeight(), 16);
        EXPECT_GT(font.PixelHeight(), 8);
        break;
      case Size::kSmallest:
        EXPECT_EQ(font.PixelHeight(), 8);  // 6 points
        break;
    }
    if (c.size != Size::kSmallest) {
      EXPECT_TRUE(CaptionFits(font.Handle(), c.room));
    }
    if (c.size != Size::kKept) {
      // Nothing larger would have done.
      const CaptionFont larger(face, (font.PixelHeight() + 1) * 72.0 / dpi, dpi, {});
      EXPECT_EQ(larger.PixelHeight(), font.PixelHeight() + 1);
      EXPECT_FALSE(CaptionFits(larger.Handle(), c.room));
    }
  }
}

TEST(CaptionFontTest, OnlyAFaceGdiReallyDrawsCountsAsInstalled) {
  EXPECT_FALSE(FaceInstalled(L"No Such Face Salvatrix"));
  EXPECT_FALSE(FaceInstalled(L""));
  // Any outline family the system lists is really there.
  std::wstring listed;
  LOGFONTW wanted{};
  wanted.lfCharSet = DEFAULT_CHARSET;
  HDC dc = ::GetDC(nullptr);
  ::EnumFontFamiliesExW(
      dc, &wanted,
      [](const LOGFONTW* font, const TEXTMETRICW*, DWORD type, LPARAM found) -> int {
        if ((type & TRUETYPE_FONTTYPE) != 0 && font->lfFaceName[0] != L'@') {
          *reinterpret_cast<std::wstring*>(found) = font->lfFaceName;
          return 0;
        }
        return 1;
      },
      reinterpret_cast<LPARAM>(&listed), 0);
  ::ReleaseDC(nullptr, dc);
  ASSERT_FALSE(listed.empty());
  EXPECT_TRUE(FaceInstalled(listed)) << win32::Narrow(listed);
}

}  // namespace
}  // namespace salvatrix::win32ui
