// Internal to the POSIX implementation.
#pragma once

#include <string>

namespace platform {

// The program's backslash paths as the system wants them: every backslash
// becomes a slash, nothing else changes.
std::string system_path(const char *path);

} // namespace platform
