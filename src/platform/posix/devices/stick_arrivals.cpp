#include "platform/posix/devices/stick_arrivals.h"

#include <algorithm>
#include <utility>

namespace salvatrix::posix {

StickArrivals::StickArrivals(Micros mount_after, Micros give_up_after)
    : mount_after_(mount_after), give_up_after_(give_up_after) {}

std::optional<std::string> StickArrivals::Arrived(std::uint64_t disk, std::string name,
                                                  Micros now) {
  std::optional<std::string> earlier = Settled(disk);
  sticks_.push_back({disk, std::move(name), now});
  return earlier;
}

std::optional<std::string> StickArrivals::Settled(std::uint64_t disk) {
  const auto found = std::find_if(sticks_.begin(), sticks_.end(),
                                  [disk](const Stick& s) { return s.disk == disk; });
  if (found == sticks_.end()) {
    return std::nullopt;
  }
  std::string name = std::move(found->name);
  sticks_.erase(found);
  return name;
}

void StickArrivals::MountFinished(std::uint64_t disk) {
  for (Stick& stick : sticks_) {
    if (stick.disk == disk) {
      stick.mount_running = false;
    }
  }
}

StickArrivals::Due StickArrivals::Advance(Micros now) {
  Due due;
  for (Stick& stick : sticks_) {
    if (!stick.mount_asked && now >= stick.arrived + mount_after_) {
      stick.mount_asked = true;
      stick.mount_running = true;
      due.mount.push_back(stick.disk);
    }
  }
  // A request still running may yet bring the drive, and with it the line in its right place.
  std::erase_if(sticks_, [&](Stick& stick) {
    if (stick.mount_running || now < stick.arrived + give_up_after_) {
      return false;
    }
    due.lines.push_back(std::move(stick.name));
    return true;
  });
  return due;
}

std::optional<StickArrivals::Micros> StickArrivals::NextWake() const {
  std::optional<Micros> next;
  for (const Stick& stick : sticks_) {
    std::optional<Micros> wake;
    if (!stick.mount_asked) {
      wake = stick.arrived + mount_after_;
    } else if (!stick.mount_running) {
      wake = stick.arrived + give_up_after_;
    }
    if (wake && (!next || *wake < *next)) {
      next = wake;
    }
  }
  return next;
}

bool StickArrivals::Waiting(std::uint64_t disk) const {
  return std::any_of(sticks_.begin(), sticks_.end(),
                     [disk](const Stick& s) { return s.disk == disk; });
}

}  // namespace salvatrix::posix
