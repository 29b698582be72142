#include "platform/posix/copy_engine.h"

#include <fcntl.h>
#include <linux/magic.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <string>
#include <utility>

#include "platform/posix/beneath.h"
#include "platform/posix/copy_session_state.h"
#include "platform/posix/temporaries.h"
#include "platform/posix/transfer.h"

namespace salvatrix::posix {
namespace {

namespace fs = std::filesystem;
using Answer = FileSystemTraits::Answer;

// Filesystems that cannot store Unix permissions or foreign times (exFAT, FAT) refuse with these;
// the copy is still good.
bool IsRefusedAttribute(int error) {
  return error == EPERM || error == EACCES || error == EOPNOTSUPP;
}

// The answer to a name that exists already: file_exists when this session wrote it under
// another name, or when it may not be replaced.
std::error_code CheckReplace(DestinationFolder& folder, const std::string& name, bool overwrite) {
  std::error_code error;
  if (folder.written.WrittenUnderAnotherName(folder.fd.get(), name, error)) {
    return ErrnoCode(EEXIST);
  }
  if (error || overwrite) {
    return error;
  }
  struct stat existing {};
  if (::fstatat(folder.fd.get(), name.c_str(), &existing, AT_SYMLINK_NOFOLLOW) != 0) {
    return LastError();
  }
  return ErrnoCode(S_ISDIR(existing.st_mode) ? EISDIR : EEXIST);
}

// Makes out a copy of in: permission bits, content, times. inode receives out's number.
std::error_code Fill(int in, const struct stat& source, int out, FileSystemTraits& traits,
                     std::uint64_t& inode) {
  // Set-id bits are dropped: the copy belongs to whoever runs the program, not to the source's
  // owner.
  const mode_t mode = source.st_mode & 0777;
  struct stat written {};
  if (::fstat(out, &written) != 0) {
    return LastError();
  }
  inode = written.st_ino;
  // The file was made with the source's bits; only the umask, or a filesystem with modes of
  // its own, can have changed them.
  if ((written.st_mode & 0777) != mode && traits.keeps_modes != Answer::kNo) {
    if (::fchmod(out, mode) != 0) {
      if (!IsRefusedAttribute(errno)) {
        return LastError();
      }
      traits.keeps_modes = Answer::kNo;
    } else if (traits.keeps_modes == Answer::kUnknown) {
      // exfat-fuse accepts any mode and keeps none; asking again for every file would only
      // cost a round trip each.
      if (::fstat(out, &written) != 0) {
        return LastError();
      }
      traits.keeps_modes = (written.st_mode & 0777) == mode ? Answer::kYes : Answer::kNo;
    }
  }
  if (auto error = CopyContent(in, source, out, traits.fuse)) {
    return error;
  }
  const std::array<timespec, 2> times{source.st_atim, source.st_mtim};
  if (::futimens(out, times.data()) != 0 && !IsRefusedAttribute(errno)) {
    return LastError();
  }
  return {};
}

// Puts the complete temporary in place of name. The lock stays with the file as long as one
// descriptor of it is open: a duplicate keeps it through the rename, while closing the one
// written through reports deferred write errors before anything is replaced.
std::error_code Publish(Fd& out, int folder, const std::string& temporary,
                        const std::string& name) {
  Fd keeper(::fcntl(out.get(), F_DUPFD_CLOEXEC, 0));
  std::error_code error = keeper.valid() ? out.Close() : LastError();
  if (!error && ::renameat(folder, temporary.c_str(), folder, name.c_str()) != 0) {
    error = NameError(folder, errno);
  }
  if (error) {
    ::unlinkat(folder, temporary.c_str(), 0);
    return error;
  }
  return keeper.Close();
}

std::error_code FlushOpen(int fd) {
  if (::syncfs(fd) != 0) {
    return LastError();
  }
  // FUSE forwards this to the filesystem process, which then writes its own caches out; EINVAL
  // is what a filesystem without a way to sync a folder answers.
  if (::fsync(fd) != 0 && errno != EINVAL && errno != EROFS) {
    return LastError();
  }
  return {};
}

bool IsPlainName(std::string_view name) {
  return !name.empty() && name != "." && name != "..";
}

}  // namespace

std::error_code NotAFileError(const struct stat& status) {
  return ErrnoCode(S_ISDIR(status.st_mode) ? EISDIR : EOPNOTSUPP);
}

std::error_code WriteFile(CopySession::State& session, int in, const struct stat& source,
                          DestinationFolder& folder, const std::string& name, bool overwrite) {
  session.Clean(folder);
  FileSystemTraits& traits = *folder.traits;
  const int at = folder.fd.get();
  const mode_t mode = source.st_mode & 0777;
  if (!overwrite) {
    struct stat existing {};
    if (::fstatat(at, name.c_str(), &existing, AT_SYMLINK_NOFOLLOW) == 0) {
      return CheckReplace(folder, name, false);
    }
    if (errno != ENOENT) {
      return LastError();
    }
  }

  // Unnamed until complete where the filesystem can, which leaves nothing behind even when the
  // program dies; else under its own name when that is free, which costs no rename; else a
  // temporary that replaces the old file once complete.
  enum class Target { kUnnamed, kNamed, kTemporary } target = Target::kUnnamed;
  Fd out;
  std::string temporary;
  if (!traits.refuses_unnamed) {
    out = Fd(::openat(at, ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, mode));
    if (!out.valid()) {
      if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL) {
        return LastError();
      }
      traits.refuses_unnamed = true;
    }
  }
  if (!out.valid()) {
    target = Target::kNamed;
    out =
        Fd(::openat(at, name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode));
    if (!out.valid()) {
      if (errno != EEXIST) {
        return NameError(at, errno);
      }
      if (auto error = CheckReplace(folder, name, overwrite)) {
        return error;
      }
      target = Target::kTemporary;
      if (auto error = CreateTemporary(at, mode, out, temporary)) {
        return error;
      }
    }
  }

