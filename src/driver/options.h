// The command line: options, pattern arguments, and the run-driver settings
// that live beside RunSettings.
#pragma once

#include "patterns/patterns.h"

struct CommandLine {
  bool versions_only = false;            // -v
  bool exclude_mode = false;             // -x seen
  bool workdir_cwd = false;              // -w: the checker starts in WORKDIR
  const char *input_file_name = nullptr; // -i; null: standard input
  PatternList include;
  PatternList exclude;
};

// Value of parse_options when the run goes on.
constexpr int kParseContinue = -1;

// Parses ARGV in one pass, left to right, printing each option's message and
// compiling each pattern as it is met. Returns kParseContinue, or the exit
// code the run ends with (-h, -i without a name, an invalid pattern).
int parse_options(int argc, char **argv, CommandLine *command_line);
