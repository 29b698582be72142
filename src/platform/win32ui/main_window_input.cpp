#include "platform/win32/win32_platform.h"
#include "platform/win32ui/drive_descriptions.h"
#include "platform/win32ui/list_box_view.h"
#include "platform/win32ui/main_window_impl.h"

namespace salvatrix::win32ui {

Child* MainWindow::Impl::ChildById(int id) {
  for (Child& child : children_) {
    if (child.id == id) {
      return &child;
    }
  }
  return nullptr;
}

void MainWindow::Impl::OnCommand(int id, int code) {
  Child* child = ChildById(id);
  if (child == nullptr || child->window == nullptr) {
    return;
  }
  Control& control = *child->control;
  switch (control.Kind()) {
    case ControlKind::kButton:
      if (code == BN_CLICKED) {
        driver_.Press(static_cast<CommandButton&>(control));
      }
      break;
    case ControlKind::kCheckBox:
      if (code == BN_CLICKED) {
        driver_.Click(static_cast<CheckBox&>(control));
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
        driver_.Edit(static_cast<TextBox&>(control), win32::Narrow(ShownText(child->window)));
      }
      break;
    case ControlKind::kLabel:
    case ControlKind::kPicture:
    case ControlKind::kTimer:
      break;
  }
}

void MainWindow::Impl::OnSelectionChange(Child& child) {
  auto& list = static_cast<ListBox&>(*child.control);
  // A multiple-selection list toggles the entry at its caret; a single-selection list
  // selects one entry.
  const UINT query = list.Mode() == SelectionMode::kMultiple ? LB_GETCARETINDEX : LB_GETCURSEL;
  driver_.ClickItem(list, static_cast<int>(::SendMessageW(child.window, query, 0, 0)));
  // The model owns the selection: the list shows it, whatever the click did.
  if (child.window != nullptr) {
    ShowSelection(reinterpret_cast<WindowHandle>(child.window), list);
  }
}

void MainWindow::Impl::OnTimer(UINT_PTR id) {
  Child* child = ChildById(static_cast<int>(id));
  if (child != nullptr && child->control->Kind() == ControlKind::kTimer) {
    driver_.Tick(static_cast<Timer&>(*child->control));
  }
}

void MainWindow::Impl::OnClose() {
  driver_.Close();
  if (window_ != nullptr) {
    ::DestroyWindow(window_);
  }
}

void MainWindow::Impl::OnActivate(bool active) {
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

void MainWindow::Impl::OnDestroy() {
  for (Child& child : children_) {
    if (child.clock_running) {
      ::KillTimer(window_, static_cast<UINT_PTR>(child.id));
      child.clock_running = false;
    }
  }
  notes_.Discard();
  tips_.reset();
  if (!releasing_) {
    ::PostQuitMessage(exit_code_);
  }
}

bool MainWindow::Impl::IsDialogMessageFor(MSG& message) {
  // Tab and the arrow keys move between the controls as in a dialog.
  if (window_ != nullptr && ::IsDialogMessageW(window_, &message) != FALSE) {
    return true;
  }
  HWND notes = NotesWindowHandle();
  return notes != nullptr && ::IsDialogMessageW(notes, &message) != FALSE;
}

LRESULT MainWindow::Impl::Handle(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  switch (message) {
    case WM_NCCREATE:
      window_ = window;
      break;
    case WM_COMMAND:
      if (lparam != 0) {
        OnCommand(LOWORD(wparam), HIWORD(wparam));
        return 0;
      }
      break;
    case WM_NOTIFY:
      if (tips_ != nullptr) {
        const ListBox* list = nullptr;
        const auto* header = reinterpret_cast<const NMHDR*>(lparam);
        if (const Child* child = FindChild(reinterpret_cast<HWND>(header->idFrom))) {
          list = child->control->Kind() == ControlKind::kListBox
                     ? static_cast<const ListBox*>(child->control)
                     : nullptr;
        }
        if (list != nullptr &&
            tips_->Answer(lparam, [this, list](int row) { return driver_.ItemTip(*list, row); })) {
          return 0;
        }
      }
      break;
    case WM_TIMER:
      OnTimer(wparam);
      return 0;
    case WM_MOUSEMOVE:
      if (tips_ != nullptr) {
        tips_->OwnerMouseMove();
      }
      break;
    case DriveDescriptions::kDescriptionReady:
      if (tips_ != nullptr) {
        tips_->Refresh();
      }
      return 0;
    case kWmDpiChanged:
      OnDpiChanged(ReadDpiChange(wparam, lparam));
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
      OnDestroy();
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

}  // namespace salvatrix::win32ui
