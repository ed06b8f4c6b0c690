#include "driver/run.h"

#include <cstdint>
#include <cstdio>
#include <optional>

#include "common/diagnostics.h"
#include "driver/input.h"
#include "driver/options.h"
#include "driver/reconcile.h"
#include "platform/platform.h"
#include "runner/runner.h"
#include "staging/staging.h"

namespace {

// The exit code of a checker whose own code could not be read: a failed
// check, never a silent pass.
constexpr std::uint32_t kUnknownExitCode = 0xFFFFFFFFu;

// How a run ends: with an exit code, or with none when an interruption cut
// it short (trelvik_main then ends the program by the interruption).
using RunEnd = std::optional<int>;

// Prints the last line of an early end and hands back its exit code.
int exit_with_message(int code) {
  std::printf("Exiting code %d\n", code);
  return code;
}

// The exit code of a checker run, from what happened to it and the -o and
// -e options.
int checker_exit_code(const CheckerRun &checker, const CommandLine &options) {
  if (checker.outcome == Outcome::Failed)
    return exit_with_message(4);
  std::uint32_t code = checker.exit_code.value_or(kUnknownExitCode);
  if (code != 0)
    return static_cast<int>(code);
  if (options.stderr_is_error && checker.counters.stderr_bytes > 0)
    return exit_with_message(5);
  if (options.stdout_is_error && checker.counters.stdout_bytes > 0)
    return exit_with_message(6);
  return 0;
}

// Runs the checker over the staged files, cleans up and picks the exit code.
RunEnd run_checker(const InputData &input, StagingFolder &staging, const CommandLine &options) {
  StagingPrefixes prefixes = staging_prefixes(staging.path());
  DumpLog log;
  if (options.dump)
    log.create();
  staging.set_workdir();
  OutputChain out(stdout, prefixes, log, options.strip, options.dump);
  OutputChain err(stderr, prefixes, log, options.strip, options.dump);
  CheckerStart start;
  start.command = input.checker_command ? input.checker_command->c_str() : "";
  start.folder = options.workdir_cwd ? staging.path().c_str() : nullptr;
  start.out = &out.entry();
  start.err = &err.entry();
  CheckerRun checker = execute(start);
  if (checker.outcome == Outcome::Failed)
    log_error("ERROR: Failed to start '%s'\n", start.command);
  staging.remove();
  if (checker.outcome == Outcome::Interrupted)
    return std::nullopt;
  return checker_exit_code(checker, options);
}

RunEnd run(int argc, char **argv) {
  CommandLine options;
  if (parse_options(argc, argv, &options) == Outcome::Failed)
    return 1;

  InputData input;
  if (read_input(options.input_file_name, options.versions_only, &input) == Outcome::Failed)
    return 1;
  if (options.versions_only)
    return judge_versions(input.versions, options.include, options.exclude);

  if (reconcile_files(input.files, input.versions) == Outcome::Failed)
    return exit_with_message(1);

  // From the first thing made on disk on, an interruption lets the run
  // clean up before it ends the program (trelvik_main).
  platform::hold_interrupts();
  StagingFolder staging;
  if (staging.create() == Outcome::Failed) {
    std::fputs("FATAL ERROR: Failed to create temporary folder\n", stdout);
    return 2;
  }
  StagingResult staged = staging.stage_files(input.versions, options.include, options.exclude);
  switch (staged.outcome) {
  case Outcome::Interrupted:
    return std::nullopt;
  case Outcome::Failed:
    staging.remove();
    return exit_with_message(3);
  case Outcome::Done:
    break;
  }
  if (staged.copied == 0) {
    staging.remove();
    std::fputs("No files to check - exiting code 0\n", stdout);
    return 0;
  }
  return run_checker(input, staging, options);
}

} // namespace

int trelvik_main(int argc, char **argv) {
  platform::init_process();
  RunEnd end = run(argc, argv);
  std::fflush(stdout);
  std::fflush(stderr);
  // Ended as the interruption ends a program, so that a shell or the
  // version-control tool sees that the run was interrupted: a run the
  // interruption cut short, and one it reached during its last steps.
  if (int interruption = platform::interruption())
    platform::end_interrupted(interruption);
  // Only an interruption cuts a run short, and it has ended the program.
  return end.value_or(1);
}
