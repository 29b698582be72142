#include <windows.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/failure.h"
#include "platform/win32/win32_platform.h"

namespace salvatrix::win32 {
namespace {

constexpr UINT kProbe = WM_APP + 1;

// The class procedure: answers the probe with a value made of its arguments.
LRESULT CALLBACK ClassProcedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == kProbe) {
    return static_cast<LRESULT>(wparam) ^ lparam;
  }
  return ::DefWindowProcA(window, message, wparam, lparam);
}

class HiddenWindow {
 public:
  HiddenWindow() {
    static const ATOM kClass = [] {
      WNDCLASSA window_class{};
      window_class.lpfnWndProc = ClassProcedure;
      window_class.hInstance = ::GetModuleHandleA(nullptr);
      window_class.lpszClassName = "SalvatrixHookTest";
      return ::RegisterClassA(&window_class);
    }();
    window_ = ::CreateWindowExA(0, MAKEINTATOM(kClass), "", WS_OVERLAPPED, 0, 0, 10, 10, nullptr,
                                nullptr, ::GetModuleHandleA(nullptr), nullptr);
  }
  ~HiddenWindow() { ::DestroyWindow(window_); }
  HiddenWindow(const HiddenWindow&) = delete;
  HiddenWindow& operator=(const HiddenWindow&) = delete;

  HWND get() const { return window_; }
  WindowHandle handle() const { return reinterpret_cast<WindowHandle>(window_); }

 private:
  HWND window_;
};

struct Call {
  WindowHandle window;
  std::uint32_t message;
  std::uintptr_t wparam;
  std::intptr_t lparam;
};

class WindowHooksTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_NE(window_.get(), nullptr); }

  HiddenWindow window_;
  Win32WindowHooks hooks_;
};

TEST_F(WindowHooksTest, SubclassSeesTheMessageUnchangedAndPassesResultsThrough) {
  const ProcedureValue original = hooks_.GetWindowProcedure(window_.handle());
  ASSERT_NE(original, 0);
  std::vector<Call> calls;
  const ProcedureValue hook = hooks_.MakeProcedure(
      [&](WindowHandle window, std::uint32_t message, std::uintptr_t wparam, std::intptr_t lparam) {
        if (message == kProbe) {
          calls.push_back({window, message, wparam, lparam});
        }
        return hooks_.CallWindowProcedure(original, window, message, wparam, lparam) + 1;
      });
  EXPECT_EQ(hooks_.SetWindowProcedure(window_.handle(), hook), original);
  EXPECT_EQ(hooks_.GetWindowProcedure(window_.handle()), hook);

  // Both halves of 64-bit arguments must survive the trip.
  const WPARAM wparam = 0x8000'0001'0000'0002ULL;
  const LPARAM lparam = -0x7'0000'0003LL;
  EXPECT_EQ(::SendMessageA(window_.get(), kProbe, wparam, lparam),
            (static_cast<LRESULT>(wparam) ^ lparam) + 1);
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_EQ(calls[0].window, window_.handle());
  EXPECT_EQ(calls[0].message, kProbe);
  EXPECT_EQ(calls[0].wparam, wparam);
  EXPECT_EQ(calls[0].lparam, lparam);

  EXPECT_EQ(hooks_.SetWindowProcedure(window_.handle(), original), hook);
  EXPECT_EQ(::SendMessageA(window_.get(), kProbe, 6, 3), 5);
  EXPECT_EQ(calls.size(), 1u);
}

TEST_F(WindowHooksTest, ExceptionStopsAtTheWindowSystemAndTheFirstIsRethrownOnce) {
  int thrown = 0;
  hooks_.SetWindowProcedure(
      window_.handle(), hooks_.MakeProcedure([&](WindowHandle, std::uint32_t message,
                                                 std::uintptr_t, std::intptr_t) -> std::intptr_t {
        if (message == kProbe) {
          throw std::runtime_error(thrown++ == 0 ? "first" : "second");
        }
        return 0;
      }));
  EXPECT_EQ(::SendMessageA(window_.get(), kProbe, 1, 2), 0);
  EXPECT_EQ(::SendMessageA(window_.get(), kProbe, 1, 2), 0);
  EXPECT_EQ(thrown, 2);
  try {
    Win32WindowHooks::RethrowPending();
    ADD_FAILURE() << "nothing rethrown";
  } catch (const std::runtime_error& error) {
    EXPECT_STREQ(error.what(), "first");
  }
  EXPECT_NO_THROW(Win32WindowHooks::RethrowPending());
}

TEST_F(WindowHooksTest, SlotsRunOutAndComeBackWithTheirOwner) {
  const Procedure answer = [](WindowHandle, std::uint32_t, std::uintptr_t, std::intptr_t) {
    return std::intptr_t{0};
  };
  auto other = std::make_unique<Win32WindowHooks>();
  const ProcedureValue first = other->MakeProcedure(answer);
  for (int i = 0; i < 3; ++i) {
    EXPECT_NE(hooks_.MakeProcedure(answer), first);
  }
  EXPECT_THROW(hooks_.MakeProcedure(answer), Failure);
  other.reset();
  EXPECT_EQ(hooks_.MakeProcedure(answer), first);
}

TEST(WindowHooksUnicodeTest, AUnicodeWindowStaysUnicodeAndItsTextsPassWhole) {
  static const ATOM kClass = [] {
    WNDCLASSW window_class{};
    window_class.lpfnWndProc = ::DefWindowProcW;
    window_class.hInstance = ::GetModuleHandleW(nullptr);
    window_class.lpszClassName = L"SalvatrixUnicodeHookTest";
    return ::RegisterClassW(&window_class);
  }();
  HWND window = ::CreateWindowExW(0, MAKEINTRESOURCEW(kClass), L"", WS_OVERLAPPED, 0, 0, 10, 10,
                                  nullptr, nullptr, ::GetModuleHandleW(nullptr), nullptr);
  ASSERT_NE(window, nullptr);
  ASSERT_TRUE(::IsWindowUnicode(window));
  const auto handle = reinterpret_cast<WindowHandle>(window);
  Win32WindowHooks hooks;
  const ProcedureValue original = hooks.GetWindowProcedure(handle);
  std::wstring seen;
  const ProcedureValue hook = hooks.MakeProcedure(
      [&](WindowHandle target, std::uint32_t message, std::uintptr_t wparam, std::intptr_t lparam) {
        if (message == WM_SETTEXT) {
          seen = reinterpret_cast<const wchar_t*>(lparam);
        }
        return hooks.CallWindowProcedure(original, target, message, wparam, lparam);
      });
  hooks.SetWindowProcedure(handle, hook);
  EXPECT_TRUE(::IsWindowUnicode(window));

  // No ANSI code page holds all of these: a window turned ANSI would lose some of them.
  const std::wstring text = L"Stick \u0416\u6F22 \u20AC \U0001F4BE";
  ::SendMessageW(window, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()));
  EXPECT_EQ(seen, text);
  wchar_t shown[64] = {};
  ::GetWindowTextW(window, shown, 64);
  EXPECT_EQ(std::wstring(shown), text);

  EXPECT_EQ(hooks.SetWindowProcedure(handle, original), hook);
  EXPECT_TRUE(::IsWindowUnicode(window));
  ::DestroyWindow(window);
}

}  // namespace
}  // namespace salvatrix::win32
