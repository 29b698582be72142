#include "platform/posix/devices/stick_arrivals.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace salvatrix::posix {
namespace {

using std::chrono::milliseconds;

// One step of a stick's life at a time in ms: 'A'rrives (named "s" + disk), 'S'ettles (a
// drive came, or it went), a mount 'F'inishes, or time 'V' advances. What the step gave back
// and when the next wake-up is due are written as text: "mount 7; lines s7; wake 5000".
struct Step {
  int ms;
  char op;
  std::uint64_t disk;
  std::string expect;
};

std::string Play(StickArrivals& sticks, const Step& step) {
  const milliseconds now(step.ms);
  std::string got;
  const auto line = [&got](const std::optional<std::string>& name) {
    got = name ? "line " + *name : "";
  };
  switch (step.op) {
    case 'A':
      line(sticks.Arrived(step.disk, "s" + std::to_string(step.disk), now));
      break;
    case 'S':
      line(sticks.Settled(step.disk));
      break;
    case 'F':
      sticks.MountFinished(step.disk);
      break;
    default: {
      const StickArrivals::Due due = sticks.Advance(now);
      for (const auto disk : due.mount) {
        got += (got.empty() ? "mount " : " ") + std::to_string(disk);
      }
      for (std::size_t i = 0; i < due.lines.size(); ++i) {
        got += (i == 0 ? (got.empty() ? "lines " : "; lines ") : " ") + due.lines[i];
      }
    }
  }
  const auto wake = sticks.NextWake();
  const std::string when =
      wake ? "wake " + std::to_string(std::chrono::duration_cast<milliseconds>(*wake).count())
           : "no wake";
  return got.empty() ? when : got + "; " + when;
}

TEST(StickArrivals, HoldsTheLineUntilTheStickIsMountedOrGivenUp) {
  const std::vector<std::pair<std::string, std::vector<Step>>> stories = {
      {"the desktop mounts it at once",
       {{0, 'A', 7, "wake 2000"}, {500, 'S', 7, "line s7; no wake"}, {9000, 'V', 0, "no wake"}}},
      {"nobody mounts it: a mount is asked for at 2 s, the line goes alone at 5 s",
       {{0, 'A', 7, "wake 2000"},
        {1999, 'V', 0, "wake 2000"},
        {2000, 'V', 0, "mount 7; no wake"},
        {2100, 'F', 7, "wake 5000"},
        {4999, 'V', 0, "wake 5000"},
        {5000, 'V', 0, "lines s7; no wake"},
        {5001, 'S', 7, "no wake"}}},
      {"the asked-for mount brings the drive",
       {{0, 'A', 7, "wake 2000"},
        {2000, 'V', 0, "mount 7; no wake"},
        {2050, 'S', 7, "line s7; no wake"},
        {2060, 'F', 7, "no wake"},
        {6000, 'V', 0, "no wake"}}},
      {"a mount still running at 5 s keeps the line until it ends",
       {{0, 'A', 7, "wake 2000"},
        {2000, 'V', 0, "mount 7; no wake"},
        {8000, 'V', 0, "no wake"},
        {9000, 'F', 7, "wake 5000"},
        {9000, 'V', 0, "lines s7; no wake"}}},
      {"a late wake-up asks for the mount before it may give up",
       {{0, 'A', 7, "wake 2000"}, {7000, 'V', 0, "mount 7; no wake"}}},
      {"pulled before the mount: the line goes at once, nothing is asked",
       {{0, 'A', 7, "wake 2000"}, {800, 'S', 7, "line s7; no wake"}, {3000, 'V', 0, "no wake"}}},
      {"plugged again while waiting: the first line goes, the second waits anew",
       {{0, 'A', 7, "wake 2000"},
        {1500, 'A', 7, "line s7; wake 3500"},
        {2000, 'V', 0, "wake 3500"},
        {3500, 'V', 0, "mount 7; no wake"}}},
      {"two sticks keep their order and their own times",
       {{0, 'A', 7, "wake 2000"},
        {1000, 'A', 8, "wake 2000"},
        {3000, 'V', 0, "mount 7 8; no wake"},
        {3100, 'F', 8, "wake 6000"},
        {3200, 'F', 7, "wake 5000"},
        {6000, 'V', 0, "lines s7 s8; no wake"}}},
      {"only waiting sticks settle",
       {{0, 'S', 7, "no wake"}, {0, 'F', 7, "no wake"}, {0, 'V', 0, "no wake"}}},
  };
  for (const auto& [story, steps] : stories) {
    SCOPED_TRACE(story);
    StickArrivals sticks;
    for (const Step& step : steps) {
      SCOPED_TRACE(std::to_string(step.ms) + " ms " + step.op);
      EXPECT_EQ(Play(sticks, step), step.expect);
    }
  }
}

}  // namespace
}  // namespace salvatrix::posix
