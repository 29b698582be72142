#include "platform/posix/copying/source.h"

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "platform/posix/copying/transfer.h"

namespace salvatrix::posix {
namespace {

constexpr int kReadFlags = O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC;
// No real folder tree is this deep; a loop of bind mounts might be.
constexpr int kMostLevels = 4096;

std::vector<std::string> Components(const char* path) {
  std::vector<std::string> names;
  for (const char* at = path; *at != '\0';) {
    const char* end = std::strchr(at, '/');
    const std::size_t length =
        end == nullptr ? std::strlen(at) : static_cast<std::size_t>(end - at);
    if (length > 0) {
      names.emplace_back(at, length);
    }
    at += length + (end == nullptr ? 0 : 1);
  }
  return names;
}

struct DirCloser {
  void operator()(DIR* dir) const { ::closedir(dir); }
};

}  // namespace

EntryId IdOf(const struct stat& status) {
  EntryId id;
  id.volume = status.st_dev;
  const std::uint64_t inode = status.st_ino;
  std::memcpy(id.file.data(), &inode, sizeof inode);
  return id;
}

EntryKind KindOf(const struct stat& status) {
  if (S_ISREG(status.st_mode)) {
    return EntryKind::kFile;
  }
  if (S_ISDIR(status.st_mode)) {
    return EntryKind::kFolder;
  }
  return S_ISLNK(status.st_mode) ? EntryKind::kLink : EntryKind::kOther;
}

std::vector<EntryId> IdsAbove(int folder, const std::string& path) {
  std::vector<EntryId> ids;
  struct stat previous {};
  if (::fstat(folder, &previous) != 0) {
    FailAt(path);
  }
  Fd at(::fcntl(folder, F_DUPFD_CLOEXEC, 0));
  for (int level = 0; at.valid() && level < kMostLevels; ++level) {
    Fd up(::openat(at.get(), "..", O_PATH | O_DIRECTORY | O_CLOEXEC));
    struct stat status {};
    if (!up.valid() || ::fstat(up.get(), &status) != 0) {
      FailAt(path + "/..");
    }
    if (status.st_dev == previous.st_dev && status.st_ino == previous.st_ino) {
      break;  // the top: its ".." is itself
    }
    ids.push_back(IdOf(status));
    previous = status;
    at = std::move(up);
  }
  return ids;
}

void ForEachEntry(int folder, const std::string& path,
                  const std::function<void(const dirent&)>& visit) {
  const int fd = ::openat(folder, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) {
    FailAt(path);
  }
  std::unique_ptr<DIR, DirCloser> listing(::fdopendir(fd));
  if (!listing) {
    const int error = errno;
    ::close(fd);
    FailAt(path, error);
  }
  while (true) {
    errno = 0;
    const dirent* entry = ::readdir(listing.get());
    if (entry == nullptr) {
      if (errno != 0) {
        FailAt(path);
      }
      return;
    }
    const std::string_view name = entry->d_name;
    if (name != "." && name != "..") {
      visit(*entry);
    }
  }
}

PosixSourceFile::PosixSourceFile(Fd in, const struct stat& status, std::string path,
                                 std::optional<EntryId> folder)
    : in_(std::move(in)), status_(status), path_(std::move(path)), folder_(folder) {}

EntryId PosixSourceFile::FolderId() {
  if (!folder_) {
    struct stat status {};
    const std::filesystem::path parent = std::filesystem::path(path_).parent_path();
    if (::stat(parent.empty() ? "." : parent.c_str(), &status) != 0) {
      FailAt(parent.string());
    }
    folder_ = IdOf(status);
  }
  return *folder_;
}

namespace {

FileStamp StampOf(const struct stat& status) {
  return {static_cast<std::uint64_t>(status.st_size),
          static_cast<std::int64_t>(status.st_mtim.tv_sec) * 1000000000 + status.st_mtim.tv_nsec};
}

}  // namespace

FileStamp PosixSourceFile::AtOpen() const {
  return StampOf(status_);
}

FileStamp PosixSourceFile::Stamp() {
  struct stat now {};
  if (::fstat(in_.get(), &now) != 0) {
    FailAt(path_);
  }
  return StampOf(now);
}

bool PosixSourceFile::SizeTellsContent() {
  return posix::SizeTellsContent(in_.get());
}

bool PosixSourceFile::HasByteAt(std::uint64_t offset) {
  char probe = 0;
  const ssize_t got = ::pread(in_.get(), &probe, 1, static_cast<off_t>(offset));
  if (got < 0) {
    FailAt(path_);
  }
  return got > 0;
}

PosixSourceFolder::PosixSourceFolder(Fd folder, const struct stat& status, std::string path)
    : folder_(std::move(folder)), status_(status), path_(std::move(path)) {}

std::vector<EntryId> PosixSourceFolder::Above() {
  return IdsAbove(folder_.get(), path_);
}

std::vector<SourceEntry> PosixSourceFolder::List() {
  std::vector<SourceEntry> entries;
  ForEachEntry(folder_.get(), path_, [&](const dirent& entry) {
    SourceEntry listed{entry.d_name, EntryKind::kOther, EntryKind::kOther};
    switch (entry.d_type) {
      case DT_REG:
        listed.kind = EntryKind::kFile;
        break;
      case DT_DIR:
        listed.kind = EntryKind::kFolder;
        break;
      case DT_LNK:
        listed.kind = EntryKind::kLink;
        break;
      case DT_UNKNOWN: {
        struct stat status {};
        if (::fstatat(folder_.get(), entry.d_name, &status, AT_SYMLINK_NOFOLLOW) == 0) {
          listed.kind = KindOf(status);
        }
        break;
      }
      default:
        break;
    }
    listed.target = listed.kind;
    if (listed.kind == EntryKind::kLink) {
      // What it leads to; a dangling link or a link cycle leads to nothing to copy.
      struct stat status {};
      listed.target = ::fstatat(folder_.get(), entry.d_name, &status, 0) == 0 ? KindOf(status)
                                                                              : EntryKind::kOther;
    }
    entries.push_back(std::move(listed));
  });
  return entries;
}

// Looked at before it is opened: opening a FIFO waits for a writer, opening a device can do
// something. O_NONBLOCK and O_NOFOLLOW: should the name have been swapped since, the open still
// returns at once and the fstat refuses it.
std::unique_ptr<SourceFile> PosixSourceFolder::OpenFile(const std::string& name, EntryKind& found) {
  struct stat status {};
  if (found != EntryKind::kFile) {
    if (::fstatat(folder_.get(), name.c_str(), &status, AT_SYMLINK_NOFOLLOW) != 0) {
      if (errno != ENOENT) {
        FailAt(PathOf(name));
      }
      found = EntryKind::kMissing;
      return nullptr;
    }
    found = KindOf(status);
    if (found != EntryKind::kFile) {
      return nullptr;
    }
  }
  Fd in(::openat(folder_.get(), name.c_str(), kReadFlags | O_NOFOLLOW));
  if (!in.valid() || ::fstat(in.get(), &status) != 0) {
    FailAt(PathOf(name));
  }
  found = KindOf(status);
  if (found != EntryKind::kFile) {
    return nullptr;
  }
  return std::make_unique<PosixSourceFile>(std::move(in), status, PathOf(name), Id());
}

std::unique_ptr<SourceFolder> PosixSourceFolder::OpenFolder(const std::string& name,
                                                            EntryKind& found) {
  Fd folder(::openat(folder_.get(), name.c_str(), kReadFlags | O_DIRECTORY | O_NOFOLLOW));
  struct stat status {};
  if (!folder.valid()) {
    const int error = errno;
    if (error != ENOTDIR && error != ELOOP && error != ENOENT) {
      FailAt(PathOf(name), error);
    }
    found = ::fstatat(folder_.get(), name.c_str(), &status, AT_SYMLINK_NOFOLLOW) == 0
                ? KindOf(status)
                : EntryKind::kMissing;
    return nullptr;
  }
  if (::fstat(folder.get(), &status) != 0) {
    FailAt(PathOf(name));
  }
  found = EntryKind::kFolder;
  return std::make_unique<PosixSourceFolder>(std::move(folder), status, PathOf(name));
}

std::vector<std::string> PosixSourceFolder::RealPath() {
  std::unique_ptr<char, decltype(&std::free)> real(::realpath(path_.c_str(), nullptr), &std::free);
  if (!real) {
    FailAt(path_);
  }
  return Components(real.get());
}

std::optional<std::vector<std::string>> PosixSourceFolder::RealPath(const std::string& name) {
  const std::string path = PathOf(name);
  std::unique_ptr<char, decltype(&std::free)> real(::realpath(path.c_str(), nullptr), &std::free);
  if (!real) {
    // Where a target cannot be told, it is not followed.
    if (errno != ENOENT && errno != ELOOP && errno != ENOTDIR && errno != ENAMETOOLONG &&
        errno != EACCES) {
      FailAt(path);
    }
    return std::nullopt;
  }
  return Components(real.get());
}

std::string PosixSourceFolder::PathOf(std::string_view name) const {
  std::string path = path_;
  if (!path.ends_with('/')) {
    path += '/';
  }
  path += name;
  return path;
}

std::unique_ptr<SourceFile> OpenSourceFileAt(const std::string& path, EntryKind& found) {
  struct stat status {};
  if (::stat(path.c_str(), &status) != 0) {
    FailAt(path);
  }
  found = KindOf(status);
  if (found != EntryKind::kFile) {
    return nullptr;
  }
  Fd in(::open(path.c_str(), kReadFlags));
  if (!in.valid() || ::fstat(in.get(), &status) != 0) {
    FailAt(path);
  }
  found = KindOf(status);
  if (found != EntryKind::kFile) {
    return nullptr;
  }
  return std::make_unique<PosixSourceFile>(std::move(in), status, path, std::nullopt);
}

std::unique_ptr<SourceFolder> OpenSourceFolderAt(const std::string& path, EntryKind& found) {
  Fd folder(::open(path.c_str(), kReadFlags | O_DIRECTORY));
  struct stat status {};
  if (!folder.valid()) {
    if (errno != ENOTDIR) {
      FailAt(path);
    }
    found = ::stat(path.c_str(), &status) == 0 ? KindOf(status) : EntryKind::kMissing;
    return nullptr;
  }
  if (::fstat(folder.get(), &status) != 0) {
    FailAt(path);
  }
  found = EntryKind::kFolder;
  return std::make_unique<PosixSourceFolder>(std::move(folder), status, path);
}

}  // namespace salvatrix::posix
