#include "platform/posix/copying/destination.h"

#include <dirent.h>
#include <fcntl.h>
#include <linux/magic.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/vfs.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <cerrno>

#include "platform/posix/copying/source.h"
#include "platform/posix/copying/transfer.h"

namespace salvatrix::posix {
namespace {

constexpr long kExfatMagic = 0x2011BAB0;
constexpr long kNtfs3Magic = 0x7366746E;
constexpr long kNtfsMagic = 0x5346544E;

// A file system without locks (some network file systems) cannot protect a temporary this way;
// the copy goes on, and cleaning never removes a temporary it cannot lock.
bool LocksUnsupported(int error) {
  return error == ENOLCK || error == EINVAL || error == EOPNOTSUPP || error == ENOSYS;
}

// Those that cannot store Unix permissions or foreign times (exFAT, FAT) refuse with these; the
// copy is still good.
bool IsRefusedAttribute(int error) {
  return error == EPERM || error == EACCES || error == EOPNOTSUPP;
}

FileSystemFacts FactsOf(int folder, const std::string& path) {
  struct statfs filesystem {};
  if (::fstatfs(folder, &filesystem) != 0) {
    FailAt(path);
  }
  FileSystemFacts facts;
  FolderTraits& traits = facts.traits;
  traits.unnamed_files = true;  // until the file system says otherwise
  switch (filesystem.f_type) {
    case FUSE_SUPER_MAGIC:
      // On a stick that is exFAT (exfat-fuse) or NTFS (ntfs-3g); the up-case table is their
      // rule, and the listing tells where a file system keeps spellings apart after all.
      facts.fuse = true;
      traits.ids_tell_spellings = false;
      traits.names = NameRule::kUpcase;
      traits.unnamed_files = false;
      break;
    case MSDOS_SUPER_MAGIC:
      traits.max_file_size = 0xFFFFFFFF;  // FAT's sizes have 32 bits
      traits.names = NameRule::kUpcase;
      break;
    case kExfatMagic:
    case kNtfs3Magic:
    case kNtfsMagic:
      traits.names = NameRule::kUpcase;
      break;
    default:
      break;
  }
  return facts;
}

bool SameEntry(const struct stat& a, const struct stat& b) {
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// Whether name in folder is still the file open as file.
bool StillNamed(int folder, const std::string& name, int file) {
  struct stat named {};
  struct stat open {};
  return ::fstatat(folder, name.c_str(), &named, AT_SYMLINK_NOFOLLOW) == 0 &&
         ::fstat(file, &open) == 0 && SameEntry(named, open);
}

// A mount point by the kernel's own mark, or by a device of its own.
bool IsMountRoot(const struct statx& status, dev_t folder_device) {
  if ((status.stx_attributes_mask & STATX_ATTR_MOUNT_ROOT) != 0) {
    return (status.stx_attributes & STATX_ATTR_MOUNT_ROOT) != 0;
  }
  return makedev(status.stx_dev_major, status.stx_dev_minor) != folder_device;
}

// AT_EMPTY_PATH needs CAP_DAC_READ_SEARCH before Linux 6.10 (ENOENT without it); the /proc
// path does not. Returns 0 or the errno value.
int LinkUnnamed(int file, int folder, const char* name) {
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

class PosixNewFile final : public NewFile {
 public:
  PosixNewFile(Fd file, int folder, std::string folder_path, std::string name,
               FileSystemFacts& facts, bool temporary)
      : temporary_(temporary),
        file_(std::move(file)),
        folder_(folder),
        folder_path_(std::move(folder_path)),
        name_(std::move(name)),
        facts_(facts) {
    if (::fstat(file_.get(), &status_) != 0) {
      FailAt(Path());
    }
  }

  EntryId Id() override { return IdOf(status_); }

  std::uint64_t Fill(SourceFile& from, std::uint64_t limit) override {
    auto& source = dynamic_cast<PosixSourceFile&>(from);
    int error = 0;
    const std::uint64_t moved = MoveData(source.fd(), file_.get(), limit, facts_.fuse, error);
    if (error != 0) {
      FailAt(source.path() + " -> " + Path(), error);
    }
    return moved;
  }

  void TakeAttributes(SourceFile& from) override {
    const struct stat& source = dynamic_cast<PosixSourceFile&>(from).status();
    // Set-id bits are dropped: the copy belongs to whoever runs the program, not to the
    // source's owner. The file was made with the source's bits; only the umask, or a file
    // system with modes of its own, can have changed them.
    const mode_t mode = source.st_mode & 0777;
    using Answer = FileSystemFacts::Answer;
    if ((status_.st_mode & 0777) != mode && facts_.keeps_modes != Answer::kNo) {
      if (::fchmod(file_.get(), mode) != 0) {
        if (!IsRefusedAttribute(errno)) {
          FailAt(Path());
        }
        facts_.keeps_modes = Answer::kNo;
      } else if (facts_.keeps_modes == Answer::kUnknown) {
        // exfat-fuse accepts any mode and keeps none; asking again for every file would only
        // cost a round trip each.
        struct stat now {};
        if (::fstat(file_.get(), &now) != 0) {
          FailAt(Path());
        }
        facts_.keeps_modes = (now.st_mode & 0777) == mode ? Answer::kYes : Answer::kNo;
      }
    }
    const std::array<timespec, 2> times{source.st_atim, source.st_mtim};
    if (::futimens(file_.get(), times.data()) != 0 && !IsRefusedAttribute(errno)) {
      FailAt(Path());
    }
  }

  // A temporary is complete before it replaces anything: closing the descriptor written
  // through reports deferred write errors (NFS, FUSE) now, while a duplicate keeps the lock.
  // Any other file reports them when it is closed, which costs no further round trip.
  void Commit() override {
    if (temporary_) {
      KeepLockAndClose();
    }
  }

  bool Link(const std::string& name, bool as_temporary) override {
    if (as_temporary && ::flock(file_.get(), LOCK_EX | LOCK_NB) != 0 && !LocksUnsupported(errno)) {
      FailAt(Path());
    }
    const int error = LinkUnnamed(file_.get(), folder_, name.c_str());
    if (error == EEXIST) {
      return false;
    }
    if (error != 0) {
      FailAt(folder_path_ + "/" + name, NameError(folder_, error));
    }
    name_ = name;
    if (as_temporary) {
      temporary_ = true;
      KeepLockAndClose();
    }
    return true;
  }

  void Rename(const std::string& name) override {
    if (::renameat(folder_, name_.c_str(), folder_, name.c_str()) != 0) {
      FailAt(folder_path_ + "/" + name, NameError(folder_, errno));
    }
    name_ = name;
  }

  void Close() override {
    if (const int error = (keeper_.valid() ? keeper_ : file_).Close(); error != 0) {
      FailAt(Path(), error);
    }
  }

  // Compared first: another copy may have put its own file under the name meanwhile.
  void Discard() noexcept override {
    struct stat named {};
    if (!name_.empty() && ::fstatat(folder_, name_.c_str(), &named, AT_SYMLINK_NOFOLLOW) == 0 &&
        SameEntry(named, status_)) {
      ::unlinkat(folder_, name_.c_str(), 0);
    }
  }

 private:
  std::string Path() const { return folder_path_ + "/" + (name_.empty() ? "(new file)" : name_); }

  void KeepLockAndClose() {
    keeper_ = Fd(::fcntl(file_.get(), F_DUPFD_CLOEXEC, 0));
    if (!keeper_.valid()) {
      FailAt(Path());
    }
    if (const int error = file_.Close(); error != 0) {
      FailAt(Path(), error);
    }
  }

  bool temporary_;
  Fd file_;
  Fd keeper_;
  int folder_;
  std::string folder_path_;
  std::string name_;
  FileSystemFacts& facts_;
  struct stat status_ {};
};

}  // namespace

PosixDestination::PosixDestination(Fd folder, std::string path, FactsByDevice& facts)
    : folder_(std::move(folder)), path_(std::move(path)), all_facts_(facts) {
  struct stat status {};
  if (::fstat(folder_.get(), &status) != 0) {
    FailAt(path_);
  }
  id_ = IdOf(status);
  device_ = status.st_dev;
  auto known = all_facts_.find(device_);
  if (known == all_facts_.end()) {
    known = all_facts_.emplace(device_, FactsOf(folder_.get(), path_)).first;
  }
  facts_ = &known->second;
}

std::vector<EntryId> PosixDestination::Above() {
  return IdsAbove(folder_.get(), path_);
}

EntryInfo PosixDestination::Look(const std::string& name) {
  struct statx status {};
  if (::statx(folder_.get(), name.c_str(), AT_SYMLINK_NOFOLLOW, STATX_TYPE | STATX_INO, &status) !=
      0) {
    if (errno == ENOENT) {
      return {};
    }
    FailAt(PathOf(name));
  }
  EntryInfo info;
  struct stat plain {};
  plain.st_dev = makedev(status.stx_dev_major, status.stx_dev_minor);
  plain.st_ino = status.stx_ino;
  plain.st_mode = status.stx_mode;
  info.id = IdOf(plain);
  info.kind = KindOf(plain);
  if (info.kind != EntryKind::kLink && IsMountRoot(status, device_)) {
    info.kind = EntryKind::kMountPoint;
  }
  return info;
}

std::vector<std::string> PosixDestination::List() {
  std::vector<std::string> names;
  ForEachEntry(folder_.get(), path_,
               [&](const dirent& entry) { names.emplace_back(entry.d_name); });
  return names;
}

std::unique_ptr<DestinationFolder> PosixDestination::Open(const std::string& name) {
  Fd folder(::openat(folder_.get(), name.c_str(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  if (!folder.valid()) {
    if (errno == ENOENT || errno == ENOTDIR || errno == ELOOP) {
      return nullptr;
    }
    FailAt(PathOf(name));
  }
  struct statx status {};
  if (::statx(folder.get(), "", AT_EMPTY_PATH, STATX_TYPE | STATX_INO, &status) != 0) {
    FailAt(PathOf(name));
  }
  // O_PATH | O_NOFOLLOW opens a link itself instead of refusing it.
  if (!S_ISDIR(status.stx_mode) || IsMountRoot(status, device_)) {
    return nullptr;
  }
  return std::make_unique<PosixDestination>(std::move(folder), PathOf(name), all_facts_);
}

bool PosixDestination::Make(const std::string& name, SourceFolder& like) {
  // Owner rights are added so that the folder can be filled even when the source is read-only.
  const auto* source = dynamic_cast<PosixSourceFolder*>(&like);
  const mode_t mode = ((source != nullptr ? source->mode() : 0755) & 0777) | S_IRWXU;
  if (::mkdirat(folder_.get(), name.c_str(), mode) == 0) {
    return true;
  }
  if (errno != EEXIST) {
    FailAt(PathOf(name), NameError(folder_.get(), errno));
  }
  return false;
}

void PosixDestination::RemoveLink(const std::string& name, const EntryInfo& expected) {
  struct stat status {};
  if (::fstatat(folder_.get(), name.c_str(), &status, AT_SYMLINK_NOFOLLOW) == 0 &&
      S_ISLNK(status.st_mode) && IdOf(status) == expected.id &&
      ::unlinkat(folder_.get(), name.c_str(), 0) != 0 && errno != ENOENT) {
    FailAt(PathOf(name));
  }
}

// A rename onto a file is never refused for its mode here, so Look marks nothing read-only.
void PosixDestination::ClearReadOnly(const std::string&, const EntryInfo&) {}

std::unique_ptr<NewFile> PosixDestination::CreateFile(const std::string& name, Create how,
                                                      SourceFile& like) {
  const mode_t mode = dynamic_cast<PosixSourceFile&>(like).status().st_mode & 0777;
  if (how == Create::kUnnamed) {
    if (!facts_->traits.unnamed_files) {
      return nullptr;
    }
    Fd file(::openat(folder_.get(), ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, mode));
    if (!file.valid()) {
      if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL) {
        FailAt(path_);
      }
      facts_->traits.unnamed_files = false;
      return nullptr;
    }
    return std::make_unique<PosixNewFile>(std::move(file), folder_.get(), path_, "", *facts_,
                                          false);
  }
  Fd file(::openat(folder_.get(), name.c_str(),
                   O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode));
  if (!file.valid()) {
    if (errno == EEXIST) {
      return nullptr;
    }
    FailAt(PathOf(name), NameError(folder_.get(), errno));
  }
  if (how == Create::kTemporary) {
    if (::flock(file.get(), LOCK_EX | LOCK_NB) != 0) {
      if (errno == EWOULDBLOCK) {
        return nullptr;  // another run is cleaning it up just now; it removes the name
      }
      if (!LocksUnsupported(errno)) {
        const int error = errno;
        ::unlinkat(folder_.get(), name.c_str(), 0);
        FailAt(PathOf(name), error);
      }
    } else if (!StillNamed(folder_.get(), name, file.get())) {
      return nullptr;  // removed by another run's cleaning before the lock was ours
    }
  }
  return std::make_unique<PosixNewFile>(std::move(file), folder_.get(), path_, name, *facts_,
                                        how == Create::kTemporary);
}

// Only a regular file whose lock can be taken: never one that a running copy is writing.
bool PosixDestination::RemoveStale(const std::string& name) {
  struct stat status {};
  if (::fstatat(folder_.get(), name.c_str(), &status, AT_SYMLINK_NOFOLLOW) != 0 ||
      !S_ISREG(status.st_mode)) {
    return false;
  }
  Fd file(::openat(folder_.get(), name.c_str(),
                   O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
  if (!file.valid() || ::fstat(file.get(), &status) != 0 || !S_ISREG(status.st_mode) ||
      ::flock(file.get(), LOCK_EX | LOCK_NB) != 0 || !StillNamed(folder_.get(), name, file.get())) {
    return false;
  }
  return ::unlinkat(folder_.get(), name.c_str(), 0) == 0;
}

std::string PosixDestination::PathOf(std::string_view name) const {
  return path_ + (path_.ends_with('/') ? "" : "/") + std::string(name);
}

}  // namespace salvatrix::posix
