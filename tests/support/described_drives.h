#pragma once

#include <cstdint>
#include <map>
#include <stdexcept>
#include <string>
#include <string_view>

#include "support/fakes.h"

namespace salvatrix::testing {

/// Scripted drives that describe the roots they are told about, for tooltips; describing
/// the failing root throws.
class DescribedDrives final : public DriveStrings {
 public:
  std::uint32_t GetLogicalDriveStrings(std::uint32_t length, char* buffer) override {
    return script.GetLogicalDriveStrings(length, buffer);
  }
  std::string DescribeDrive(std::string_view root) const override {
    if (root == failing) {
      throw std::runtime_error("no medium");
    }
    const auto found = descriptions.find(std::string(root));
    return found != descriptions.end() ? found->second : "";
  }

  FakeDriveStrings script;
  std::map<std::string, std::string> descriptions;
  std::string failing;
};

}  // namespace salvatrix::testing
