#pragma once

#include <system_error>
#include <utility>

namespace salvatrix::posix {

/// An error code from an errno value.
std::error_code ErrnoCode(int error);
/// An error code from the current errno.
std::error_code LastError();

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
  int release() { return std::exchange(fd_, -1); }

  /// Closes now and returns what close reported: where NFS and FUSE report deferred write
  /// errors, so it is checked for every file written.
  std::error_code Close();

 private:
  int fd_ = -1;
};

}  // namespace salvatrix::posix
