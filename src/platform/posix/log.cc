// Long-path form and dump log: not built yet. Every call fails and says so.
#include <cstdio>

#include "platform/platform.h"

namespace platform {
namespace {
void not_implemented(const char *name) {
  std::fprintf(stderr, "trelvik: platform::%s is not implemented yet\n", name);
}
} // namespace

bool long_path(const char *, std::string *) {
  not_implemented("long_path");
  return false;
}
bool create_log_file(const char *) {
  not_implemented("create_log_file");
  return false;
}
bool append_log_line(const char *, const char *) {
  not_implemented("append_log_line");
  return false;
}

} // namespace platform
