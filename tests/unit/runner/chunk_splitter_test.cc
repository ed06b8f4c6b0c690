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
    EXPECT_GT(data.size(), 0u);
    EXPECT_LE(data.size(), splitter.room()) << "a read may not exceed the room";
    if (data.empty() || data.size() > splitter.room())
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

struct SplitCase {
  const char *name;
  std::vector<std::string> reads;
  Chunks chunks;
};

const SplitCase kCases[] = {
    {"lines in one read", {"a\nb\n"}, {"a\nb"}},
    {"cr lf lines", {"a\r\nb\r\n"}, {"a\r\nb"}},
    {"lf cr pair", {"a\n\r"}, {"a"}},
    {"cr alone", {"a\rb\r"}, {"a\rb"}},
    {"single lf", {"\n"}, {""}},
    {"repeated lf keeps the empty line", {"a\n\n"}, {"a\n"}},
    {"repeated cr lf keeps the empty line", {"a\r\n\r\n"}, {"a\r\n"}},
    {"last line without line end", {"abc"}, {"abc"}},
    {"text after the last line end waits", {"ab\ncd", "ef\n"}, {"ab", "cdef"}},
    {"cr ends one read, lf starts the next", {"a\r", "\nb"}, {"a", "", "b"}},
    {"nothing at all", {}, {}},
    {"nul ends the text", {std::string("ab\0cd\nef\n", 9)}, {"ab"}},
    {"nul hides later line ends in the same load", {std::string("ab\0c\n", 5), "d\n"}, {"ab"}},
};

TEST(ChunkSplitterTest, CutsReadsIntoChunksOfWholeLines) {
  for (const SplitCase &c : kCases)
    EXPECT_EQ(split(c.reads), c.chunks) << c.name;
}

TEST(ChunkSplitterTest, LongTextWithoutLineEndGoesOutInPieces) {
  // Reads of 100: after the ninth, 900 bytes are held and room is 124.
  std::vector<std::string> reads(10, bytes(100));
  EXPECT_EQ(split(reads), (Chunks{bytes(900), bytes(100)}));
}

TEST(ChunkSplitterTest, FlushThresholdIs897BytesWithoutLineEnd) {
  EXPECT_EQ(split({bytes(897), "y"}), (Chunks{bytes(897), "y"}));
  // 896 held leaves room 128: still kept, and joined with what follows.
  EXPECT_EQ(split({bytes(896), "y\n"}), (Chunks{bytes(896) + "y"}));
  EXPECT_EQ(split({bytes(1024)}), (Chunks{bytes(1024)}));
}

TEST(ChunkSplitterTest, LineEndAfterLongPartialLineFlushesUpTo1024Bytes) {
  std::string last_read = bytes(127, 'y') + "\n";
  Chunks chunks = split({bytes(896), last_read});
  ASSERT_EQ(chunks.size(), 1u);
  EXPECT_EQ(chunks[0].size(), 1023u);
  EXPECT_EQ(chunks[0], bytes(896) + bytes(127, 'y'));
}

TEST(ChunkSplitterTest, EveryByteOfLongStreamIsPrintedOnce) {
  // 50 lines of 80 bytes arrive in reads that cut lines at odd places.
  std::string line = bytes(79, 'q') + "\n";
  std::string stream;
  for (int i = 0; i < 50; ++i)
    stream += line;
  ChunkSplitter splitter;
  Chunks chunks;
  std::size_t offset = 0;
  std::size_t step = 1;
  while (offset < stream.size()) {
    std::size_t count = std::min<std::size_t>({step, stream.size() - offset, splitter.room()});
    std::memcpy(splitter.read_position(), stream.data() + offset, count);
    splitter.take(static_cast<std::uint32_t>(count), collect, &chunks);
    offset += count;
    step = step * 7 % 613 + 1;
  }
  splitter.finish(collect, &chunks);
  std::string printed;
  for (const std::string &chunk : chunks)
    printed += chunk + "\n";
  EXPECT_EQ(printed, stream);
}

} // namespace
