#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "platform/drive_strings.h"
#include "platform/window_hooks.h"

namespace salvatrix::win32ui {

/// The drive strings the window is given: the drive list as the system reports it, and drive
/// descriptions that never hold the window's thread. A description is made on a thread of its
/// own (the volume query behind it can take many seconds on a dead network drive); until it is
/// there the answer is the empty text (no tooltip), and once it is, a message tells the window
/// to ask again. A description is kept for a few seconds, then made anew.
class DriveDescriptions final : public DriveStrings {
 public:
  /// The message posted to the window when a description has come (no arguments).
  static constexpr std::uint32_t kDescriptionReady = 0x8000 + 0x51;  // WM_APP + 0x51

  /// drives must allow DescribeDrive from any thread; the threads share it, so it lives as long
  /// as the last of them.
  explicit DriveDescriptions(std::shared_ptr<DriveStrings> drives);
  ~DriveDescriptions() override;
  DriveDescriptions(const DriveDescriptions&) = delete;
  DriveDescriptions& operator=(const DriveDescriptions&) = delete;

  /// The window told when a description comes; 0 for none.
  void NotifyWhenReady(WindowHandle window);

  std::uint32_t GetLogicalDriveStrings(std::uint32_t length, char* buffer) override;
  /// The description when it has come, else the empty text while it is being made.
  std::string DescribeDrive(std::string_view root) const override;

 private:
  struct State;
  std::shared_ptr<DriveStrings> drives_;
  std::shared_ptr<State> state_;
};

}  // namespace salvatrix::win32ui
