#include <windows.h>

#include <array>
#include <cstdint>
#include <exception>
#include <mutex>
#include <utility>

#include "platform/failure.h"
#include "platform/win32/win32_platform.h"

namespace salvatrix::win32 {
namespace {

// Windows stores a bare function address in a window's procedure slot, so every procedure made
// from a function object needs a function of its own: a few fixed trampolines, each calling the
// procedure kept in its slot. The program hooks one window; four leave room for tests and
// nesting.
constexpr std::size_t kSlotCount = 4;
static_assert(kSlotCount <= 32, "one bit per slot in Win32WindowHooks::slots_");

struct Slot {
  Procedure procedure;
  bool taken = false;
};

std::array<Slot, kSlotCount>& Slots() {
  static std::array<Slot, kSlotCount> slots;
  return slots;
}

std::mutex& SlotsMutex() {
  static std::mutex mutex;
  return mutex;
}

// Per thread: the procedures run on the thread that owns the window, and that thread's message
// loop is the one that rethrows.
thread_local std::exception_ptr pending;

LRESULT RunSlot(std::size_t index, HWND window, UINT message, WPARAM wparam,
                LPARAM lparam) noexcept {
  try {
    const Procedure& procedure = Slots()[index].procedure;
    if (!procedure) {
      return ::DefWindowProcW(window, message, wparam, lparam);
    }
    return procedure(reinterpret_cast<WindowHandle>(window), message, wparam, lparam);
  } catch (...) {
    if (!pending) {
      pending = std::current_exception();
    }
    return 0;
  }
}

template <std::size_t kIndex>
LRESULT CALLBACK Trampoline(HWND window, UINT message, WPARAM wparam, LPARAM lparam) noexcept {
  return RunSlot(kIndex, window, message, wparam, lparam);
}

template <std::size_t... kIndex>
constexpr std::array<WNDPROC, kSlotCount> MakeTrampolines(std::index_sequence<kIndex...>) {
  return {&Trampoline<kIndex>...};
}

constexpr std::array<WNDPROC, kSlotCount> kTrampolines =
    MakeTrampolines(std::make_index_sequence<kSlotCount>{});

HWND ToHwnd(WindowHandle window) {
  return reinterpret_cast<HWND>(window);
}

}  // namespace

Win32WindowHooks::Win32WindowHooks() = default;

// A window still subclassed with one of these procedures would call an empty slot, which then
// behaves as DefWindowProcW; the slot can be taken again.
Win32WindowHooks::~Win32WindowHooks() {
  const std::lock_guard lock(SlotsMutex());
  for (std::size_t index = 0; index < kSlotCount; ++index) {
    if ((slots_ & (std::uint32_t{1} << index)) != 0) {
      Slots()[index] = Slot{};
    }
  }
}

// The W functions throughout: the A ones would turn a Unicode window into an ANSI one, and its
// texts would pass through the ANSI code page from then on. The procedures made here take their
// messages as Unicode ones.
ProcedureValue Win32WindowHooks::GetWindowProcedure(WindowHandle window) {
  return ::GetWindowLongPtrW(ToHwnd(window), GWLP_WNDPROC);
}

ProcedureValue Win32WindowHooks::SetWindowProcedure(WindowHandle window, ProcedureValue procedure) {
  return ::SetWindowLongPtrW(ToHwnd(window), GWLP_WNDPROC, procedure);
}

std::intptr_t Win32WindowHooks::CallWindowProcedure(ProcedureValue procedure, WindowHandle window,
                                                    std::uint32_t message, std::uintptr_t wparam,
                                                    std::intptr_t lparam) {
  return ::CallWindowProcW(reinterpret_cast<WNDPROC>(procedure), ToHwnd(window), message, wparam,
                           lparam);
}

ProcedureValue Win32WindowHooks::MakeProcedure(Procedure procedure) {
  const std::lock_guard lock(SlotsMutex());
  for (std::size_t index = 0; index < kSlotCount; ++index) {
    Slot& slot = Slots()[index];
    if (!slot.taken) {
      slot.procedure = std::move(procedure);
      slot.taken = true;
      slots_ |= std::uint32_t{1} << index;
      return reinterpret_cast<ProcedureValue>(kTrampolines[index]);
    }
  }
  throw Failure("No more window procedures can be made");
}

std::size_t Win32WindowHooks::RecordExtent(std::intptr_t lparam) const {
  static_cast<void>(lparam);
  return SIZE_MAX;
}

void Win32WindowHooks::RethrowPending() {
  if (pending) {
    std::rethrow_exception(std::exchange(pending, nullptr));
  }
}

}  // namespace salvatrix::win32