  std::uint64_t inode = 0;
  if (auto error = Fill(in, source, out.get(), traits, inode)) {
    // An unnamed file goes away with its descriptor.
    if (target != Target::kUnnamed) {
      ::unlinkat(at, (target == Target::kNamed ? name : temporary).c_str(), 0);
    }
    return error;
  }
  if (target == Target::kUnnamed) {
    const int linked = LinkUnnamed(out.get(), at, name.c_str());
    if (linked != 0 && linked != EEXIST) {
      return NameError(at, linked);
    }
    if (linked == EEXIST) {
      if (auto error = CheckReplace(folder, name, overwrite)) {
        return error;
      }
      if (auto error = NameUnnamedTemporary(out.get(), at, temporary)) {
        return error;
      }
      target = Target::kTemporary;
    } else {
      target = Target::kNamed;
    }
  }
  if (target == Target::kNamed) {
    if (auto error = out.Close()) {
      ::unlinkat(at, name.c_str(), 0);  // the name was free, so this is only the failed copy
      return error;
    }
  } else if (auto error = Publish(out, at, temporary, name)) {
    return error;
  }
  folder.written.Add(name, inode);
  return {};
}

std::error_code CopySession::State::Wrap(Fd folder, bool made_now,
                                         std::unique_ptr<DestinationFolder>& out) {
  struct stat status {};
  if (::fstat(folder.get(), &status) != 0) {
    return LastError();
  }
  auto [traits, unseen] = filesystems.try_emplace(status.st_dev);
  if (unseen) {
    struct statfs filesystem {};
    if (::fstatfs(folder.get(), &filesystem) != 0) {
      filesystems.erase(traits);
      return LastError();
    }
    traits->second.fuse = filesystem.f_type == FUSE_SUPER_MAGIC;
  }
  out = std::make_unique<DestinationFolder>(std::move(folder), status.st_dev, status.st_ino,
                                            traits->second, made_now);
  return {};
}

std::error_code CopySession::State::EnterFolder(DestinationFolder& parent, const std::string& name,
                                                unsigned mode,
                                                std::unique_ptr<DestinationFolder>& out) {
  Clean(parent);
  Fd folder;
  bool made = false;
  if (auto error = OpenOrMakeFolder(parent.fd.get(), name.c_str(), mode, folder, made)) {
    return error;
  }
  if (!made) {
    std::error_code error;
    if (parent.written.WrittenUnderAnotherName(parent.fd.get(), name, error)) {
      return ErrnoCode(EEXIST);
    }
    if (error) {
      return error;
    }
  }
  if (auto error = Wrap(std::move(folder), made, out)) {
    return error;
  }
  parent.written.Add(name, out->inode);
  return {};
}

