#include "driver/options.h"

#include <cstdio>
#include <cstring>

#include "driver/diagnostics.h"

namespace {

enum class Option {
  Help,
  Stdout,
  Stderr,
  Strip,
  Dump,
  Input,
  Exclude,
  CaseInsensitive,
  Debug,
  Versions,
  None
};

struct OptionForm {
  const char *short_form;
  const char *long_form;
  Option option;
};

constexpr OptionForm kOptions[] = {
    {"-h", "--help", Option::Help},       {"-o", "--stdout", Option::Stdout},
    {"-e", "--stderr", Option::Stderr},   {"-s", "--strip", Option::Strip},
    {"-d", "--dump", Option::Dump},       {"-i", "--input", Option::Input},
    {"-x", "--exclude", Option::Exclude}, {"-c", "--case-insensitive", Option::CaseInsensitive},
    {"-b", "--debug", Option::Debug},     {"-v", "--versions", Option::Versions},
};

Option find_option(const char *argument) {
  for (const OptionForm &form : kOptions) {
    if (std::strcmp(argument, form.short_form) == 0 || std::strcmp(argument, form.long_form) == 0)
      return form.option;
  }
  return Option::None;
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
    switch (find_option(argument)) {
    case Option::Help:
      print_usage();
      return 1;
    case Option::Stdout:
      g_settings.stdout_is_error = true;
      log_debug1("stdout will be treated as an error");
      break;
    case Option::Stderr:
      g_settings.stderr_is_error = true;
      log_debug1("stderr will be treated as an error");
      break;
    case Option::Strip:
      g_settings.strip = true;
      log_debug1("strip temp path is on");
      break;
    case Option::Dump:
      g_settings.dump = true;
      log_debug1("dump is on");
      break;
    case Option::Input:
      if (i + 1 >= argc) {
        std::fputs("ERROR: -i/--input requires a filename\n", stdout);
        return 1;
      }
      command_line->input_file_name = argv[++i];
      log_debug1("input from file is on");
      break;
    case Option::Exclude:
      command_line->exclude_mode = true;
      log_debug1("exclude set");
      break;
    case Option::CaseInsensitive:
      g_settings.case_insensitive = true;
      log_debug1("case-insensitive is on");
      break;
    case Option::Debug:
      ++g_settings.debug_level;
      log_debug1("debug level is now %d", g_settings.debug_level);
      break;
    case Option::Versions:
      command_line->versions_only = true;
      log_debug1("versions check only mode is on");
      break;
    case Option::None:
      if (argument[0] == '\0' || argument[0] == '-') {
        std::printf("WARNING: Unrecognised option '%s'\n", argument);
      } else if (!add_pattern(argument, command_line)) {
        std::printf("Invalid pattern '%s'\n", argument);
        return 1;
      }
      break;
    }
  }
  return kParseContinue;
}
