#include "platform/posix/copying/posix_files.h"

#include <fcntl.h>
#include <linux/openat2.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <map>
#include <string>

#include "platform/drive_roots.h"
#include "platform/failure.h"
#include "platform/posix/copying/destination.h"
#include "platform/posix/copying/source.h"
#include "platform/posix/devices/drive_table.h"

namespace salvatrix::posix {
namespace {

constexpr int kFolderFlags = O_PATH | O_DIRECTORY | O_CLOEXEC;

// Opens the folder relative (names joined by "/") beneath root without following a link or
// leaving root's file system; openat2 does all of it where the kernel has it.
Fd OpenBeneath(int root, const std::string& relative, const std::string& path) {
  open_how how{};
  how.flags = kFolderFlags;
  how.resolve = RESOLVE_BENEATH | RESOLVE_NO_SYMLINKS | RESOLVE_NO_MAGICLINKS | RESOLVE_NO_XDEV;
  for (int attempt = 0; attempt < 4; ++attempt) {
    const long fd = ::syscall(SYS_openat2, root, relative.c_str(), &how, sizeof how);
    if (fd >= 0) {
      return Fd(static_cast<int>(fd));
    }
    if (errno != EAGAIN) {  // EAGAIN: a rename elsewhere raced with the lookup
      break;
    }
  }
  if (errno != ENOSYS) {
    FailAt(path);
  }
  // One name at a time, each refused when it is a link or another file system's root.
  Fd at(::fcntl(root, F_DUPFD_CLOEXEC, 0));
  for (std::size_t begin = 0; begin <= relative.size();) {
    const std::size_t end = std::min(relative.find('/', begin), relative.size());
    const std::string name = relative.substr(begin, end - begin);
    begin = end + 1;
    if (name.empty() || name == ".") {
      continue;
    }
    if (name == "..") {
      FailAt(path, EXDEV);
    }
    Fd next(::openat(at.get(), name.c_str(), kFolderFlags | O_NOFOLLOW));
    struct stat outer {};
    struct stat inner {};
    if (!next.valid() || ::fstat(at.get(), &outer) != 0 || ::fstat(next.get(), &inner) != 0) {
      FailAt(path);
    }
    if (!S_ISDIR(inner.st_mode) || inner.st_dev != outer.st_dev) {
      FailAt(path, S_ISDIR(inner.st_mode) ? EXDEV : ELOOP);
    }
    at = std::move(next);
  }
  return at;
}

class PosixSession final : public FileSession {
 public:
  explicit PosixSession(DriveTable& drives) : drives_(drives) {}

  std::unique_ptr<SourceFolder> OpenSourceFolder(std::string_view path, EntryKind& found) override {
    return OpenSourceFolderAt(Resolve(path), found);
  }

  std::unique_ptr<SourceFile> OpenSourceFile(std::string_view path, EntryKind& found) override {
    return OpenSourceFileAt(Resolve(path), found);
  }

  std::unique_ptr<DestinationFolder> OpenDestination(std::string_view destination,
                                                     std::string& name) override {
    std::string folder_path;
    std::string relative;
    int base = AT_FDCWD;
    if (IsDriveRoot(destination)) {
      const int root = Root(destination);
      relative = std::string(destination.substr(3));
      const std::size_t slash = relative.rfind('/');
      name = slash == std::string::npos ? relative : relative.substr(slash + 1);
      relative = slash == std::string::npos ? "" : relative.substr(0, slash);
      folder_path = drives_.ResolvePath(destination.substr(0, 3));
      base = root;
    } else {
      std::string path(destination);
      while (path.size() > 1 && path.ends_with('/')) {
        path.pop_back();  // "out/" is the folder out
      }
      const std::size_t slash = path.rfind('/');
      name = slash == std::string::npos ? path : path.substr(slash + 1);
      folder_path = slash == std::string::npos ? "." : (slash == 0 ? "/" : path.substr(0, slash));
    }
    if (name.empty() || name == "." || name == "..") {
      FailAt(destination, EISDIR);
    }
    Fd folder;
    if (base != AT_FDCWD) {
      folder = OpenBeneath(base, relative.empty() ? "." : relative,
                           std::string(destination.substr(0, destination.size() - name.size())));
      if (!relative.empty()) {
        folder_path += "/" + relative;
      }
    } else {
      folder = Fd(::open(folder_path.c_str(), kFolderFlags));
      if (!folder.valid()) {
        FailAt(folder_path);
      }
    }
    return std::make_unique<PosixDestination>(std::move(folder), folder_path, facts_);
  }

  void Flush(std::string_view destination_root) override {
    Fd target;
    if (IsDriveRoot(destination_root)) {
      target = Fd(::fcntl(Root(destination_root), F_DUPFD_CLOEXEC, 0));
    } else {
      target = Fd(::open(std::string(destination_root).c_str(),
                         O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    }
    if (!target.valid() || ::syncfs(target.get()) != 0) {
      FailAt(destination_root);
    }
    // FUSE forwards this to the file system process, which then writes its own caches out
    // (exfat-fuse's syncfs does nothing); EINVAL is what a file system without a way to sync a
    // folder answers.
    if (::fsync(target.get()) != 0 && errno != EINVAL && errno != EROFS) {
      FailAt(destination_root);
    }
  }

  void Report(std::string_view line) override {
    std::string text(line);
    text += '\n';
    [[maybe_unused]] const ssize_t written = ::write(STDERR_FILENO, text.data(), text.size());
  }

 private:
  // The mount table is read once per session. A drive that was unmounted since the last
  // rescan must fail here rather than let the copy land in the empty mount point folder on
  // another file system.
  std::string Resolve(std::string_view path) {
    if (!IsDriveRoot(path)) {
      return std::string(path);
    }
    if (!drives_read_) {
      if (!drives_.Refresh()) {
        throw Failure(std::string(path) + ": the mount table cannot be read");
      }
      drives_read_ = true;
    }
    std::string resolved = drives_.ResolvePath(path);
    if (resolved == path) {
      throw Failure(std::string(path.substr(0, 3)) + " is not mounted any more");
    }
    return resolved;
  }

  int Root(std::string_view path) {
    Fd& root = roots_[UpperAscii(path[0])];
    if (!root.valid()) {
      const std::string resolved = Resolve(path.substr(0, 3));
      root = Fd(::open(resolved.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
      if (!root.valid()) {
        FailAt(path.substr(0, 3));
      }
    }
    return root.get();
  }

  DriveTable& drives_;
  bool drives_read_ = false;
  std::map<char, Fd> roots_;
  FactsByDevice facts_;
};

}  // namespace

std::unique_ptr<FileSession> PosixFiles::StartSession() {
  return std::make_unique<PosixSession>(drives_);
}

}  // namespace salvatrix::posix
