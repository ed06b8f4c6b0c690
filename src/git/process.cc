#include "git/process.h"

#include <cstdio>
#include <utility>

#include "platform/platform.h"

namespace tvkgit {
namespace {

using PipeEnd = platform::Handle;

// One stream of a child and what is done with it.
struct Stream {
  PipeEnd *pipe = nullptr;
  OutputTaker take;      // output: what receives it
  std::string_view text; // input: what is written
};

std::uint32_t read_stream(void *raw) {
  Stream *stream = static_cast<Stream *>(raw);
  char buffer[1 << 16];
  while (std::uint32_t count = platform::read_pipe(*stream->pipe, buffer, sizeof buffer))
    stream->take(std::string_view(buffer, count));
  return 0;
}

std::uint32_t write_stream(void *raw) {
  Stream *stream = static_cast<Stream *>(raw);
  // A child that ends without reading it all is no fault of ours: its exit
  // code tells what happened.
  (void)platform::write_pipe(*stream->pipe, stream->text.data(), stream->text.size());
  stream->pipe->close(); // the child reads the end of its input
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

// Starts COMMAND with INPUT written to it and its two output streams read,
// each on a thread of its own, so that no pipe can fill up while another
// one is served, and waits for it here: an interruption that comes
// meanwhile is passed on to it.
std::optional<std::uint32_t> run(const std::string &command, std::string_view input,
                                 const OutputTaker &take_out, const OutputTaker &take_err) {
  ChildPipe input_pipe, output, errors;
  if (!input_pipe.open(false) || !output.open(true) || !errors.open(true))
    return std::nullopt;
  Stream in{&input_pipe.own_end, {}, input};
  Stream out{&output.own_end, take_out, {}};
  Stream err{&errors.own_end, take_err, {}};
  // Started first, so that a failure leaves no child to wait for; once the
  // child's ends are closed below, the threads see the end of each stream.
  platform::Thread out_thread, err_thread, in_thread;
  bool threads = platform::start_thread(read_stream, &out, &out_thread).ok() &&
                 platform::start_thread(read_stream, &err, &err_thread).ok() &&
                 (input.empty() || platform::start_thread(write_stream, &in, &in_thread).ok());
  if (input.empty())
    input_pipe.own_end.close();
  if (!threads) {
    input_pipe.child_end.close();
    output.child_end.close();
    errors.child_end.close();
    return std::nullopt;
  }
  std::fflush(stdout);
  std::fflush(stderr);
  platform::ChildProcess process;
  platform::Status started = platform::start_process(command.c_str(), input_pipe.child_end,
                                                     output.child_end, errors.child_end, &process);
  // Without a child the readers see the end of their streams at once and
  // the writer meets a pipe without a reader.
  input_pipe.child_end.close();
  output.child_end.close();
  errors.child_end.close();
  if (started.ok())
    process.wait();
  in_thread.join();
  out_thread.join();
  err_thread.join();
  if (!started.ok())
    return std::nullopt;
  // An exit code that cannot be read is a failure, never a pass.
  return process.exit_code().value_or(1u);
}

} // namespace

std::optional<std::uint32_t> stream(const std::string &command, std::string_view input,
                                    const OutputTaker &take, std::string *errors) {
  return run(command, input, take, [&](std::string_view bytes) { errors->append(bytes); });
}

void Output::write(FILE *stream, std::string_view bytes) {
  if (!hold_) {
    platform::relay_output(stream, bytes.data(), bytes.size());
    return;
  }
  std::lock_guard<std::mutex> lock(mutex_);
  if (!held_.empty() && held_.back().first == stream)
    held_.back().second.append(bytes);
  else
    held_.emplace_back(stream, std::string(bytes));
}

void Output::line(const std::string &text) {
  write(stdout, "trelvik-git: " + text + "\n");
}

void Output::release() {
  std::lock_guard<std::mutex> lock(mutex_);
  for (const auto &[stream, bytes] : held_)
    platform::relay_output(stream, bytes.data(), bytes.size());
  held_.clear();
}

std::optional<std::uint32_t> relay(const std::string &command, std::string_view input,
                                   Output *output) {
  return run(
      command, input, [&](std::string_view bytes) { output->write(stdout, bytes); },
      [&](std::string_view bytes) { output->write(stderr, bytes); });
}

} // namespace tvkgit
