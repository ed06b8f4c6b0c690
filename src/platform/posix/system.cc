// Process, environment and stream services on POSIX.
#include <csignal>
#include <cstdlib>
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

// A parent that ignores SIGCHLD would make every child's exit status
// unreadable; the checker's result must always be seen.
void init_process() { std::signal(SIGCHLD, SIG_DFL); }

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

} // namespace platform
