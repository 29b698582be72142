#pragma once

// The main window's insides, in four files: main_window.cpp (life and the message loop),
// main_window_create.cpp (the window and its children), main_window_show.cpp (models to
// children) and main_window_input.cpp (messages to the driver).

#include <windows.h>

#include <exception>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "app/window_driver.h"
#include "controls/controls.h"
#include "platform/win32ui/caption_font.h"
#include "platform/win32ui/drive_tips.h"
#include "platform/win32ui/main_window.h"
#include "platform/win32ui/notes_window.h"
#include "platform/win32ui/view_metrics.h"

namespace salvatrix {
class Form1;
}  // namespace salvatrix

namespace salvatrix::win32ui {

/// One control of the form and the child window (or clock) that shows it.
struct Child {
  Control* control = nullptr;
  int id = 0;
  HWND window = nullptr;
  Colour back;
  Colour fore;
  bool clock_running = false;
};

COLORREF ToColorRef(const Colour& colour);
std::wstring ShownText(HWND window);

class MainWindow::Impl final : private WindowDriver::Host {
 public:
  Impl(Form1& form, MessageBoxes& boxes);
  ~Impl();
  Impl(const Impl&) = delete;
  Impl& operator=(const Impl&) = delete;

  HWND Window() const { return window_; }
  HWND NotesWindowHandle() const { return reinterpret_cast<HWND>(notes_.Handle()); }
  bool Ending() const { return driver_.Ending(); }
  HWND ChildOf(const Control& control) const;
  bool TimerRunning() const;
  void Show(int show_command);
  bool Dispatch(const std::function<void()>& handler) { return driver_.Run(handler); }
  void ReportPendingFailure();
  int Run();

  // For the window procedure.
  LRESULT Handle(HWND window, UINT message, WPARAM wparam, LPARAM lparam);
  /// Keeps a failure that may not unwind through the window system, to be reported as the
  /// running handler's.
  void Keep(std::exception_ptr error);

 private:
  // main_window.cpp
  /// Destroys the windows without running handlers and without ending the message loop: no
  /// loop runs while this object goes away.
  void Release();
  void RethrowKept() override;
  void StopClocks() override;
  void EndProgram() override;

  // main_window_create.cpp
  void CreateMainWindow();
  void CreateControls();
  HWND CreateChildWindow(const Control& control, int id);
  /// Every child at its twips at dpi_; the font chosen anew for dpi_ and the captions' rooms.
  void PlaceChildren();
  void ChooseFont();
  /// The window moved to a monitor of another DPI (or that monitor's scale changed).
  void OnDpiChanged(const DpiChange& change);
  void SetTabOrder();
  void ConnectModels();

  // main_window_show.cpp
  /// Runs a view update for a model signal. Model code must never see the view's failures (a
  /// signal may come through the message hook, a window procedure itself): they are kept and
  /// reported as the running handler's failure.
  void Guarded(const std::function<void()>& update);
  void ShowControl(Child& child);
  void ShowCheck(const Child& child);
  void ShowClock(Child& child);
  LRESULT OnControlColour(UINT message, WPARAM wparam, LPARAM lparam);
  const Child* FindChild(HWND window) const;
  HBRUSH BrushFor(const Colour& colour);

  // main_window_input.cpp
  Child* ChildById(int id);
  void OnCommand(int id, int code);
  void OnSelectionChange(Child& child);
  void OnTimer(UINT_PTR id);
  void OnClose();
  void OnActivate(bool active);
  void OnDestroy();
  bool IsDialogMessageFor(MSG& message);

  Form1& form_;
  WindowDriver driver_;
  ScreenDpi dpi_;
  HWND window_ = nullptr;
  HWND focus_ = nullptr;
  std::vector<Child> children_;
  std::map<COLORREF, HBRUSH> brushes_;
  /// Shown by the children, so deleted only after them.
  std::unique_ptr<CaptionFont> font_;
  NotesWindow notes_;
  std::unique_ptr<DriveTips> tips_;
  bool releasing_ = false;
  /// Set while a model text is copied into an edit control, so that its change notification
  /// is not taken for user input.
  bool showing_model_ = false;
  int exit_code_ = 0;
  std::exception_ptr pending_;
  /// Last, so that the models stop calling in before anything they call goes.
  std::vector<Connection> connections_;
};

}  // namespace salvatrix::win32ui
