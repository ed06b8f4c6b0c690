// Runs the checker as a child process and relays its output.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// Bytes the child wrote to each stream, counted before any rewriting. 64 bits
// each: a 32-bit count would wrap after 4 GiB, and a checker that wrote
// exactly 4 GiB to standard error would then count as having written nothing.
struct OutputCounters {
  std::uint64_t stdout_bytes = 0;
  std::uint64_t stderr_bytes = 0;
};

// Rewrites one chunk of output (bytes, NUL included, it must not keep).
using OutputFilter = std::string (*)(std::string_view chunk);

// Runs COMMAND with its standard input at end of input, relaying its output
// chunk by chunk through FILTER (or unchanged when null). *counters is zeroed
// first, whatever happens. Returns 0 when the child ran to its end
// (*exit_code and *counters then hold its results; *exit_code is 0xFFFFFFFF
// when the child's own code could not be read), -1 when the pipes could not
// be made, or the system's error code when the process could not be started
// (*exit_code is then left as it was). Nothing made along the way is left
// open on any return.
int execute(const char *command, std::uint32_t *exit_code, OutputCounters *counters,
            OutputFilter filter);

// Builds the staging prefix, its long form and (where it differs from both)
// the form the checker was handed in WORKDIR, and with -d creates the dump
// log and announces it.
void prepare_output_rewriting();

// The output filter of -s: removes every occurrence of the staging prefix
// (then of its long form, then of the WORKDIR form) and appends the result
// to the dump log with -d.
std::string rewrite_output_line(std::string_view chunk);
