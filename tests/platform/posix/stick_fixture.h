#pragma once

// Pen drive stand-ins for the tests that need root: filesystem images on loop devices, made
// and mounted the way a stick is, and the main window on the real drive table and file system.

#include <cstdint>
#include <filesystem>
#include <map>
#include <ostream>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "app/form1.h"
#include "copy/policy/copy_policy.h"
#include "platform/posix/copying/posix_files.h"
#include "platform/posix/devices/drive_table.h"
#include "support/fakes.h"

namespace salvatrix::posix::testing {

std::string ReadFile(const std::filesystem::path& path);
/// Writes text, making the folders on the way.
void WriteFile(const std::filesystem::path& path, const std::string& text);
/// Writes each file (its name below root, then its text) in the order given.
void WriteFiles(const std::filesystem::path& root,
                const std::vector<std::pair<std::string, std::string>>& files);
/// Makes each link (its name below root, then its target) in the order given.
void MakeLinks(const std::filesystem::path& root,
               const std::vector<std::pair<std::string, std::filesystem::path>>& links);

/// The full path of a tool, looked up in PATH and in the sbin folders a root PATH may lack;
/// empty when it is nowhere.
std::string FindTool(const std::string& name);

struct RunResult {
  int status = -1;  // the exit status; -1 when it did not start or was killed
  std::string output;
};

/// Runs argv (argv[0] a full path) to its end, its output and errors going through log. A log
/// file rather than a pipe: a FUSE daemon that keeps the descriptors could hold a pipe open.
RunResult RunTool(const std::vector<std::string>& argv, const std::filesystem::path& log);

/// The filesystems a stick stand-in can have: exFAT through exfat-fuse, as desktops mount
/// sticks, and ext4 in the kernel, which (unlike exFAT) can hold links and keeps letter case.
enum class StickFormat { kExfat, kExt4 };

std::string FormatName(StickFormat format);
/// How tests show a format.
void PrintTo(StickFormat format, std::ostream* out);

/// Why sticks of that format cannot be made here (not root, a tool or /dev/fuse missing);
/// empty when they can.
std::string StickSkipReason(StickFormat format);

/// One stick: an image file of its own, formatted, on as many loop devices as asked for. Every
/// loop device is detached when it goes (the kernel lets go of a mounted one once unmounted).
class LoopStick {
 public:
  LoopStick(std::filesystem::path image, StickFormat format, std::filesystem::path log)
      : image_(std::move(image)), format_(format), log_(std::move(log)) {}
  ~LoopStick();
  LoopStick(const LoopStick&) = delete;
  LoopStick& operator=(const LoopStick&) = delete;

  /// Makes the image, size bytes, and formats it. Returns what went wrong.
  std::string Make(std::uintmax_t size);
  /// Attaches the image to a free loop device, returned in device. Returns what went wrong.
  std::string Attach(std::string& device, bool read_only = false);
  /// Mounts device at point (exfat-fuse or the kernel's ext4, with options such as "ro").
  /// Returns what went wrong.
  std::string Mount(const std::string& device, const std::filesystem::path& point,
                    const std::string& options = "");

  /// Detaches every loop device now. Returns what went wrong.
  std::string DetachAll();

  StickFormat format() const { return format_; }

 private:
  std::filesystem::path image_;
  StickFormat format_;
  std::filesystem::path log_;
  std::vector<std::string> attached_;
};

/// Everything below root: relative path to file contents, or "<folder>" for a folder, "<link>"
/// for a link (never followed) and "<other>" for a FIFO, socket or device (never opened).
std::map<std::string, std::string> Tree(const std::filesystem::path& root);

inline constexpr std::string_view kFolderMark = "<folder>";
inline constexpr std::string_view kLinkMark = "<link>";
inline constexpr std::string_view kOtherMark = "<other>";

/// A copy of this program that is still running, as far as the lock on its temporary goes:
/// another process that holds the lock (flock) on file until this object goes.
class LockHolder {
 public:
  explicit LockHolder(const std::filesystem::path& file);
  ~LockHolder();
  LockHolder(const LockHolder&) = delete;
  LockHolder& operator=(const LockHolder&) = delete;

  bool locked() const { return locked_; }

 private:
  int pid_ = -1;
  int release_ = -1;
  bool locked_ = false;
};

/// The main window on the real drive table and file system; boxes answer OK.
struct Window {
  explicit Window(const std::filesystem::path& source);

  bool Showed(std::string_view caption) const;

  /// Presses the copy button; the confirmation is answered with OK.
  void Copy();

  /// Makes the drive mounted at point the destination, as a rescan that found it new does,
  /// and selects exactly the given files and sub-folders. False when no drive is mounted there.
  bool ChooseDestination(const std::filesystem::path& point);
  void Select(const std::vector<std::string>& files, const std::vector<std::string>& folders);

  /// Copies files then folders as "Copy Files to Drive" does, onto the drive mounted at point.
  /// True when the job said FINISHED COPYING, false when it showed its failure box.
  bool CopyOnto(const std::filesystem::path& point, const std::vector<std::string>& files,
                const std::vector<std::string>& folders);

  DriveTable drives;
  PosixFiles primitives{drives};
  CopyPolicy files{primitives};
  salvatrix::testing::ScriptedMessageBoxes boxes;
  salvatrix::testing::FakeAppInfo app;
  salvatrix::testing::FakeWindowSystem window_system;
  Form1 form{FormServices{drives, boxes, app, files, window_system, window_system}};
  std::vector<std::string> captions;  // every status line shown, in order
  bool loaded = false;                // CopyOnto loads the window once
};

}  // namespace salvatrix::posix::testing
