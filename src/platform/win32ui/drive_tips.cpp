#include "platform/win32ui/drive_tips.h"

#include <windows.h>
// windows.h first: commctrl.h needs its types.
#include <commctrl.h>
#include <shlwapi.h>

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

using DllGetVersionCall = HRESULT(CALLBACK*)(DLLVERSIONINFO*);

/// The TTTOOLINFOW size the loaded common controls take. Version 6 (what the manifest asks for)
/// knows the whole structure; version 5 refuses TTM_ADDTOOLW with any size past lParam (wine's
/// comctl32 tooltips test, test_TTM_ADDTOOL, runs that on Windows). Nothing here needs the
/// later field.
UINT ToolInfoSize() {
  DWORD major = 5;
  if (HMODULE controls = ::GetModuleHandleW(L"comctl32.dll")) {
    const auto get_version = reinterpret_cast<DllGetVersionCall>(
        reinterpret_cast<void*>(::GetProcAddress(controls, "DllGetVersion")));
    DLLVERSIONINFO version{};
    version.cbSize = sizeof version;
    if (get_version != nullptr && SUCCEEDED(get_version(&version))) {
      major = version.dwMajorVersion;
    }
  }
  return major >= 6 ? sizeof(TTTOOLINFOW) : TTTOOLINFOW_V2_SIZE;
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
    ::SetWindowSubclass(tooltip_, &Impl::TooltipProcedure, kSubclassId,
                        reinterpret_cast<DWORD_PTR>(this));
  }

  ~Impl() {
    for (const auto& [list, row] : rows_) {
      ::RemoveWindowSubclass(list, &Impl::ListProcedure, kSubclassId);
    }
    ::RemoveWindowSubclass(tooltip_, &Impl::TooltipProcedure, kSubclassId);
    ::DestroyWindow(tooltip_);
  }

  Impl(const Impl&) = delete;
  Impl& operator=(const Impl&) = delete;

  bool Add(HWND list) {
    TTTOOLINFOW tool{};
    tool.cbSize = ToolInfoSize();
    // The tooltip watches the list's mouse itself and asks the owner for each text.
    tool.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
    tool.hwnd = owner_;
    tool.uId = reinterpret_cast<UINT_PTR>(list);
    tool.lpszText = LPSTR_TEXTCALLBACKW;
    if (::SendMessageW(tooltip_, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&tool)) == FALSE) {
      return false;
    }
    rows_[list] = -1;
    ::SetWindowSubclass(list, &Impl::ListProcedure, kSubclassId, reinterpret_cast<DWORD_PTR>(this));
    return true;
  }

  /// A disabled window takes no mouse input: its parent gets the moves, and here they reach
  /// the tooltip as the list's own.
  void OwnerMouseMove() {
    POINT at{};
    ::GetCursorPos(&at);
    HWND list = ListAt(at);
    HWND over = list != nullptr && ::IsWindowEnabled(list) == FALSE ? list : owner_;
    if (over == list) {
      const auto found = rows_.find(list);
      if (found->second != RowUnderMouse(list)) {
        found->second = RowUnderMouse(list);
        Rearm(list);
        return;
      }
    }
    Relay(over, at);
  }

  void Refresh() {
    if (asked_ == nullptr || ::IsWindow(asked_) == FALSE) {
      return;
    }
    const auto found = rows_.find(asked_);
    if (found != rows_.end() && found->second >= 0 && found->second == RowUnderMouse(asked_)) {
      Rearm(asked_);
    }
  }

  bool Answer(LPARAM lparam, const TipFor& tip) {
    auto* request = reinterpret_cast<NMTTDISPINFOW*>(lparam);
    if (request->hdr.hwndFrom != tooltip_ || request->hdr.code != TTN_GETDISPINFOW) {
      return false;
    }
    const auto list = reinterpret_cast<HWND>(request->hdr.idFrom);
    const int row = RowUnderMouse(list);
    rows_[list] = row;
    asked_ = list;
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
        self->Rearm(list);
      }
    }
    return ::DefSubclassProc(list, message, wparam, lparam);
  }

  /// Takes the tip down and has the tooltip start over for list, as if the mouse had just come
  /// onto it: a tooltip starts its wait for a tool only when the mouse enters one, so a move
  /// over the owner (no tool) comes first.
  void Rearm(HWND list) {
    ::SendMessageW(tooltip_, TTM_POP, 0, 0);
    POINT at{};
    ::GetCursorPos(&at);
    Relay(owner_, at);
    Relay(list, at);
  }

  void Relay(HWND window, POINT at) {
    POINT local = at;
    ::ScreenToClient(window, &local);
    MSG move{window,
             WM_MOUSEMOVE,
             0,
             MAKELPARAM(local.x, local.y),
             static_cast<DWORD>(::GetMessageTime()),
             at};
    ::SendMessageW(tooltip_, TTM_RELAYEVENT, 0, reinterpret_cast<LPARAM>(&move));
  }

  /// The list of these tips at a point of the screen, disabled ones included, or nullptr.
  HWND ListAt(POINT at) const {
    HWND under = ::WindowFromPoint(at);
    if (under == owner_) {
      POINT local = at;
      ::ScreenToClient(owner_, &local);
      under = ::ChildWindowFromPointEx(owner_, local, CWP_SKIPINVISIBLE | CWP_SKIPTRANSPARENT);
    }
    return rows_.count(under) != 0 ? under : nullptr;
  }

  /// The tooltip asks which window is under the mouse before it shows a tip; the system's
  /// answer for a disabled list would be its parent.
  static LRESULT CALLBACK TooltipProcedure(HWND tooltip, UINT message, WPARAM wparam, LPARAM lparam,
                                           UINT_PTR id, DWORD_PTR data) {
    static_cast<void>(id);
    if (message == TTM_WINDOWFROMPOINT && lparam != 0) {
      if (HWND list = reinterpret_cast<Impl*>(data)->ListAt(*reinterpret_cast<POINT*>(lparam))) {
        return reinterpret_cast<LRESULT>(list);
      }
    }
    return ::DefSubclassProc(tooltip, message, wparam, lparam);
  }

  HWND owner_;
  HWND tooltip_ = nullptr;
  /// The row each list's tip was last asked for, and the list asked about last.
  std::map<HWND, int> rows_;
  HWND asked_ = nullptr;
  /// The text the tooltip shows; it reads it after Answer has returned.
  std::wstring text_;
};

DriveTips::DriveTips(WindowHandle owner) : impl_(std::make_unique<Impl>(ToHwnd(owner))) {}

DriveTips::~DriveTips() = default;

bool DriveTips::Add(WindowHandle list) {
  return impl_->Add(ToHwnd(list));
}

void DriveTips::Refresh() {
  impl_->Refresh();
}

void DriveTips::OwnerMouseMove() {
  impl_->OwnerMouseMove();
}

bool DriveTips::Answer(std::intptr_t lparam, const TipFor& tip) {
  return impl_->Answer(static_cast<LPARAM>(lparam), tip);
}

}  // namespace salvatrix::win32ui
