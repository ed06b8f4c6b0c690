// Process, environment and stream services on Windows.
//
// Needs the Win32 API (FormatMessageA) and the mingw-w64 C runtime (_getpid,
// _putenv, _wfopen, the _dowildcard switch, text-mode standard streams).
#include <windows.h>

#include <process.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <memory>

#include "platform/platform.h"
#include "platform/win32/errors.h"
#include "platform/win32/paths.h"

// The mingw runtime expands wildcards in arguments unless told not to; a
// pattern such as **/src/**/*.java must reach the parser as typed.
extern "C" int _dowildcard;
int _dowildcard = 0;

namespace platform {

Status Handle::close_checked() {
  if (!is_open())
    return Status();
  return CloseHandle(reinterpret_cast<HANDLE>(release())) ? Status() : last_error();
}

void init_process() {}

int process_id() {
  return _getpid();
}

std::optional<std::string> temp_folder() {
  const char *value = std::getenv("TEMP");
  if (value == nullptr)
    return std::nullopt;
  return std::string(value);
}

Status set_environment(const char *name, const char *value) {
  std::string assignment = std::string(name) + "=" + value;
  if (_putenv(assignment.c_str()) == 0)
    return Status();
  // The runtime refuses only a malformed assignment or one it has no
  // memory for; its errno says which.
  return from_win32(errno == ENOMEM ? ERROR_NOT_ENOUGH_MEMORY : ERROR_INVALID_PARAMETER);
}

std::string workdir_value(const std::string &staging_folder) {
  return staging_folder;
}

Status change_folder(const char *path) {
  if (SetCurrentDirectoryW(widen(path).c_str()))
    return Status();
  return last_error();
}

FILE *open_file(const char *path, const char *mode) {
  return _wfopen(system_path(path).c_str(), widen(mode).c_str());
}

namespace {
// The buffers of the standard streams while the pumps print there: a chunk
// and its newline, CR LF included, fit into one with room to spare, so that
// each flush is one write. The runtime's own choice may be smaller, and an
// unbuffered stream may write a line in pieces.
constexpr std::size_t kRelayBuffer = 4096;
char g_stdout_buffer[kRelayBuffer];
char g_stderr_buffer[kRelayBuffer];
} // namespace

void prepare_relay_output() {
  std::fflush(stdout);
  std::fflush(stderr);
  std::setvbuf(stdout, g_stdout_buffer, _IOFBF, sizeof g_stdout_buffer);
  std::setvbuf(stderr, g_stderr_buffer, _IOFBF, sizeof g_stderr_buffer);
}

void relay_output(FILE *stream, const char *bytes, std::size_t length) {
  std::fwrite(bytes, 1, length, stream);
  std::fflush(stream);
}

namespace {
// FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_IGNORE_INSERTS |
// FORMAT_MESSAGE_FROM_SYSTEM, in the user's default language.
constexpr DWORD kMessageFlags = 0x1300;
constexpr DWORD kDefaultLanguage = 0x0400;
} // namespace

std::string error_text(Status status) {
  char *buffer = nullptr;
  DWORD length = FormatMessageA(kMessageFlags, nullptr, status.code(), kDefaultLanguage,
                                reinterpret_cast<LPSTR>(&buffer), 0, nullptr);
  std::unique_ptr<char, HLOCAL(WINAPI *)(HLOCAL)> owned(buffer, LocalFree);
  if (length == 0 || buffer == nullptr)
    return "unknown error " + std::to_string(status.code()) + "\n";
  return std::string(buffer, length);
}

} // namespace platform
