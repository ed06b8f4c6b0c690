#include "runner/pump.h"

#include <cstring>
#include <string>

platform::ThreadStarter g_start_pump_thread = platform::start_thread;

namespace {

bool is_line_end(char c) {
  return c == '\n' || c == '\r';
}

// The position of the last line-end byte of the LENGTH bytes of TEXT, or -1.
long last_line_end(const char *text, std::uint32_t length) {
  for (long i = static_cast<long>(length) - 1; i >= 0; --i) {
    if (is_line_end(text[i]))
      return i;
  }
  return -1;
}

// What one pump owns for its whole life, allocated once.
struct Pump {
  ChunkSplitter splitter;
  const PumpContext *context = nullptr;
  // One chunk and its newline, written in one call.
  char line[ChunkSplitter::kTextBytes + 1];
};

// Prints one chunk, through the filter when there is one, followed by a
// newline, in one write: when the gate's standard output and standard error
// go to one file, each line lands there whole and in the order it was
// relayed. On Windows the newline comes out as CR LF.
void emit_chunk(std::string_view chunk, void *raw_pump) {
  Pump *pump = static_cast<Pump *>(raw_pump);
  FILE *stream = pump->context->stream;
  const OutputFilter &filter = pump->context->filter;
  if (filter.rewrite == nullptr) {
    std::memcpy(pump->line, chunk.data(), chunk.size());
    pump->line[chunk.size()] = '\n';
    platform::relay_output(stream, pump->line, chunk.size() + 1);
    return;
  }
  std::string rewritten = filter.rewrite(filter.context, chunk);
  rewritten += '\n';
  platform::relay_output(stream, rewritten.data(), rewritten.size());
}

} // namespace

void ChunkSplitter::take(std::uint32_t count, ChunkSink sink, void *context) {
  if (ended_in_cr_ && buffer_[0] == '\n') {
    // held_ is 0 here: the CR was the last byte of the text.
    std::memmove(buffer_, buffer_ + 1, count - 1);
    --count;
  }
  ended_in_cr_ = false;
  std::uint32_t length = held_ + count;
  room_ = kTextBytes - length;
  long split = last_line_end(buffer_, length);
  if (split < 0) {
    if (room_ >= kMinimumRoom) {
      held_ = length;
      return;
    }
    sink(std::string_view(buffer_, length), context);
    held_ = 0;
    room_ = kTextBytes;
    return;
  }
  std::uint32_t split_point = static_cast<std::uint32_t>(split);
  std::uint32_t chunk_end = split_point;
  char line_end = buffer_[split_point];
  if (split_point > 0 && is_line_end(buffer_[split_point - 1]) &&
      buffer_[split_point - 1] != line_end)
    chunk_end = split_point - 1;
  sink(std::string_view(buffer_, chunk_end), context);
  ended_in_cr_ = line_end == '\r' && chunk_end == split_point && split_point + 1 == length;
  keep_tail_after(split_point, length);
}

void ChunkSplitter::keep_tail_after(std::uint32_t split_point, std::uint32_t length) {
  std::uint32_t tail = length - split_point - 1;
  std::memmove(buffer_, buffer_ + split_point + 1, tail);
  held_ = tail;
  room_ = kTextBytes - held_;
}

void ChunkSplitter::finish(ChunkSink sink, void *context) {
  if (held_ > 0)
    sink(std::string_view(buffer_, held_), context);
  held_ = 0;
  room_ = kTextBytes;
  ended_in_cr_ = false;
}

std::uint32_t run_pump(void *raw_context) {
  // On the heap, once per pump: the thread's stack stays small.
  auto pump = std::make_unique<Pump>();
  pump->context = static_cast<const PumpContext *>(raw_context);
  ChunkSplitter &splitter = pump->splitter;
  const platform::PipeEnd &pipe = *pump->context->pipe;
  while (std::uint32_t count =
             platform::read_pipe(pipe, splitter.read_position(), splitter.room())) {
    *pump->context->counter += count;
    splitter.take(count, emit_chunk, pump.get());
  }
  splitter.finish(emit_chunk, pump.get());
  return 0;
}
