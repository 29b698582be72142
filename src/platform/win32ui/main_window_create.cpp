#include <cstdint>
#include <string>

#include "app/form1.h"
#include "platform/win32/win32_platform.h"
#include "platform/win32ui/list_box_view.h"
#include "platform/win32ui/main_window_impl.h"
#include "platform/win32ui/window_class.h"

namespace salvatrix::win32ui {
namespace {

constexpr const wchar_t* kClassName = L"SalvatrixMainWindow";
constexpr DWORD kStyle = WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN;

HBRUSH FormBrush() {
  const Colour back = Form1::BackColour();
  if (back.kind == Colour::Kind::kSystem) {
    return ::GetSysColorBrush(back.system_index);
  }
  // Lives as long as the window class.
  static const HBRUSH brush = ::CreateSolidBrush(ToColorRef(back));
  return brush;
}

struct ChildStyle {
  const wchar_t* window_class = L"STATIC";
  DWORD style = WS_CHILD | WS_VISIBLE;
  DWORD ex_style = 0;
};

ChildStyle StyleFor(const Control& control) {
  ChildStyle child;
  switch (control.Kind()) {
    case ControlKind::kButton:
      child.window_class = L"BUTTON";
      child.style |= WS_TABSTOP | BS_PUSHBUTTON;
      break;
    case ControlKind::kCheckBox:
      // Not an automatic check box: the model owns the value.
      child.window_class = L"BUTTON";
      child.style |= WS_TABSTOP | BS_CHECKBOX;
      break;
    case ControlKind::kListBox:
      child.window_class = L"LISTBOX";
      child.ex_style = WS_EX_CLIENTEDGE;
      child.style |= WS_TABSTOP | WS_VSCROLL | LBS_NOTIFY | LBS_NOINTEGRALHEIGHT;
      if (static_cast<const ListBox&>(control).Mode() == SelectionMode::kMultiple) {
        child.style |= LBS_MULTIPLESEL;  // a click toggles one entry
      }
      break;
    case ControlKind::kTextBox:
      child.window_class = L"EDIT";
      child.ex_style = WS_EX_CLIENTEDGE;
      child.style |= WS_TABSTOP | ES_AUTOHSCROLL;
      if (static_cast<const TextBox&>(control).MultiLine()) {
        child.style |= ES_MULTILINE | ES_AUTOVSCROLL | ES_WANTRETURN | WS_HSCROLL | WS_VSCROLL;
      }
      break;
    case ControlKind::kLabel:
      // Captions are file and drive names: an ampersand is no mnemonic.
      child.style |= SS_LEFT | SS_NOPREFIX;
      break;
    case ControlKind::kPicture:
      // Centred in the model's place rather than resized to the icon.
      child.style |= SS_ICON | SS_CENTERIMAGE;
      break;
    case ControlKind::kTimer:
      break;
  }
  return child;
}

}  // namespace

void MainWindow::Impl::CreateMainWindow() {
  RegisterWindowClass(kClassName, &OwnedProcedure<Impl>, FormBrush(), "main window");
  const FrameSize frame =
      FrameForClient(TwipsToPixels(Form1::kClientWidth, dpi_.x),
                     TwipsToPixels(Form1::kClientHeight, dpi_.y), kStyle, 0, dpi_);
  const std::wstring caption = win32::Widen(Form1::kCaption);
  // WM_NCCREATE keeps the window's handle in window_.
  ::CreateWindowExW(0, kClassName, caption.c_str(), kStyle, CW_USEDEFAULT, CW_USEDEFAULT,
                    frame.width, frame.height, nullptr, nullptr, ::GetModuleHandleW(nullptr), this);
  if (window_ == nullptr) {
    throw Failure("The main window cannot be created: error " + std::to_string(::GetLastError()));
  }
  // The system places the window where it likes, and that monitor may have a DPI of its own.
  const ScreenDpi placed = WindowDpi(reinterpret_cast<WindowHandle>(window_));
  if (placed != dpi_) {
    dpi_ = placed;
    const FrameSize resized =
        FrameForClient(TwipsToPixels(Form1::kClientWidth, dpi_.x),
                       TwipsToPixels(Form1::kClientHeight, dpi_.y), kStyle, 0, dpi_);
    ::SetWindowPos(window_, nullptr, 0, 0, resized.width, resized.height,
                   SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
  }
}

void MainWindow::Impl::OnDpiChanged(const DpiChange& change) {
  dpi_ = change.dpi;
  // The system's proposal keeps the window where the user dragged it, at the new size.
  ::SetWindowPos(window_, nullptr, change.left, change.top, change.width, change.height,
                 SWP_NOZORDER | SWP_NOACTIVATE);
  PlaceChildren();
  ChooseFont();
  ::InvalidateRect(window_, nullptr, TRUE);
}

void MainWindow::Impl::PlaceChildren() {
  for (const Child& child : children_) {
    if (child.window != nullptr) {
      const Geometry& place = child.control->Place();
      ::SetWindowPos(child.window, nullptr, TwipsToPixels(place.left, dpi_.x),
                     TwipsToPixels(place.top, dpi_.y), TwipsToPixels(place.width, dpi_.x),
                     TwipsToPixels(place.height, dpi_.y), SWP_NOZORDER | SWP_NOACTIVATE);
    }
  }
}

void MainWindow::Impl::ChooseFont() {
  // Chosen once the captions are in place: a caption set later (a status, say) is whatever
  // length it is. The old font goes only once no child shows it any more.
  auto font =
      std::make_unique<CaptionFont>(FormFace(), kFormFontPoints, dpi_.y,
                                    CaptionRooms(reinterpret_cast<WindowHandle>(window_)), dpi_.x);
  for (const Child& child : children_) {
    if (child.window != nullptr && font->Handle() != 0) {
      ::SendMessageW(child.window, WM_SETFONT, static_cast<WPARAM>(font->Handle()), TRUE);
    }
  }
  font_ = std::move(font);
}

void MainWindow::Impl::CreateControls() {
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
  tips_ = std::make_unique<DriveTips>(reinterpret_cast<WindowHandle>(window_));
  for (Child& child : children_) {
    ShowControl(child);
    if (child.control->Kind() == ControlKind::kListBox && child.window != nullptr) {
      const auto& list = static_cast<const ListBox&>(*child.control);
      ShowWholeList(reinterpret_cast<WindowHandle>(child.window), list);
      if (driver_.ShowsDriveTips(list) &&
          !tips_->Add(reinterpret_cast<WindowHandle>(child.window))) {
        // The list works without its tips; whoever looks into a missing tip finds why.
        const std::wstring why =
            L"salvatrix: the tooltip refused the drive list " + win32::Widen(list.Name()) + L"\n";
        ::OutputDebugStringW(why.c_str());
      }
    }
  }
  ChooseFont();
}

HWND MainWindow::Impl::CreateChildWindow(const Control& control, int id) {
  const ChildStyle kind = StyleFor(control);
  const Geometry& place = control.Place();
  HWND child =
      ::CreateWindowExW(kind.ex_style, kind.window_class, L"", kind.style,
                        TwipsToPixels(place.left, dpi_.x), TwipsToPixels(place.top, dpi_.y),
                        TwipsToPixels(place.width, dpi_.x), TwipsToPixels(place.height, dpi_.y),
                        window_, reinterpret_cast<HMENU>(static_cast<std::intptr_t>(id)),
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
                   TwipsToPixels(place.height, dpi_.y), SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
  }
  return child;
}

void MainWindow::Impl::SetTabOrder() {
  // The tab order of a dialog's children is their z-order.
  HWND previous = HWND_TOP;
  for (const Control* control : driver_.TabOrder()) {
    if (HWND child = ChildOf(*control)) {
      ::SetWindowPos(child, previous, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
      previous = child;
    }
  }
}

void MainWindow::Impl::ConnectModels() {
  for (std::size_t i = 0; i < children_.size(); ++i) {
    Control& control = *children_[i].control;
    connections_.push_back(control.changed.ConnectScoped(
        [this, i] { Guarded([this, i] { ShowControl(children_[i]); }); }));
    if (control.Kind() == ControlKind::kListBox) {
      connections_.push_back(static_cast<ListBox&>(control).items_changed.ConnectScoped(
          [this, i](ListBox::Change change) {
            Guarded([this, i, change] {
              const Child& child = children_[i];
              if (child.window != nullptr) {
                ShowListChange(reinterpret_cast<WindowHandle>(child.window),
                               static_cast<const ListBox&>(*child.control), change);
              }
            });
          }));
    }
  }
}

}  // namespace salvatrix::win32ui
