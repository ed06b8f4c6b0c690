// Process, environment and stream services on POSIX.
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include "platform/platform.h"
#include "platform/posix/paths.h"

namespace platform {

std::string system_path(const char *path) {
  std::string converted = path;
  for (char &c : converted) {
    if (c == '\\')
      c = '/';
  }
  return converted;
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
  for (int fd = 0; fd <= 2; ++fd) {
    if (fcntl(fd, F_GETFD) == -1 && errno == EBADF)
      open("/dev/null", O_RDWR);
  }
}

int process_id() {
  return static_cast<int>(getpid());
}

bool temp_folder(std::string *folder) {
  const char *value = std::getenv("TEMP");
  if (value == nullptr)
    value = std::getenv("TMPDIR");
  if (value == nullptr)
    value = "/tmp";
  *folder = value;
  return true;
}

bool set_environment(const char *name, const char *value) {
  return setenv(name, value, 1) == 0;
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
  // pumps run, and a copy through it would only cost time.
  int fd = fileno(stream);
  while (length > 0) {
    ssize_t wrote = write(fd, bytes, length);
    if (wrote > 0) {
      bytes += wrote;
      length -= static_cast<std::size_t>(wrote);
      continue;
    }
    if (wrote < 0 && errno == EINTR)
      continue;
    // A descriptor left non-blocking by whoever started the program: wait
    // until it takes more, rather than lose the rest of the line.
    pollfd writable{fd, POLLOUT, 0};
    if (wrote < 0 && errno == EAGAIN && poll(&writable, 1, -1) >= 0)
      continue;
    return;
  }
}

} // namespace platform
