#include "platform/posix/fd.h"

#include <unistd.h>

#include <cerrno>

namespace salvatrix::posix {

std::error_code ErrnoCode(int error) {
  return {error, std::generic_category()};
}

std::error_code LastError() {
  return ErrnoCode(errno);
}

Fd::~Fd() {
  if (fd_ >= 0) {
    ::close(fd_);
  }
}

std::error_code Fd::Close() {
  // After EINTR the descriptor is gone on Linux; retrying could close someone else's.
  if (::close(std::exchange(fd_, -1)) != 0 && errno != EINTR) {
    return LastError();
  }
  return {};
}

}  // namespace salvatrix::posix