void CopySession::State::Clean(DestinationFolder& folder) {
  if (!folder.cleaned) {
    RemoveStaleTemporaries(folder.fd.get());
    folder.cleaned = true;
  }
}

CopySession::CopySession(std::unique_ptr<State> state) : state_(std::move(state)) {}
CopySession::~CopySession() = default;

std::error_code CopySession::Open(const fs::path& root, std::unique_ptr<CopySession>& session) {
  Fd folder(::open(root.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!folder.valid()) {
    return LastError();
  }
  auto state = std::make_unique<State>();
  if (auto error = state->Wrap(std::move(folder), false, state->root)) {
    return error;
  }
  session.reset(new CopySession(std::move(state)));
  return {};
}

namespace {

// The folder that receives the last name of destination, and that name. owned keeps the folder
// open when it is not the root.
struct Location {
  std::unique_ptr<DestinationFolder> owned;
  DestinationFolder* folder = nullptr;
  std::string name;
};

std::error_code Locate(CopySession::State& state, std::string_view destination, Location& at) {
  const std::size_t slash = destination.rfind('/');
  at.name =
      std::string(slash == std::string_view::npos ? destination : destination.substr(slash + 1));
  if (!IsPlainName(at.name)) {
    return ErrnoCode(EISDIR);
  }
  at.folder = state.root.get();
  if (slash != std::string_view::npos) {
    Fd parent;
    if (auto error = OpenBeneath(state.root->fd.get(), destination.substr(0, slash),
                                 O_PATH | O_DIRECTORY, parent)) {
      return error;
    }
    if (auto error = state.Wrap(std::move(parent), false, at.owned)) {
      return error;
    }
    at.folder = at.owned.get();
  }
  return {};
}

}  // namespace

std::error_code CopySession::CopyFile(const fs::path& source, std::string_view destination,
                                      bool overwrite) {
  Location at;
  if (auto error = Locate(*state_, destination, at)) {
    return error;
  }
  // Looked at before it is opened: opening a FIFO waits for a writer, opening a device can do
  // something. O_NONBLOCK: should the name have been swapped for a FIFO since, the open still
  // returns at once and the fstat refuses it.
  struct stat status {};
  if (::stat(source.c_str(), &status) != 0) {
    return LastError();
  }
  if (!S_ISREG(status.st_mode)) {
    return NotAFileError(status);
  }
  Fd in(::open(source.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
  if (!in.valid() || ::fstat(in.get(), &status) != 0) {
    return LastError();
  }
  if (!S_ISREG(status.st_mode)) {
    return NotAFileError(status);
  }
  return WriteFile(*state_, in.get(), status, *at.folder, at.name, overwrite);
}

std::error_code CopySession::CopyFolder(const fs::path& source, std::string_view destination,
                                        bool overwrite) {
  Location at;
  if (auto error = Locate(*state_, destination, at)) {
    return error == std::errc::is_a_directory ? ErrnoCode(EINVAL) : error;
  }
  return CopyFolderInto(*state_, source, *at.folder, at.name, overwrite);
}

std::error_code CopySession::Flush() {
  return FlushOpen(state_->root->fd.get());
}

std::error_code CopyFile(const fs::path& source, const fs::path& destination, bool overwrite) {
  const fs::path name = destination.filename();
  if (!IsPlainName(name.native())) {
    return ErrnoCode(EISDIR);
  }
  std::unique_ptr<CopySession> session;
  if (auto error = CopySession::Open(
          destination.has_parent_path() ? destination.parent_path() : fs::path("."), session)) {
    return error;
  }
  return session->CopyFile(source, name.native(), overwrite);
}

std::error_code CopyFolder(const fs::path& source, const fs::path& destination, bool overwrite) {
  fs::path folder = destination;
  while (!folder.has_filename() && folder.has_relative_path()) {
    folder = folder.parent_path();  // "out/" is the folder out
  }
  std::unique_ptr<CopySession> session;
  if (auto error = CopySession::Open(
          folder.has_parent_path() ? folder.parent_path() : fs::path("."), session)) {
    return error;
  }
  return session->CopyFolder(source, folder.filename().native(), overwrite);
}

std::error_code Flush(const fs::path& destination) {
  Fd target(::open(destination.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
  if (!target.valid()) {
    return LastError();
  }
  return FlushOpen(target.get());
}

}  // namespace salvatrix::posix
