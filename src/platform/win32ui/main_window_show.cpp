#include <string_view>

#include "app/form1.h"
#include "platform/win32/win32_platform.h"
#include "platform/win32ui/main_window_impl.h"

namespace salvatrix::win32ui {
namespace {

/// Sets a window's text unless it shows that text already: an equal text set again would move
/// the caret, notify a change and repaint for nothing. Returns whether it set the text.
bool ShowText(HWND window, std::string_view text) {
  const std::wstring wanted = win32::Widen(text);
  if (ShownText(window) == wanted) {
    return false;
  }
  ::SetWindowTextW(window, wanted.c_str());
  return true;
}

}  // namespace

void MainWindow::Impl::Guarded(const std::function<void()>& update) {
  try {
    update();
  } catch (...) {
    Keep(std::current_exception());
  }
}

void MainWindow::Impl::ShowControl(Child& child) {
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

void MainWindow::Impl::ShowCheck(const Child& child) {
  const WPARAM state =
      static_cast<const CheckBox&>(*child.control).Value() != 0 ? BST_CHECKED : BST_UNCHECKED;
  if (static_cast<WPARAM>(::SendMessageW(child.window, BM_GETCHECK, 0, 0)) != state) {
    ::SendMessageW(child.window, BM_SETCHECK, state, 0);
  }
}

void MainWindow::Impl::ShowClock(Child& child) {
  const auto& timer = static_cast<const Timer&>(*child.control);
  const bool run = window_ != nullptr && driver_.ClockRuns(timer);
  // Enabling restarts the interval; any other change leaves a running clock alone.
  if (run && !child.clock_running) {
    child.clock_running = ::SetTimer(window_, static_cast<UINT_PTR>(child.id),
                                     static_cast<UINT>(timer.Interval()), nullptr) != 0;
  } else if (!run && child.clock_running) {
    ::KillTimer(window_, static_cast<UINT_PTR>(child.id));
    child.clock_running = false;
  }
}

LRESULT MainWindow::Impl::OnControlColour(UINT message, WPARAM wparam, LPARAM lparam) {
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

const Child* MainWindow::Impl::FindChild(HWND window) const {
  for (const Child& child : children_) {
    if (child.window == window && window != nullptr) {
      return &child;
    }
  }
  return nullptr;
}

HBRUSH MainWindow::Impl::BrushFor(const Colour& colour) {
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

}  // namespace salvatrix::win32ui
