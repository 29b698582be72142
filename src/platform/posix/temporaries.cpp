#include "platform/posix/temporaries.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <memory>
#include <random>
#include <vector>

#include "platform/posix/beneath.h"

namespace salvatrix::posix {
namespace {

// mkstemp tries this many names too; a folder where all of them collide is not a folder we can use.
constexpr int kAttempts = 100;
constexpr std::string_view kPrefix = ".salvatrix-";
constexpr std::string_view kSuffix = ".tmp";
constexpr std::size_t kRandomLetters = 6;
constexpr std::string_view kLetters =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";

std::string TemporaryName() {
  thread_local std::minstd_rand random{std::random_device{}() ^
                                       static_cast<std::uint_fast32_t>(::getpid())};
  std::string name{kPrefix};
  for (std::size_t i = 0; i < kRandomLetters; ++i) {
    name += kLetters[random() % kLetters.size()];
  }
  name += kSuffix;
  return name;
}

// A filesystem without locks (some network filesystems) cannot protect a temporary this way;
// the copy goes on, and cleaning never removes a temporary it cannot lock.
bool LocksUnsupported(int error) {
  return error == ENOLCK || error == EINVAL || error == EOPNOTSUPP || error == ENOSYS;
}

// Whether name in folder is still the file open as file.
bool StillNamed(int folder, const std::string& name, int file) {
  struct stat named {};
  struct stat open {};
  return ::fstatat(folder, name.c_str(), &named, AT_SYMLINK_NOFOLLOW) == 0 &&
         ::fstat(file, &open) == 0 && named.st_dev == open.st_dev && named.st_ino == open.st_ino;
}

struct DirCloser {
  void operator()(DIR* dir) const { ::closedir(dir); }
};

}  // namespace

bool IsTemporaryName(std::string_view name) {
  if (name.size() != kPrefix.size() + kRandomLetters + kSuffix.size() ||
      !name.starts_with(kPrefix) || !name.ends_with(kSuffix)) {
    return false;
  }
  const std::string_view letters = name.substr(kPrefix.size(), kRandomLetters);
  return letters.find_first_not_of(kLetters) == std::string_view::npos;
}

std::error_code CreateTemporary(int folder, unsigned mode, Fd& out, std::string& name) {
  for (int attempt = 0; attempt < kAttempts; ++attempt) {
    name = TemporaryName();
    Fd file(::openat(folder, name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                     static_cast<mode_t>(mode)));
    if (!file.valid()) {
      if (errno == EEXIST) {
        continue;
      }
      return NameError(folder, errno);
    }
    if (::flock(file.get(), LOCK_EX | LOCK_NB) != 0) {
      if (errno == EWOULDBLOCK) {
        continue;  // another run is cleaning it up just now; it removes the name
      }
      if (!LocksUnsupported(errno)) {
        const int error = errno;
        ::unlinkat(folder, name.c_str(), 0);
        return ErrnoCode(error);
      }
    } else if (!StillNamed(folder, name, file.get())) {
      continue;  // removed by another run's cleaning before the lock was ours
    }
    out = std::move(file);
    return {};
  }
  return ErrnoCode(EEXIST);
}

int LinkUnnamed(int file, int folder, const char* name) {
  // AT_EMPTY_PATH needs CAP_DAC_READ_SEARCH before Linux 6.10 (ENOENT without it); the /proc
  // path does not.
  static std::atomic<bool> use_proc{false};
  if (!use_proc.load(std::memory_order_relaxed)) {
    if (::linkat(file, "", folder, name, AT_EMPTY_PATH) == 0) {
      return 0;
    }
    if (errno != ENOENT) {
      return errno;
    }
  }
  const std::string path = "/proc/self/fd/" + std::to_string(file);
  if (::linkat(AT_FDCWD, path.c_str(), folder, name, AT_SYMLINK_FOLLOW) != 0) {
    return errno;
  }
  use_proc.store(true, std::memory_order_relaxed);
  return 0;
}

std::error_code NameUnnamedTemporary(int file, int folder, std::string& name) {
  if (::flock(file, LOCK_EX | LOCK_NB) != 0 && !LocksUnsupported(errno)) {
    return LastError();
  }
  for (int attempt = 0; attempt < kAttempts; ++attempt) {
    name = TemporaryName();
    if (const int error = LinkUnnamed(file, folder, name.c_str()); error != EEXIST) {
      return error == 0 ? std::error_code{} : NameError(folder, error);
    }
  }
  return ErrnoCode(EEXIST);
}

void RemoveStaleTemporaries(int folder) {
  std::vector<std::string> candidates;
  {
    const int fd = ::openat(folder, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) {
      return;
    }
    std::unique_ptr<DIR, DirCloser> listing(::fdopendir(fd));
    if (!listing) {
      ::close(fd);
      return;
    }
    // Names are collected first: removing entries while a listing is read may make it skip
    // some, on FUSE in particular.
    while (const dirent* entry = ::readdir(listing.get())) {
      if ((entry->d_type == DT_REG || entry->d_type == DT_UNKNOWN) &&
          IsTemporaryName(entry->d_name)) {
        candidates.emplace_back(entry->d_name);
      }
    }
  }
  for (const std::string& name : candidates) {
    // Looked at before it is opened: opening a device can do something.
    struct stat status {};
    if (::fstatat(folder, name.c_str(), &status, AT_SYMLINK_NOFOLLOW) != 0 ||
        !S_ISREG(status.st_mode)) {
      continue;
    }
    Fd file(
        ::openat(folder, name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    if (!file.valid() || ::fstat(file.get(), &status) != 0 || !S_ISREG(status.st_mode) ||
        ::flock(file.get(), LOCK_EX | LOCK_NB) != 0) {
      continue;
    }
    if (StillNamed(folder, name, file.get())) {
      ::unlinkat(folder, name.c_str(), 0);
    }
  }
}

}  // namespace salvatrix::posix
