#include "detect/module1.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <utility>

#include "controls/controls.h"
#include "platform/little_endian.h"
#include "platform/message_boxes.h"

namespace salvatrix {
namespace {

constexpr std::string_view kLineBreak = "\r\n";

}  // namespace

std::string ArrivalLogLines(const std::uint8_t* record, std::size_t extent) {
  std::string lines;
  lines += kLineBreak;
  lines += "wParam = DBT_DEVICEARRIVAL 05 ";
  // A header cut short reads as zeros beyond its end.
  std::array<std::uint8_t, kArrivalHeaderBytes> header{};
  if (record != nullptr) {
    std::memcpy(header.data(), record, std::min(extent, header.size()));
  }
  const std::int32_t device_type = ReadLittleEndian32(header.data() + 4);
  if (device_type == kDbtDevtypVolume) {
    lines += kLineBreak;
    lines += "Device Type: DBT_DEVTYP_VOLUME 08 ";
  } else if (device_type == kDbtDevtypDeviceInterface) {
    lines += kLineBreak;
    lines += "Device Name: ";
    // A name that cannot be told for sure is left out rather than shown garbled; the line
    // still tells that a device arrived.
    lines += DeviceInterfaceName(record, extent).value_or("");
    lines += " 12 ";
  }
  return lines;
}

NotificationFilter DeviceInterfaceFilter() {
  NotificationFilter filter{};
  PutLittleEndian32(filter.data(), static_cast<std::uint32_t>(filter.size()));
  PutLittleEndian32(filter.data() + 4, kDbtDevtypDeviceInterface);
  return filter;
}

Module1::Module1(TextBox& log, MessageBoxes& boxes, DeviceNotifications& notifications,
                 WindowHooks& hooks)
    : log_(log), boxes_(boxes), notifications_(notifications), hooks_(hooks) {}

bool Module1::RegisterForDeviceNotifications(WindowHandle window, std::uintptr_t& handle) {
  std::uint32_t last_error = 0;
  const std::uintptr_t result = notifications_.Register(
      window, DeviceInterfaceFilter(), kDeviceNotifyAllInterfaceClasses, last_error);
  handle = result;
  if (result == 0) {
    boxes_.Show("RegisterDeviceNotification failed: " + std::to_string(last_error),
                kApplicationTitle, kMbOk);
    return false;
  }
  return true;
}

void Module1::InstallMessageHook(WindowHandle window) {
  if (!hook_) {
    hook_ = hooks_.MakeProcedure(
        [this](WindowHandle hwnd, std::uint32_t message, std::uintptr_t wparam,
               std::intptr_t lparam) { return WindowProc(hwnd, message, wparam, lparam); });
  }
  saved_ = hooks_.GetWindowProcedure(window);
  hooks_.SetWindowProcedure(window, *hook_);
}

std::intptr_t Module1::WindowProc(WindowHandle window, std::uint32_t message, std::uintptr_t wparam,
                                  std::intptr_t lparam) {
  if (message == kWmDeviceChange && wparam == kDbtDeviceArrival) {
    // The record is the platform's: read only as far as it says the record reaches.
    const auto* record = reinterpret_cast<const std::uint8_t*>(lparam);
    // Decoded now all the same: the record is gone once the message returns.
    std::string lines = ArrivalLogLines(record, hooks_.RecordExtent(lparam));
    if (holding_) {
      held_ += lines;
    } else {
      log_.SetText(log_.Text() + lines);
    }
  }
  return hooks_.CallWindowProcedure(saved_.value_or(0), window, message, wparam, lparam);
}

void Module1::HoldArrivals(bool hold) {
  holding_ = hold;
  if (!hold && !held_.empty()) {
    log_.SetText(log_.Text() + std::exchange(held_, {}));
  }
}

void Module1::ReleaseDeviceNotifications() {
  if (handle_ != 0) {
    notifications_.Unregister(handle_);
  }
}

void Module1::RemoveMessageHook(WindowHandle window) {
  if (saved_) {
    hooks_.SetWindowProcedure(window, *saved_);
  }
}

}  // namespace salvatrix
