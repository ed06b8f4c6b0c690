#include "runner/pump.h"

#include <cstring>
#include <string>

ThreadStarter g_start_pump_thread = platform::start_thread;

namespace {

bool is_line_end(char c) {
  return c == '\n' || c == '\r';
}

// The position of the last line-end byte of TEXT, or -1.
long last_line_end(const char *text) {
  const char *last_lf = std::strrchr(text, '\n');
  const char *last_cr = std::strrchr(text, '\r');
  const char *last = last_lf;
  if (last_cr != nullptr && (last == nullptr || last_cr > last))
    last = last_cr;
  return last == nullptr ? -1 : static_cast<long>(last - text);
}

// Prints one chunk, through the filter when there is one, followed by a
// newline, in a single call so that the stream's lock keeps it whole.
void emit_chunk(const char *chunk, void *raw_context) {
  const PumpContext *context = static_cast<const PumpContext *>(raw_context);
  if (context->filter == nullptr) {
    std::fprintf(context->stream, "%s\n", chunk);
    return;
  }
  std::string rewritten = context->filter(chunk);
  std::fprintf(context->stream, "%s\n", rewritten.c_str());
}

} // namespace

void ChunkSplitter::take(std::uint32_t count, ChunkSink sink, void *context) {
  buffer_[held_ + count] = '\0';
  room_ -= count;
  long split = last_line_end(buffer_);
  if (split < 0) {
    if (room_ >= kMinimumRoom) {
      held_ += count;
      return;
    }
    sink(buffer_, context);
    held_ = 0;
    room_ = kTextBytes;
    buffer_[0] = '\0';
    return;
  }
  char line_end = buffer_[split];
  if (split > 0 && is_line_end(buffer_[split - 1]) && buffer_[split - 1] != line_end)
    buffer_[split - 1] = '\0';
  buffer_[split] = '\0';
  sink(buffer_, context);
  keep_tail_after(static_cast<std::uint32_t>(split));
}

void ChunkSplitter::keep_tail_after(std::uint32_t split_point) {
  const char *tail = buffer_ + split_point + 1;
  std::size_t length = std::strlen(tail);
  std::memmove(buffer_, tail, length);
  buffer_[length] = '\0';
  held_ = static_cast<std::uint32_t>(length);
  room_ = kTextBytes - held_;
}

void ChunkSplitter::finish(ChunkSink sink, void *context) {
  if (held_ > 0)
    sink(buffer_, context);
  held_ = 0;
  room_ = kTextBytes;
  buffer_[0] = '\0';
}

std::uint32_t run_pump(void *raw_context) {
  PumpContext *context = static_cast<PumpContext *>(raw_context);
  // On the heap, once per pump: the thread's stack stays small.
  auto splitter = std::make_unique<ChunkSplitter>();
  std::uint32_t count = 0;
  if (!platform::read_pipe(context->read_handle, splitter->read_position(), splitter->room(),
                           &count))
    return 0;
  while (count > 0) {
    *context->counter += count;
    splitter->take(count, emit_chunk, context);
    if (!platform::read_pipe(context->read_handle, splitter->read_position(), splitter->room(),
                             &count))
      break;
  }
  splitter->finish(emit_chunk, context);
  return 0;
}
