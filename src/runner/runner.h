// Runs the checker as a child process and relays its output.
#pragma once

#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

// Bytes the child wrote to each stream, counted before any rewriting. 64 bits
// each: a 32-bit count would wrap after 4 GiB, and a checker that wrote
// exactly 4 GiB to standard error would then count as having written nothing.
struct OutputCounters {
  std::uint64_t stdout_bytes = 0;
  std::uint64_t stderr_bytes = 0;
};

// Rewrites one chunk of output (bytes, NUL included, it must not keep):
// REWRITE is called with CONTEXT, from both pump threads at once.
struct OutputFilter {
  std::string (*rewrite)(void *context, std::string_view chunk) = nullptr;
  void *context = nullptr;
};

// Runs COMMAND with its standard input at end of input, in FOLDER when one
// is given (else in the program's own current folder), relaying its output
// chunk by chunk through FILTER (or unchanged when it has no function). *counters is zeroed
// first, whatever happens. Returns 0 when the child ran to its end
// (*exit_code and *counters then hold its results; *exit_code is 0xFFFFFFFF
// when the child's own code could not be read), -1 when the pipes could not
// be made, or the system's error code when the process could not be started
// (*exit_code is then left as it was). Nothing made along the way is left
// open on any return.
int execute(const char *command, std::uint32_t *exit_code, OutputCounters *counters,
            OutputFilter filter, const char *folder = nullptr);

// What the output filter of -s works with: the forms of the staging path it
// removes and the dump log it appends to. Filled before the checker starts
// and only read while the pumps run.
struct RewriteContext {
  std::string staging_prefix; // the staging folder and a backslash
  std::optional<std::string> long_staging_prefix;
  std::optional<std::string> workdir_prefix; // WORKDIR and "/", when another form
  bool dump = false;                         // -d
  std::optional<std::string> dump_log_path;
  // Both pumps append to the one log; one at a time, so that a chunk of one
  // stream never lands inside a chunk of the other.
  std::mutex log_mutex;
};

// Builds the staging prefix of STAGING_FOLDER, its long form and (where it
// differs from both) the form the checker was handed in WORKDIR, and with
// DUMP creates the dump log and announces it.
void prepare_output_rewriting(const std::string &staging_folder, bool dump,
                              RewriteContext *context);

// The output filter of -s: removes every occurrence of the staging prefix
// (then of its long form, then of the WORKDIR form) and appends the result
// to the dump log with -d.
std::string rewrite_output_line(RewriteContext &context, std::string_view chunk);

// The filter that hands each chunk to rewrite_output_line with CONTEXT.
OutputFilter rewriting_filter(RewriteContext *context);
