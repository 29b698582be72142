#include "platform/win32ui/window_class.h"

#include <string>

#include "platform/failure.h"
#include "platform/win32ui/view_metrics.h"

namespace salvatrix::win32ui {

HICON LoadProgramIcon(int size) {
  return static_cast<HICON>(::LoadImageW(::GetModuleHandleW(nullptr),
                                         MAKEINTRESOURCEW(kProgramIconId), IMAGE_ICON, size, size,
                                         LR_DEFAULTCOLOR | LR_SHARED));
}

void RegisterWindowClass(const wchar_t* name, WNDPROC procedure, HBRUSH background,
                         const char* what) {
  const HINSTANCE instance = ::GetModuleHandleW(nullptr);
  WNDCLASSEXW window_class{};
  window_class.cbSize = sizeof window_class;
  if (::GetClassInfoExW(instance, name, &window_class) != FALSE) {
    return;
  }
  window_class = WNDCLASSEXW{};
  window_class.cbSize = sizeof window_class;
  window_class.lpfnWndProc = procedure;
  window_class.hInstance = instance;
  window_class.hCursor = ::LoadCursorA(nullptr, IDC_ARROW);
  window_class.hbrBackground = background;
  window_class.lpszClassName = name;
  window_class.hIcon = LoadProgramIcon(::GetSystemMetrics(SM_CXICON));
  window_class.hIconSm = LoadProgramIcon(::GetSystemMetrics(SM_CXSMICON));
  if (::RegisterClassExW(&window_class) == 0) {
    throw Failure(std::string("The ") + what + " cannot be registered");
  }
}

}  // namespace salvatrix::win32ui
