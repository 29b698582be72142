#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace salvatrix::posix {

/// Holds back the device line of each stick that arrived until one of its filesystems is
/// mounted, so the line never reaches the log before the drive can be seen. A stick that is
/// still not mounted mount_after after its arrival is due for a mount request; its line is
/// let go give_up_after its arrival once no request is outstanding, mounted or not. Disks are
/// identified by their device number. Times are on one monotonic clock, given by the caller.
class StickArrivals final {
 public:
  using Micros = std::chrono::microseconds;

  static constexpr Micros kMountAfter = std::chrono::seconds(2);
  static constexpr Micros kGiveUpAfter = std::chrono::seconds(5);

  /// What has come due.
  struct Due {
    std::vector<std::uint64_t> mount;  // disks to ask a mount for, each once
    std::vector<std::string> lines;    // device lines to deliver now, in arrival order
  };

  explicit StickArrivals(Micros mount_after = kMountAfter, Micros give_up_after = kGiveUpAfter);

  /// A stick arrived with the device line name. When the same disk was still waiting, its
  /// earlier line is returned: it is due now, ahead of the new one.
  std::optional<std::string> Arrived(std::uint64_t disk, std::string name, Micros now);
  /// The disk got a drive, or went away: its waiting line, which is due now, if any.
  std::optional<std::string> Settled(std::uint64_t disk);
  /// A mount request for the disk asked for by Advance has ended, whatever its outcome.
  void MountFinished(std::uint64_t disk);
  /// The mount requests and lines that are due at now.
  Due Advance(Micros now);
  /// When Advance has something to do next; nothing while no stick waits on time alone.
  std::optional<Micros> NextWake() const;
  bool Waiting(std::uint64_t disk) const;

 private:
  struct Stick {
    std::uint64_t disk;
    std::string name;
    Micros arrived;
    bool mount_asked = false;
    bool mount_running = false;
  };

  Micros mount_after_;
  Micros give_up_after_;
  std::vector<Stick> sticks_;  // in arrival order
};

}  // namespace salvatrix::posix
