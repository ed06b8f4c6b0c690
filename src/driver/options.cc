#include "driver/options.h"

#include <cstdio>
#include <cstring>

#include "driver/diagnostics.h"

namespace {

// The options that only switch something on, and the line -b logs for each.
struct FlagOption {
  const char *short_form;
  const char *long_form;
  bool *(*flag)(CommandLine &command_line);
  const char *message;
};

constexpr FlagOption kFlags[] = {
    {"-o", "--stdout", [](CommandLine &) { return &g_settings.stdout_is_error; },
     "stdout will be treated as an error"},
    {"-e", "--stderr", [](CommandLine &) { return &g_settings.stderr_is_error; },
     "stderr will be treated as an error"},
    {"-s", "--strip", [](CommandLine &) { return &g_settings.strip; }, "strip temp path is on"},
    {"-d", "--dump", [](CommandLine &) { return &g_settings.dump; }, "dump is on"},
    {"-x", "--exclude", [](CommandLine &c) { return &c.exclude_mode; }, "exclude set"},
    {"-c", "--case-insensitive", [](CommandLine &) { return &g_settings.case_insensitive; },
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
// False when it does not compile.
bool add_pattern(const char *argument, CommandLine *command_line) {
  PatternEntry entry;
  entry.source = argument;
  if (!compile_ant_pattern(entry))
    return false;
  PatternList &list = command_line->exclude_mode ? command_line->exclude : command_line->include;
  list.push_back(std::move(entry));
  return true;
}

} // namespace

int parse_options(int argc, char **argv, CommandLine *command_line) {
  for (int i = 1; i < argc; ++i) {
    const char *argument = argv[i];
    if (const FlagOption *form = find_flag(argument)) {
      *form->flag(*command_line) = true;
      log_debug1("%s", form->message);
    } else if (is_option(argument, "-h", "--help")) {
      print_usage();
      return 1;
    } else if (is_option(argument, "-i", "--input")) {
      if (i + 1 >= argc) {
        std::fputs("ERROR: -i/--input requires a filename\n", stdout);
        return 1;
      }
      command_line->input_file_name = argv[++i];
      log_debug1("input from file is on");
    } else if (is_option(argument, "-b", "--debug")) {
      ++g_settings.debug_level;
      log_debug1("debug level is now %d", g_settings.debug_level);
    } else if (argument[0] == '\0' || argument[0] == '-') {
      std::printf("WARNING: Unrecognised option '%s'\n", argument);
    } else if (!add_pattern(argument, command_line)) {
      std::printf("Invalid pattern '%s'\n", argument);
      return 1;
    }
  }
  return kParseContinue;
}
