#include "git/process.h"

#include <cstdio>
#include <utility>

#include "platform/platform.h"

namespace tvkgit {
namespace {

using platform::PipeEnd;

// Where one output stream of a child goes: into TEXT, or relayed to STREAM.
struct Sink {
  const PipeEnd *pipe = nullptr;
  std::string *text = nullptr;
  FILE *stream = nullptr;
};

std::uint32_t read_to_sink(void *raw) {
  Sink *sink = static_cast<Sink *>(raw);
  char buffer[1 << 16];
  while (std::uint32_t count = platform::read_pipe(*sink->pipe, buffer, sizeof buffer)) {
    if (sink->text != nullptr)
      sink->text->append(buffer, count);
    else
      platform::relay_output(sink->stream, buffer, count);
  }
  return 0;
}

// A pipe to a child: the end it inherits, and ours, which no child does.
struct ChildPipe {
  PipeEnd child_end;
  PipeEnd own_end;

  // CHILD_WRITES: the child writes and we read, else the other way round.
  bool open(bool child_writes) {
    platform::Pipe pipe;
    if (!platform::create_pipe(&pipe).ok())
      return false;
    child_end = std::move(child_writes ? pipe.write_end : pipe.read_end);
    return platform::duplicate_private(child_writes ? pipe.read_end : pipe.write_end, &own_end)
        .ok();
  }
};

// Starts COMMAND with its output streams on the two sinks, the error
// stream's read on a thread of its own, the output stream's here, so that
// neither pipe can fill up while the other is read.
std::optional<std::uint32_t> run(const std::string &command, Sink *out, Sink *err) {
  ChildPipe input;
  ChildPipe output;
  ChildPipe errors;
  if (!input.open(false) || !output.open(true) || !errors.open(true))
    return std::nullopt;
  input.own_end.close(); // the input ends at once: nothing is ever written to it
  out->pipe = &output.own_end;
  err->pipe = &errors.own_end;
  // Started first, so that a failure leaves no child to wait for; once the
  // child's ends are closed below, it sees the end of the stream.
  platform::Thread thread;
  if (!platform::start_thread(read_to_sink, err, &thread).ok())
    return std::nullopt;
  std::fflush(stdout);
  std::fflush(stderr);
  platform::ChildProcess process;
  platform::Status started = platform::start_process(command.c_str(), input.child_end,
                                                     output.child_end, errors.child_end, &process);
  input.child_end.close();
  output.child_end.close();
  errors.child_end.close();
  if (started.ok())
    read_to_sink(out);
  thread.join();
  if (!started.ok())
    return std::nullopt;
  process.wait();
  // An exit code that cannot be read is a failure, never a pass.
  return process.exit_code().value_or(1u);
}

} // namespace

std::optional<Captured> capture(const std::string &command) {
  Captured captured;
  Sink out{nullptr, &captured.out, nullptr};
  Sink err{nullptr, &captured.err, nullptr};
  std::optional<std::uint32_t> code = run(command, &out, &err);
  if (!code)
    return std::nullopt;
  captured.exit_code = *code;
  return captured;
}

std::optional<std::uint32_t> relay(const std::string &command) {
  Sink out{nullptr, nullptr, stdout};
  Sink err{nullptr, nullptr, stderr};
  return run(command, &out, &err);
}

} // namespace tvkgit
