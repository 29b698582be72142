#include "platform/posix/devices/drive_letters.h"

#include <algorithm>
#include <array>
#include <map>

namespace salvatrix::posix {
namespace {

constexpr std::size_t kLetterCount = 26;

std::size_t LetterIndex(char letter) {
  return static_cast<std::size_t>(letter - 'A');
}

bool IsDriveLetter(char letter) {
  return letter >= kFirstDriveLetter && letter <= kLastDriveLetter;
}

}  // namespace

std::vector<Drive> AssignLetters(const std::vector<Drive>& previous, std::vector<Drive> seen) {
  // C belongs to "/" whatever drive sits there, so it is never carried over by key.
  std::map<std::string, char> previous_letters;
  for (const Drive& drive : previous) {
    if (IsDriveLetter(drive.letter)) {
      previous_letters.emplace(drive.key, drive.letter);
    }
  }

  std::vector<Drive> drives;
  std::array<bool, kLetterCount> taken{};
  bool root_seen = false;
  std::vector<Drive*> newcomers;
  for (Drive& drive : seen) {
    if (!root_seen && drive.mount_point == "/") {
      root_seen = true;
      drive.letter = kRootDriveLetter;
      taken[LetterIndex(kRootDriveLetter)] = true;
      drives.push_back(std::move(drive));
      continue;
    }
    const auto previous_letter = previous_letters.find(drive.key);
    // A second drive under one key, or a previous list holding a letter twice, must not
    // hand one letter to two drives.
    if (previous_letter != previous_letters.end() && !taken[LetterIndex(previous_letter->second)]) {
      drive.letter = previous_letter->second;
      taken[LetterIndex(drive.letter)] = true;
      drives.push_back(std::move(drive));
    } else {
      newcomers.push_back(&drive);
    }
  }
  char next = kFirstDriveLetter;
  for (Drive* drive : newcomers) {
    while (next <= kLastDriveLetter && taken[LetterIndex(next)]) {
      ++next;
    }
    if (next > kLastDriveLetter) {
      break;
    }
    drive->letter = next;
    taken[LetterIndex(next)] = true;
    drives.push_back(std::move(*drive));
  }

  std::sort(drives.begin(), drives.end(),
            [](const Drive& a, const Drive& b) { return a.letter < b.letter; });
  return drives;
}

std::string DriveStringsText(const std::vector<Drive>& drives) {
  std::string raw;
  for (const Drive& drive : drives) {
    raw += drive.letter;
    raw += ":\\";
    raw += '\0';
  }
  raw += '\0';
  return raw;
}

}  // namespace salvatrix::posix
