#include "platform/win32ui/main_window.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "app/form1.h"
#include "platform/win32/win32_platform.h"
#include "platform/win32ui/win32ui_test_support.h"
#include "support/fakes.h"
#include "support/program_fixture.h"

namespace salvatrix::win32ui {
namespace {

using salvatrix::testing::RawDrives;

std::string ClassOf(HWND window) {
  char name[64] = {};
  ::GetClassNameA(window, name, sizeof name);
  return name;
}

std::vector<std::string> ListTexts(HWND list) {
  std::vector<std::string> texts;
  const auto count = ::SendMessageW(list, LB_GETCOUNT, 0, 0);
  for (WPARAM i = 0; i < static_cast<WPARAM>(count); ++i) {
    std::wstring text(static_cast<std::size_t>(::SendMessageW(list, LB_GETTEXTLEN, i, 0)) + 1,
                      L'\0');
    text.resize(static_cast<std::size_t>(
        ::SendMessageW(list, LB_GETTEXT, i, reinterpret_cast<LPARAM>(text.data()))));
    texts.push_back(win32::Narrow(text));
  }
  return texts;
}

std::vector<std::string> ModelTexts(const ListBox& list) {
  std::vector<std::string> texts;
  for (std::int16_t i = 0; i < list.ListCount(); ++i) {
    texts.push_back(list.List(i));
  }
  return texts;
}

POINT Dpi() {
  HDC screen = ::GetDC(nullptr);
  const POINT dpi{::GetDeviceCaps(screen, LOGPIXELSX), ::GetDeviceCaps(screen, LOGPIXELSY)};
  ::ReleaseDC(nullptr, screen);
  return dpi;
}

class MainWindowTest : public testing::ProgramFixture {
 protected:
  MainWindowTest() {
    drives_.SetDrives(RawDrives("CZ"));
    app_.exe_name = "salvatrix.exe";
    files_.folders[app_.folder] = {{"a.txt", "b.txt", "salvatrix.exe"}, {"docs", "pics"}};
  }

  /// Drains the thread's queue; the exit code of a quit found there, or -1.
  int Pump() {
    int quit = -1;
    MSG message{};
    while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE) != FALSE) {
      if (message.message == WM_QUIT) {
        quit = static_cast<int>(message.wParam);
        continue;
      }
      ::TranslateMessage(&message);
      ::DispatchMessageW(&message);
      window_.ReportPendingFailure();
    }
    return quit;
  }

  // The window stays hidden: under xvfb there is no window manager, and wine then waits two
  // seconds for one whenever a shown window goes away. The controls work the same unseen.
  void Load() {
    ASSERT_TRUE(window_.Dispatch([this] { form_.Form_Load(); }));
    Pump();
  }

  HWND Main() const { return H(window_.Handle()); }
  HWND Child(const Control& control) const { return H(window_.ChildOf(control)); }

  MainWindow window_{form_, boxes_};
};

