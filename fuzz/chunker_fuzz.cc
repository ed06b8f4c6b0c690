// Fuzz target for the output pumps' chunk splitter.
//
// Input layout: a byte giving the number of read sizes, the read sizes (0
// stands for "as much as there is room for"), then the output of a checker.
// The output is handed to a ChunkSplitter in reads of those sizes, in turn,
// never more than its room, and the stream is then finished.
//
// Oracle: the splitting rules written out over a plain string that holds
// what the pump's buffer holds. The chunks, with a mark for the read that
// produced them, and the held and room counts after every read must be the
// same. Output without NUL bytes must come out whole: apart from line ends,
// the chunks hold exactly the bytes written, in order.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "fuzz_support.h"
#include "runner/pump.h"

namespace {

constexpr std::size_t kText = ChunkSplitter::kTextBytes;
constexpr std::size_t kMinimumRoom = ChunkSplitter::kMinimumRoom;

// The reads and chunks of one stream as one list: kReadMark for each read,
// then the chunks that read produced. A chunk never holds a NUL.
using Events = std::vector<std::string>;
const std::string kReadMark(1, '\0');

void collect(const char *chunk, void *context) {
  if (std::strlen(chunk) > kText)
    fuzz::fail("chunk of %zu bytes", std::strlen(chunk));
  static_cast<Events *>(context)->push_back(chunk);
}

bool is_line_end(char c) {
  return c == '\r' || c == '\n';
}

// The designed splitting over a string holding the buffer's bytes,
// including any behind a NUL.
class ModelSplitter {
public:
  std::size_t room() const { return kText - held_.size(); }
  std::size_t held() const { return held_.size(); }

  void take(const std::string &read, Events *events) {
    std::string bytes = held_ + read;
    std::string text = bytes.substr(0, bytes.find('\0'));
    std::size_t split = text.find_last_of("\r\n");
    if (split == std::string::npos) {
      if (kText - bytes.size() >= kMinimumRoom) {
        held_ = bytes;
        return;
      }
      events->push_back(text);
      held_.clear();
      return;
    }
    std::string chunk = text.substr(0, split);
    if (!chunk.empty() && is_line_end(chunk.back()) && chunk.back() != text[split])
      chunk.pop_back();
    events->push_back(chunk);
    held_ = text.substr(split + 1);
  }

  void finish(Events *events) {
    if (!held_.empty())
      events->push_back(held_.substr(0, held_.find('\0')));
    held_.clear();
  }

private:
  std::string held_;
};

std::string without_line_ends(const std::string &text) {
  std::string kept;
  for (char c : text) {
    if (!is_line_end(c))
      kept += c;
  }
  return kept;
}

void compare(const Events &got, const Events &expected) {
  if (got.size() != expected.size())
    fuzz::fail("%zu reads and chunks, expected %zu", got.size(), expected.size());
  for (std::size_t i = 0; i < got.size(); ++i) {
    if (got[i] != expected[i])
      fuzz::fail("entry %zu is '%s', expected '%s'", i, fuzz::visible(got[i]).c_str(),
                 fuzz::visible(expected[i]).c_str());
  }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  fuzz::Input input(data, size);
  std::vector<std::size_t> read_sizes;
  for (int count = input.byte() % 8 + 1; count > 0; --count)
    read_sizes.push_back(input.byte());
  std::string output = input.rest();

  auto splitter = std::make_unique<ChunkSplitter>();
  ModelSplitter model;
  Events got, expected;
  std::size_t position = 0;
  for (std::size_t turn = 0; position < output.size(); ++turn) {
    std::size_t wanted = read_sizes[turn % read_sizes.size()];
    if (wanted == 0)
      wanted = splitter->room();
    std::size_t count = std::min({wanted, std::size_t{splitter->room()}, output.size() - position});
    if (count == 0)
      fuzz::fail("no room left for a read");
    std::string read = output.substr(position, count);
    position += count;
    got.push_back(kReadMark);
    expected.push_back(kReadMark);
    std::memcpy(splitter->read_position(), read.data(), count);
    splitter->take(static_cast<std::uint32_t>(count), collect, &got);
    model.take(read, &expected);
    if (splitter->held() != model.held() || splitter->room() != model.room())
      fuzz::fail("after read %zu: held %u room %u, expected held %zu room %zu", turn,
                 splitter->held(), splitter->room(), model.held(), model.room());
  }
  splitter->finish(collect, &got);
  model.finish(&expected);
  compare(got, expected);

  if (output.find('\0') == std::string::npos) {
    std::string relayed;
    for (const std::string &event : got) {
      if (event != kReadMark)
        relayed += event;
    }
    if (without_line_ends(relayed) != without_line_ends(output))
      fuzz::fail("output lost or changed apart from line ends");
  }
  return 0;
}
