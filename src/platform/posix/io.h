// Internal to the POSIX implementation: paths as the system wants them,
// errno values as a Status, descriptors and whole writes.
//
// Needs Linux with glibc 2.34 or later (as every file of posix/).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/platform.h"

namespace platform {

// The program's paths as the system wants them: every backslash becomes a
// slash (a name cannot hold one), nothing else changes.
std::string system_path(const char *path);

// An errno value as a Status of its kind (0 is success).
Status from_errno(int error);

// The descriptor a Handle holds; -1 when it holds none.
inline int fd(const Handle &handle) {
  return static_cast<int>(handle.native());
}

// Writes all SIZE bytes to DESCRIPTOR, going on after interruptions and,
// on a descriptor left non-blocking by whoever opened it, waiting until it
// takes more rather than losing the rest.
Status write_all(int descriptor, const char *data, std::size_t size);

} // namespace platform
