#include "common/diagnostics.h"

#include <cstdarg>
#include <cstdio>

#include "common/settings.h"

namespace {

void log_at_level(int level, const char *format, va_list args) {
  if (g_settings.debug_level < level)
    return;
  std::vprintf(format, args);
  std::fputs("\n", stdout);
}

} // namespace

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

int log_error(const char *format, ...) {
  ++g_settings.error_count;
  va_list args;
  va_start(args, format);
  int printed = std::vprintf(format, args);
  va_end(args);
  return printed;
}
