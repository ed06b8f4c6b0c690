#include "driver/run.h"

#include <cstdint>
#include <cstdio>

#include "common/diagnostics.h"
#include "driver/input.h"
#include "driver/options.h"
#include "driver/reconcile.h"
#include "platform/platform.h"
#include "runner/runner.h"
#include "staging/staging.h"

namespace {

// What the run returns once it has cleaned up after an interruption; never
// an exit code, since trelvik_main then ends the program by the
// interruption.
constexpr int kInterrupted = -1;

// Prints the last line of an early end and hands back its exit code.
int exit_with_message(int code) {
  std::printf("Exiting code %d\n", code);
  return code;
}

// Prints why the input could not be had: the input file, or standard input
// when no file was named. Always false.
bool report_unreadable_input(const char *file_name) {
  if (file_name != nullptr)
    std::printf("ERROR: Failed to open input file '%s'\n", file_name);
  else
    std::fputs("ERROR: Failed to read standard input\n", stdout);
  return false;
}

// Opens the input and reads all of it. False, after its message, when the
// input file cannot be opened or a read fails before the end of the input:
// a commit read only in part must not be checked as if it were whole.
bool read_all_input(const CommandLine &command_line, InputData *input) {
  const char *file_name = command_line.input_file_name;
  FILE *stream = stdin;
  if (file_name != nullptr) {
    g_settings.input_file = platform::open_file(file_name, "r");
    if (g_settings.input_file == nullptr)
      return report_unreadable_input(file_name);
    stream = g_settings.input_file;
  }
  bool complete = read_input(stream, command_line.versions_only, input);
  if (g_settings.input_file != nullptr) {
    std::fclose(g_settings.input_file);
    g_settings.input_file = nullptr;
  }
  return complete || report_unreadable_input(file_name);
}

// Runs the checker over the staged files and picks the exit code.
int run_checker(const InputData &input, StagingFolder &staging, bool workdir_cwd) {
  RewriteContext rewrite;
  prepare_output_rewriting(staging.path(), g_settings.dump, &rewrite);
  staging.set_workdir();
  std::uint32_t child_exit_code = 0;
  OutputCounters counters;
  const char *command = input.checker_command ? input.checker_command->c_str() : "";
  OutputFilter filter = g_settings.strip ? rewriting_filter(&rewrite) : OutputFilter{};
  const char *folder = workdir_cwd ? staging.path().c_str() : nullptr;
  // Interrupted while the files were copied or the log made: no checker.
  if (platform::interruption() != 0)
    return kInterrupted;
  if (execute(command, &child_exit_code, &counters, filter, folder) != 0)
    log_error("ERROR: Failed to start '%s'\n", command);
  staging.remove();
  if (platform::interruption() != 0)
    return kInterrupted;
  if (g_settings.error_count > 0)
    return exit_with_message(4);
  if (child_exit_code != 0)
    return static_cast<int>(child_exit_code);
  if (g_settings.stderr_is_error && counters.stderr_bytes > 0)
    return exit_with_message(5);
  if (g_settings.stdout_is_error && counters.stdout_bytes > 0)
    return exit_with_message(6);
  return 0;
}

int run(int argc, char **argv) {
  CommandLine command_line;
  int parsed = parse_options(argc, argv, &command_line);
  if (parsed != kParseContinue)
    return parsed;

  InputData input;
  if (!read_all_input(command_line, &input))
    return 1;
  if (command_line.versions_only)
    return judge_versions(input.versions, command_line.include, command_line.exclude);

  reconcile_files(input.files, input.versions);
  if (g_settings.error_count > 0)
    return exit_with_message(1);

  // From the first thing made on disk on, an interruption lets the run
  // clean up before it ends the program (trelvik_main).
  platform::hold_interrupts();
  StagingFolder staging;
  if (!staging.create()) {
    std::fputs("FATAL ERROR: Failed to create temporary folder\n", stdout);
    return 2;
  }
  int copied = staging.stage_files(input.versions, command_line.include, command_line.exclude);
  if (platform::interruption() != 0)
    return kInterrupted;
  if (g_settings.error_count > 0) {
    staging.remove();
    return exit_with_message(3);
  }
  if (copied == 0) {
    staging.remove();
    std::fputs("No files to check - exiting code 0\n", stdout);
    return 0;
  }
  return run_checker(input, staging, command_line.workdir_cwd);
}

} // namespace

int trelvik_main(int argc, char **argv) {
  platform::init_process();
  int code = run(argc, argv);
  std::fflush(stdout);
  std::fflush(stderr);
  // Ended as the interruption ends a program, so that a shell or the
  // version-control tool sees that the run was interrupted.
  if (int interruption = platform::interruption())
    platform::end_interrupted(interruption);
  return code;
}
