#include "platform/win32ui/notes_window.h"

#include <windows.h>

#include <cstdint>
#include <exception>
#include <string>
#include <utility>
#include <vector>

#include "app/dialog.h"
#include "platform/win32/win32_platform.h"
#include "platform/win32ui/caption_font.h"
#include "platform/win32ui/view_metrics.h"
#include "platform/win32ui/window_class.h"

namespace salvatrix::win32ui {
namespace {

constexpr const wchar_t* kClassName = L"SalvatrixNotesWindow";
constexpr DWORD kStyle = WS_POPUP | WS_CAPTION | WS_SYSMENU;
// A fixed dialog frame, and a tool window so that it stays out of the taskbar.
constexpr DWORD kExStyle = WS_EX_DLGMODALFRAME | WS_EX_TOOLWINDOW;
constexpr int kListId = 1;

}  // namespace

class NotesWindow::Impl {
 public:
  Impl(Dialog& notes, Dispatcher dispatch) : notes_(notes), dispatch_(std::move(dispatch)) {
    connections_.push_back(notes_.opened.ConnectScoped([this] { Open(); }));
    connections_.push_back(notes_.closing.ConnectScoped([this] { Discard(); }));
  }

  ~Impl() { Discard(); }
  Impl(const Impl&) = delete;
  Impl& operator=(const Impl&) = delete;

  HWND Window() const { return window_; }

  void Discard() {
    if (window_ != nullptr) {
      ::DestroyWindow(window_);
    }
    window_ = nullptr;
    list_ = nullptr;
    font_.reset();
  }

  /// Nothing may unwind through the window system: a failure is the program's.
  void Keep(std::exception_ptr error) {
    dispatch_([&error] { std::rethrow_exception(error); });
  }

  void Open() {
    if (window_ != nullptr) {
      return;
    }
    RegisterWindowClass(kClassName, &OwnedProcedure<Impl>, ::GetSysColorBrush(COLOR_BTNFACE),
                        "notes window");
    const ScreenDpi dpi = GetScreenDpi();
    const auto x = [&dpi](int twips) { return TwipsToPixels(twips, dpi.x); };
    const auto y = [&dpi](int twips) { return TwipsToPixels(twips, dpi.y); };

    // The client area has a fixed size and a fixed place on the screen.
    RECT frame{x(Dialog::kScreenLeft), y(Dialog::kScreenTop),
               x(Dialog::kScreenLeft) + x(Dialog::kClientWidth),
               y(Dialog::kScreenTop) + y(Dialog::kClientHeight)};
    ::AdjustWindowRectEx(&frame, kStyle, FALSE, kExStyle);
    const FrameSize size =
        FrameForClient(x(Dialog::kClientWidth), y(Dialog::kClientHeight), kStyle, kExStyle, dpi);
    const std::wstring caption = win32::Widen(Dialog::kCaption);
    HWND window = ::CreateWindowExW(kExStyle, kClassName, caption.c_str(), kStyle, frame.left,
                                    frame.top, size.width, size.height, nullptr, nullptr,
                                    ::GetModuleHandleW(nullptr), this);
    if (window == nullptr) {
      throw Failure("The notes window cannot be created: error " +
                    std::to_string(::GetLastError()));
    }
    window_ = window;

    const ListBox& model = notes_.List1();
    list_ = ::CreateWindowExW(
        WS_EX_CLIENTEDGE, L"LISTBOX", L"",
        WS_CHILD | WS_VISIBLE | WS_TABSTOP | WS_VSCROLL | LBS_NOTIFY | LBS_NOINTEGRALHEIGHT, 0, 0,
        0, 0, window_, reinterpret_cast<HMENU>(static_cast<std::intptr_t>(kListId)),
        ::GetModuleHandleW(nullptr), nullptr);
    for (std::int16_t i = 0; i < model.ListCount(); ++i) {
      const std::wstring text = win32::Widen(model.List(i));
      ::SendMessageW(list_, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text.c_str()));
    }
    // The place on the screen may lie on a monitor of a DPI of its own.
    const ScreenDpi placed = WindowDpi(reinterpret_cast<WindowHandle>(window_));
    if (placed != dpi) {
      const FrameSize resized =
          FrameForClient(TwipsToPixels(Dialog::kClientWidth, placed.x),
                         TwipsToPixels(Dialog::kClientHeight, placed.y), kStyle, kExStyle, placed);
      ::SetWindowPos(window_, nullptr, 0, 0, resized.width, resized.height,
                     SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    }
    LayOut(placed);
    ::ShowWindow(window_, SW_SHOW);
  }

