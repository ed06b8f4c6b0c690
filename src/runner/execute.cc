// Runs the checker as a child process with its three standard streams on
// pipes, and relays its two output streams on two pump threads.
//
// Pipe ends, the child and the pump threads close, wait for or join
// themselves, so every early return leaves nothing open; the pumps are
// declared after the pipes they read, and so end before those close.
#include <cstdint>
#include <cstdio>
#include <span>

#include "platform/platform.h"
#include "runner/pump.h"
#include "runner/runner.h"

namespace {

// Prints "ERROR: ", the message and a line end in one call, so that a pump
// printing at the same time cannot split the line.
void print_error(const char *message) {
  std::printf("ERROR: %s\n", message);
}

// One pipe of the child: the end the child inherits and the private end the
// parent keeps.
struct ChildPipe {
  platform::Handle child_end;
  platform::Handle parent_end;
};

// Makes the pipe of the child's stream NAME ("StdIn", "StdOut", "StdErr")
// and replaces its parent end (the write end when PARENT_WRITES, else the
// read end) by a duplicate no child inherits. Failed, after its message,
// when that cannot be done.
Outcome make_child_pipe(const char *name, bool parent_writes, ChildPipe *pipe) {
  char message[96];
  platform::Pipe made;
  if (!platform::create_pipe(&made).ok()) {
    std::snprintf(message, sizeof message, "Execute - Couldn't create %s pipe", name);
    print_error(message);
    return Outcome::Failed;
  }
  platform::Handle &inheritable = parent_writes ? made.write_end : made.read_end;
  pipe->child_end = std::move(parent_writes ? made.read_end : made.write_end);
  if (!platform::duplicate_private(inheritable, &pipe->parent_end).ok()) {
    std::snprintf(message, sizeof message, "Execute - Can't duplicate %s %s handle!", name,
                  parent_writes ? "write" : "read");
    print_error(message);
    return Outcome::Failed;
  }
  return Outcome::Done;
}

// What one pump thread works with: filled before it starts, only read by
// it afterwards, except the counter, which only it writes until it ends.
struct Pump {
  const platform::Handle *pipe = nullptr;
  std::uint64_t *counter = nullptr;
  ChunkSink *sink = nullptr;
  platform::Thread thread;
};

std::uint32_t pump_thread(void *raw) {
  Pump &pump = *static_cast<Pump *>(raw);
  pump_pipe(*pump.pipe, pump.counter, *pump.sink);
  return 0;
}

// Starts one pump; on failure prints the message with the system's code and
// leaves its thread not running.
void start_pump(const platform::ThreadStarter &start_thread, const char *failure_format,
                Pump *pump) {
  platform::Status started = start_thread(pump_thread, pump, &pump->thread);
  if (started.ok() && pump->thread.is_running())
    return;
  char message[128];
  std::snprintf(message, sizeof message, failure_format,
                static_cast<long>(static_cast<std::int32_t>(started.code())));
  print_error(message);
}

} // namespace

CheckerRun execute(const CheckerStart &start) {
  CheckerRun run;
  // An interruption while the files were copied or the log made: the
  // checker is not started at all.
  if (platform::interruption() != 0) {
    run.outcome = Outcome::Interrupted;
    return run;
  }
  ChildPipe input, output, errors;
  if (make_child_pipe("StdIn", true, &input) == Outcome::Failed ||
      make_child_pipe("StdOut", false, &output) == Outcome::Failed ||
      make_child_pipe("StdErr", false, &errors) == Outcome::Failed)
    return run;

  platform::prepare_relay_output();
  platform::ChildProcess process;
  platform::Status started = platform::start_process(
      start.command, input.child_end, output.child_end, errors.child_end, &process, start.folder);
  if (!started.ok()) {
    std::printf("ERROR: Execute - Couldn't create process, %s\n", start.command);
    return run;
  }
  // Only the child may hold these now: the output pipes end when it (and
  // whatever inherited them from it) closes them, and its input is at end
  // at once since nothing ever writes to it.
  output.child_end.close();
  errors.child_end.close();
  input.child_end.close();
  input.parent_end.close();

  Pump out_pump{&output.parent_end, &run.counters.stdout_bytes, start.out, {}};
  Pump err_pump{&errors.parent_end, &run.counters.stderr_bytes, start.err, {}};
  start_pump(start.start_thread, "Execute - Error creating OutThread, ThreadError=%ld", &out_pump);
  start_pump(start.start_thread, "Execute - Error creating ErrThread, ThreadError=%ld", &err_pump);
  // A pipe without a pump is read and discarded here, so the child cannot
  // block on a full pipe and the wait below cannot hang.
  const platform::Handle *unpumped[2];
  std::size_t unpumped_count = 0;
  if (!out_pump.thread.is_running())
    unpumped[unpumped_count++] = &output.parent_end;
  if (!err_pump.thread.is_running())
    unpumped[unpumped_count++] = &errors.parent_end;
  if (unpumped_count > 0)
    platform::drain_pipes(std::span(unpumped, unpumped_count));

  process.wait();
  run.exit_code = process.exit_code();
  // The message carries its own line end, so an empty line follows it.
  if (!run.exit_code)
    print_error("GetExitCodeProcess fails\n");
  out_pump.thread.join();
  err_pump.thread.join();
  run.outcome = platform::interruption() != 0 ? Outcome::Interrupted : Outcome::Done;
  return run;
}
