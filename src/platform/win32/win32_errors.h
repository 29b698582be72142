#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace salvatrix::win32 {

/// The system's text for an error code ("Access is denied."), without the trailing line break;
/// "error N" when the system has no text for it.
std::string SystemMessage(std::uint32_t error);

/// Throws Failure with "what: " and the system's text for error.
[[noreturn]] void Fail(std::string_view what, std::uint32_t error);

}  // namespace salvatrix::win32
