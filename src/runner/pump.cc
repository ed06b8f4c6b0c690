#include "runner/pump.h"

#include <cstring>
#include <memory>

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

} // namespace

void ChunkSplitter::take(std::uint32_t count, ChunkSink &sink) {
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
    sink.put(std::string_view(buffer_, length));
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
  sink.put(std::string_view(buffer_, chunk_end));
  ended_in_cr_ = line_end == '\r' && chunk_end == split_point && split_point + 1 == length;
  keep_tail_after(split_point, length);
}

void ChunkSplitter::keep_tail_after(std::uint32_t split_point, std::uint32_t length) {
  std::uint32_t tail = length - split_point - 1;
  std::memmove(buffer_, buffer_ + split_point + 1, tail);
  held_ = tail;
  room_ = kTextBytes - held_;
}

void ChunkSplitter::finish(ChunkSink &sink) {
  if (held_ > 0)
    sink.put(std::string_view(buffer_, held_));
  held_ = 0;
  room_ = kTextBytes;
  ended_in_cr_ = false;
}

void pump_pipe(const platform::Handle &pipe, std::uint64_t *counter, ChunkSink &sink) {
  // On the heap, once per pump: the thread's stack stays small.
  auto splitter = std::make_unique<ChunkSplitter>();
  while (std::uint32_t count =
             platform::read_pipe(pipe, splitter->read_position(), splitter->room())) {
    *counter += count;
    splitter->take(count, sink);
  }
  splitter->finish(sink);
}
