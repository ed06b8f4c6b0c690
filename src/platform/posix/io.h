// Internal to the POSIX implementation: paths as the system wants them,
// descriptors that close themselves, and whole writes.
//
// Needs Linux with glibc 2.34 or later (as every file of posix/).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/platform.h"

namespace platform {

// The program's backslash paths as the system wants them: every backslash
// becomes a slash, nothing else changes.
std::string system_path(const char *path);

// An errno value as a Status (0 is success).
inline Status from_errno(int error) {
  return error == 0 ? Status() : Status::failure(static_cast<std::uint32_t>(error));
}

// A descriptor that closes itself.
class Descriptor {
public:
  explicit Descriptor(int fd = -1) : fd_(fd) {}
  Descriptor(Descriptor &&other) noexcept : fd_(other.fd_) { other.fd_ = -1; }
  Descriptor &operator=(Descriptor &&other) noexcept;
  Descriptor(const Descriptor &) = delete;
  Descriptor &operator=(const Descriptor &) = delete;
  ~Descriptor();

  int get() const { return fd_; }
  // Closes now, so that a late write error (full disk, quota) is seen.
  Status close();

private:
  int fd_;
};

// Writes all SIZE bytes to FD, going on after interruptions and, on a
// descriptor left non-blocking by whoever opened it, waiting until it takes
// more rather than losing the rest.
Status write_all(int fd, const char *data, std::size_t size);

} // namespace platform
