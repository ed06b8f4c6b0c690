// Paths, errno values and whole writes on POSIX.
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

Status from_errno(int error) {
  if (error == 0)
    return Status();
  Failure kind = error == ENOENT   ? Failure::NotFound
                 : error == EEXIST ? Failure::Exists
                                   : Failure::Other;
  return Status::failure(kind, static_cast<std::uint32_t>(error));
}

Status write_all(int descriptor, const char *data, std::size_t size) {
  while (size > 0) {
    ssize_t wrote = write(descriptor, data, size);
    if (wrote > 0) {
      data += wrote;
      size -= static_cast<std::size_t>(wrote);
      continue;
    }
    if (wrote < 0 && errno == EINTR)
      continue;
    pollfd writable{descriptor, POLLOUT, 0};
    if (wrote < 0 && errno == EAGAIN && poll(&writable, 1, -1) >= 0)
      continue;
    return from_errno(wrote < 0 ? errno : EIO);
  }
  return Status();
}

} // namespace platform
