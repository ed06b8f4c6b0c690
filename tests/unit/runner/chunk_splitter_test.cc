// The splitting rules of the output pumps, fed with hand-made reads.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "runner/pump.h"

namespace {

using namespace std::string_literals;
using Chunks = std::vector<std::string>;

void collect(std::string_view chunk, void *context) {
  static_cast<Chunks *>(context)->emplace_back(chunk);
}

// Hands each read to a splitter, as a pump would, then ends the stream.
Chunks split(const std::vector<std::string> &reads) {
  ChunkSplitter splitter;
  Chunks chunks;
  for (const std::string &data : reads) {
    EXPECT_LE(data.size(), splitter.room()) << "a read may not exceed the room";
    if (data.size() > splitter.room())
      return chunks;
    std::memcpy(splitter.read_position(), data.data(), data.size());
    splitter.take(static_cast<std::uint32_t>(data.size()), collect, &chunks);
  }
  splitter.finish(collect, &chunks);
  return chunks;
}

std::string bytes(std::size_t count, char c = 'x') {
  return std::string(count, c);
}

TEST(ChunkSplitterTest, CutsReadsIntoChunksOfWholeLines) {
  const std::pair<std::vector<std::string>, Chunks> cases[] = {
      {{"a\nb\n"}, {"a\nb"}},
      {{"a\r\nb\r\n"}, {"a\r\nb"}},
      {{"a\n\r"}, {"a"}},
      {{"a\rb\r"}, {"a\rb"}},
      {{"\n"}, {""}},
      {{"a\n\n"}, {"a\n"}},
      {{"a\r\n\r\n"}, {"a\r\n"}},
      {{"abc"}, {"abc"}},
      {{"ab\ncd", "ef\n"}, {"ab", "cdef"}},
      {{}, {}},
      // A CR that closed a chunk as the last byte of a read and the LF
      // that starts the next read are one line end.
      {{"a\r", "\nb"}, {"a", "b"}},
      {{"a\r", "\n"}, {"a"}},
      {{"a\r\r", "\nb"}, {"a\r", "b"}},
      {{"a\rb", "\nc"}, {"a", "b", "c"}},
      {{"a\r", "b", "\n"}, {"a", "b"}},
      // The CR went with an LF before it: the next LF is a line end of its
      // own, as when all four bytes come in one read.
      {{"a\n\r", "\nb"}, {"a", "", "b"}},
      {{"a\n\r\nb"}, {"a\n", "b"}},
      // A NUL is a byte like any other; line ends after it are seen.
      {{"ab\0cd\nef\n"s}, {"ab\0cd\nef"s}},
      {{"ab\0c\n"s, "d\n"}, {"ab\0c"s, "d"}},
      {{"a\0b\0\r\0\n\0"s}, {"a\0b\0\r\0"s, "\0"s}},
      {{"\0"s, "\0"s}, {"\0\0"s}},
      // Without a line end, 897 held bytes go out; 896 leave room 128 and
      // wait. Reads of 100: after the ninth, 900 are held and room is 124.
      {std::vector<std::string>(10, bytes(100)), {bytes(900), bytes(100)}},
      {{bytes(897), "y"}, {bytes(897), "y"}},
      {{bytes(896), "y\n"}, {bytes(896) + "y"}},
      {{bytes(1024)}, {bytes(1024)}},
      // A line end after a long partial line flushes up to 1,023 bytes.
      {{bytes(896), bytes(127, 'y') + "\n"}, {bytes(896) + bytes(127, 'y')}},
  };
  for (const auto &[reads, chunks] : cases)
    EXPECT_EQ(split(reads), chunks) << (reads.empty() ? "" : reads[0].substr(0, 20));
}

TEST(ChunkSplitterTest, EveryByteOfLongStreamIsPrintedOnce) {
  // 50 lines of 80 bytes, NULs among them, arrive in reads that cut lines
  // (and CR LF pairs) at odd places: whatever the cuts, the output is the
  // stream with the last line end of each chunk given as LF.
  for (const std::string line_end : {"\n", "\r\n"}) {
    std::string stream;
    for (int i = 0; i < 50; ++i)
      stream += bytes(40, 'q') + '\0' + bytes(39 - line_end.size(), 'q') + line_end;
    ChunkSplitter splitter;
    Chunks chunks;
    for (std::size_t offset = 0, step = 1, count; offset < stream.size();
         offset += count, step = step * 7 % 613 + 1) {
      count = std::min<std::size_t>({step, stream.size() - offset, splitter.room()});
      std::memcpy(splitter.read_position(), stream.data() + offset, count);
      splitter.take(static_cast<std::uint32_t>(count), collect, &chunks);
    }
    splitter.finish(collect, &chunks);
    std::string printed;
    for (const std::string &chunk : chunks)
      printed += chunk + line_end;
    EXPECT_EQ(printed, stream) << line_end.size();
  }
}

} // namespace
