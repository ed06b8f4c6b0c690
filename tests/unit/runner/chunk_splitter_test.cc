// The splitting rules of the output pumps, fed with hand-made reads.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "runner/pump.h"

namespace {

using Chunks = std::vector<std::string>;

void collect(const char *chunk, void *context) {
  static_cast<Chunks *>(context)->push_back(chunk);
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
      {{"a\r", "\nb"}, {"a", "", "b"}},
      {{}, {}},
      // A NUL ends the text, hiding later line ends in the same load.
      {{std::string("ab\0cd\nef\n", 9)}, {"ab"}},
      {{std::string("ab\0c\n", 5), "d\n"}, {"ab"}},
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
  // 50 lines of 80 bytes arrive in reads that cut lines at odd places.
  std::string stream;
  for (int i = 0; i < 50; ++i)
    stream += bytes(79, 'q') + "\n";
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
    printed += chunk + "\n";
  EXPECT_EQ(printed, stream);
}

} // namespace
