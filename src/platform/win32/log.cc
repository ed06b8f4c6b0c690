// Long-path form and dump log on Windows, for paths of any length.
//
// Needs the Win32 API (GetLongPathNameW, CreateFileW, WriteFile).
#include <windows.h>

#include <string>

#include "platform/platform.h"
#include "platform/win32/errors.h"
#include "platform/win32/paths.h"

namespace platform {
namespace {

constexpr DWORD kLongPathBuffer = 1024;

// Opens the dump log for writing in the way DISPOSITION says; others may
// read and write it meanwhile, as a file the runtime opens.
Handle open_log(const char *path, DWORD access, DWORD disposition) {
  HANDLE opened = CreateFileW(system_path(path).c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
  return Handle(reinterpret_cast<std::intptr_t>(opened)); // INVALID_HANDLE_VALUE: none
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
  Handle log = open_log(path, GENERIC_WRITE, CREATE_ALWAYS);
  if (!log.is_open())
    return last_error();
  return log.close_checked();
}

Status append_log_line(const char *path, std::string_view text) {
  Handle log = open_log(path, FILE_APPEND_DATA, OPEN_ALWAYS);
  if (!log.is_open())
    return last_error();
  // One write of the line and its newline, each LF (the newline too) as
  // CR LF, as the runtime's text mode writes a line.
  std::string line;
  line.reserve(text.size() + 2);
  for (char c : text) {
    if (c == '\n')
      line += '\r';
    line += c;
  }
  line += "\r\n";
  DWORD written = 0;
  if (!WriteFile(reinterpret_cast<HANDLE>(log.native()), line.data(),
                 static_cast<DWORD>(line.size()), &written, nullptr))
    return last_error();
  if (written != line.size())
    return from_win32(ERROR_WRITE_FAULT);
  return log.close_checked();
}

} // namespace platform