TEST_F(MainWindowTest, EveryControlIsAStandardChildAtItsPlace) {
  Load();
  EXPECT_EQ(TextOf(Main()), Form1::kCaption);
  EXPECT_EQ(::GetWindowLongW(Main(), GWL_STYLE) & WS_OVERLAPPEDWINDOW, WS_OVERLAPPEDWINDOW);
  const auto [dpi_x, dpi_y] = Dpi();
  RECT client{};
  ::GetClientRect(Main(), &client);
  EXPECT_EQ(client.right, ::MulDiv(Form1::kClientWidth, dpi_x, 1440));
  EXPECT_EQ(client.bottom, ::MulDiv(Form1::kClientHeight, dpi_y, 1440));
  EXPECT_NE(::GetClassLongPtrW(Main(), GCLP_HICON), 0);

  int children = 0;
  for (std::size_t i = 0; i < form_.Controls().size(); ++i) {
    const Control& control = *form_.Controls()[i];
    SCOPED_TRACE(control.Name());
    HWND child = ::GetDlgItem(Main(), MainWindow::kFirstControlId + static_cast<int>(i));
    if (control.Kind() == ControlKind::kTimer) {
      EXPECT_EQ(child, nullptr);
      EXPECT_TRUE(window_.TimerRunning());
      continue;
    }
    ++children;
    ASSERT_NE(child, nullptr);
    EXPECT_EQ(child, Child(control));
    RECT place{};
    ::GetWindowRect(child, &place);
    ::MapWindowPoints(nullptr, Main(), reinterpret_cast<POINT*>(&place), 2);
    const Geometry& g = control.Place();
    EXPECT_EQ(place.left, ::MulDiv(g.left, dpi_x, 1440));
    EXPECT_EQ(place.top, ::MulDiv(g.top, dpi_y, 1440));
    EXPECT_EQ(place.right - place.left, ::MulDiv(g.width, dpi_x, 1440));
    EXPECT_EQ(place.bottom - place.top, ::MulDiv(g.height, dpi_y, 1440));
    EXPECT_EQ(::IsWindowEnabled(child) != FALSE, control.Enabled());
    if (control.Kind() != ControlKind::kPicture) {
      // One font for every control: the one chosen for the captions (tested on its own).
      EXPECT_NE(::SendMessageW(child, WM_GETFONT, 0, 0), 0);
      EXPECT_EQ(::SendMessageW(child, WM_GETFONT, 0, 0),
                ::SendMessageW(Child(form_.Command1), WM_GETFONT, 0, 0));
    }
    const LONG style = ::GetWindowLongW(child, GWL_STYLE);
    switch (control.Kind()) {
      case ControlKind::kButton:
      case ControlKind::kCheckBox: {
        EXPECT_EQ(ClassOf(child), "Button");
        const auto& captioned = static_cast<const CaptionedControl&>(control);
        EXPECT_EQ(TextOf(child), captioned.Caption());
        EXPECT_EQ(style & BS_TYPEMASK,
                  control.Kind() == ControlKind::kButton ? BS_PUSHBUTTON : BS_CHECKBOX);
        break;
      }
      case ControlKind::kListBox: {
        const auto& list = static_cast<const ListBox&>(control);
        EXPECT_EQ(ClassOf(child), "ListBox");
        EXPECT_EQ(ListTexts(child), ModelTexts(list));
        EXPECT_EQ((style & LBS_MULTIPLESEL) != 0, list.Name() == "List4" || list.Name() == "List6");
        EXPECT_EQ(style & LBS_SORT, 0);
        EXPECT_NE(style & LBS_NOTIFY, 0);
        break;
      }
      case ControlKind::kTextBox:
        EXPECT_EQ(ClassOf(child), "Edit");
        EXPECT_EQ(TextOf(child), static_cast<const TextBox&>(control).Text());
        EXPECT_EQ((style & ES_MULTILINE) != 0, control.Name() == "Text1");
        break;
      case ControlKind::kLabel:
        EXPECT_EQ(ClassOf(child), "Static");
        EXPECT_EQ(TextOf(child), static_cast<const Label&>(control).Caption());
        break;
      case ControlKind::kPicture:
        EXPECT_EQ(ClassOf(child), "Static");
        EXPECT_EQ(style & SS_TYPEMASK, SS_ICON);
        EXPECT_NE(::SendMessageW(child, STM_GETICON, 0, 0), 0);
        break;
      case ControlKind::kTimer:
        break;
    }
  }
  EXPECT_EQ(children, 30);
  // Form_Load's texts and lists are on screen.
  EXPECT_EQ(TextOf(Child(form_.Text4)), "Source = /media/source");
  EXPECT_EQ(ListTexts(Child(form_.List4)),
            (std::vector<std::string>{"a.txt", "b.txt", "salvatrix.exe"}));
  EXPECT_EQ(::SendMessageW(Child(form_.List4), LB_GETSELCOUNT, 0, 0), 2);
}

