// Runs the checker as a child process and relays its output.
#pragma once

#include <cstdint>
#include <optional>

#include "common/outcome.h"
#include "platform/platform.h"
#include "runner/output.h"

// Bytes the child wrote to each stream, counted before any rewriting. 64 bits
// each: a 32-bit count would wrap after 4 GiB, and a checker that wrote
// exactly 4 GiB to standard error would then count as having written nothing.
struct OutputCounters {
  std::uint64_t stdout_bytes = 0;
  std::uint64_t stderr_bytes = 0;
};

// What execute is given.
struct CheckerStart {
  const char *command = "";     // the checker's command line
  const char *folder = nullptr; // where it starts; null: the program's own current folder
  ChunkSink *out = nullptr;     // where its standard output goes, chunk by chunk
  ChunkSink *err = nullptr;     // where its standard error goes
  // How the pump threads are started: platform::start_thread in a real run;
  // a stand-in can refuse, as a machine at its thread limit would.
  platform::ThreadStarter start_thread = platform::start_thread;
};

// What happened to the checker. Done: it ran to its end, with its exit
// code (none when it could not be read) and the counts of both streams.
// Failed: the pipes could not be made or it could not be started, after
// the message saying so. Interrupted: an interruption came before it could
// start (nothing was started) or while it ran (it was passed on, and the
// output relayed to the end).
struct [[nodiscard]] CheckerRun {
  Outcome outcome = Outcome::Failed;
  std::optional<std::uint32_t> exit_code;
  OutputCounters counters;
};

// Runs START.command with its standard input at end of input, relaying its
// output through the two sinks; returns only once both streams have ended.
// Nothing made along the way is left open on any return.
CheckerRun execute(const CheckerStart &start);
