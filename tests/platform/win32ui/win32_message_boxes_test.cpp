#include "platform/win32ui/win32_message_boxes.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <thread>

namespace salvatrix::win32ui {
namespace {

/// What a box showed, seen from another thread that then answers it with message.
struct SeenBox {
  HWND owner = nullptr;
  std::wstring text;
};

std::thread AnswerBox(DWORD thread, UINT message, WPARAM wparam, SeenBox& seen) {
  return std::thread([=, &seen] {
    HWND box = nullptr;
    for (int tries = 0; tries < 500 && box == nullptr; ++tries, ::Sleep(10)) {
      ::EnumThreadWindows(
          thread,
          [](HWND window, LPARAM found) -> BOOL {
            char name[16] = {};
            ::GetClassNameA(window, name, sizeof name);
            if (std::string(name) != "#32770" || ::IsWindowVisible(window) == FALSE) {
              return TRUE;
            }
            *reinterpret_cast<HWND*>(found) = window;
            return FALSE;
          },
          reinterpret_cast<LPARAM>(&box));
    }
    if (box != nullptr) {
      seen.owner = ::GetWindow(box, GW_OWNER);
      wchar_t text[128] = {};
      ::GetWindowTextW(::GetDlgItem(box, 0xFFFF), text, 128);
      seen.text = text;
      ::PostMessageW(box, message, wparam, 0);
    }
  });
}

TEST(Win32MessageBoxesTest, AnswersWithThePressedButtonOverTheOwnerWhileItExists) {
  const DWORD me = ::GetCurrentThreadId();
  Win32MessageBoxes boxes;
  HWND owner = ::CreateWindowExW(0, L"STATIC", L"owner", WS_OVERLAPPEDWINDOW, 0, 0, 100, 100,
                                 nullptr, nullptr, nullptr, nullptr);
  boxes.SetOwner(reinterpret_cast<WindowHandle>(owner));

  SeenBox seen;
  std::thread answer = AnswerBox(me, WM_COMMAND, IDOK, seen);
  EXPECT_EQ(boxes.Show("Größe: 5 ✓", "ARE YOU SURE?", kMbOkCancel + kMbIconInformation), kIdOk);
  answer.join();
  EXPECT_EQ(seen.text, L"Größe: 5 ✓");
  EXPECT_EQ(seen.owner, owner);

  // Closed without a button: Cancel where there is one.
  answer = AnswerBox(me, WM_CLOSE, 0, seen);
  EXPECT_EQ(boxes.Show("Copy?", "Salvatrix", kMbOkCancel), kIdCancel);
  answer.join();

  // Once the window is gone a box opens without owner.
  ::DestroyWindow(owner);
  seen = {};
  answer = AnswerBox(me, WM_CLOSE, 0, seen);
  EXPECT_EQ(boxes.Show("Failed", "Salvatrix", kMbIconError), kIdOk);
  answer.join();
  EXPECT_EQ(seen.text, L"Failed");
  EXPECT_EQ(seen.owner, nullptr);
}

}  // namespace
}  // namespace salvatrix::win32ui
