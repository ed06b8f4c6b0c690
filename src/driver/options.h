// The command line: options and pattern arguments, everything the phases of
// the run are handed.
#pragma once

#include "common/outcome.h"
#include "patterns/patterns.h"

struct CommandLine {
  bool stdout_is_error = false;          // -o
  bool stderr_is_error = false;          // -e
  bool strip = false;                    // -s
  bool dump = false;                     // -d
  bool workdir_cwd = false;              // -w: the checker starts in WORKDIR
  bool versions_only = false;            // -v
  bool case_insensitive = false;         // -c seen: later patterns ignore case
  bool exclude_mode = false;             // -x seen: later patterns exclude
  const char *input_file_name = nullptr; // -i; null: standard input
  PatternList include;
  PatternList exclude;
};

// Parses ARGV in one pass, left to right, printing each option's message and
// compiling each pattern as it is met; each -b raises the debug level of
// the diagnostic channels. Failed when the run ends here with exit code 1
// (-h, -i without a name, an invalid pattern), after its message.
Outcome parse_options(int argc, char **argv, CommandLine *command_line);
