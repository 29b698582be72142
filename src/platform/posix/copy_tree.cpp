// The folder walk of CopySession::CopyFolder: which source entries are copied, and where a
// link inside the copied folder may lead.

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/posix/beneath.h"
#include "platform/posix/copy_session_state.h"

namespace salvatrix::posix {
namespace {

namespace fs = std::filesystem;

using FolderId = std::pair<std::uint64_t, std::uint64_t>;

struct Walk {
  CopySession::State& session;
  bool overwrite;
  int top;                   // the source folder the copy started from
  std::string top_path;      // its path as given
  std::string top_real;      // its path without links, once a link needed it
  FolderId destination;      // the folder the copy goes into; never copied into itself
  std::vector<FolderId> up;  // the source folders from the top down to the current one
};

std::error_code CopyTree(Walk& walk, Fd source, const std::string& path, DestinationFolder& into);

std::error_code CopyOpenFile(Walk& walk, Fd in, DestinationFolder& into, const std::string& name) {
  struct stat status {};
  if (!in.valid() || ::fstat(in.get(), &status) != 0) {
    return LastError();
  }
  if (!S_ISREG(status.st_mode)) {
    return NotAFileError(status);
  }
  return WriteFile(walk.session, in.get(), status, into, name, walk.overwrite);
}

std::error_code CopySubFolder(Walk& walk, Fd source, const std::string& path,
                              DestinationFolder& into, const std::string& name) {
  struct stat status {};
  if (!source.valid() || ::fstat(source.get(), &status) != 0) {
    return LastError();
  }
  const FolderId id{status.st_dev, status.st_ino};
  if (id == walk.destination || std::find(walk.up.begin(), walk.up.end(), id) != walk.up.end()) {
    return {};
  }
  std::unique_ptr<DestinationFolder> folder;
  // Owner rights are added so that the folder can be filled even when the source is read-only.
  if (auto error =
          walk.session.EnterFolder(into, name, (status.st_mode & 0777) | S_IRWXU, folder)) {
    return error;
  }
  walk.up.push_back(id);
  std::error_code error = CopyTree(walk, std::move(source), path, *folder);
  walk.up.pop_back();
  return error;
}

// Where path leads, as a path relative to the top folder; nothing when it leads out of it, to
// the top folder itself (a cycle), or nowhere (a dangling link, a link cycle).
std::optional<std::string> InsideTop(Walk& walk, const std::string& path, std::error_code& error) {
  const auto real = [&error](const std::string& from) -> std::optional<std::string> {
    std::unique_ptr<char, decltype(&std::free)> resolved(::realpath(from.c_str(), nullptr),
                                                         &std::free);
    if (resolved) {
      return std::string(resolved.get());
    }
    // Where a target cannot be told, it is not followed.
    if (errno != ENOENT && errno != ELOOP && errno != ENOTDIR && errno != ENAMETOOLONG &&
        errno != EACCES) {
      error = LastError();
    }
    return std::nullopt;
  };
  if (walk.top_real.empty()) {
    auto top = real(walk.top_path);
    if (!top) {
      return std::nullopt;
    }
    walk.top_real = *top;
  }
  const auto target = real(path);
  if (!target) {
    return std::nullopt;
  }
  if (walk.top_real == "/") {
    return target->size() > 1 ? std::optional(target->substr(1)) : std::nullopt;
  }
  if (target->size() <= walk.top_real.size() + 1 || !target->starts_with(walk.top_real) ||
      (*target)[walk.top_real.size()] != '/') {
    return std::nullopt;
  }
  return target->substr(walk.top_real.size() + 1);
}

// A link inside the copied folder is followed only to what lies inside it, and then opened
// beneath the top folder with no link on the way, so that a link swapped meanwhile cannot lead
// out either.
std::error_code FollowLink(Walk& walk, const std::string& path, DestinationFolder& into,
                           const std::string& name) {
  std::error_code error;
  const auto inside = InsideTop(walk, path, error);
  if (!inside) {
    return error;
  }
  Fd target;
  struct stat status {};
  if (auto open_error = OpenBeneath(walk.top, *inside, O_PATH, target)) {
    return open_error == std::errc::no_such_file_or_directory ? std::error_code{} : open_error;
  }
  if (::fstat(target.get(), &status) != 0) {
    return LastError();
  }
  if (S_ISREG(status.st_mode)) {
    Fd in;
    if (auto open_error = OpenBeneath(walk.top, *inside, O_RDONLY | O_NONBLOCK | O_NOCTTY, in)) {
      return open_error;
    }
    return CopyOpenFile(walk, std::move(in), into, name);
  }
  if (S_ISDIR(status.st_mode)) {
    Fd folder;
    if (auto open_error =
            OpenBeneath(walk.top, *inside, O_RDONLY | O_DIRECTORY | O_NONBLOCK, folder)) {
      return open_error;
    }
    return CopySubFolder(walk, std::move(folder), path, into, name);
  }
  return {};
}

std::error_code CopyEntry(Walk& walk, int source, const std::string& path, const dirent& entry,
                          DestinationFolder& into) {
  const std::string name = entry.d_name;
  unsigned char type = entry.d_type;
  if (type == DT_UNKNOWN) {
    struct stat status {};
    if (::fstatat(source, name.c_str(), &status, AT_SYMLINK_NOFOLLOW) != 0) {
      return LastError();
    }
    type = S_ISREG(status.st_mode)   ? DT_REG
           : S_ISDIR(status.st_mode) ? DT_DIR
           : S_ISLNK(status.st_mode) ? DT_LNK
                                     : DT_UNKNOWN;
  }
  // O_NOFOLLOW: an entry that became a link since the listing is not followed blindly.
  switch (type) {
    case DT_REG:
      return CopyOpenFile(walk,
                          Fd(::openat(source, name.c_str(),
                                      O_RDONLY | O_NONBLOCK | O_NOCTTY | O_NOFOLLOW | O_CLOEXEC)),
                          into, name);
    case DT_DIR:
      return CopySubFolder(
          walk,
          Fd(::openat(source, name.c_str(),
                      O_RDONLY | O_DIRECTORY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC)),
          path + "/" + name, into, name);
    case DT_LNK:
      return FollowLink(walk, path + "/" + name, into, name);
    default:  // FIFOs, sockets and devices are not files a person copies.
      return {};
  }
}

std::error_code CopyTree(Walk& walk, Fd source, const std::string& path, DestinationFolder& into) {
  std::unique_ptr<DIR, int (*)(DIR*)> listing(::fdopendir(source.get()), ::closedir);
  if (!listing) {
    return LastError();
  }
  const int folder = source.release();
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
    if (auto error = CopyEntry(walk, folder, path, *entry, into)) {
      return error;
    }
  }
}

}  // namespace

std::error_code CopyFolderInto(CopySession::State& session, const fs::path& source,
                               DestinationFolder& parent, const std::string& name, bool overwrite) {
  Fd top(::open(source.c_str(), O_RDONLY | O_DIRECTORY | O_NONBLOCK | O_CLOEXEC));
  struct stat status {};
  if (!top.valid() || ::fstat(top.get(), &status) != 0) {
    return LastError();
  }
  std::unique_ptr<DestinationFolder> folder;
  if (auto error = session.EnterFolder(parent, name, (status.st_mode & 0777) | S_IRWXU, folder)) {
    return error;
  }
  Fd listing(::fcntl(top.get(), F_DUPFD_CLOEXEC, 0));
  if (!listing.valid()) {
    return LastError();
  }
  Walk walk{session,
            overwrite,
            top.get(),
            source.string(),
            {},
            {folder->device, folder->inode},
            {{status.st_dev, status.st_ino}}};
  return CopyTree(walk, std::move(listing), source.string(), *folder);
}

}  // namespace salvatrix::posix
