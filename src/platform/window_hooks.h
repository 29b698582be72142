#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>

namespace salvatrix {

/// A window's handle, pointer-sized as on 64-bit Windows.
using WindowHandle = std::uintptr_t;
/// A window procedure as the window system stores it: pointer-sized and opaque.
using ProcedureValue = std::intptr_t;
/// The four arguments of a window message and its result.
using Procedure =
    std::function<std::intptr_t(WindowHandle, std::uint32_t, std::uintptr_t, std::intptr_t)>;

inline constexpr std::uint32_t kWmDeviceChange = 0x0219;
inline constexpr std::uintptr_t kDbtDeviceArrival = 0x8000;
inline constexpr std::int32_t kDbtDevtypVolume = 2;
inline constexpr std::int32_t kDbtDevtypDeviceInterface = 5;

/// Window procedures of the window system: read, replace and call them.
class WindowHooks {
 public:
  virtual ~WindowHooks() = default;

  /// The main window's handle.
  virtual WindowHandle MainWindow() const = 0;
  /// The window's current procedure (GetWindowLongPtr with GWLP_WNDPROC).
  virtual ProcedureValue GetWindowProcedure(WindowHandle window) = 0;
  /// Makes procedure the window's procedure; returns the previous one.
  virtual ProcedureValue SetWindowProcedure(WindowHandle window, ProcedureValue procedure) = 0;
  /// Calls a procedure with a message's arguments and returns its result (CallWindowProc).
  virtual std::intptr_t CallWindowProcedure(ProcedureValue procedure, WindowHandle window,
                                            std::uint32_t message, std::uintptr_t wparam,
                                            std::intptr_t lparam) = 0;
  /// The value that stands for procedure in a window's procedure slot. Made once per
  /// procedure; the value stays valid while this object lives.
  virtual ProcedureValue MakeProcedure(Procedure procedure) = 0;
  /// How many bytes may be read at the address a message's lparam carries: the size of the
  /// record the platform delivered, or SIZE_MAX where the platform vouches for the record's
  /// own size field.
  virtual std::size_t RecordExtent(std::intptr_t lparam) const = 0;
};

}  // namespace salvatrix