  /// The list at its twips and the notes' font, for dpi.
  void LayOut(ScreenDpi dpi) {
    const Geometry& place = notes_.List1().Place();
    ::SetWindowPos(list_, nullptr, TwipsToPixels(place.left, dpi.x),
                   TwipsToPixels(place.top, dpi.y), TwipsToPixels(place.width, dpi.x),
                   TwipsToPixels(place.height, dpi.y), SWP_NOZORDER | SWP_NOACTIVATE);
    // The notes ask for their face by name, and GDI stands in its nearest for it where it is
    // missing. A list box has no horizontal scroll bar here: every note must fit its width.
    auto font =
        std::make_unique<CaptionFont>(win32::Widen(Dialog::kFontName), Dialog::kFontPoints, dpi.y,
                                      ListEntryRooms(reinterpret_cast<WindowHandle>(list_)), dpi.x);
    ::SendMessageW(list_, WM_SETFONT, static_cast<WPARAM>(font->Handle()), TRUE);
    font_ = std::move(font);
  }

  LRESULT Handle(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    switch (message) {
      case WM_CLOSE:
        // The model closes the window; a program that is ending closes it regardless.
        if (!dispatch_([this] { notes_.Close(); }) || notes_.IsOpen()) {
          Discard();
        }
        return 0;
      case WM_ACTIVATE:
        if (LOWORD(wparam) != WA_INACTIVE && list_ != nullptr) {
          ::SetFocus(list_);
        }
        return 0;
      case WM_COMMAND:
        if (LOWORD(wparam) == kListId && HIWORD(wparam) == LBN_SELCHANGE && notes_.IsOpen()) {
          OnSelectionChange();
        }
        return 0;
      case kWmDpiChanged:
        if (window == window_ && list_ != nullptr) {
          const DpiChange change = ReadDpiChange(wparam, lparam);
          ::SetWindowPos(window_, nullptr, change.left, change.top, change.width, change.height,
                         SWP_NOZORDER | SWP_NOACTIVATE);
          LayOut(change.dpi);
        }
        return 0;
      case WM_NCDESTROY:
        if (window == window_) {
          window_ = nullptr;
          list_ = nullptr;
        }
        break;
      default:
        break;
    }
    return ::DefWindowProcW(window, message, wparam, lparam);
  }

 private:
  void OnSelectionChange() {
    const auto index = static_cast<std::int16_t>(::SendMessageW(list_, LB_GETCURSEL, 0, 0));
    dispatch_([this, index] {
      if (notes_.IsOpen()) {
        notes_.List1().UserClick(index);
      }
    });
    ShowSelection();
  }

  void ShowSelection() {
    if (list_ != nullptr && notes_.IsOpen()) {
      ::SendMessageW(list_, LB_SETCURSEL, static_cast<WPARAM>(notes_.List1().ListIndex()), 0);
    }
  }

  Dialog& notes_;
  Dispatcher dispatch_;
  HWND window_ = nullptr;
  HWND list_ = nullptr;
  std::unique_ptr<CaptionFont> font_;
  /// Last, so that the model stops calling in before anything it calls goes.
  std::vector<Connection> connections_;
};

NotesWindow::NotesWindow(Dialog& notes, Dispatcher dispatch)
    : impl_(std::make_unique<Impl>(notes, std::move(dispatch))) {}

NotesWindow::~NotesWindow() = default;

WindowHandle NotesWindow::Handle() const {
  return reinterpret_cast<WindowHandle>(impl_->Window());
}

void NotesWindow::Discard() {
  impl_->Discard();
}

}  // namespace salvatrix::win32ui
