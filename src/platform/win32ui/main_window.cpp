#include "platform/win32ui/main_window.h"

#include <algorithm>
#include <utility>

#include "app/form1.h"
#include "platform/win32/win32_platform.h"
#include "platform/win32ui/main_window_impl.h"

namespace salvatrix::win32ui {

COLORREF ToColorRef(const Colour& colour) {
  if (colour.kind == Colour::Kind::kSystem) {
    return ::GetSysColor(colour.system_index);
  }
  return RGB(colour.red, colour.green, colour.blue);
}

std::wstring ShownText(HWND window) {
  std::wstring text(static_cast<std::size_t>(::GetWindowTextLengthW(window)) + 1, L'\0');
  const int length = ::GetWindowTextW(window, text.data(), static_cast<int>(text.size()));
  text.resize(static_cast<std::size_t>(std::max(length, 0)));
  return text;
}

MainWindow::Impl::Impl(Form1& form, MessageBoxes& boxes)
    : form_(form),
      driver_(form, boxes, *this),
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

MainWindow::Impl::~Impl() {
  Release();
}

void MainWindow::Impl::Release() {
  connections_.clear();
  driver_.Stop();
  releasing_ = true;
  notes_.Discard();
  tips_.reset();
  if (window_ != nullptr) {
    ::DestroyWindow(window_);
  }
  for (const auto& [colour, brush] : brushes_) {
    ::DeleteObject(brush);
  }
  brushes_.clear();
}

HWND MainWindow::Impl::ChildOf(const Control& control) const {
  for (const Child& child : children_) {
    if (child.control == &control) {
      return child.window;
    }
  }
  return nullptr;
}

bool MainWindow::Impl::TimerRunning() const {
  return std::any_of(children_.begin(), children_.end(),
                     [](const Child& child) { return child.clock_running; });
}

void MainWindow::Impl::Show(int show_command) {
  if (window_ != nullptr) {
    ::ShowWindow(window_, show_command);
    ::UpdateWindow(window_);
  }
}

void MainWindow::Impl::ReportPendingFailure() {
  try {
    win32::Win32WindowHooks::RethrowPending();
  } catch (...) {
    Keep(std::current_exception());
  }
  if (pending_ && !driver_.Ending()) {
    Dispatch([] {});
  }
}

int MainWindow::Impl::Run() {
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

void MainWindow::Impl::Keep(std::exception_ptr error) {
  if (!pending_) {
    pending_ = std::move(error);
  }
}

void MainWindow::Impl::RethrowKept() {
  win32::Win32WindowHooks::RethrowPending();
  if (pending_) {
    std::rethrow_exception(std::exchange(pending_, nullptr));
  }
}

void MainWindow::Impl::StopClocks() {
  for (Child& child : children_) {
    if (child.control->Kind() == ControlKind::kTimer) {
      ShowClock(child);
    }
  }
}

void MainWindow::Impl::EndProgram() {
  exit_code_ = 1;
  notes_.Discard();
  if (window_ != nullptr) {
    ::DestroyWindow(window_);  // WM_DESTROY posts the quit with the exit code
  } else {
    ::PostQuitMessage(exit_code_);
  }
}

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
