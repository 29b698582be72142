#include "platform/win32ui/drive_descriptions.h"

#include <windows.h>
// windows.h turns the name into GetLogicalDriveStringsA or W, in our headers too: the interface
// means the method.
#undef GetLogicalDriveStrings

#include <chrono>
#include <map>
#include <mutex>
#include <thread>
#include <utility>

namespace salvatrix::win32ui {
namespace {

using Clock = std::chrono::steady_clock;

// Long enough for the tooltip to ask again once a description has come, short enough that a
// card swapped in the reader shows its own label on the next look.
constexpr auto kKeptFor = std::chrono::seconds(3);

struct Description {
  bool ready = false;
  std::string text;
  Clock::time_point made;
};

}  // namespace

struct DriveDescriptions::State {
  std::mutex mutex;
  std::map<std::string, Description, std::less<>> descriptions;
  HWND window = nullptr;
};

DriveDescriptions::DriveDescriptions(std::shared_ptr<DriveStrings> drives)
    : drives_(std::move(drives)), state_(std::make_shared<State>()) {}

// A thread still waiting for a dead drive keeps what it uses and tells nobody.
DriveDescriptions::~DriveDescriptions() {
  NotifyWhenReady(0);
}

void DriveDescriptions::NotifyWhenReady(WindowHandle window) {
  const std::lock_guard lock(state_->mutex);
  state_->window = reinterpret_cast<HWND>(window);
}

std::uint32_t DriveDescriptions::GetLogicalDriveStrings(std::uint32_t length, char* buffer) {
  return drives_->GetLogicalDriveStrings(length, buffer);
}

std::string DriveDescriptions::DescribeDrive(std::string_view root) const {
  {
    const std::lock_guard lock(state_->mutex);
    const auto found = state_->descriptions.find(root);
    if (found != state_->descriptions.end()) {
      const Description& known = found->second;
      if (!known.ready) {
        return {};  // on its way
      }
      if (Clock::now() - known.made < kKeptFor) {
        return known.text;
      }
    }
    state_->descriptions[std::string(root)] = Description{};
  }
  std::thread([state = state_, drives = drives_, root = std::string(root)] {
    std::string text;
    try {
      text = drives->DescribeDrive(root);
    } catch (...) {
      // Nothing may leave a thread. A tooltip is a courtesy: a drive that cannot say shows none.
    }
    HWND window = nullptr;
    {
      const std::lock_guard lock(state->mutex);
      state->descriptions[root] = Description{true, std::move(text), Clock::now()};
      window = state->window;
    }
    if (window != nullptr) {
      ::PostMessageW(window, kDescriptionReady, 0, 0);
    }
  }).detach();
  return {};
}

}  // namespace salvatrix::win32ui
