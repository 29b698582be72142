#include "platform/posix/devices/window_procedures.h"

#include "platform/scope_exit.h"

#include <stdexcept>
#include <utility>

namespace salvatrix::posix {
namespace {

// Far from small integers and from the window handle, so a value mixed up with either does
// not call anything by accident.
constexpr ProcedureValue kFirstProcedureValue = 0x5A1000;

}  // namespace

WindowProcedures::WindowProcedures(WindowHandle main_window)
    : main_window_(main_window), next_value_(kFirstProcedureValue) {
  if (main_window == 0) {
    throw std::invalid_argument("the main window's handle must not be 0");
  }
  default_procedure_ = MakeProcedure(
      [](WindowHandle, std::uint32_t, std::uintptr_t, std::intptr_t) { return std::intptr_t{0}; });
  slot_ = default_procedure_;
}

ProcedureValue WindowProcedures::GetWindowProcedure(WindowHandle window) {
  return window == main_window_ ? slot_ : 0;
}

ProcedureValue WindowProcedures::SetWindowProcedure(WindowHandle window, ProcedureValue procedure) {
  if (window != main_window_) {
    return 0;
  }
  return std::exchange(slot_, procedure);
}

std::intptr_t WindowProcedures::CallWindowProcedure(ProcedureValue procedure, WindowHandle window,
                                                    std::uint32_t message, std::uintptr_t wparam,
                                                    std::intptr_t lparam) {
  const auto found = procedures_.find(procedure);
  if (found == procedures_.end() || !found->second) {
    return 0;
  }
  return found->second(window, message, wparam, lparam);
}

ProcedureValue WindowProcedures::MakeProcedure(Procedure procedure) {
  const ProcedureValue value = next_value_++;
  procedures_.emplace(value, std::move(procedure));
  return value;
}

std::size_t WindowProcedures::RecordExtent(std::intptr_t lparam) const {
  if (lparam == 0) {
    return 0;
  }
  for (auto it = delivering_.rbegin(); it != delivering_.rend(); ++it) {
    if (it->address == lparam) {
      return it->size;
    }
  }
  return 0;
}

std::intptr_t WindowProcedures::Deliver(WindowHandle window, std::uint32_t message,
                                        std::uintptr_t wparam,
                                        const std::vector<std::uint8_t>& record) {
  if (window != main_window_) {
    return 0;
  }
  const auto address = reinterpret_cast<std::intptr_t>(record.data());
  delivering_.push_back({address, record.size()});
  // Popped by position, not by address: a nested delivery of the same record pushes a
  // second entry, and a procedure that throws must not leave its record readable.
  const ScopeExit pop([this, depth = delivering_.size() - 1] { delivering_.resize(depth); });
  return CallWindowProcedure(slot_, window, message, wparam, address);
}

}  // namespace salvatrix::posix
