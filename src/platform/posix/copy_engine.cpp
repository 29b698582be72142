#include "platform/posix/copy_engine.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/sendfile.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <random>
#include <string>
#include <utility>
#include <vector>

namespace salvatrix::posix {
namespace {

namespace fs = std::filesystem;

// A single copy_file_range or sendfile call may move at most about 2 GiB; asking for 1 GiB keeps
// the number of calls for a big file tiny without running into that limit.
constexpr std::size_t kChunkBytes = std::size_t{1} << 30;
// Large enough that the plain read/write fallback runs at device speed.
constexpr std::size_t kBufferBytes = std::size_t{1} << 20;
// mkstemp tries this many names too; a folder where all of them collide is not a folder we can use.
constexpr int kTemporaryAttempts = 100;
constexpr std::string_view kTemporaryPrefix = ".salvatrix-";
constexpr std::string_view kTemporarySuffix = ".tmp";

std::error_code ErrnoCode(int error) {
  return {error, std::generic_category()};
}
std::error_code LastError() {
  return ErrnoCode(errno);
}

class Fd {
 public:
  Fd() = default;
  explicit Fd(int fd) : fd_(fd) {}
  Fd(Fd&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
  Fd& operator=(Fd&& other) noexcept {
    std::swap(fd_, other.fd_);
    return *this;
  }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  ~Fd() {
    if (fd_ >= 0) {
      ::close(fd_);
    }
  }

  int get() const { return fd_; }
  bool valid() const { return fd_ >= 0; }
  int release() { return std::exchange(fd_, -1); }

  // close() is where NFS and FUSE report write errors that were deferred, so it must be checked
  // for the file being written.
  std::error_code Close() {
    if (::close(std::exchange(fd_, -1)) != 0 && errno != EINTR) {
      return LastError();
    }
    return {};
  }

 private:
  int fd_ = -1;
};

struct DirCloser {
  void operator()(DIR* dir) const { ::closedir(dir); }
};
using DirHandle = std::unique_ptr<DIR, DirCloser>;

// The errors with which copy_file_range and sendfile say "not between these two files" rather
// than "the copy failed"; the next, more general method is then tried.
bool IsUnsupported(int error) {
  return error == EXDEV || error == ENOSYS || error == EINVAL || error == EOPNOTSUPP;
}

// Filesystems that cannot store Unix permissions or foreign times (exFAT, FAT) refuse with these;
// the copy is still good.
bool IsRefusedAttribute(int error) {
  return error == EPERM || error == EACCES || error == EOPNOTSUPP;
}

char* Buffer() {
  thread_local std::unique_ptr<char[]> buffer;
  if (!buffer) {
    buffer = std::make_unique_for_overwrite<char[]>(kBufferBytes);
  }
  return buffer.get();
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

std::error_code ReadWriteLoop(int in, int out) {
  char* buffer = Buffer();
  while (true) {
    const ssize_t got = ::read(in, buffer, kBufferBytes);
    if (got == 0) {
      return {};
    }
    if (got < 0) {
      if (errno == EINTR) {
        continue;
      }
      return LastError();
    }
    if (auto error = WriteAll(out, buffer, static_cast<std::size_t>(got))) {
      return error;
    }
  }
}

enum class Transfer { kDone, kUnsupported, kFailed };

// Both in-kernel methods move data from the current file positions, so after a partial success
// the next method simply continues where this one stopped. Copying stops at the size the source
// had when opened, which saves the call that would only report the end. Nothing at all on the
// first call means a file whose size is not its content (procfs, sysfs): read it instead.
template <typename Step>
Transfer KernelTransfer(Step step, off_t size, off_t& copied, std::error_code& error) {
  while (copied < size) {
    const ssize_t moved = step();
    if (moved > 0) {
      copied += moved;
      continue;
    }
    if (moved == 0) {
      return copied == 0 ? Transfer::kUnsupported : Transfer::kDone;  // or it shrank meanwhile
    }
    if (errno == EINTR) {
      continue;
    }
    if (IsUnsupported(errno)) {
      return Transfer::kUnsupported;
    }
    error = LastError();
    return Transfer::kFailed;
  }
  return Transfer::kDone;
}

std::error_code CopyData(int in, int out, off_t size) {
  std::error_code error;
  off_t copied = 0;
  if (size > 0) {
    // copy_file_range lets a filesystem clone or copy server-side; sendfile still avoids the trip
    // through user space between different filesystems.
    Transfer done = KernelTransfer(
        [&] {
          return ::copy_file_range(in, nullptr, out, nullptr,
                                   std::min(kChunkBytes, static_cast<std::size_t>(size - copied)),
                                   0);
        },
        size, copied, error);
    if (done == Transfer::kUnsupported) {
      done = KernelTransfer(
          [&] {
            return ::sendfile(out, in, nullptr,
                              std::min(kChunkBytes, static_cast<std::size_t>(size - copied)));
          },
          size, copied, error);
    }
    if (done != Transfer::kUnsupported) {
      return error;
    }
  }
  return ReadWriteLoop(in, out);
}

std::string TemporaryName() {
  static constexpr std::string_view kLetters =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
  thread_local std::minstd_rand random{std::random_device{}() ^
                                       static_cast<std::uint_fast32_t>(::getpid())};
  std::string name{kTemporaryPrefix};
  for (int i = 0; i < 6; ++i) {
    name += kLetters[random() % kLetters.size()];
  }
  name += kTemporarySuffix;
  return name;
}

// Like mkstemp: new random names until one is free. claim returns 0 or an errno value.
template <typename Claim>
std::error_code ClaimTemporaryName(std::string& name, Claim claim) {
  for (int attempt = 0; attempt < kTemporaryAttempts; ++attempt) {
    name = TemporaryName();
    if (const int error = claim(name.c_str()); error != EEXIST) {
      return ErrnoCode(error);
    }
  }
  return ErrnoCode(EEXIST);
}

// exfat-fuse answers a name it cannot store (a:b.txt) with ENOENT, which would read as if the
// source were missing. When the folder is still there, the name is what was refused.
std::error_code NameError(int folder, int error) {
  struct stat status {};
  if (error == ENOENT && ::fstat(folder, &status) == 0 && status.st_nlink > 0) {
    return ErrnoCode(EINVAL);
  }
  return ErrnoCode(error);
}

// Opens the file that receives the copy, relative to the open destination folder so that a deep
// path is not walked again for every file. Where the filesystem can (ext4, XFS, Btrfs, tmpfs) the
// file has no name until it is complete, which saves the rename and can leave nothing behind even
// when the program dies; elsewhere (exFAT, FAT, most FUSE filesystems) it is a hidden temporary,
// whose name is then returned in temporary.
std::error_code OpenTarget(int folder, Fd& out, std::string& temporary) {
  // Without /proc only root could name the file afterwards.
  static const bool can_link_unnamed = ::access("/proc/self/fd", X_OK) == 0;
  if (can_link_unnamed) {
    out = Fd(::openat(folder, ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600));
    if (out.valid()) {
      return {};
    }
    if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL) {
      return LastError();
    }
  }
  return ClaimTemporaryName(temporary, [&](const char* name) {
    out = Fd(::openat(folder, name, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600));
    return out.valid() ? 0 : errno;
  });
}

// Gives an unnamed file a name; fails with EEXIST when the name is taken.
int Link(int file, int folder, const char* name) {
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

std::error_code Rename(int folder, const std::string& temporary, const char* name, bool overwrite) {
  int result = -1;
  if (!overwrite) {
    // Closes the gap between the existence check and the rename where the filesystem allows it.
    result = ::renameat2(folder, temporary.c_str(), folder, name, RENAME_NOREPLACE);
    if (result != 0 && errno != EINVAL && errno != ENOSYS && errno != EOPNOTSUPP) {
      return NameError(folder, errno);
    }
  }
  if (result != 0 && ::renameat(folder, temporary.c_str(), folder, name) != 0) {
    return NameError(folder, errno);
  }
  return {};
}

std::error_code PublishNamed(Fd& out, int folder, const std::string& temporary, const char* name,
                             bool overwrite) {
  std::error_code error = out.Close();
  if (!error) {
    error = Rename(folder, temporary, name, overwrite);
  }
  if (error) {
    ::unlinkat(folder, temporary.c_str(), 0);
  }
  return error;
}

std::error_code PublishUnnamed(Fd& out, int folder, const char* name, bool overwrite) {
  const int linked = Link(out.get(), folder, name);
  if (linked == 0) {
    if (auto error = out.Close()) {
      ::unlinkat(folder, name, 0);  // the name was free, so this is only the failed copy
      return error;
    }
    return {};
  }
  if (linked != EEXIST || !overwrite) {
    return NameError(folder, linked);
  }
  // Replacing takes a rename, so that the old file stays until the new one is complete.
  std::string temporary;
  if (auto error = ClaimTemporaryName(
          temporary, [&](const char* candidate) { return Link(out.get(), folder, candidate); })) {
    return error;
  }
  return PublishNamed(out, folder, temporary, name, overwrite);
}

std::error_code WriteTarget(int in, const struct stat& source, int out) {
  if (source.st_size >= static_cast<off_t>(kBufferBytes)) {
    // A bigger read-ahead window when the source has to come from its disk; the call costs more
    // than it gains on small files.
    ::posix_fadvise(in, 0, 0, POSIX_FADV_SEQUENTIAL);
  }
  if (auto error = CopyData(in, out, source.st_size)) {
    return error;
  }
  const std::array<timespec, 2> times{source.st_atim, source.st_mtim};
  if (::futimens(out, times.data()) != 0 && !IsRefusedAttribute(errno)) {
    return LastError();
  }
  // Set-id bits are dropped: the copy belongs to whoever runs the program, not to the source's
  // owner.
  if (::fchmod(out, source.st_mode & 0777) != 0 && !IsRefusedAttribute(errno)) {
    return LastError();
  }
  return {};
}

std::error_code TypeError(mode_t mode) {
  return ErrnoCode(S_ISDIR(mode) ? EISDIR : EOPNOTSUPP);
}

// source_is_regular: the caller has already seen, by stat or by the folder listing, that the
// source is a regular file, so opening it cannot block on a FIFO or wake a device.
std::error_code CopyFileAt(int source_folder, const char* source_name, bool source_is_regular,
                           int destination_folder, const char* destination_name, bool overwrite) {
  struct stat status {};
  if (!source_is_regular) {
    if (::fstatat(source_folder, source_name, &status, 0) != 0) {
      return LastError();
    }
    if (!S_ISREG(status.st_mode)) {
      return TypeError(status.st_mode);
    }
  }
  // O_NONBLOCK: should the name have been swapped for a FIFO since it was looked at, the open
  // still returns at once and the fstat below refuses it.
  Fd in(::openat(source_folder, source_name, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
  if (!in.valid()) {
    return LastError();
  }
  if (::fstat(in.get(), &status) != 0) {
    return LastError();
  }
  if (!S_ISREG(status.st_mode)) {
    return TypeError(status.st_mode);
  }

  // When replacing, a folder in the way is found by the rename (EISDIR) and the lookup is saved.
  struct stat existing {};
  if (!overwrite) {
    if (::fstatat(destination_folder, destination_name, &existing, AT_SYMLINK_NOFOLLOW) == 0) {
      return ErrnoCode(S_ISDIR(existing.st_mode) ? EISDIR : EEXIST);
    }
    if (errno != ENOENT) {
      return LastError();
    }
  }

  Fd out;
  std::string temporary;
  if (auto error = OpenTarget(destination_folder, out, temporary)) {
    return error;
  }
  std::error_code error = WriteTarget(in.get(), status, out.get());
  if (temporary.empty()) {
    // On failure the unnamed file goes away with its descriptor.
    return error ? error : PublishUnnamed(out, destination_folder, destination_name, overwrite);
  }
  if (error) {
    ::unlinkat(destination_folder, temporary.c_str(), 0);
    return error;
  }
  return PublishNamed(out, destination_folder, temporary, destination_name, overwrite);
}

using FolderId = std::pair<dev_t, ino_t>;

struct Descent {
  bool overwrite = false;
  FolderId destination_root;
  std::vector<FolderId> path;  // the source folders from the top down to the current one
};

std::error_code CopyTree(Fd source, int destination, Descent& descent);

std::error_code CopySubFolder(int source_folder, const char* name, int destination_folder,
                              Descent& descent) {
  Fd source(::openat(source_folder, name, O_RDONLY | O_DIRECTORY | O_NONBLOCK | O_CLOEXEC));
  if (!source.valid()) {
    return LastError();
  }
  struct stat status {};
  if (::fstat(source.get(), &status) != 0) {
    return LastError();
  }
  const FolderId id{status.st_dev, status.st_ino};
  if (id == descent.destination_root ||
      std::find(descent.path.begin(), descent.path.end(), id) != descent.path.end()) {
    return {};
  }
  // Owner rights are added so that the folder can be filled even when the source is read-only.
  if (::mkdirat(destination_folder, name, (status.st_mode & 0777) | S_IRWXU) != 0 &&
      errno != EEXIST) {
    return NameError(destination_folder, errno);
  }
  Fd destination(::openat(destination_folder, name, O_PATH | O_DIRECTORY | O_CLOEXEC));
  if (!destination.valid()) {
    // EEXIST from mkdirat and then nothing to open: a dangling link holds the name.
    return ErrnoCode(errno == ENOENT ? ENOTDIR : errno);
  }
  descent.path.push_back(id);
  std::error_code error = CopyTree(std::move(source), destination.get(), descent);
  descent.path.pop_back();
  return error;
}

std::error_code CopyEntry(int source_folder, const dirent& entry, int destination_folder,
                          Descent& descent) {
  const char* name = entry.d_name;
  switch (entry.d_type) {
    case DT_REG:
      return CopyFileAt(source_folder, name, true, destination_folder, name, descent.overwrite);
    case DT_DIR:
      return CopySubFolder(source_folder, name, destination_folder, descent);
    case DT_LNK:
    case DT_UNKNOWN:
      break;
    default:  // FIFOs, sockets and devices are not files a person copies.
      return {};
  }
  struct stat status {};
  if (::fstatat(source_folder, name, &status, 0) != 0) {
    if (entry.d_type == DT_LNK && (errno == ENOENT || errno == ELOOP)) {
      return {};  // a link to nothing, or to itself
    }
    return LastError();
  }
  if (S_ISREG(status.st_mode)) {
    return CopyFileAt(source_folder, name, true, destination_folder, name, descent.overwrite);
  }
  if (S_ISDIR(status.st_mode)) {
    return CopySubFolder(source_folder, name, destination_folder, descent);
  }
  return {};
}

std::error_code CopyTree(Fd source, int destination, Descent& descent) {
  DirHandle listing(::fdopendir(source.get()));
  if (!listing) {
    return LastError();
  }
  const int source_folder = source.release();
  while (true) {
    errno = 0;
    const dirent* entry = ::readdir(listing.get());
    if (entry == nullptr) {
      return errno == 0 ? std::error_code{} : LastError();
    }
    const std::string_view name = entry->d_name;
    if (name == "." || name == "..") {
      continue;
    }
    if (auto error = CopyEntry(source_folder, *entry, destination, descent)) {
      return error;
    }
  }
}

}  // namespace

std::error_code CopyFile(const fs::path& source, const fs::path& destination, bool overwrite) {
  const fs::path name = destination.filename();
  if (name.empty() || name == "." || name == "..") {
    return ErrnoCode(EISDIR);
  }
  const fs::path parent = destination.has_parent_path() ? destination.parent_path() : ".";
  Fd folder(::open(parent.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
  if (!folder.valid()) {
    return LastError();
  }
  return CopyFileAt(AT_FDCWD, source.c_str(), false, folder.get(), name.c_str(), overwrite);
}

std::error_code CopyFolder(const fs::path& source, const fs::path& destination, bool overwrite) {
  Fd from(::open(source.c_str(), O_RDONLY | O_DIRECTORY | O_NONBLOCK | O_CLOEXEC));
  if (!from.valid()) {
    return LastError();
  }
  struct stat status {};
  if (::fstat(from.get(), &status) != 0) {
    return LastError();
  }
  if (::mkdir(destination.c_str(), (status.st_mode & 0777) | S_IRWXU) != 0 && errno != EEXIST) {
    return LastError();
  }
  Fd to(::open(destination.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
  if (!to.valid()) {
    return ErrnoCode(errno == ENOENT ? ENOTDIR : errno);
  }
  struct stat root {};
  if (::fstat(to.get(), &root) != 0) {
    return LastError();
  }
  Descent descent{overwrite, {root.st_dev, root.st_ino}, {{status.st_dev, status.st_ino}}};
  return CopyTree(std::move(from), to.get(), descent);
}

std::error_code Flush(const fs::path& destination) {
  Fd target(::open(destination.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
  if (!target.valid()) {
    return LastError();
  }
  if (::syncfs(target.get()) != 0) {
    return LastError();
  }
  // FUSE forwards this to the filesystem process, which then writes its own caches out; EINVAL
  // is what a filesystem without a way to sync a folder answers.
  if (::fsync(target.get()) != 0 && errno != EINVAL && errno != EROFS) {
    return LastError();
  }
  return {};
}

}  // namespace salvatrix::posix
