// Long-path form and dump log on Windows, for paths of any length.
//
// Needs the Win32 API (GetLongPathNameW) and the C runtime's text-mode
// stdio (_wfopen).
#include <windows.h>

#include <cerrno>
#include <cstdio>
#include <string>

#include "platform/platform.h"
#include "platform/win32/paths.h"

namespace platform {
namespace {
constexpr DWORD kLongPathBuffer = 1024;

// The C runtime's failure just seen, as a Status.
Status runtime_failure() {
  return Status::failure(static_cast<std::uint32_t>(errno != 0 ? errno : EIO));
}
} // namespace

std::optional<std::string> long_path(const char *path) {
  // A path the plain form can hold keeps its own form (a relative one stays
  // relative); a longer one goes through the marked form, and the answer
  // loses the mark again.
  std::wstring given = widen(path);
  bool mark = given.size() >= MAX_PATH && !given.starts_with(L"\\\\?\\");
  if (mark)
    given = system_path(path);
  DWORD needed = GetLongPathNameW(given.c_str(), nullptr, 0);
  if (needed == 0)
    return std::nullopt;
  std::wstring buffer(needed, L'\0');
  DWORD length = GetLongPathNameW(given.c_str(), buffer.data(), needed);
  // A success leaves room for the terminator; more is the size it would
  // have needed, had the path changed meanwhile.
  if (length == 0 || length >= needed)
    return std::nullopt;
  buffer.resize(length);
  std::string long_form = narrow(mark ? without_long_mark(buffer) : buffer);
  if (long_form.size() >= kLongPathBuffer)
    return std::nullopt;
  return long_form;
}

Status create_log_file(const char *path) {
  FILE *file = _wfopen(system_path(path).c_str(), L"w");
  if (file == nullptr)
    return runtime_failure();
  std::fclose(file);
  return Status();
}

Status append_log_line(const char *path, std::string_view text) {
  FILE *file = _wfopen(system_path(path).c_str(), L"a");
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
