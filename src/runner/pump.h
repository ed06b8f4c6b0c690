// The output pumps: the pure splitting of a stream into printable chunks and
// the thread routine that relays one pipe through it.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string_view>

#include "platform/platform.h"
#include "runner/runner.h"

// Receives one chunk: bytes that live only during the call.
using ChunkSink = void (*)(std::string_view chunk, void *context);

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

  // Takes COUNT (1..room()) bytes just read at read_position().
  void take(std::uint32_t count, ChunkSink sink, void *context);
  // End of stream: emits the partial line still held, if any.
  void finish(ChunkSink sink, void *context);

private:
  void keep_tail_after(std::uint32_t split_point, std::uint32_t length);

  char buffer_[kTextBytes];
  std::uint32_t held_ = 0;
  std::uint32_t room_ = kTextBytes;
  // The last read ended with a CR that closed a chunk on its own.
  bool ended_in_cr_ = false;
};

// What one pump thread works with. Filled by execute before the thread
// starts and only read afterwards.
struct PumpContext {
  std::uint64_t *counter = nullptr; // this pump's field of the counters
  const platform::PipeEnd *pipe = nullptr;
  OutputFilter filter;
  FILE *stream = nullptr; // stdout for the stdout pump, stderr for the other
};

// Thread routine: relays the context's pipe until end of stream. Returns 0.
std::uint32_t run_pump(void *context);

// How execute starts its pump threads. Tests swap in a starter that fails,
// to check that a run without a pump still ends.
extern platform::ThreadStarter g_start_pump_thread;
