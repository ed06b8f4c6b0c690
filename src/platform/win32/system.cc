// Process, environment and stream services on Windows.
#include <cstdio>
#include <cstdlib>
#include <process.h>

#include "platform/platform.h"

// The mingw runtime expands wildcards in arguments unless told not to; a
// pattern such as **/src/**/*.java must reach the parser as typed.
extern "C" int _dowildcard;
int _dowildcard = 0;

namespace platform {

void init_process() {}

int process_id() {
  return _getpid();
}

bool temp_folder(std::string *folder) {
  const char *value = std::getenv("TEMP");
  if (value == nullptr)
    return false;
  *folder = value;
  return true;
}

bool set_environment(const char *name, const char *value) {
  std::string assignment = std::string(name) + "=" + value;
  return _putenv(assignment.c_str()) == 0;
}

FILE *open_file(const char *path, const char *mode) {
  return std::fopen(path, mode);
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

} // namespace platform
