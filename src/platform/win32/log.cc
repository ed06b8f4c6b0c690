// Long-path form and dump log on Windows.
//
// Needs the Win32 API (GetLongPathNameA) and the C runtime's text-mode
// stdio.
#include <windows.h>

#include <cerrno>
#include <cstdio>
#include <string>

#include "platform/platform.h"

namespace platform {
namespace {
constexpr DWORD kLongPathBuffer = 1024;

// The C runtime's failure just seen, as a Status.
Status runtime_failure() {
  return Status::failure(static_cast<std::uint32_t>(errno != 0 ? errno : EIO));
}
} // namespace

std::optional<std::string> long_path(const char *path) {
  char buffer[kLongPathBuffer];
  DWORD length = GetLongPathNameA(path, buffer, kLongPathBuffer);
  // 0 is a failure; a result above the buffer size is the size it would
  // have needed. A success always leaves room for the terminator, so the
  // length is below the buffer size then.
  if (length == 0 || length >= kLongPathBuffer)
    return std::nullopt;
  return std::string(buffer, length);
}

Status create_log_file(const char *path) {
  FILE *file = std::fopen(path, "w");
  if (file == nullptr)
    return runtime_failure();
  std::fclose(file);
  return Status();
}

Status append_log_line(const char *path, std::string_view text) {
  FILE *file = std::fopen(path, "a");
  if (file == nullptr)
    return runtime_failure();
  // One write of the line and its newline; text mode turns the newline
  // (and any LF inside) into CR LF, as a formatted print would.
  std::string line(text);
  line += '\n';
  bool written = std::fwrite(line.data(), 1, line.size(), file) == line.size();
  if (std::fclose(file) != 0 || !written)
    return runtime_failure();
  return Status();
}

} // namespace platform
