// Finds the running salvatrix.exe's windows for make screenshots (see screenshots.sh), which
// grabs them from the screen by the places printed here:
//
//   salvatrix_wine_windows main    prints "X Y WIDTH HEIGHT" of the main window, frame and all
//   salvatrix_wine_windows notes   presses NOTES, prints the place of the notes window
//   salvatrix_wine_windows close   closes the main window and waits until it is gone
//
// Each first waits until the window is there and painted. Exit code 1, with a message, when a
// window does not turn up in time.
#include <windows.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <thread>

namespace {

constexpr const wchar_t* kMainCaption = L"AUTO-COPIER FOR EXTERNAL STORAGE (eg Flash Drive)";
constexpr const wchar_t* kNotesCaption = L"Notes on usage";
constexpr auto kPoll = std::chrono::milliseconds(200);
// Wine copies a painted window to the display a moment after the paint.
constexpr auto kShownOnScreen = std::chrono::milliseconds(700);

HWND WaitForWindow(const wchar_t* caption) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while (std::chrono::steady_clock::now() < end) {
    HWND window = ::FindWindowW(nullptr, caption);
    if (window != nullptr && ::IsWindowVisible(window) != FALSE) {
      return window;
    }
    std::this_thread::sleep_for(kPoll);
  }
  std::printf("FAIL: no window \"%ls\"\n", caption);
  return nullptr;
}

bool PrintPlace(HWND window) {
  ::RedrawWindow(window, nullptr, nullptr,
                 RDW_INVALIDATE | RDW_ERASE | RDW_FRAME | RDW_ALLCHILDREN | RDW_UPDATENOW);
  DWORD_PTR answer = 0;
  ::SendMessageTimeoutW(window, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, 5000, &answer);
  std::this_thread::sleep_for(kShownOnScreen);
  RECT place{};
  ::GetWindowRect(window, &place);
  std::printf("%ld %ld %ld %ld\n", place.left, place.top, place.right - place.left,
              place.bottom - place.top);
  return true;
}

bool ShowNotes() {
  HWND main_window = WaitForWindow(kMainCaption);
  if (main_window == nullptr) {
    return false;
  }
  HWND button = ::FindWindowExW(main_window, nullptr, L"Button", L"NOTES");
  if (button == nullptr) {
    std::printf("FAIL: no NOTES button\n");
    return false;
  }
  // The command a click sends, without a mouse that a moving focus could take away.
  ::PostMessageW(main_window, WM_COMMAND, MAKEWPARAM(::GetDlgCtrlID(button), BN_CLICKED),
                 reinterpret_cast<LPARAM>(button));
  HWND notes = WaitForWindow(kNotesCaption);
  return notes != nullptr && PrintPlace(notes);
}

bool Close() {
  HWND main_window = WaitForWindow(kMainCaption);
  if (main_window == nullptr) {
    return false;
  }
  ::PostMessageW(main_window, WM_CLOSE, 0, 0);
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(15);
  while (::IsWindow(main_window) != FALSE) {
    if (std::chrono::steady_clock::now() > end) {
      std::printf("FAIL: the main window did not close\n");
      return false;
    }
    std::this_thread::sleep_for(kPoll);
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  bool ok = false;
  const char* command = argc == 2 ? argv[1] : "";
  if (std::strcmp(command, "main") == 0) {
    HWND window = WaitForWindow(kMainCaption);
    ok = window != nullptr && PrintPlace(window);
  } else if (std::strcmp(command, "notes") == 0) {
    ok = ShowNotes();
  } else if (std::strcmp(command, "close") == 0) {
    ok = Close();
  } else {
    std::printf("usage: salvatrix_wine_windows main | notes | close\n");
  }
  std::fflush(stdout);
  return ok ? 0 : 1;
}
