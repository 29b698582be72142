#include "platform/win32ui/main_window.h"

#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <exception>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "app/dispatch.h"
#include "app/form1.h"
#include "platform/win32/win32_platform.h"
#include "platform/win32ui/caption_font.h"
#include "platform/win32ui/list_box_view.h"
#include "platform/win32ui/notes_window.h"
#include "platform/win32ui/view_metrics.h"

namespace salvatrix::win32ui {
namespace {

constexpr const wchar_t* kClassName = L"SalvatrixMainWindow";
constexpr DWORD kStyle = WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN;

/// One control of the form and the child window (or clock) that shows it.
struct Child {
  Control* control = nullptr;
  int id = 0;
  HWND window = nullptr;
  Colour back;
  Colour fore;
  bool clock_running = false;
};

HICON LoadProgramIcon(int size) {
  return static_cast<HICON>(::LoadImageW(::GetModuleHandleW(nullptr),
                                         MAKEINTRESOURCEW(kProgramIconId), IMAGE_ICON, size, size,
                                         LR_DEFAULTCOLOR | LR_SHARED));
}

COLORREF ToColorRef(const Colour& colour) {
  if (colour.kind == Colour::Kind::kSystem) {
    return ::GetSysColor(colour.system_index);
  }
  return RGB(colour.red, colour.green, colour.blue);
}

std::wstring TextOf(HWND window) {
  std::wstring text(static_cast<std::size_t>(::GetWindowTextLengthW(window)) + 1, L'\0');
  const int length = ::GetWindowTextW(window, text.data(), static_cast<int>(text.size()));
  text.resize(static_cast<std::size_t>(std::max(length, 0)));
  return text;
}

/// Sets a window's text unless it shows that text already: an equal text set again would move
/// the caret, notify a change and repaint for nothing. Returns whether it set the text.
bool ShowText(HWND window, std::string_view text) {
  const std::wstring wanted = win32::Widen(text);
  if (TextOf(window) == wanted) {
    return false;
  }
  ::SetWindowTextW(window, wanted.c_str());
  return true;
}

HWND ToHwnd(WindowHandle window) {
  return reinterpret_cast<HWND>(window);
}

}  // namespace

class MainWindow::Impl {
 public:
  Impl(Form1& form, MessageBoxes& boxes)
      : form_(form),
        boxes_(boxes),
        dpi_(GetScreenDpi()),
        notes_(form.Notes(),
               [this](const std::function<void()>& handler) { return Dispatch(handler); }) {
    try {
      CreateMainWindow();
      CreateControls();
      SetTabOrder();
      ConnectModels();
    } catch (...) {
      Release();  // the window must not outlive this object, which its procedure points to
      throw;
    }
  }

  ~Impl() { Release(); }

  Impl(const Impl&) = delete;
  Impl& operator=(const Impl&) = delete;

  HWND Window() const { return window_; }
  HWND NotesWindowHandle() const { return ToHwnd(notes_.Handle()); }
  bool Ending() const { return ending_; }

  HWND ChildOf(const Control& control) const {
    for (const Child& child : children_) {
      if (child.control == &control) {
        return child.window;
      }
    }
    return nullptr;
  }

  bool TimerRunning() const {
    return std::any_of(children_.begin(), children_.end(),
                       [](const Child& child) { return child.clock_running; });
  }

  void Show(int show_command) {
    if (window_ != nullptr) {
      ::ShowWindow(window_, show_command);
      ::UpdateWindow(window_);
    }
  }

  bool Dispatch(const std::function<void()>& handler) {
    if (ending_) {
      return false;
    }
    // The clocks stop before the failure box opens: its modal loop must not run more handlers
    // against a program that is about to end.
    const bool ran = DispatchHandler(
        boxes_,
        [this, &handler] {
          TakePending();
          handler();
          TakePending();
        },
        [this] { StopHandlers(); });
    if (ran) {
      return true;
    }
    EndProgram();
    return false;
  }

  void ReportPendingFailure() {
    try {
      win32::Win32WindowHooks::RethrowPending();
    } catch (...) {
      Keep(std::current_exception());
    }
    if (pending_ && !ending_) {
      Dispatch([] {});
    }
  }

  int Run() {
    MSG message{};
    for (;;) {
      const BOOL got = ::GetMessageW(&message, nullptr, 0, 0);
      if (got == 0) {
        return static_cast<int>(message.wParam);
      }
      if (got == -1) {
        return 1;  // only for a bad window or message filter, which this loop never passes
      }
      if (!IsDialogMessageFor(message)) {
        ::TranslateMessage(&message);
        ::DispatchMessageW(&message);
      }
      ReportPendingFailure();
    }
  }

