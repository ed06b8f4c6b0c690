#include "driver/diagnostics.h"

#include <cstdarg>
#include <cstdio>

#include "driver/settings.h"
#include "driver/version.h"

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

void print_usage() {
  std::fputs("Trelvik version " TRELVIK_VERSION "\n"
             "Usage:\ttrelvik [-o] [-e] [-s] [-d] [-i <input_file>] [-c] [-b] [<pattern> "
             "[<pattern> ...]] [[-x] <pattern>[<pattern> ...]]\n"
             "  -h  --help\tprint this message and exit\n"
             "  -o  --stdout\tanything printed on standard output is an error\n"
             "  -e  --stderr\tanything printed on standard error is an error\n"
             "  -s  --strip\tstrip temporary path from any messages\n"
             "  -d  --dump\tcopy all output to a log file in the TEMP folder\n"
             "  -i  --input\ttake input from a file instead of stdin\n"
             "  -x  --exclude\tany subsequent patterns will be excluded\n"
             "  -c  --case-insensitive\ttreat filenames case-insensitively\n"
             "  -v  --versions\tversion check only - use patterns to allow/deny process\n"
             "  -b  --debug\tprint debug message - more -b's increase the debug level\n"
             "Patterns are Ant syntax e.g. **/src/**/*.java\n",
             stdout);
}