TEST_F(MainWindowTest, TabOrderFollowsTheTabIndexAndColoursTheModels) {
  Load();
  // Tab walks the enabled controls that take the focus, in tab index order, round and round.
  std::vector<std::string> cycle;
  HWND first = ::GetNextDlgTabItem(Main(), nullptr, FALSE);
  HWND at = first;
  do {
    for (const Control* control : form_.Controls()) {
      if (Child(*control) == at) {
        cycle.push_back(control->Name());
      }
    }
    at = ::GetNextDlgTabItem(Main(), at, FALSE);
  } while (at != first && cycle.size() < 40);
  EXPECT_EQ(cycle, (std::vector<std::string>{"Text1", "cmdOverride", "List2", "Text2", "Text3",
                                             "Check1", "List4", "List5", "Text4", "List6", "Check2",
                                             "Check3", "Command1"}));

  HDC dc = ::CreateCompatibleDC(nullptr);
  const auto colour = [this, dc](UINT message, const Control& control) {
    ::SetTextColor(dc, RGB(1, 2, 3));
    ::SetBkColor(dc, RGB(4, 5, 6));
    return ::SendMessageW(Main(), message, reinterpret_cast<WPARAM>(dc),
                          reinterpret_cast<LPARAM>(Child(control)));
  };
  EXPECT_EQ(colour(WM_CTLCOLORSTATIC, form_.Label3),
            reinterpret_cast<LRESULT>(::GetSysColorBrush(COLOR_MENUTEXT)));
  EXPECT_EQ(::GetTextColor(dc), ::GetSysColor(COLOR_HIGHLIGHTTEXT));
  EXPECT_EQ(::GetBkColor(dc), ::GetSysColor(COLOR_MENUTEXT));
  EXPECT_EQ(colour(WM_CTLCOLOREDIT, form_.Text4),
            reinterpret_cast<LRESULT>(::GetSysColorBrush(COLOR_MENUTEXT)));
  EXPECT_EQ(::GetTextColor(dc), ::GetSysColor(COLOR_HIGHLIGHTTEXT));
  // labelViewer: its own text colour on the ordinary background.
  const LRESULT viewer = colour(WM_CTLCOLORSTATIC, form_.labelViewer);
  EXPECT_EQ(::GetTextColor(dc), RGB(192, 0, 192));
  const LRESULT ordinary = colour(WM_CTLCOLORSTATIC, form_.Label9);
  EXPECT_EQ(viewer, ordinary);
  EXPECT_EQ(::GetTextColor(dc), ::GetSysColor(COLOR_WINDOWTEXT));
  ::DeleteDC(dc);
}

TEST_F(MainWindowTest, ModelChangesShowInTheirControls) {
  Load();
  HWND list = Child(form_.List3);
  form_.List3.AddItem("M:\\");
  form_.List3.AddItem("N:\\");
  form_.List3.SetSelected(1, true);
  EXPECT_EQ(ListTexts(list), (std::vector<std::string>{"M:\\", "N:\\"}));
  EXPECT_EQ(::SendMessageW(list, LB_GETCURSEL, 0, 0), 1);
  form_.List3.SetSelected(1, false);
  EXPECT_EQ(::SendMessageW(list, LB_GETCURSEL, 0, 0), LB_ERR);
  form_.List3.Clear();
  EXPECT_EQ(::SendMessageW(list, LB_GETCOUNT, 0, 0), 0);

  form_.List6.SetSelected(1, true);
  EXPECT_GT(::SendMessageW(Child(form_.List6), LB_GETSEL, 1, 0), 0);
  EXPECT_EQ(::SendMessageW(Child(form_.List6), LB_GETSEL, 0, 0), 0);

  form_.labelViewer.SetCaption("Copying a.txt");
  EXPECT_EQ(TextOf(Child(form_.labelViewer)), "Copying a.txt");
  form_.cmdFileCopy.SetEnabled(true);
  EXPECT_TRUE(::IsWindowEnabled(Child(form_.cmdFileCopy)));
  form_.Check1.SetValue(1);
  EXPECT_EQ(::SendMessageW(Child(form_.Check1), BM_GETCHECK, 0, 0), BST_CHECKED);
  // The multi-line log keeps its CR LF line breaks; a model text is not taken for an edit.
  int log_changes = 0;
  form_.Text1.changed.Connect([&log_changes] { ++log_changes; });
  form_.Text1.SetText("\r\nwParam = DBT_DEVICEARRIVAL 05 \r\nGrüße");
  EXPECT_EQ(TextOf(Child(form_.Text1)), "\r\nwParam = DBT_DEVICEARRIVAL 05 \r\nGrüße");
  EXPECT_EQ(::SendMessageW(Child(form_.Text1), EM_GETLINECOUNT, 0, 0), 3);
  EXPECT_EQ(log_changes, 1);

  form_.Timer1.SetEnabled(false);
  EXPECT_FALSE(window_.TimerRunning());
  form_.Timer1.SetEnabled(true);
  EXPECT_TRUE(window_.TimerRunning());
}