 private:
  // ---- Creation ----

  /// Destroys the windows without running handlers and without ending the message loop: no
  /// loop runs while this object goes away.
  void Release() {
    alive_.reset();
    ending_ = true;
    releasing_ = true;
    notes_.Discard();
    if (window_ != nullptr) {
      ::DestroyWindow(window_);
    }
    for (const auto& [colour, brush] : brushes_) {
      ::DeleteObject(brush);
    }
    brushes_.clear();
  }

  static HBRUSH FormBrush() {
    const Colour back = Form1::BackColour();
    if (back.kind == Colour::Kind::kSystem) {
      return ::GetSysColorBrush(back.system_index);
    }
    // Lives as long as the window class.
    static const HBRUSH brush = ::CreateSolidBrush(ToColorRef(back));
    return brush;
  }

  static void RegisterClassOnce() {
    static const ATOM atom = [] {
      WNDCLASSEXW window_class{};
      window_class.cbSize = sizeof window_class;
      window_class.lpfnWndProc = &Impl::Procedure;
      window_class.hInstance = ::GetModuleHandleW(nullptr);
      window_class.hCursor = ::LoadCursorA(nullptr, IDC_ARROW);
      window_class.hbrBackground = FormBrush();
      window_class.lpszClassName = kClassName;
      window_class.hIcon = LoadProgramIcon(::GetSystemMetrics(SM_CXICON));
      window_class.hIconSm = LoadProgramIcon(::GetSystemMetrics(SM_CXSMICON));
      return ::RegisterClassExW(&window_class);
    }();
    if (atom == 0) {
      throw Failure("The main window cannot be registered");
    }
  }

  void CreateMainWindow() {
    RegisterClassOnce();
    RECT frame{0, 0, TwipsToPixels(Form1::kClientWidth, dpi_.x),
               TwipsToPixels(Form1::kClientHeight, dpi_.y)};
    ::AdjustWindowRectEx(&frame, kStyle, FALSE, 0);
    const std::wstring caption = win32::Widen(Form1::kCaption);
    // WM_NCCREATE keeps the window's handle in window_.
    ::CreateWindowExW(0, kClassName, caption.c_str(), kStyle, CW_USEDEFAULT, CW_USEDEFAULT,
                      frame.right - frame.left, frame.bottom - frame.top, nullptr, nullptr,
                      ::GetModuleHandleW(nullptr), this);
    if (window_ == nullptr) {
      throw Failure("The main window cannot be created: error " + std::to_string(::GetLastError()));
    }
  }

  void CreateControls() {
    const std::vector<Control*>& controls = form_.Controls();
    children_.reserve(controls.size());
    for (std::size_t i = 0; i < controls.size(); ++i) {
      Child child;
      child.control = controls[i];
      child.id = kFirstControlId + static_cast<int>(i);
      child.back = child.control->BackColour();
      child.fore = child.control->ForeColour();
      if (child.control->Kind() != ControlKind::kTimer) {
        child.window = CreateChildWindow(*child.control, child.id);
      }
      children_.push_back(child);
    }
    for (Child& child : children_) {
      ShowControl(child);
      if (child.control->Kind() == ControlKind::kListBox && child.window != nullptr) {
        ShowWholeList(reinterpret_cast<WindowHandle>(child.window),
                      static_cast<const ListBox&>(*child.control));
      }
    }
    // Chosen once the captions are in place: a caption set later (a status, say) is whatever
    // length it is.
    font_ = std::make_unique<CaptionFont>(FormFace(), kFormFontPoints, dpi_.y,
                                          CaptionRooms(reinterpret_cast<WindowHandle>(window_)));
    for (const Child& child : children_) {
      if (child.window != nullptr && font_->Handle() != 0) {
        ::SendMessageW(child.window, WM_SETFONT, static_cast<WPARAM>(font_->Handle()), FALSE);
      }
    }
  }

