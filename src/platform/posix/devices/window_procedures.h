#pragma once

#include <cstddef>
#include <cstdint>
#include <unordered_map>
#include <vector>

#include "platform/window_hooks.h"

namespace salvatrix::posix {

/// The Linux stand-in for the window system's procedure slots: one main window whose slot
/// starts with a default procedure, procedures made from functions, and delivery of messages
/// that carry a record. For the UI thread only.
class WindowProcedures final : public WindowHooks {
 public:
  /// main_window is the main window's handle; it must not be 0 (std::invalid_argument).
  explicit WindowProcedures(WindowHandle main_window = 1);
  WindowProcedures(const WindowProcedures&) = delete;
  WindowProcedures& operator=(const WindowProcedures&) = delete;

  WindowHandle MainWindow() const override { return main_window_; }
  /// 0 for a window other than the main window.
  ProcedureValue GetWindowProcedure(WindowHandle window) override;
  /// Stores any value, made here or not. For a window other than the main window nothing
  /// changes and 0 is returned.
  ProcedureValue SetWindowProcedure(WindowHandle window, ProcedureValue procedure) override;
  /// A value that was not made here (0 included) calls nothing and returns 0. Exceptions of
  /// the procedure pass through.
  std::intptr_t CallWindowProcedure(ProcedureValue procedure, WindowHandle window,
                                    std::uint32_t message, std::uintptr_t wparam,
                                    std::intptr_t lparam) override;
  /// Every call makes a new value, never 0.
  ProcedureValue MakeProcedure(Procedure procedure) override;
  /// The size of a record while Deliver hands it to a procedure at that address; 0 for any
  /// other address (never SIZE_MAX).
  std::size_t RecordExtent(std::intptr_t lparam) const override;

  /// The value the main window's slot starts with: a procedure that answers 0 to everything.
  ProcedureValue DefaultProcedure() const { return default_procedure_; }

  /// Calls the window's current procedure with lparam = the address of record and returns its
  /// result; RecordExtent knows the record for the length of the call. Deliveries may nest.
  /// A window other than the main window gets nothing and 0 is returned.
  std::intptr_t Deliver(WindowHandle window, std::uint32_t message, std::uintptr_t wparam,
                        const std::vector<std::uint8_t>& record);

 private:
  struct Extent {
    std::intptr_t address;
    std::size_t size;
  };

  WindowHandle main_window_;
  ProcedureValue next_value_;
  // Node-based, so a procedure may make others while it runs without moving itself.
  std::unordered_map<ProcedureValue, Procedure> procedures_;
  ProcedureValue default_procedure_;
  ProcedureValue slot_;
  std::vector<Extent> delivering_;  // innermost last
};

}  // namespace salvatrix::posix
