#include "common/diagnostics.h"

#include <cstdarg>
#include <cstdio>

namespace {

// Set while the options are parsed, before any other thread exists, and
// only read afterwards.
int g_debug_level = 0;

void log_at_level(int level, const char *format, va_list args) {
  if (g_debug_level < level)
    return;
  std::vprintf(format, args);
  std::fputs("\n", stdout);
}

} // namespace

int debug_level() {
  return g_debug_level;
}

void set_debug_level(int level) {
  g_debug_level = level;
}

void log_debug1(const char *format, ...) {
  va_list args;
  va_start(args, format);
  log_at_level(1, format, args);
  va_end(args);
}

void log_debug2(const char *format, ...) {
  va_list args;
  va_start(args, format);
  log_at_level(2, format, args);
  va_end(args);
}

void log_error(const char *format, ...) {
  va_list args;
  va_start(args, format);
  std::vprintf(format, args);
  va_end(args);
}
