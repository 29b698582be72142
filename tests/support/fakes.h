#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <deque>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/app_info.h"
#include "platform/drive_strings.h"
#include "platform/message_boxes.h"

namespace salvatrix::testing {

/// Drive strings from a script: each call to GetLogicalDriveStrings takes the next answer.
/// An answer is a raw drive list; fail_next makes a call return 0.
class FakeDriveStrings final : public DriveStrings {
 public:
  struct Answer {
    std::string raw;
    bool fail = false;
  };

  /// Every call answers with this raw list (until a script is queued).
  void SetDrives(std::string raw) { steady_ = std::move(raw); }
  /// The next calls answer from this queue, in order, before falling back to SetDrives.
  void Queue(Answer answer) { queue_.push_back(std::move(answer)); }

  std::uint32_t GetLogicalDriveStrings(std::uint32_t length, char* buffer) override {
    ++calls;
    lengths.push_back(length);
    Answer answer{steady_, false};
    if (!queue_.empty()) {
      answer = queue_.front();
      queue_.pop_front();
    }
    if (answer.fail) {
      return 0;
    }
    const auto needed = static_cast<std::uint32_t>(answer.raw.size());
    if (length < needed || buffer == nullptr) {
      return needed;
    }
    std::memcpy(buffer, answer.raw.data(), answer.raw.size());
    return needed == 0 ? 0 : needed - 1;
  }

  int calls = 0;
  std::vector<std::uint32_t> lengths;

 private:
  std::string steady_;
  std::deque<Answer> queue_;
};

/// Raw drive list for the given letters, as Windows gives it: "C:\" NUL ... NUL.
inline std::string RawDrives(std::string_view letters) {
  std::string raw;
  for (char letter : letters) {
    raw += letter;
    raw += ":\\";
    raw += '\0';
  }
  raw += '\0';
  return raw;
}

/// Message boxes that record every box and answer from a script (OK when the script is empty).
class ScriptedMessageBoxes final : public MessageBoxes {
 public:
  struct Box {
    std::string text;
    std::string caption;
    int style;
  };

  void Answer(int button) { answers_.push_back(button); }

  int Show(std::string_view text, std::string_view caption, int style) override {
    shown.push_back({std::string(text), std::string(caption), style});
    if (on_show) {
      on_show(shown.back());
    }
    if (answers_.empty()) {
      return kIdOk;
    }
    const int answer = answers_.front();
    answers_.pop_front();
    return answer;
  }

  std::vector<Box> shown;
  /// Runs while a box is "open", as a nested message loop would.
  std::function<void(const Box&)> on_show;

 private:
  std::deque<int> answers_;
};

class FakeAppInfo final : public AppInfo {
 public:
  std::string folder = "/media/source";
  std::string exe_name = "salvatrix";

  std::string SourceFolder() const override { return folder; }
  std::string ExecutableFileName() const override { return exe_name; }
  std::string JoinPath(std::string_view base, std::string_view name) const override {
    std::string path(base);
    if (path.empty() || path.back() != '/') {
      path += '/';
    }
    path += name;
    return path;
  }
};

}  // namespace salvatrix::testing
