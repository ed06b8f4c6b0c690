// Process, environment and stream services on Windows.
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

} // namespace platform
