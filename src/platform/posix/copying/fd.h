#pragma once

#include <string>
#include <string_view>
#include <utility>

namespace salvatrix::posix {

/// Throws Failure with "path: " and the system's text for error.
[[noreturn]] void FailAt(std::string_view path, int error);
/// FailAt with errno.
[[noreturn]] void FailAt(std::string_view path);

/// Owns one file descriptor and closes it when it goes.
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
  ~Fd();

  int get() const { return fd_; }
  bool valid() const { return fd_ >= 0; }

  /// Closes now and returns 0 or the errno value close reported: where NFS and FUSE report
  /// deferred write errors, so it is checked for every file written.
  int Close();

 private:
  int fd_ = -1;
};

/// The error for a name that the destination refused. exfat-fuse answers a name it cannot
/// store (a:b.txt) with ENOENT, which would read as if something were missing; while the
/// folder is still there, EINVAL says that the name was refused.
int NameError(int folder, int error);

}  // namespace salvatrix::posix
