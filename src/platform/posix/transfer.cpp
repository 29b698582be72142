#include "platform/posix/transfer.h"

#include <fcntl.h>
#include <linux/magic.h>
#include <sys/sendfile.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <memory>

#include "platform/posix/fd.h"

namespace salvatrix::posix {
namespace {

// A single copy_file_range or sendfile call may move at most about 2 GiB; asking for 1 GiB keeps
// the number of calls for a big file tiny without running into that limit.
constexpr std::size_t kChunkBytes = std::size_t{1} << 30;
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

std::error_code WriteAll(int out, const char* data, std::size_t size) {
  while (size > 0) {
    const ssize_t written = ::write(out, data, size);
    if (written < 0) {
      if (errno == EINTR) {
        continue;
      }
      return LastError();
    }
    if (written == 0) {
      return ErrnoCode(EIO);
    }
    data += written;
    size -= static_cast<std::size_t>(written);
  }
  return {};
}

// Moves up to size bytes from the current position of in; what read returns, errno set.
ssize_t ReadWrite(int in, int out, std::size_t size) {
  const ssize_t got = ::read(in, Buffer(), std::min(size, kBufferBytes));
  if (got > 0) {
    if (const auto error = WriteAll(out, Buffer(), static_cast<std::size_t>(got))) {
      errno = error.value();
      return -1;
    }
  }
  return got;
}

std::error_code ReadToEnd(int in, int out) {
  while (true) {
    const ssize_t got = ReadWrite(in, out, kBufferBytes);
    if (got == 0) {
      return {};
    }
    if (got < 0 && errno != EINTR) {
      return LastError();
    }
  }
}

// procfs, sysfs and their kind give sizes (0, 4096) that say nothing about what a read gives.
bool SizeIsNotContent(int in) {
  struct statfs filesystem {};
  if (::fstatfs(in, &filesystem) != 0) {
    return false;
  }
  switch (filesystem.f_type) {
    case PROC_SUPER_MAGIC:
    case SYSFS_MAGIC:
    case DEBUGFS_MAGIC:
    case TRACEFS_MAGIC:
    case SECURITYFS_MAGIC:
    case CGROUP_SUPER_MAGIC:
    case CGROUP2_SUPER_MAGIC:
      return true;
    default:
      return false;
  }
}

bool SameTime(const timespec& a, const timespec& b) {
  return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec;
}

}  // namespace

std::error_code SourceChangedError() {
  return ErrnoCode(EBUSY);
}

std::error_code CopyContent(int in, const struct stat& at_open, int out, bool big_writes) {
  const off_t size = at_open.st_size;
  if (size >= static_cast<off_t>(kBufferBytes)) {
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
  off_t copied = 0;
  while (copied < size) {
    const auto want = static_cast<std::size_t>(std::min<off_t>(size - copied, kChunkBytes));
    ssize_t moved = 0;
    switch (method) {
      case kCopyFileRange:
        moved = ::copy_file_range(in, nullptr, out, nullptr, want, 0);
        break;
      case kSendfile:
        moved = ::sendfile(out, in, nullptr, want);
        break;
      case kReadWrite:
        moved = ReadWrite(in, out, want);
        break;
    }
    if (moved > 0) {
      copied += moved;
      continue;
    }
    if (moved == 0) {
      // copy_file_range gives nothing at all for some kernel files; read them.
      if (method == kCopyFileRange && copied == 0) {
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
    return LastError();
  }

  // A source that ended early or goes on past its size: a program is writing it now, unless
  // sizes mean nothing on its filesystem.
  char probe = 0;
  const ssize_t more = copied < size ? 1 : ::pread(in, &probe, 1, size);
  if (more < 0) {
    return LastError();
  }
  if (more > 0) {
    return SizeIsNotContent(in) ? ReadToEnd(in, out) : SourceChangedError();
  }
  struct stat now {};
  if (::fstat(in, &now) != 0) {
    return LastError();
  }
  if (now.st_size != size || !SameTime(now.st_mtim, at_open.st_mtim)) {
    return SourceChangedError();
  }
  return {};
}

}  // namespace salvatrix::posix
