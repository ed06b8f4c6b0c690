// Paths, descriptors and whole writes on POSIX.
//
// Needs Linux with glibc 2.34 or later (as every file of posix/).
#include "platform/posix/io.h"

#include <poll.h>
#include <unistd.h>

#include <cerrno>

namespace platform {

std::string system_path(const char *path) {
  std::string converted = path;
  for (char &c : converted) {
    if (c == '\\')
      c = '/';
  }
  return converted;
}

Descriptor &Descriptor::operator=(Descriptor &&other) noexcept {
  if (this != &other) {
    if (fd_ >= 0)
      ::close(fd_);
    fd_ = other.fd_;
    other.fd_ = -1;
  }
  return *this;
}

Descriptor::~Descriptor() {
  if (fd_ >= 0)
    ::close(fd_);
}

Status Descriptor::close() {
  int fd = fd_;
  fd_ = -1;
  return from_errno(::close(fd) == 0 ? 0 : errno);
}

Status write_all(int fd, const char *data, std::size_t size) {
  while (size > 0) {
    ssize_t wrote = write(fd, data, size);
    if (wrote > 0) {
      data += wrote;
      size -= static_cast<std::size_t>(wrote);
      continue;
    }
    if (wrote < 0 && errno == EINTR)
      continue;
    pollfd writable{fd, POLLOUT, 0};
    if (wrote < 0 && errno == EAGAIN && poll(&writable, 1, -1) >= 0)
      continue;
    return from_errno(wrote < 0 ? errno : EIO);
  }
  return Status();
}

} // namespace platform
