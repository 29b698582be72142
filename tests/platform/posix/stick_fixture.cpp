#include "platform/posix/stick_fixture.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/file.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

#include "drives/list_drives.h"
#include "source/source_lists.h"

extern char** environ;

namespace salvatrix::posix::testing {

namespace fs = std::filesystem;

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

void WriteFile(const fs::path& path, const std::string& text) {
  if (path.has_parent_path()) {
    fs::create_directories(path.parent_path());
  }
  std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
}

void WriteFiles(const fs::path& root,
                const std::vector<std::pair<std::string, std::string>>& files) {
  for (const auto& [name, text] : files) {
    WriteFile(root / name, text);
  }
}

void MakeLinks(const fs::path& root, const std::vector<std::pair<std::string, fs::path>>& links) {
  for (const auto& [name, target] : links) {
    fs::create_symlink(target, root / name);
  }
}

std::string FindTool(const std::string& name) {
  const char* path = std::getenv("PATH");
  std::istringstream dirs(std::string(path == nullptr ? "" : path) + ":/usr/sbin:/sbin");
  for (std::string dir; std::getline(dirs, dir, ':');) {
    if (!dir.empty() && ::access((fs::path(dir) / name).c_str(), X_OK) == 0) {
      return (fs::path(dir) / name).string();
    }
  }
  return {};
}

RunResult RunTool(const std::vector<std::string>& argv, const fs::path& log) {
  RunResult result;
  posix_spawn_file_actions_t actions;
  ::posix_spawn_file_actions_init(&actions);
  ::posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, log.c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0600);
  ::posix_spawn_file_actions_adddup2(&actions, STDOUT_FILENO, STDERR_FILENO);
  std::vector<char*> args;
  for (const std::string& arg : argv) {
    args.push_back(const_cast<char*>(arg.c_str()));
  }
  args.push_back(nullptr);
  pid_t pid = 0;
  const int error = ::posix_spawn(&pid, args[0], &actions, nullptr, args.data(), environ);
  ::posix_spawn_file_actions_destroy(&actions);
  if (error != 0) {
    result.output = argv[0] + ": " + std::strerror(error);
    return result;
  }
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  if (WIFEXITED(status)) {
    result.status = WEXITSTATUS(status);
  }
  result.output = ReadFile(log);
  return result;
}

std::string FormatName(StickFormat format) {
  return format == StickFormat::kExfat ? "exFAT" : "ext4";
}

void PrintTo(StickFormat format, std::ostream* out) {
  *out << FormatName(format);
}

std::string StickSkipReason(StickFormat format) {
  if (::geteuid() != 0) {
    return "needs root to attach loop devices and mount filesystems";
  }
  const std::vector<std::string> tools =
      format == StickFormat::kExfat
          ? std::vector<std::string>{"losetup", "mkfs.exfat", "mount.exfat-fuse"}
          : std::vector<std::string>{"losetup", "mkfs.ext4"};
  for (const std::string& tool : tools) {
    if (FindTool(tool).empty()) {
      return tool + " is missing (packages util-linux, exfatprogs, exfat-fuse, e2fsprogs)";
    }
  }
  if (::access("/dev/loop-control", W_OK) != 0) {
    return "no /dev/loop-control: loop devices are not available here";
  }
  if (format == StickFormat::kExfat && ::access("/dev/fuse", W_OK) != 0) {
    return "/dev/fuse is missing: FUSE is not available here";
  }
  return {};
}

LoopStick::~LoopStick() {
  DetachAll();
}

std::string LoopStick::DetachAll() {
  std::string problems;
  for (const std::string& loop : attached_) {
    const RunResult detached = RunTool({FindTool("losetup"), "-d", loop}, log_);
    if (detached.status != 0) {
      problems += loop + ": " + detached.output;
    }
  }
  attached_.clear();
  return problems;
}

std::string LoopStick::Make(std::uintmax_t size) {
  WriteFile(image_, "");
  fs::resize_file(image_, size);
  const RunResult made =
      format_ == StickFormat::kExfat
          ? RunTool({FindTool("mkfs.exfat"), image_.string()}, log_)
          : RunTool({FindTool("mkfs.ext4"), "-q", "-F", "-E", "nodiscard", image_.string()}, log_);
  return made.status == 0 ? std::string() : "formatting failed: " + made.output;
}

std::string LoopStick::Attach(std::string& device, bool read_only) {
  std::vector<std::string> argv{FindTool("losetup"), "--find", "--show"};
  if (read_only) {
    argv.emplace_back("--read-only");
  }
  argv.push_back(image_.string());
  RunResult attached = RunTool(argv, log_);
  if (attached.status != 0) {
    return "no loop device can be attached: " + attached.output;
  }
  device = attached.output;
  while (!device.empty() && (device.back() == '\n' || device.back() == ' ')) {
    device.pop_back();
  }
  attached_.push_back(device);
  return {};
}

