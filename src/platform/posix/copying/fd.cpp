#include "platform/posix/copying/fd.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "platform/failure.h"

namespace salvatrix::posix {

void FailAt(std::string_view path, int error) {
  throw Failure(std::string(path) + ": " + std::strerror(error));
}

void FailAt(std::string_view path) {
  FailAt(path, errno);
}

Fd::~Fd() {
  if (fd_ >= 0) {
    ::close(fd_);
  }
}

int Fd::Close() {
  // After EINTR the descriptor is gone on Linux; retrying could close someone else's.
  if (::close(std::exchange(fd_, -1)) != 0 && errno != EINTR) {
    return errno;
  }
  return 0;
}

int NameError(int folder, int error) {
  struct stat status {};
  if (error == ENOENT && ::fstat(folder, &status) == 0 && status.st_nlink > 0) {
    return EINVAL;
  }
  return error;
}

}  // namespace salvatrix::posix
