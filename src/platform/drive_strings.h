#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace salvatrix {

/// The logical drives of the machine, as the Windows call GetLogicalDriveStringsA reports them.
class DriveStrings {
 public:
  virtual ~DriveStrings() = default;

  /// With length 0 (or a buffer too small): returns the size the buffer needs, in characters,
  /// counting the final NUL, and leaves the buffer alone. With a large enough buffer: fills it
  /// with the raw drive list ("C:\" NUL "E:\" NUL NUL) and returns the number of characters
  /// written, not counting the final NUL. Returns 0 on failure.
  virtual std::uint32_t GetLogicalDriveStrings(std::uint32_t length, char* buffer) = 0;

  /// A line a person can read about the drive behind a root entry ("E:\"), for tooltips;
  /// the empty text when there is nothing to say.
  virtual std::string DescribeDrive(std::string_view root) const {
    static_cast<void>(root);
    return {};
  }
};

}  // namespace salvatrix
