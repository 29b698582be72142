#include "platform/win32ui/window_upkeep_win32.h"

#include <windows.h>

#include <cstddef>

namespace salvatrix::win32ui {
namespace {

struct Range {
  UINT first;
  UINT last;
};

// Everything the keyboard, the mouse (in the client and the frame) and touch put in a queue.
// The pointer messages (Windows 8 on) become mouse messages if left, so they go too.
constexpr Range kInput[] = {
    {WM_KEYFIRST, WM_KEYLAST},
    {WM_MOUSEFIRST, WM_MOUSELAST},
    {WM_NCMOUSEMOVE, WM_NCXBUTTONDBLCLK},
    {WM_NCMOUSEHOVER, WM_MOUSELEAVE},
    {0x0238, 0x0257},  // WM_POINTERDEVICECHANGE ... WM_POINTERROUTEDRELEASED, WM_TOUCH
};
constexpr Range kTimers[] = {{WM_TIMER, WM_TIMER}};

// A window whose paint never validates would come back for ever; the next answer goes on.
constexpr int kMostPaints = 64;

template <std::size_t kCount>
void Apply(const Range (&ranges)[kCount], Admission admission) {
  if (admission == Admission::kLeave) {
    return;  // WM_TIMER is only made when a look at the queue asks for it
  }
  MSG message{};
  for (const Range& range : ranges) {
    while (::PeekMessageW(&message, nullptr, range.first, range.last, PM_REMOVE) != FALSE) {
      if (admission == Admission::kHandle) {
        ::TranslateMessage(&message);
        ::DispatchMessageW(&message);
      }
    }
  }
}

}  // namespace

void Win32WindowUpkeep::AnswerPending(const std::function<Admission(WindowTraffic)>& admit) {
  // Each look at the queue also delivers the messages other threads and programs send.
  Apply(kInput, admit(WindowTraffic::kInput));
  Apply(kTimers, admit(WindowTraffic::kTimer));
  MSG message{};
  for (int i = 0;
       i < kMostPaints && ::PeekMessageW(&message, nullptr, WM_PAINT, WM_PAINT, PM_REMOVE) != FALSE;
       ++i) {
    ::DispatchMessageW(&message);
  }
}

}  // namespace salvatrix::win32ui
