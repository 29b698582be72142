#include "platform/posix/copying/transfer.h"

#include <fcntl.h>
#include <linux/magic.h>
#include <sys/sendfile.h>
#include <sys/vfs.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <memory>

namespace salvatrix::posix {
namespace {

// A single copy_file_range or sendfile call may move at most about 2 GiB; asking for 1 GiB keeps
// the number of calls for a big file tiny without running into that limit.
constexpr std::uint64_t kChunkBytes = std::uint64_t{1} << 30;
// Large enough that the plain read/write fallback runs at device speed.
constexpr std::size_t kBufferBytes = std::size_t{1} << 20;

char* Buffer() {
  thread_local std::unique_ptr<char[]> buffer;
  if (!buffer) {
    buffer = std::make_unique_for_overwrite<char[]>(kBufferBytes);
  }
  return buffer.get();
}

// The errors with which copy_file_range and sendfile say "not between these two files" rather
// than "the copy failed"; the next, more general method is then tried.
bool IsUnsupported(int error) {
  return error == EXDEV || error == ENOSYS || error == EINVAL || error == EOPNOTSUPP;
}

// Moves up to size bytes by read and write; what read returns, errno set.
ssize_t ReadWrite(int in, int out, std::size_t size) {
  const ssize_t got = ::read(in, Buffer(), std::min(size, kBufferBytes));
  for (ssize_t done = 0; done < got;) {
    const ssize_t written = ::write(out, Buffer() + done, static_cast<std::size_t>(got - done));
    if (written < 0 && errno == EINTR) {
      continue;
    }
    if (written <= 0) {
      if (written == 0) {
        errno = EIO;
      }
      return -1;
    }
    done += written;
  }
  return got;
}

}  // namespace

std::uint64_t MoveData(int in, int out, std::uint64_t limit, bool big_writes, int& error) {
  error = 0;
  if (limit >= kBufferBytes) {
    // A bigger read-ahead window when the source has to come from its disk; the call costs more
    // than it gains on small files.
    ::posix_fadvise(in, 0, 0, POSIX_FADV_SEQUENTIAL);
  }
  // All three methods move data from the current file positions, so after a partial success
  // the next one simply goes on where the last stopped.
  enum Method {
    kCopyFileRange,
    kSendfile,
    kReadWrite
  } method = big_writes ? kReadWrite : kCopyFileRange;
  std::uint64_t moved = 0;
  while (moved < limit) {
    const auto want = static_cast<std::size_t>(std::min(limit - moved, kChunkBytes));
    ssize_t step = 0;
    switch (method) {
      case kCopyFileRange:
        step = ::copy_file_range(in, nullptr, out, nullptr, want, 0);
        break;
      case kSendfile:
        step = ::sendfile(out, in, nullptr, want);
        break;
      case kReadWrite:
        step = ReadWrite(in, out, want);
        break;
    }
    if (step > 0) {
      moved += static_cast<std::uint64_t>(step);
      continue;
    }
    if (step == 0) {
      // copy_file_range gives nothing at all for some kernel files; read them.
      if (method == kCopyFileRange && moved == 0) {
        method = kReadWrite;
        continue;
      }
      break;
    }
    if (errno == EINTR) {
      continue;
    }
    if (method != kReadWrite && IsUnsupported(errno)) {
      method = method == kCopyFileRange ? kSendfile : kReadWrite;
      continue;
    }
    error = errno;
    break;
  }
  return moved;
}

bool SizeTellsContent(int in) {
  struct statfs filesystem {};
  if (::fstatfs(in, &filesystem) != 0) {
    return true;
  }
  switch (filesystem.f_type) {
    case PROC_SUPER_MAGIC:
    case SYSFS_MAGIC:
    case DEBUGFS_MAGIC:
    case TRACEFS_MAGIC:
    case SECURITYFS_MAGIC:
    case CGROUP_SUPER_MAGIC:
    case CGROUP2_SUPER_MAGIC:
      return false;
    default:
      return true;
  }
}

}  // namespace salvatrix::posix
