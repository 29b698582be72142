#include "platform/win32ui/drive_tips.h"

#include <windows.h>
// windows.h first: commctrl.h needs its types.
#include <commctrl.h>

#include <map>
#include <string>

#include "platform/failure.h"
#include "platform/win32/win32_platform.h"

namespace salvatrix::win32ui {
namespace {

constexpr UINT_PTR kSubclassId = 1;

HWND ToHwnd(WindowHandle window) {
  return reinterpret_cast<HWND>(window);
}

/// The entry of a list box under the mouse, or -1.
int RowUnderMouse(HWND list) {
  POINT at{};
  if (::GetCursorPos(&at) == FALSE || ::ScreenToClient(list, &at) == FALSE) {
    return -1;
  }
  const LRESULT hit = ::SendMessageW(list, LB_ITEMFROMPOINT, 0, MAKELPARAM(at.x, at.y));
  // The high word says the point lies outside the entries.
  return HIWORD(hit) != 0 ? -1 : static_cast<int>(LOWORD(hit));
}

}  // namespace

class DriveTips::Impl {
 public:
  explicit Impl(HWND owner) : owner_(owner) {
    INITCOMMONCONTROLSEX classes{sizeof classes, ICC_WIN95_CLASSES};
    ::InitCommonControlsEx(&classes);
    tooltip_ = ::CreateWindowExW(WS_EX_TOPMOST, TOOLTIPS_CLASSW, nullptr,
                                 WS_POPUP | TTS_ALWAYSTIP | TTS_NOPREFIX, CW_USEDEFAULT,
                                 CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, owner, nullptr,
                                 ::GetModuleHandleW(nullptr), nullptr);
    if (tooltip_ == nullptr) {
      throw Failure("The drive tooltip cannot be created: error " +
                    std::to_string(::GetLastError()));
    }
  }

  ~Impl() {
    for (const auto& [list, row] : rows_) {
      ::RemoveWindowSubclass(list, &Impl::ListProcedure, kSubclassId);
    }
    ::DestroyWindow(tooltip_);
  }

  Impl(const Impl&) = delete;
  Impl& operator=(const Impl&) = delete;

  void Add(HWND list) {
    TTTOOLINFOW tool{};
    tool.cbSize = sizeof tool;
    // The tooltip watches the list's mouse itself and asks the owner for each text.
    tool.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
    tool.hwnd = owner_;
    tool.uId = reinterpret_cast<UINT_PTR>(list);
    tool.lpszText = LPSTR_TEXTCALLBACKW;
    ::SendMessageW(tooltip_, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&tool));
    rows_[list] = -1;
    ::SetWindowSubclass(list, &Impl::ListProcedure, kSubclassId, reinterpret_cast<DWORD_PTR>(this));
  }

  bool Answer(LPARAM lparam, const TipFor& tip) {
    auto* request = reinterpret_cast<NMTTDISPINFOW*>(lparam);
    if (request->hdr.hwndFrom != tooltip_ || request->hdr.code != TTN_GETDISPINFOW) {
      return false;
    }
    const auto list = reinterpret_cast<HWND>(request->hdr.idFrom);
    const int row = RowUnderMouse(list);
    rows_[list] = row;
    text_ = win32::Widen(tip(row));
    request->lpszText = text_.data();
    request->hinst = nullptr;
    return true;
  }

 private:
  /// A tooltip keeps its text while the mouse stays over its tool, and a whole list is one
  /// tool: moving to another entry takes the tip down, so that the next one asks anew.
  static LRESULT CALLBACK ListProcedure(HWND list, UINT message, WPARAM wparam, LPARAM lparam,
                                        UINT_PTR id, DWORD_PTR data) {
    static_cast<void>(id);
    if (message == WM_MOUSEMOVE) {
      auto* self = reinterpret_cast<Impl*>(data);
      const auto found = self->rows_.find(list);
      if (found != self->rows_.end() && found->second != RowUnderMouse(list)) {
        found->second = RowUnderMouse(list);
        ::SendMessageW(self->tooltip_, TTM_POP, 0, 0);
      }
    }
    return ::DefSubclassProc(list, message, wparam, lparam);
  }

  HWND owner_;
  HWND tooltip_ = nullptr;
  /// The row each list's tip was last asked for.
  std::map<HWND, int> rows_;
  /// The text the tooltip shows; it reads it after Answer has returned.
  std::wstring text_;
};

DriveTips::DriveTips(WindowHandle owner) : impl_(std::make_unique<Impl>(ToHwnd(owner))) {}

DriveTips::~DriveTips() = default;

void DriveTips::Add(WindowHandle list) {
  impl_->Add(ToHwnd(list));
}

bool DriveTips::Answer(std::intptr_t lparam, const TipFor& tip) {
  return impl_->Answer(static_cast<LPARAM>(lparam), tip);
}

}  // namespace salvatrix::win32ui
