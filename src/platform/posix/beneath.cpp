#include "platform/posix/beneath.h"

#include <fcntl.h>
#include <linux/openat2.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <string>

namespace salvatrix::posix {
namespace {

// A name that is being swapped by someone else while we look at it; after this many rounds we
// give up rather than loop.
constexpr int kAttempts = 4;

// Whether the running kernel knows openat2 (Linux 5.6); found out by the first call.
std::atomic<bool> kernel_lacks_openat2{false};

}  // namespace

std::error_code NameError(int folder, int error) {
  struct stat status {};
  if (error == ENOENT && ::fstat(folder, &status) == 0 && status.st_nlink > 0) {
    return ErrnoCode(EINVAL);
  }
  return ErrnoCode(error);
}

std::error_code OpenBeneathByComponents(int folder, std::string_view relative, int flags, Fd& out) {
  if (relative.starts_with('/')) {
    return ErrnoCode(EXDEV);
  }
  Fd current;
  int at = folder;
  while (true) {
    const std::size_t slash = relative.find('/');
    const std::string name(relative.substr(0, slash));
    const bool last = slash == std::string_view::npos;
    if (name == "..") {
      return ErrnoCode(EXDEV);
    }
    if (last || !(name.empty() || name == ".")) {
      const int step_flags =
          last ? flags | O_NOFOLLOW | O_CLOEXEC : O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;
      Fd next(::openat(at, name.empty() ? "." : name.c_str(), step_flags));
      if (!next.valid()) {
        const int error = errno;
        struct stat status {};
        // O_DIRECTORY | O_NOFOLLOW says ENOTDIR for a link; openat2 says ELOOP.
        if (error == ENOTDIR && ::fstatat(at, name.c_str(), &status, AT_SYMLINK_NOFOLLOW) == 0 &&
            S_ISLNK(status.st_mode)) {
          return ErrnoCode(ELOOP);
        }
        return ErrnoCode(error);
      }
      // O_PATH | O_NOFOLLOW opens a link itself instead of refusing it.
      struct stat status {};
      if (last && (flags & O_PATH) != 0 &&
          (::fstat(next.get(), &status) != 0 || S_ISLNK(status.st_mode))) {
        return ErrnoCode(ELOOP);
      }
      current = std::move(next);
      at = current.get();
    }
    if (last) {
      break;
    }
    relative.remove_prefix(slash + 1);
  }
  out = std::move(current);
  return {};
}

std::error_code OpenBeneath(int folder, std::string_view relative, int flags, Fd& out) {
  if (!kernel_lacks_openat2.load(std::memory_order_relaxed)) {
    const std::string path = relative.empty() ? std::string(".") : std::string(relative);
    open_how how{};
    how.flags = static_cast<unsigned>(flags | O_CLOEXEC);
    how.resolve = RESOLVE_BENEATH | RESOLVE_NO_SYMLINKS | RESOLVE_NO_MAGICLINKS;
    for (int attempt = 0; attempt < kAttempts; ++attempt) {
      const long fd = ::syscall(SYS_openat2, folder, path.c_str(), &how, sizeof how);
      if (fd >= 0) {
        out = Fd(static_cast<int>(fd));
        return {};
      }
      // EAGAIN: a rename elsewhere on the filesystem raced with the lookup.
      if (errno != EAGAIN) {
        break;
      }
    }
    if (errno != ENOSYS) {
      return LastError();
    }
    kernel_lacks_openat2.store(true, std::memory_order_relaxed);
  }
  return OpenBeneathByComponents(folder, relative, flags, out);
}

std::error_code OpenOrMakeFolder(int parent, const char* name, unsigned mode, Fd& out,
                                 bool& created) {
  constexpr int kFlags = O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;
  for (int attempt = 0; attempt < kAttempts; ++attempt) {
    created = ::mkdirat(parent, name, static_cast<mode_t>(mode)) == 0;
    if (!created && errno != EEXIST) {
      return NameError(parent, errno);
    }
    Fd folder(::openat(parent, name, kFlags));
    if (folder.valid()) {
      out = std::move(folder);
      return {};
    }
    if (errno == ENOENT) {
      continue;  // removed since; make it again
    }
    if (errno != ENOTDIR) {
      return LastError();
    }
    struct stat status {};
    if (::fstatat(parent, name, &status, AT_SYMLINK_NOFOLLOW) != 0) {
      if (errno == ENOENT) {
        continue;
      }
      return LastError();
    }
    if (!S_ISLNK(status.st_mode)) {
      return ErrnoCode(ENOTDIR);
    }
    // A link where the folder goes: whatever it points to is none of this copy's business.
    if (::unlinkat(parent, name, 0) != 0 && errno != ENOENT) {
      return LastError();
    }
  }
  return ErrnoCode(ELOOP);
}

}  // namespace salvatrix::posix
