#include "driver/options.h"

#include <cstdio>
#include <cstring>

#include "common/diagnostics.h"
#include "driver/version.h"

namespace {

// The options that only switch something on, and the line -b logs for each.
struct FlagOption {
  const char *short_form;
  const char *long_form;
  bool *(*flag)(CommandLine &command_line);
  const char *message;
};

constexpr FlagOption kFlags[] = {
    {"-o", "--stdout", [](CommandLine &c) { return &c.stdout_is_error; },
     "stdout will be treated as an error"},
    {"-e", "--stderr", [](CommandLine &c) { return &c.stderr_is_error; },
     "stderr will be treated as an error"},
    {"-s", "--strip", [](CommandLine &c) { return &c.strip; }, "strip temp path is on"},
    {"-d", "--dump", [](CommandLine &c) { return &c.dump; }, "dump is on"},
    {"-w", "--workdir-cwd", [](CommandLine &c) { return &c.workdir_cwd; },
     "checker starts in the temp folder"},
    {"-x", "--exclude", [](CommandLine &c) { return &c.exclude_mode; }, "exclude set"},
    {"-c", "--case-insensitive", [](CommandLine &c) { return &c.case_insensitive; },
     "case-insensitive is on"},
    {"-v", "--versions", [](CommandLine &c) { return &c.versions_only; },
     "versions check only mode is on"},
};

bool is_option(const char *argument, const char *short_form, const char *long_form) {
  return std::strcmp(argument, short_form) == 0 || std::strcmp(argument, long_form) == 0;
}

const FlagOption *find_flag(const char *argument) {
  for (const FlagOption &form : kFlags) {
    if (is_option(argument, form.short_form, form.long_form))
      return &form;
  }
  return nullptr;
}

// Compiles a pattern argument into the list that exclude mode selects.
// Failed, after its message, when it does not compile.
Outcome add_pattern(const char *argument, CommandLine *command_line) {
  PatternEntry entry;
  entry.source = argument;
  if (!compile_ant_pattern(entry, command_line->case_insensitive)) {
    std::printf("Invalid pattern '%s'\n", argument);
    return Outcome::Failed;
  }
  PatternList &list = command_line->exclude_mode ? command_line->exclude : command_line->include;
  list.push_back(std::move(entry));
  return Outcome::Done;
}

// The banner and the usage text; the run then ends with exit code 1.
void print_usage() {
  std::fputs("Trelvik version " TRELVIK_VERSION "\n"
             "Usage:\ttrelvik [-o] [-e] [-s] [-d] [-w] [-i <input_file>] [-c] [-b] [<pattern> "
             "[<pattern> ...]] [[-x] <pattern>[<pattern> ...]]\n"
             "  -h  --help\tprint this message and exit\n"
             "  -o  --stdout\tanything printed on standard output is an error\n"
             "  -e  --stderr\tanything printed on standard error is an error\n"
             "  -s  --strip\tstrip temporary path from any messages\n"
             "  -d  --dump\tcopy all output to a log file in the TEMP folder\n"
             "  -w  --workdir-cwd\tstart the checker in the temporary folder\n"
             "  -i  --input\ttake input from a file instead of stdin\n"
             "  -x  --exclude\tany subsequent patterns will be excluded\n"
             "  -c  --case-insensitive\ttreat filenames case-insensitively\n"
             "  -v  --versions\tversion check only - use patterns to allow/deny process\n"
             "  -b  --debug\tprint debug message - more -b's increase the debug level\n"
             "Patterns are Ant syntax e.g. **/src/**/*.java\n",
             stdout);
}

} // namespace

Outcome parse_options(int argc, char **argv, CommandLine *command_line) {
  for (int i = 1; i < argc; ++i) {
    const char *argument = argv[i];
    if (const FlagOption *form = find_flag(argument)) {
      *form->flag(*command_line) = true;
      log_debug1("%s", form->message);
    } else if (is_option(argument, "-h", "--help")) {
      print_usage();
      return Outcome::Failed;
    } else if (is_option(argument, "-i", "--input")) {
      if (i + 1 >= argc) {
        std::fputs("ERROR: -i/--input requires a filename\n", stdout);
        return Outcome::Failed;
      }
      command_line->input_file_name = argv[++i];
      log_debug1("input from file is on");
    } else if (is_option(argument, "-b", "--debug")) {
      set_debug_level(debug_level() + 1);
      log_debug1("debug level is now %d", debug_level());
    } else if (argument[0] == '\0' || argument[0] == '-') {
      std::printf("WARNING: Unrecognised option '%s'\n", argument);
    } else if (add_pattern(argument, command_line) == Outcome::Failed) {
      return Outcome::Failed;
    }
  }
  return Outcome::Done;
}
