// Process, environment and stream services on POSIX.
//
// Needs Linux with glibc 2.34 or later (as every file of posix/).
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>

#include "platform/platform.h"
#include "platform/posix/io.h"

namespace platform {

Status Handle::close_checked() {
  if (!is_open())
    return Status();
  return from_errno(::close(static_cast<int>(release())) == 0 ? 0 : errno);
}

void init_process() {
  // A parent that ignores SIGCHLD would make every child's exit status
  // unreadable; the checker's result must always be seen.
  std::signal(SIGCHLD, SIG_DFL);
  // A reader that goes away must not kill the gate halfway: the run still
  // cleans up and reports its exit code. Children get the default back.
  std::signal(SIGPIPE, SIG_IGN);
  // Started with a standard stream closed, the pipes made for the checker
  // could take descriptors 0 to 2 and be crossed when they are handed on.
  // Each one opened here stays open as that stream.
  for (int stream = 0; stream <= 2; ++stream) {
    if (fcntl(stream, F_GETFD) == -1 && errno == EBADF)
      open("/dev/null", O_RDWR);
  }
}

int process_id() {
  return static_cast<int>(getpid());
}

std::optional<std::string> temp_folder() {
  const char *value = std::getenv("TEMP");
  if (value == nullptr)
    value = std::getenv("TMPDIR");
  if (value == nullptr)
    value = "/tmp";
  return std::string(value);
}

Status set_environment(const char *name, const char *value) {
  return from_errno(setenv(name, value, 1) == 0 ? 0 : errno);
}

std::string workdir_value(const std::string &staging_folder) {
  return system_path(staging_folder.c_str());
}

Status change_folder(const char *path) {
  return from_errno(chdir(system_path(path).c_str()) == 0 ? 0 : errno);
}

FILE *open_file(const char *path, const char *mode) {
  return std::fopen(system_path(path).c_str(), mode);
}

void prepare_relay_output() {
  std::fflush(stdout);
  std::fflush(stderr);
}

void relay_output(FILE *stream, const char *bytes, std::size_t length) {
  // Straight to the descriptor: the stream's buffer is empty while the
  // pumps run, and a copy through it would only cost time. A line that
  // cannot be written (the reader went away) is dropped; the run goes on.
  (void)write_all(fileno(stream), bytes, length);
}

std::string error_text(Status status) {
  int error = static_cast<int>(status.code());
  const char *text = std::strerror(error);
  if (text == nullptr || *text == '\0' || std::strncmp(text, "Unknown error", 13) == 0)
    return "unknown error " + std::to_string(status.code()) + "\n";
  return std::string(text) + "\n";
}

} // namespace platform
