// Runs the checker as a child process with its three standard streams on
// pipes, and relays its two output streams on two pump threads.
//
// Pipe ends, the child and the pump threads close, release or join
// themselves, so every early return leaves nothing open; the pumps are
// declared after the pipes they read, and so end before those close.
#include <cstdio>

#include "platform/platform.h"
#include "runner/pump.h"
#include "runner/runner.h"

namespace {

// The exit code handed back when the child's real one cannot be read: a
// failed check, never a silent pass.
constexpr std::uint32_t kUnknownExitCode = 0xFFFFFFFFu;

// Prints "ERROR: ", the message and a line end in one call, so that a pump
// printing at the same time cannot split the line.
void print_error(const char *message) {
  std::printf("ERROR: %s\n", message);
}

// One pipe of the child: the end the child inherits and the private end the
// parent keeps.
struct ChildPipe {
  platform::PipeEnd child_end;
  platform::PipeEnd parent_end;
};

// Makes a pipe whose parent end (the write end when PARENT_WRITES, else the
// read end) is replaced by a duplicate no child inherits. Prints the failure
// message and returns false on failure.
bool make_child_pipe(bool parent_writes, const char *create_failure, const char *duplicate_failure,
                     ChildPipe *pipe) {
  platform::Pipe made;
  if (!platform::create_pipe(&made).ok()) {
    print_error(create_failure);
    return false;
  }
  platform::PipeEnd &inheritable = parent_writes ? made.write_end : made.read_end;
  pipe->child_end = std::move(parent_writes ? made.read_end : made.write_end);
  if (!platform::duplicate_private(inheritable, &pipe->parent_end).ok()) {
    print_error(duplicate_failure);
    return false;
  }
  return true;
}

// Starts one pump; on failure prints the message with the system's code and
// leaves *THREAD not running.
void start_pump(PumpContext *context, const char *failure_format, platform::Thread *thread) {
  platform::Status started = g_start_pump_thread(run_pump, context, thread);
  if (started.ok() && thread->is_running())
    return;
  char message[128];
  std::snprintf(message, sizeof message, failure_format,
                static_cast<long>(static_cast<std::int32_t>(started.code())));
  print_error(message);
}

} // namespace

int execute(const char *command, std::uint32_t *exit_code, OutputCounters *counters,
            OutputFilter filter, const char *folder) {
  *counters = OutputCounters{};
  ChildPipe input, output, errors;
  if (!make_child_pipe(true, "Execute - Couldn't create StdIn pipe",
                       "Execute - Can't duplicate StdIn write handle!", &input) ||
      !make_child_pipe(false, "Execute - Couldn't create StdOut pipe",
                       "Execute - Can't duplicate StdOut read handle!", &output) ||
      !make_child_pipe(false, "Execute - Couldn't create StdErr pipe",
                       "Execute - Can't duplicate StdErr read handle!", &errors))
    return -1;

  platform::prepare_relay_output();
  platform::ChildProcess process;
  platform::Status started = platform::start_process(command, input.child_end, output.child_end,
                                                     errors.child_end, &process, folder);
  if (!started.ok()) {
    std::printf("ERROR: Execute - Couldn't create process, %s\n", command);
    return static_cast<int>(started.code());
  }
  // Only the child may hold these now: the output pipes end when it (and
  // whatever inherited them from it) closes them, and its input is at end
  // at once since nothing ever writes to it.
  output.child_end.close();
  errors.child_end.close();
  input.child_end.close();
  input.parent_end.close();

  PumpContext out_context{&counters->stdout_bytes, &output.parent_end, filter, stdout};
  PumpContext err_context{&counters->stderr_bytes, &errors.parent_end, filter, stderr};
  platform::Thread out_pump, err_pump;
  start_pump(&out_context, "Execute - Error creating OutThread, ThreadError=%ld", &out_pump);
  start_pump(&err_context, "Execute - Error creating ErrThread, ThreadError=%ld", &err_pump);
  // A pipe without a pump is read and discarded here, so the child cannot
  // block on a full pipe and the wait below cannot hang.
  const platform::PipeEnd *unpumped[2];
  std::size_t unpumped_count = 0;
  if (!out_pump.is_running())
    unpumped[unpumped_count++] = &output.parent_end;
  if (!err_pump.is_running())
    unpumped[unpumped_count++] = &errors.parent_end;
  if (unpumped_count > 0)
    platform::drain_pipes(std::span(unpumped, unpumped_count));

  process.wait();
  std::optional<std::uint32_t> code = process.exit_code();
  // The message carries its own line end, so an empty line follows it.
  if (!code)
    print_error("GetExitCodeProcess fails\n");
  *exit_code = code.value_or(kUnknownExitCode);
  out_pump.join();
  err_pump.join();
  return 0;
}
