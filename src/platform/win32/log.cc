// Long-path form and dump log on Windows.
#include <windows.h>

#include <cstdio>
#include <string>

#include "platform/platform.h"

namespace platform {
namespace {
constexpr DWORD kLongPathBuffer = 1024;
} // namespace

bool long_path(const char *path, std::string *long_form) {
  char buffer[kLongPathBuffer];
  DWORD length = GetLongPathNameA(path, buffer, kLongPathBuffer);
  // 0 is a failure; a result above the buffer size is the size it would
  // have needed. A success always leaves room for the terminator, so the
  // length is below the buffer size then.
  if (length == 0 || length >= kLongPathBuffer)
    return false;
  long_form->assign(buffer, length);
  return true;
}

bool create_log_file(const char *path) {
  FILE *file = std::fopen(path, "w");
  if (file == nullptr)
    return false;
  std::fclose(file);
  return true;
}

bool append_log_line(const char *path, std::string_view text) {
  FILE *file = std::fopen(path, "a");
  if (file == nullptr)
    return false;
  // One write of the line and its newline; text mode turns the newline
  // (and any LF inside) into CR LF, as a formatted print would.
  std::string line(text);
  line += '\n';
  bool written = std::fwrite(line.data(), 1, line.size(), file) == line.size();
  return std::fclose(file) == 0 && written;
}

} // namespace platform