std::string LoopStick::Mount(const std::string& device, const fs::path& point,
                             const std::string& options) {
  fs::create_directories(point);
  if (format_ == StickFormat::kExt4) {
    unsigned long flags = options == "ro" ? MS_RDONLY : 0;
    if (::mount(device.c_str(), point.c_str(), "ext4", flags, nullptr) != 0) {
      return "mounting ext4 failed: " + std::string(std::strerror(errno));
    }
    return {};
  }
  std::vector<std::string> argv{FindTool("mount.exfat-fuse")};
  if (!options.empty()) {
    argv.insert(argv.end(), {"-o", options});
  }
  argv.insert(argv.end(), {device, point.string()});
  const RunResult mounted = RunTool(argv, log_);
  return mounted.status == 0 ? std::string() : "mount.exfat-fuse failed: " + mounted.output;
}

std::map<std::string, std::string> Tree(const fs::path& root) {
  std::map<std::string, std::string> tree;
  for (const auto& entry : fs::recursive_directory_iterator(root)) {
    const std::string name = entry.path().lexically_relative(root).generic_string();
    if (name == "lost+found" || name.starts_with("lost+found/")) {
      continue;  // what mkfs.ext4 makes on every stick
    }
    tree[name] = entry.is_symlink()        ? std::string(kLinkMark)
                 : entry.is_directory()    ? std::string(kFolderMark)
                 : entry.is_regular_file() ? ReadFile(entry.path())
                                           : std::string(kOtherMark);
  }
  return tree;
}

LockHolder::LockHolder(const fs::path& file) {
  int ready[2];
  int release[2];
  if (::pipe(ready) != 0 || ::pipe(release) != 0) {
    return;
  }
  pid_ = ::fork();
  if (pid_ == 0) {
    ::close(ready[0]);
    ::close(release[1]);
    const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
    const char locked = fd >= 0 && ::flock(fd, LOCK_EX) == 0 ? 'y' : 'n';
    char ignored = 0;
    if (::write(ready[1], &locked, 1) == 1) {
      [[maybe_unused]] const auto got = ::read(release[0], &ignored, 1);
    }
    ::_exit(0);
  }
  ::close(ready[1]);
  ::close(release[0]);
  release_ = release[1];
  char locked = 'n';
  locked_ = ::read(ready[0], &locked, 1) == 1 && locked == 'y';
  ::close(ready[0]);
}

LockHolder::~LockHolder() {
  ::close(release_);
  if (pid_ > 0) {
    ::waitpid(pid_, nullptr, 0);
  }
}

Window::Window(const fs::path& source) {
  app.folder = source.string();
  app.exe_name = "salvatrix";
  form.labelViewer.changed.Connect([this] {
    const std::string& caption = form.labelViewer.Caption();
    if (captions.empty() || captions.back() != caption) {
      captions.push_back(caption);
    }
  });
}

bool Window::Showed(std::string_view caption) const {
  return std::find(captions.begin(), captions.end(), caption) != captions.end();
}

void Window::Copy() {
  boxes.shown.clear();
  captions.clear();
  form.cmdFileCopy.Press();
}

bool Window::ChooseDestination(const fs::path& point) {
  form.Drives().ListRescannedDrives();
  const auto& all = drives.Drives();
  const auto drive = std::find_if(all.begin(), all.end(),
                                  [&](const Drive& d) { return d.mount_point == point.string(); });
  if (drive == all.end()) {
    return false;
  }
  const std::string root = std::string(1, drive->letter) + ":\\";
  for (std::int16_t i = 0; i < form.List2.ListCount(); ++i) {
    if (form.List2.List(i) == root) {
      form.List2.SetSelected(i, true);
      form.cmdFileCopy.SetEnabled(true);
      return true;
    }
  }
  return false;
}

void Window::Select(const std::vector<std::string>& files,
                    const std::vector<std::string>& folders) {
  SourceLists lists(this->files, app, boxes);
  lists.PopulateFilesList(form.List4, app.folder);
  lists.PopulateSubFoldersList(app.folder, form.List6);
  const auto select_only = [](ListBox& list, const std::vector<std::string>& names) {
    for (std::int16_t i = 0; i < list.ListCount(); ++i) {
      list.SetSelected(i, std::find(names.begin(), names.end(), list.List(i)) != names.end());
    }
  };
  select_only(form.List4, files);
  select_only(form.List6, folders);
}

bool Window::CopyOnto(const fs::path& point, const std::vector<std::string>& files,
                      const std::vector<std::string>& folders) {
  if (!loaded) {
    form.Form_Load();
    loaded = true;
  }
  if (!ChooseDestination(point)) {
    ADD_FAILURE() << "no drive is mounted at " << point;
    return false;
  }
  Select(files, folders);
  Copy();
  return form.labelViewer.Caption() == "FINISHED COPYING";
}

}  // namespace salvatrix::posix::testing
