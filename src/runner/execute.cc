// Runs the checker as a child process with its three standard streams on
// pipes, and relays its two output streams on two pump threads.
#include <cstdio>

#include "platform/platform.h"
#include "runner/pump.h"
#include "runner/runner.h"

namespace {

using platform::Handle;
using platform::kInvalidHandle;

// The exit code handed back when the child's real one cannot be read: a
// failed check, never a silent pass.
constexpr std::uint32_t kUnknownExitCode = 0xFFFFFFFFu;

// Prints "ERROR: ", the message and a line end in one call, so that a pump
// printing at the same time cannot split the line.
void print_error(const char *message) {
  std::printf("ERROR: %s\n", message);
}

// Closes the handle when it is set and marks it closed.
void close_if_open(Handle *handle) {
  if (*handle != kInvalidHandle)
    platform::close_handle(*handle);
  *handle = kInvalidHandle;
}

// One pipe of the child: the end the child inherits and the private end the
// parent keeps.
struct ChildPipe {
  Handle child_end = kInvalidHandle;
  Handle parent_end = kInvalidHandle;

  void close_both() {
    close_if_open(&child_end);
    close_if_open(&parent_end);
  }
};

// Makes a pipe whose parent end (the write end when PARENT_WRITES, else the
// read end) is replaced by a duplicate no child inherits. Prints the failure
// message and returns false on failure, with nothing left open.
bool make_child_pipe(bool parent_writes, const char *create_failure, const char *duplicate_failure,
                     ChildPipe *pipe) {
  Handle read_end = kInvalidHandle;
  Handle write_end = kInvalidHandle;
  if (!platform::create_pipe(&read_end, &write_end)) {
    print_error(create_failure);
    return false;
  }
  Handle inheritable_parent_end = parent_writes ? write_end : read_end;
  pipe->child_end = parent_writes ? read_end : write_end;
  if (!platform::duplicate_private(inheritable_parent_end, &pipe->parent_end)) {
    print_error(duplicate_failure);
    platform::close_handle(inheritable_parent_end);
    pipe->close_both();
    return false;
  }
  platform::close_handle(inheritable_parent_end);
  return true;
}

// Starts one pump; on failure prints the message with the system's code and
// leaves *thread unset.
void start_pump(PumpContext *context, const char *failure_format, Handle *thread) {
  *thread = kInvalidHandle;
  std::uint32_t error = g_start_pump_thread(run_pump, context, thread);
  if (error == 0 && *thread != kInvalidHandle)
    return;
  *thread = kInvalidHandle;
  char message[128];
  std::snprintf(message, sizeof message, failure_format,
                static_cast<long>(static_cast<std::int32_t>(error)));
  print_error(message);
}

// Waits for one pump thread, if it was started, and releases it.
void finish_pump(Handle thread) {
  if (thread != kInvalidHandle)
    platform::wait_thread(thread);
}

} // namespace

int execute(const char *command, std::uint32_t *exit_code, OutputCounters *counters,
            OutputFilter filter) {
  *counters = OutputCounters{};

  ChildPipe input;
  ChildPipe output;
  ChildPipe errors;
  if (!make_child_pipe(true, "Execute - Couldn't create StdIn pipe",
                       "Execute - Can't duplicate StdIn write handle!", &input))
    return -1;
  if (!make_child_pipe(false, "Execute - Couldn't create StdOut pipe",
                       "Execute - Can't duplicate StdOut read handle!", &output)) {
    input.close_both();
    return -1;
  }
  if (!make_child_pipe(false, "Execute - Couldn't create StdErr pipe",
                       "Execute - Can't duplicate StdErr read handle!", &errors)) {
    input.close_both();
    output.close_both();
    return -1;
  }

  platform::prepare_relay_output();
  Handle process = kInvalidHandle;
  std::uint32_t start_error = platform::start_process(command, input.child_end, output.child_end,
                                                      errors.child_end, &process);
  if (start_error != 0) {
    std::printf("ERROR: Execute - Couldn't create process, %s\n", command);
    input.close_both();
    output.close_both();
    errors.close_both();
    return static_cast<int>(start_error);
  }

  // Only the child may hold these now: the output pipes end when it (and
  // whatever inherited them from it) closes them, and its input is at end
  // at once since nothing ever writes to it.
  close_if_open(&output.child_end);
  close_if_open(&errors.child_end);
  close_if_open(&input.child_end);
  close_if_open(&input.parent_end);

  PumpContext out_context{&counters->stdout_bytes, output.parent_end, filter, stdout};
  PumpContext err_context{&counters->stderr_bytes, errors.parent_end, filter, stderr};
  Handle out_thread = kInvalidHandle;
  Handle err_thread = kInvalidHandle;
  start_pump(&out_context, "Execute - Error creating OutThread, ThreadError=%ld", &out_thread);
  start_pump(&err_context, "Execute - Error creating ErrThread, ThreadError=%ld", &err_thread);

  // A pipe without a pump is read and discarded here, so the child cannot
  // block on a full pipe and the wait below cannot hang.
  Handle unpumped[2];
  int unpumped_count = 0;
  if (out_thread == kInvalidHandle)
    unpumped[unpumped_count++] = output.parent_end;
  if (err_thread == kInvalidHandle)
    unpumped[unpumped_count++] = errors.parent_end;
  if (unpumped_count > 0)
    platform::drain_pipes(unpumped, unpumped_count);

  platform::wait_process(process);
  std::uint32_t code = kUnknownExitCode;
  if (!platform::process_exit_code(process, &code)) {
    // The message carries its own line end, so an empty line follows it.
    print_error("GetExitCodeProcess fails\n");
    code = kUnknownExitCode;
  }
  *exit_code = code;

  finish_pump(out_thread);
  finish_pump(err_thread);
  close_if_open(&output.parent_end);
  close_if_open(&errors.parent_end);
  if (out_thread != kInvalidHandle)
    platform::close_thread(out_thread);
  if (err_thread != kInvalidHandle)
    platform::close_thread(err_thread);
  platform::close_process(process);
  return 0;
}
