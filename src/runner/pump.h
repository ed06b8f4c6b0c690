// The output pumps: the pure splitting of a stream into printable chunks and
// the relay of one pipe through it.
#pragma once

#include <cstdint>
#include <string_view>

#include "platform/platform.h"
#include "runner/output.h"

// Cuts the bytes of one stream into chunks of whole lines. The caller reads
// into read_position() at most room() bytes and hands the count to take();
// at end of stream it calls finish(). No threads, no I/O: every splitting
// rule can be exercised with hand-made reads.
//
// Rules: a chunk is everything up to the last line end of the text (the
// last LF or CR; a CR LF or LF CR pair there goes as a whole); the bytes
// after it wait for the next read. 897 or more bytes without any line end
// go out as one chunk. Every other byte, NUL included, is text. A CR that
// alone closed a chunk as the last byte of a read and an LF that starts the
// next read are one line end, so the LF is dropped.
class ChunkSplitter {
public:
  static constexpr std::uint32_t kTextBytes = 1024;
  // Bytes held without a line end once room falls below this are flushed.
  static constexpr std::uint32_t kMinimumRoom = 128;

  char *read_position() { return buffer_ + held_; }
  std::uint32_t room() const { return room_; }
  std::uint32_t held() const { return held_; }

  // Takes COUNT (1..room()) bytes just read at read_position(), handing
  // SINK the chunks they complete.
  void take(std::uint32_t count, ChunkSink &sink);
  // End of stream: hands SINK the partial line still held, if any.
  void finish(ChunkSink &sink);

private:
  void keep_tail_after(std::uint32_t split_point, std::uint32_t length);

  char buffer_[kTextBytes];
  std::uint32_t held_ = 0;
  std::uint32_t room_ = kTextBytes;
  // The last read ended with a CR that closed a chunk on its own.
  bool ended_in_cr_ = false;
};

// Relays PIPE until end of stream: every byte read is added to *COUNTER
// and split into chunks for SINK. A failed read is the end of the stream.
void pump_pipe(const platform::Handle &pipe, std::uint64_t *counter, ChunkSink &sink);