  HWND CreateChildWindow(const Control& control, int id) {
    const wchar_t* window_class = L"STATIC";
    DWORD style = WS_CHILD | WS_VISIBLE;
    DWORD ex_style = 0;
    switch (control.Kind()) {
      case ControlKind::kButton:
        window_class = L"BUTTON";
        style |= WS_TABSTOP | BS_PUSHBUTTON;
        break;
      case ControlKind::kCheckBox:
        // Not an automatic check box: the model owns the value.
        window_class = L"BUTTON";
        style |= WS_TABSTOP | BS_CHECKBOX;
        break;
      case ControlKind::kListBox:
        window_class = L"LISTBOX";
        ex_style = WS_EX_CLIENTEDGE;
        style |= WS_TABSTOP | WS_VSCROLL | LBS_NOTIFY | LBS_NOINTEGRALHEIGHT;
        if (static_cast<const ListBox&>(control).Mode() == SelectionMode::kMultiple) {
          style |= LBS_MULTIPLESEL;  // a click toggles one entry
        }
        break;
      case ControlKind::kTextBox:
        window_class = L"EDIT";
        ex_style = WS_EX_CLIENTEDGE;
        style |= WS_TABSTOP | ES_AUTOHSCROLL;
        if (static_cast<const TextBox&>(control).MultiLine()) {
          style |= ES_MULTILINE | ES_AUTOVSCROLL | ES_WANTRETURN | WS_HSCROLL | WS_VSCROLL;
        }
        break;
      case ControlKind::kLabel:
        // Captions are file and drive names: an ampersand is no mnemonic.
        style |= SS_LEFT | SS_NOPREFIX;
        break;
      case ControlKind::kPicture:
        // Centred in the model's place rather than resized to the icon.
        style |= SS_ICON | SS_CENTERIMAGE;
        break;
      case ControlKind::kTimer:
        break;
    }
    const Geometry& place = control.Place();
    HWND child =
        ::CreateWindowExW(ex_style, window_class, L"", style, TwipsToPixels(place.left, dpi_.x),
                          TwipsToPixels(place.top, dpi_.y), TwipsToPixels(place.width, dpi_.x),
                          TwipsToPixels(place.height, dpi_.y), window_,
                          reinterpret_cast<HMENU>(static_cast<std::intptr_t>(id)),
                          ::GetModuleHandleW(nullptr), nullptr);
    if (child == nullptr) {
      throw Failure("The control " + control.Name() + " cannot be created: error " +
                    std::to_string(::GetLastError()));
    }
    if (control.Kind() == ControlKind::kTextBox) {
      ::SendMessageW(child, EM_SETLIMITTEXT, 0, 0);  // as much text as the control holds
    } else if (control.Kind() == ControlKind::kPicture) {
      ::SendMessageW(child, STM_SETICON, reinterpret_cast<WPARAM>(LoadProgramIcon(32)), 0);
      ::SetWindowPos(child, nullptr, 0, 0, TwipsToPixels(place.width, dpi_.x),
                     TwipsToPixels(place.height, dpi_.y),
                     SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    }
    return child;
  }

  /// Tab order is the order of the children's z-order: sorted by tab index, creation order
  /// among equals, controls without a tab index last.
  void SetTabOrder() {
    std::vector<const Child*> order;
    for (const Child& child : children_) {
      if (child.window != nullptr) {
        order.push_back(&child);
      }
    }
    std::stable_sort(order.begin(), order.end(), [](const Child* a, const Child* b) {
      const int ta = a->control->TabIndex();
      const int tb = b->control->TabIndex();
      if ((ta < 0) != (tb < 0)) {
        return tb < 0;
      }
      return ta < tb;
    });
    HWND previous = HWND_TOP;
    for (const Child* child : order) {
      ::SetWindowPos(child->window, previous, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
      previous = child->window;
    }
  }

  void ConnectModels() {
    const std::weak_ptr<bool> token = alive_;
    for (std::size_t i = 0; i < children_.size(); ++i) {
      Control& control = *children_[i].control;
      control.changed.Connect([this, token, i] {
        if (!token.expired()) {
          Guarded([this, i] { ShowControl(children_[i]); });
        }
      });
      if (control.Kind() == ControlKind::kListBox) {
        static_cast<ListBox&>(control).items_changed.Connect(
            [this, token, i](ListBox::Change change) {
              if (!token.expired()) {
                Guarded([this, i, change] {
                  const Child& child = children_[i];
                  if (child.window != nullptr) {
                    ShowListChange(reinterpret_cast<WindowHandle>(child.window),
                                   static_cast<const ListBox&>(*child.control), change);
                  }
                });
              }
            });
      }
    }
  }

  // ---- Model to view ----

  /// Runs a view update for a model signal. Model code must never see the view's failures (a
  /// signal may come through the message hook, a window procedure itself): they are kept and
  /// reported as the running handler's failure.
  template <typename Update>
  void Guarded(Update update) {
    try {
      update();
    } catch (...) {
      Keep(std::current_exception());
    }
  }

  void ShowControl(Child& child) {
    const Control& control = *child.control;
    if (control.Kind() == ControlKind::kTimer) {
      ShowClock(child);
      return;
    }
    if (child.window == nullptr) {
      return;
    }
    if ((::IsWindowEnabled(child.window) != FALSE) != control.Enabled()) {
      ::EnableWindow(child.window, control.Enabled() ? TRUE : FALSE);
    }
    if (control.BackColour() != child.back || control.ForeColour() != child.fore) {
      child.back = control.BackColour();
      child.fore = control.ForeColour();
      ::InvalidateRect(child.window, nullptr, TRUE);
    }
    switch (control.Kind()) {
      case ControlKind::kButton:
        ShowText(child.window, static_cast<const CommandButton&>(control).Caption());
        break;
      case ControlKind::kCheckBox: {
        const auto& check = static_cast<const CheckBox&>(control);
        ShowText(child.window, check.Caption());
        ShowCheck(child);
        break;
      }
      case ControlKind::kLabel:
        // The copy job changes the status between blocking copy calls without going back to
        // the message loop; paint now so that each caption is on screen while its item is
        // copied.
        if (ShowText(child.window, static_cast<const Label&>(control).Caption())) {
          ::UpdateWindow(child.window);
        }
        break;
      case ControlKind::kTextBox: {
        const bool was_showing = showing_model_;
        showing_model_ = true;  // the EN_CHANGE this sends is no user edit
        ShowText(child.window, static_cast<const TextBox&>(control).Text());
        showing_model_ = was_showing;
        break;
      }
      case ControlKind::kListBox:
      case ControlKind::kPicture:
      case ControlKind::kTimer:
        break;
    }
  }

  void ShowCheck(const Child& child) {
    const WPARAM state =
        static_cast<const CheckBox&>(*child.control).Value() != 0 ? BST_CHECKED : BST_UNCHECKED;
    if (static_cast<WPARAM>(::SendMessageW(child.window, BM_GETCHECK, 0, 0)) != state) {
      ::SendMessageW(child.window, BM_SETCHECK, state, 0);
    }
  }

  void ShowClock(Child& child) {
    const auto& timer = static_cast<const Timer&>(*child.control);
    const bool run = !ending_ && window_ != nullptr && timer.Enabled() && timer.Interval() > 0;
    // Enabling restarts the interval; any other change leaves a running clock alone.
    if (run && !child.clock_running) {
      child.clock_running = ::SetTimer(window_, static_cast<UINT_PTR>(child.id),
                                       static_cast<UINT>(timer.Interval()), nullptr) != 0;
    } else if (!run && child.clock_running) {
      ::KillTimer(window_, static_cast<UINT_PTR>(child.id));
      child.clock_running = false;
    }
  }

  // ---- View to model ----

  Child* ChildById(int id) {
    for (Child& child : children_) {
      if (child.id == id) {
        return &child;
      }
    }
    return nullptr;
  }

  void OnCommand(int id, int code) {
    Child* child = ChildById(id);
    if (child == nullptr || child->window == nullptr) {
      return;
    }
    Control& control = *child->control;
    switch (control.Kind()) {
      case ControlKind::kButton:
        if (code == BN_CLICKED) {
          Dispatch([&control] { static_cast<CommandButton&>(control).Press(); });
        }
        break;
      case ControlKind::kCheckBox:
        if (code == BN_CLICKED) {
          Dispatch([&control] { static_cast<CheckBox&>(control).UserClick(); });
          // The model's value is the one that counts, whatever the click did.
          if (child->window != nullptr) {
            ShowCheck(*child);
          }
        }
        break;
      case ControlKind::kListBox:
        if (code == LBN_SELCHANGE) {
          OnSelectionChange(*child);
        }
        break;
      case ControlKind::kTextBox:
        if (code == EN_CHANGE && !showing_model_) {
          Dispatch([&control, text = win32::Narrow(TextOf(child->window))] {
            static_cast<TextBox&>(control).SetText(text);
          });
        }
        break;
      case ControlKind::kLabel:
      case ControlKind::kPicture:
      case ControlKind::kTimer:
        break;
    }
  }

  void OnSelectionChange(Child& child) {
    auto& list = static_cast<ListBox&>(*child.control);
    // A multiple-selection list toggles the entry at its caret; a single-selection list
    // selects one entry.
    const UINT query = list.Mode() == SelectionMode::kMultiple ? LB_GETCARETINDEX : LB_GETCURSEL;
    const LRESULT index = ::SendMessageW(child.window, query, 0, 0);
    if (index >= 0 && index < list.ListCount()) {
      Dispatch([&list, index] { list.UserClick(static_cast<std::int16_t>(index)); });
    }
    // The model owns the selection: the list shows it, whatever the click did.
    if (child.window != nullptr) {
      ShowSelection(reinterpret_cast<WindowHandle>(child.window), list);
    }
  }

  void OnTimer(UINT_PTR id) {
    Child* child = ChildById(static_cast<int>(id));
    if (child != nullptr && child->control->Kind() == ControlKind::kTimer) {
      Dispatch([child] { static_cast<Timer&>(*child->control).tick.Emit(); });
    }
  }

  void OnClose() {
    if (!ending_ && !unloaded_) {
      unloaded_ = true;
      Dispatch([this] {
        int cancel = 0;
        form_.Form_Unload(cancel);
      });
    }
    if (window_ != nullptr) {
      ::DestroyWindow(window_);
    }
  }

  void OnActivate(bool active) {
    if (!active) {
      HWND focus = ::GetFocus();
      if (focus != nullptr && ::IsChild(window_, focus) != FALSE) {
        focus_ = focus;
      }
      return;
    }
    // Back to the control that had the focus, or the first one in tab order.
    HWND target = focus_;
    if (target == nullptr || ::IsWindow(target) == FALSE || ::IsWindowEnabled(target) == FALSE) {
      target = ::GetNextDlgTabItem(window_, nullptr, FALSE);
    }
    if (target != nullptr) {
      ::SetFocus(target);
    }
  }

  LRESULT OnControlColour(UINT message, WPARAM wparam, LPARAM lparam) {
    // The ordinary colours first; then whatever the model sets instead.
    LRESULT brush = ::DefWindowProcW(window_, message, wparam, lparam);
    const auto* child = FindChild(reinterpret_cast<HWND>(lparam));
    if (child == nullptr) {
      return brush;
    }
    auto* dc = reinterpret_cast<HDC>(wparam);
    // A picture has no background of its own: the form shows around the icon.
    const Colour back =
        child->control->Kind() == ControlKind::kPicture ? Form1::BackColour() : child->back;
    if (back.kind != Colour::Kind::kDefault) {
      ::SetBkColor(dc, ToColorRef(back));
      brush = reinterpret_cast<LRESULT>(BrushFor(back));
    }
    if (child->fore.kind != Colour::Kind::kDefault) {
      ::SetTextColor(dc, ToColorRef(child->fore));
    }
    return brush;
  }

  const Child* FindChild(HWND window) const {
    for (const Child& child : children_) {
      if (child.window == window && window != nullptr) {
        return &child;
      }
    }
    return nullptr;
  }

  HBRUSH BrushFor(const Colour& colour) {
    if (colour.kind == Colour::Kind::kSystem) {
      return ::GetSysColorBrush(colour.system_index);
    }
    const COLORREF value = ToColorRef(colour);
    auto found = brushes_.find(value);
    if (found == brushes_.end()) {
      found = brushes_.emplace(value, ::CreateSolidBrush(value)).first;
    }
    return found->second;
  }

  bool IsDialogMessageFor(MSG& message) {
    // Tab and the arrow keys move between the controls as in a dialog.
    if (window_ != nullptr && ::IsDialogMessageW(window_, &message) != FALSE) {
      return true;
    }
    HWND notes = NotesWindowHandle();
    return notes != nullptr && ::IsDialogMessageW(notes, &message) != FALSE;
  }

  // ---- Failures and the end ----

  void Keep(std::exception_ptr error) {
    if (!pending_) {
      pending_ = std::move(error);
    }
  }

  void TakePending() {
    win32::Win32WindowHooks::RethrowPending();
    if (pending_) {
      std::rethrow_exception(std::exchange(pending_, nullptr));
    }
  }

  void StopHandlers() {
    ending_ = true;
    for (Child& child : children_) {
      if (child.control->Kind() == ControlKind::kTimer) {
        ShowClock(child);
      }
    }
  }

  void EndProgram() {
    StopHandlers();
    exit_code_ = 1;
    notes_.Discard();
    if (window_ != nullptr) {
      ::DestroyWindow(window_);  // WM_DESTROY posts the quit with the exit code
    } else {
      ::PostQuitMessage(exit_code_);
    }
  }

  LRESULT Handle(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    switch (message) {
      case WM_COMMAND:
        if (lparam != 0) {
          OnCommand(LOWORD(wparam), HIWORD(wparam));
          return 0;
        }
        break;
      case WM_TIMER:
        OnTimer(wparam);
        return 0;
      case WM_CTLCOLORSTATIC:
      case WM_CTLCOLOREDIT:
      case WM_CTLCOLORLISTBOX:
      case WM_CTLCOLORBTN:
        return OnControlColour(message, wparam, lparam);
      case WM_ACTIVATE:
        OnActivate(LOWORD(wparam) != WA_INACTIVE);
        return 0;
      case WM_CLOSE:
        OnClose();
        return 0;
      case WM_DESTROY:
        for (Child& child : children_) {
          if (child.clock_running) {
            ::KillTimer(window, static_cast<UINT_PTR>(child.id));
            child.clock_running = false;
          }
        }
        notes_.Discard();
        if (!releasing_) {
          ::PostQuitMessage(exit_code_);
        }
        return 0;
      case WM_NCDESTROY:
        window_ = nullptr;
        focus_ = nullptr;
        for (Child& child : children_) {
          child.window = nullptr;
        }
        break;
      default:
        break;
    }
    return ::DefWindowProcW(window, message, wparam, lparam);
  }

  static LRESULT CALLBACK Procedure(HWND window, UINT message, WPARAM wparam,
                                    LPARAM lparam) noexcept {
    if (message == WM_NCCREATE) {
      const auto* create = reinterpret_cast<const CREATESTRUCTW*>(lparam);
      auto* self = static_cast<Impl*>(create->lpCreateParams);
      self->window_ = window;
      ::SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
    }
    auto* self = reinterpret_cast<Impl*>(::GetWindowLongPtrW(window, GWLP_USERDATA));
    if (self == nullptr) {
      return ::DefWindowProcW(window, message, wparam, lparam);
    }
    if (message == WM_NCDESTROY) {
      ::SetWindowLongPtrW(window, GWLP_USERDATA, 0);
    }
    // Nothing may unwind through the window system: the message loop reports what is kept.
    try {
      return self->Handle(window, message, wparam, lparam);
    } catch (...) {
      self->Keep(std::current_exception());
      return 0;
    }
  }

  Form1& form_;
  MessageBoxes& boxes_;
  ScreenDpi dpi_;
  HWND window_ = nullptr;
  HWND focus_ = nullptr;
  std::vector<Child> children_;
  std::map<COLORREF, HBRUSH> brushes_;
  /// Shown by the children, so deleted only after them.
  std::unique_ptr<CaptionFont> font_;
  NotesWindow notes_;
  bool ending_ = false;
  bool unloaded_ = false;
  bool releasing_ = false;
  /// Set while a model text is copied into an edit control, so that its change notification
  /// is not taken for user input.
  bool showing_model_ = false;
  int exit_code_ = 0;
  std::exception_ptr pending_;
  /// Model signals cannot be disconnected: the slots hold a weak reference to this token and
  /// do nothing once the window is gone.
  std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

MainWindow::MainWindow(Form1& form, MessageBoxes& boxes)
    : impl_(std::make_unique<Impl>(form, boxes)) {}

MainWindow::~MainWindow() = default;

WindowHandle MainWindow::Handle() const {
  return reinterpret_cast<WindowHandle>(impl_->Window());
}

WindowHandle MainWindow::ChildOf(const Control& control) const {
  return reinterpret_cast<WindowHandle>(impl_->ChildOf(control));
}

WindowHandle MainWindow::NotesHandle() const {
  return reinterpret_cast<WindowHandle>(impl_->NotesWindowHandle());
}

bool MainWindow::TimerRunning() const {
  return impl_->TimerRunning();
}

void MainWindow::Show(int show_command) {
  impl_->Show(show_command);
}

bool MainWindow::Dispatch(const std::function<void()>& handler) {
  return impl_->Dispatch(handler);
}

bool MainWindow::Ending() const {
  return impl_->Ending();
}

void MainWindow::ReportPendingFailure() {
  impl_->ReportPendingFailure();
}

int MainWindow::Run() {
  return impl_->Run();
}

}  // namespace salvatrix::win32ui
