#include "platform/posix/posix_file_system.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstring>
#include <map>
#include <string>
#include <system_error>

#include "platform/failure.h"
#include "platform/posix/copy_engine.h"
#include "platform/posix/drive_table.h"

namespace salvatrix::posix {
namespace {

std::string ErrorText(std::string_view path, int error) {
  return std::string(path) + ": " + std::strerror(error);
}

[[noreturn]] void Fail(std::string_view path, std::error_code error) {
  throw Failure(std::string(path) + ": " + error.message());
}

bool LooksLikeDriveRoot(std::string_view path) {
  return path.size() >= 3 && path[1] == ':' && path[2] == '\\' &&
         ((path[0] >= 'A' && path[0] <= 'Z') || (path[0] >= 'a' && path[0] <= 'z'));
}

enum class EntryKind { kFile, kFolder, kOther };

class PosixFolder final : public Folder {
 public:
  PosixFolder(std::string path, int fd) : path_(std::move(path)), fd_(fd) {}
  ~PosixFolder() override { ::close(fd_); }
  PosixFolder(const PosixFolder&) = delete;
  PosixFolder& operator=(const PosixFolder&) = delete;

  void ForEachFile(const std::function<void(std::string)>& visit) override {
    ForEach(EntryKind::kFile, visit);
  }
  void ForEachSubFolder(const std::function<void(std::string)>& visit) override {
    ForEach(EntryKind::kFolder, visit);
  }

 private:
  // Links count as what they point to; FIFOs, sockets, devices and dangling links are neither.
  EntryKind KindOf(const dirent& entry) const {
    switch (entry.d_type) {
      case DT_REG:
        return EntryKind::kFile;
      case DT_DIR:
        return EntryKind::kFolder;
      case DT_LNK:
      case DT_UNKNOWN:
        break;
      default:
        return EntryKind::kOther;
    }
    struct stat st {};
    if (::fstatat(fd_, entry.d_name, &st, 0) != 0) {
      return EntryKind::kOther;
    }
    if (S_ISREG(st.st_mode)) {
      return EntryKind::kFile;
    }
    return S_ISDIR(st.st_mode) ? EntryKind::kFolder : EntryKind::kOther;
  }

  void ForEach(EntryKind wanted, const std::function<void(std::string)>& visit) {
    const int fd = ::dup(fd_);
    if (fd < 0) {
      throw Failure(ErrorText(path_, errno));
    }
    DIR* dir = ::fdopendir(fd);
    if (dir == nullptr) {
      const int error = errno;
      ::close(fd);
      throw Failure(ErrorText(path_, error));
    }
    std::unique_ptr<DIR, int (*)(DIR*)> owner(dir, ::closedir);
    ::rewinddir(dir);
    for (;;) {
      errno = 0;
      const dirent* entry = ::readdir(dir);
      if (entry == nullptr) {
        if (errno != 0) {
          throw Failure(ErrorText(path_, errno));
        }
        return;
      }
      const std::string_view name = entry->d_name;
      if (name == "." || name == "..") {
        continue;
      }
      if (KindOf(*entry) == wanted) {
        visit(std::string(name));
      }
    }
  }

  std::string path_;
  int fd_;
};

class PosixFileSystemObject final : public FileSystemObject {
 public:
  explicit PosixFileSystemObject(DriveTable& drives) : drives_(drives) {}

  std::unique_ptr<Folder> GetFolder(std::string_view path) override {
    const std::string resolved = Resolve(path);
    const int fd = ::open(resolved.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) {
      throw Failure(ErrorText(path, errno));
    }
    return std::make_unique<PosixFolder>(std::string(path), fd);
  }

  void CopyFile(std::string_view source, std::string_view destination, bool overwrite) override {
    Copy(source, destination, overwrite, &CopySession::CopyFile, &posix::CopyFile);
  }

  void CopyFolder(std::string_view source, std::string_view destination, bool overwrite) override {
    Copy(source, destination, overwrite, &CopySession::CopyFolder, &posix::CopyFolder);
  }

  void Flush(std::string_view destination_root) override {
    const std::error_code error = LooksLikeDriveRoot(destination_root)
                                      ? SessionFor(destination_root).Flush()
                                      : posix::Flush(std::string(destination_root));
    if (error) {
      Fail(destination_root, error);
    }
  }

 private:
  using SessionCopy = std::error_code (CopySession::*)(const std::filesystem::path&,
                                                       std::string_view, bool);
  using SingleCopy = std::error_code (*)(const std::filesystem::path&, const std::filesystem::path&,
                                         bool);

  // Onto a drive through that drive's session, which resolves the drive once per job; anywhere
  // else in a session of the copy's own.
  void Copy(std::string_view source, std::string_view destination, bool overwrite,
            SessionCopy on_drive, SingleCopy elsewhere) {
    const std::string from = Resolve(source);
    const std::error_code error =
        LooksLikeDriveRoot(destination)
            ? (SessionFor(destination).*on_drive)(from, destination.substr(3), overwrite)
            : elsewhere(from, std::string(destination), overwrite);
    if (error) {
      Fail(destination, error);
    }
  }

  // The mount table is read once per object, that is once per copy job. A drive that was
  // unmounted since the last rescan must fail here rather than let the copy land in the empty
  // mount point folder on another filesystem; once its root is open, the job keeps writing to
  // that filesystem (or failing, when it is pulled) whatever happens to the mount point.
  void ReadDrives(std::string_view path) {
    if (!drives_read_) {
      if (!drives_.Refresh()) {
        throw Failure(std::string(path) + ": the mount table cannot be read");
      }
      drives_read_ = true;
    }
  }

  std::string Resolve(std::string_view path) {
    if (!LooksLikeDriveRoot(path)) {
      return std::string(path);
    }
    ReadDrives(path);
    std::string resolved = drives_.ResolvePath(path);
    if (resolved == path) {
      throw Failure(std::string(path.substr(0, 3)) + " is not mounted any more");
    }
    return resolved;
  }

  CopySession& SessionFor(std::string_view path) {
    const auto letter = static_cast<char>(std::toupper(static_cast<unsigned char>(path[0])));
    auto& session = sessions_[letter];
    if (session == nullptr) {
      const std::string root = Resolve(path.substr(0, 3));
      if (const auto error = CopySession::Open(root, session)) {
        Fail(path.substr(0, 3), error);
      }
    }
    return *session;
  }

  DriveTable& drives_;
  bool drives_read_ = false;
  std::map<char, std::unique_ptr<CopySession>> sessions_;
};

}  // namespace

PosixFileSystem::PosixFileSystem(DriveTable& drives) : drives_(drives) {}

std::unique_ptr<FileSystemObject> PosixFileSystem::CreateObject() {
  return std::make_unique<PosixFileSystemObject>(drives_);
}

}  // namespace salvatrix::posix