TEST_F(MainWindowTest, UserInputReachesTheModels) {
  Load();
  // A check box: the model toggles, its handler selects every sub-folder.
  ::SendMessageW(Child(form_.Check2), BM_CLICK, 0, 0);
  EXPECT_EQ(form_.Check2.Value(), 1);
  EXPECT_EQ(::SendMessageW(Child(form_.Check2), BM_GETCHECK, 0, 0), BST_CHECKED);
  EXPECT_EQ(::SendMessageW(Child(form_.List6), LB_GETSELCOUNT, 0, 0), 2);

  // A multiple-selection list: a click toggles the one entry under it.
  ClickEntry(Child(form_.List4), 0);
  EXPECT_FALSE(form_.List4.Selected(0));
  EXPECT_TRUE(form_.List4.Selected(1));
  EXPECT_EQ(::SendMessageW(Child(form_.List4), LB_GETSEL, 0, 0), 0);
  ClickEntry(Child(form_.List4), 2);
  EXPECT_TRUE(form_.List4.Selected(2));
  EXPECT_TRUE(form_.List4.Selected(1));

  // An edit.
  ::SetWindowTextW(Child(form_.Text3), L"CDZ");
  EXPECT_EQ(form_.Text3.Text(), "CDZ");

  // The clock's tick after an arrival finds the new drive; the button rescans too.
  form_.Text1.SetText("arrival");
  drives_.SetDrives(RawDrives("CMZ"));
  ::SendMessageW(Main(), WM_TIMER, MainWindow::kFirstControlId + 12, 0);
  EXPECT_EQ(ListTexts(Child(form_.List3)), std::vector<std::string>{"M:\\"});
  EXPECT_FALSE(window_.TimerRunning());
  ::SendMessageW(Child(form_.cmdOverride), BM_CLICK, 0, 0);
  EXPECT_TRUE(::IsWindowEnabled(Child(form_.cmdFileCopy)));
  EXPECT_FALSE(::IsWindowEnabled(Child(form_.Check1)));
  EXPECT_EQ(::SendMessageW(Child(form_.List2), LB_GETCURSEL, 0, 0), 1);

  // A single-selection list: List2's handler warns about a destination other than the new
  // drive.
  ClickEntry(Child(form_.List2), 0);
  EXPECT_EQ(form_.List2.ListIndex(), 0);
  EXPECT_EQ(::SendMessageW(Child(form_.List2), LB_GETCURSEL, 0, 0), 0);
  ASSERT_EQ(boxes_.shown.size(), 1U);
  EXPECT_EQ(boxes_.shown[0].caption, Form1::kDestinationWarningCaption);
  // The model owns the selection: a list it keeps disabled stays unselected.
  ClickEntry(Child(form_.List1), 0);
  EXPECT_EQ(form_.List1.ListIndex(), -1);
  EXPECT_EQ(::SendMessageW(Child(form_.List1), LB_GETCURSEL, 0, 0), LB_ERR);
  EXPECT_EQ(Pump(), -1);
}

TEST_F(MainWindowTest, ClosingUnloadsOnceAndEndsTheLoopWithZero) {
  Load();
  ::SendMessageW(Child(form_.Command1), BM_CLICK, 0, 0);
  ASSERT_NE(window_.NotesHandle(), 0U);
  ::PostMessageW(Main(), WM_CLOSE, 0, 0);
  EXPECT_EQ(Pump(), 0);
  EXPECT_EQ(window_.Handle(), 0U);
  EXPECT_EQ(window_.NotesHandle(), 0U);
  EXPECT_FALSE(form_.Notes().IsOpen());
  EXPECT_EQ(std::count(system_.calls.begin(), system_.calls.end(), "Unregister 119"), 1);
  EXPECT_FALSE(window_.TimerRunning());
  // Models may change later; nothing shows them any more.
  form_.List2.AddItem("Q:\\");
  form_.labelViewer.SetCaption("late");
}

