#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "platform/app_info.h"
#include "platform/device_notifications.h"
#include "platform/drive_strings.h"
#include "platform/file_system.h"
#include "platform/message_boxes.h"
#include "platform/window_hooks.h"

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

/// An in-memory file system: folders by path with their file and sub-folder names, and a log of
/// every copy call. A copy of a name listed in fail_on fails.
class FakeFileSystem final : public FileSystem {
 public:
  struct Listing {
    std::vector<std::string> files;
    std::vector<std::string> folders;
  };
  struct Call {
    std::string op;  // "CopyFile", "CopyFolder", "Flush"
    std::string source;
    std::string destination;
    bool overwrite;
  };

  std::map<std::string, Listing> folders;
  std::vector<Call> calls;
  std::vector<std::string> fail_on;  // destinations whose copy fails
  bool fail_create = false;
  int objects_created = 0;
  /// Runs inside each copy call, before it completes (to look at the window meanwhile).
  std::function<void(const Call&)> during_copy;

  std::unique_ptr<FileSystemObject> CreateObject() override {
    if (fail_create) {
      throw std::runtime_error("cannot create the file-system object");
    }
    ++objects_created;
    return std::make_unique<Object>(*this);
  }

 private:
  class OpenFolder final : public Folder {
   public:
    explicit OpenFolder(const Listing& listing) : listing_(listing) {}
    void ForEachFile(const std::function<void(std::string)>& visit) override {
      for (const auto& name : listing_.files) {
        visit(name);
      }
    }
    void ForEachSubFolder(const std::function<void(std::string)>& visit) override {
      for (const auto& name : listing_.folders) {
        visit(name);
      }
    }

   private:
    Listing listing_;
  };

  class Object final : public FileSystemObject {
   public:
    explicit Object(FakeFileSystem& owner) : owner_(owner) {}
    std::unique_ptr<Folder> GetFolder(std::string_view path) override {
      const auto found = owner_.folders.find(std::string(path));
      if (found == owner_.folders.end()) {
        throw std::runtime_error("Path not found: " + std::string(path));
      }
      return std::make_unique<OpenFolder>(found->second);
    }
    void CopyFile(std::string_view source, std::string_view destination, bool overwrite) override {
      Record("CopyFile", source, destination, overwrite);
    }
    void CopyFolder(std::string_view source, std::string_view destination,
                    bool overwrite) override {
      Record("CopyFolder", source, destination, overwrite);
    }
    void Flush(std::string_view root) override { Record("Flush", "", root, true); }

   private:
    void Record(const char* op, std::string_view source, std::string_view destination,
                bool overwrite) {
      owner_.calls.push_back({op, std::string(source), std::string(destination), overwrite});
      if (owner_.during_copy) {
        owner_.during_copy(owner_.calls.back());
      }
      if (std::find(owner_.fail_on.begin(), owner_.fail_on.end(), destination) !=
          owner_.fail_on.end()) {
        throw std::runtime_error("copy failed: " + std::string(destination));
      }
    }
    FakeFileSystem& owner_;
  };
};

/// A window system with one window: a procedure slot whose original procedure records each
/// message and answers 42, and a registration that succeeds with handle 0x77 unless told
/// otherwise. Every call is logged in order.
class FakeWindowSystem final : public WindowHooks, public DeviceNotifications {
 public:
  static constexpr ProcedureValue kOriginal = 100;
  static constexpr std::intptr_t kOriginalResult = 42;

  WindowHandle window = 0x1234;
  std::uintptr_t registration = 0x77;  // 0: refuse
  std::uint32_t registration_error = 0;
  std::vector<std::string> calls;
  std::vector<std::uint32_t> original_saw;  // messages that reached the original procedure
  NotificationFilter filter{};
  std::uint32_t flags = 0;

  WindowHandle MainWindow() const override { return window; }
  ProcedureValue GetWindowProcedure(WindowHandle) override {
    calls.push_back("Get");
    return slot_;
  }
  ProcedureValue SetWindowProcedure(WindowHandle, ProcedureValue procedure) override {
    calls.push_back("Set " + std::to_string(procedure));
    const ProcedureValue previous = slot_;
    slot_ = procedure;
    return previous;
  }
  std::intptr_t CallWindowProcedure(ProcedureValue procedure, WindowHandle hwnd,
                                    std::uint32_t message, std::uintptr_t wparam,
                                    std::intptr_t lparam) override {
    if (procedure == kOriginal) {
      original_saw.push_back(message);
      return kOriginalResult;
    }
    const auto found = made_.find(procedure);
    return found == made_.end() ? 0 : found->second(hwnd, message, wparam, lparam);
  }
  ProcedureValue MakeProcedure(Procedure procedure) override {
    const ProcedureValue value = 200 + static_cast<ProcedureValue>(made_.size());
    made_[value] = std::move(procedure);
    return value;
  }
  std::size_t RecordExtent(std::intptr_t lparam) const override {
    return lparam == record_address_ ? record_size_ : 0;
  }

  std::uintptr_t Register(WindowHandle, const NotificationFilter& given, std::uint32_t given_flags,
                          std::uint32_t& last_error) override {
    calls.push_back("Register");
    filter = given;
    flags = given_flags;
    last_error = registration_error;
    return registration;
  }
  void Unregister(std::uintptr_t handle) override {
    calls.push_back("Unregister " + std::to_string(handle));
  }

  /// Sends a message through the window's current procedure, lparam pointing at record.
  std::intptr_t Send(std::uint32_t message, std::uintptr_t wparam,
                     const std::vector<std::uint8_t>& record) {
    record_address_ = reinterpret_cast<std::intptr_t>(record.data());
    record_size_ = record.size();
    const std::intptr_t result =
        CallWindowProcedure(slot_, window, message, wparam, record_address_);
    record_address_ = 0;
    return result;
  }

  ProcedureValue Slot() const { return slot_; }

 private:
  ProcedureValue slot_ = kOriginal;
  std::map<ProcedureValue, Procedure> made_;
  std::intptr_t record_address_ = 0;
  std::size_t record_size_ = 0;
};

}  // namespace salvatrix::testing