TEST_F(MainWindowTest, AFailedHandlerIsShownAndEndsTheProgramWithOne) {
  Load();
  int runs = 0;
  form_.Command1.click.Connect([&runs] {
    ++runs;
    throw Failure("The notes are lost");
  });
  ::PostMessageW(Child(form_.Command1), BM_CLICK, 0, 0);
  EXPECT_EQ(Pump(), 1);
  EXPECT_EQ(runs, 1);
  ASSERT_EQ(boxes_.shown.size(), 1U);
  EXPECT_EQ(boxes_.shown[0].text, "The notes are lost");
  EXPECT_EQ(boxes_.shown[0].style, kMbIconError);
  EXPECT_TRUE(window_.Ending());
  EXPECT_EQ(window_.Handle(), 0U);
  EXPECT_FALSE(window_.TimerRunning());
  // No further handler runs, not even Form_Unload.
  EXPECT_FALSE(window_.Dispatch([&runs] { ++runs; }));
  EXPECT_EQ(runs, 1);
  EXPECT_EQ(std::count(system_.calls.begin(), system_.calls.end(), "Unregister 119"), 0);
}

TEST_F(MainWindowTest, TheNotesWindowOpensOnceAndClosesWithTheModel) {
  Load();
  for (int round = 0; round < 2; ++round) {
    SCOPED_TRACE(round);
    ::SendMessageW(Child(form_.Command1), BM_CLICK, 0, 0);
    HWND notes = H(window_.NotesHandle());
    ASSERT_NE(notes, nullptr);
    ::SendMessageW(Child(form_.Command1), BM_CLICK, 0, 0);
    EXPECT_EQ(H(window_.NotesHandle()), notes);
    EXPECT_TRUE(::IsWindowVisible(notes));
    EXPECT_EQ(TextOf(notes), "Notes on usage");
    EXPECT_EQ(::GetWindow(notes, GW_OWNER), nullptr);
    const LONG ex_style = ::GetWindowLongW(notes, GWL_EXSTYLE);
    EXPECT_NE(ex_style & WS_EX_TOOLWINDOW, 0);
    EXPECT_NE(ex_style & WS_EX_DLGMODALFRAME, 0);
    EXPECT_EQ(::GetWindowLongW(notes, GWL_STYLE) & (WS_THICKFRAME | WS_MAXIMIZEBOX), 0);

    const auto [dpi_x, dpi_y] = Dpi();
    POINT origin{0, 0};
    ::ClientToScreen(notes, &origin);
    EXPECT_EQ(origin.x, ::MulDiv(Dialog::kScreenLeft, dpi_x, 1440));
    EXPECT_EQ(origin.y, ::MulDiv(Dialog::kScreenTop, dpi_y, 1440));
    RECT client{};
    ::GetClientRect(notes, &client);
    EXPECT_EQ(client.right, ::MulDiv(Dialog::kClientWidth, dpi_x, 1440));
    EXPECT_EQ(client.bottom, ::MulDiv(Dialog::kClientHeight, dpi_y, 1440));

    HWND list = ::FindWindowExW(notes, nullptr, L"ListBox", nullptr);
    ASSERT_NE(list, nullptr);
    const std::vector<std::string> texts = ListTexts(list);
    ASSERT_EQ(texts.size(), 21U);
    EXPECT_EQ(texts[10], "There is no progress bar so look for the COPYING COMPLETED message.");
    EXPECT_EQ(texts[20], "");
    LOGFONTW font{};
    ::GetObjectW(reinterpret_cast<HFONT>(::SendMessageW(list, WM_GETFONT, 0, 0)), sizeof font,
                 &font);
    EXPECT_EQ(font.lfHeight, -::MulDiv(975, dpi_y, 7200));
    EXPECT_EQ(std::wstring(font.lfFaceName), L"MS Sans Serif");

    // Its close button the first time, the main window's closing the second time.
    if (round == 0) {
      ::SendMessageW(notes, WM_CLOSE, 0, 0);
      EXPECT_EQ(Pump(), -1);
    } else {
      ::SendMessageW(Main(), WM_CLOSE, 0, 0);
      EXPECT_EQ(Pump(), 0);
    }
    EXPECT_FALSE(form_.Notes().IsOpen());
    EXPECT_EQ(window_.NotesHandle(), 0U);
    EXPECT_FALSE(::IsWindow(notes));
  }
}

}  // namespace
}  // namespace salvatrix::win32ui
