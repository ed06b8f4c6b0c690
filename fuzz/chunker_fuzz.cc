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
// same. Apart from line ends, the chunks hold exactly the bytes written, in
// order, NULs included. Output whose lines all end in LF (or all in CR LF,
// none of them empty) and are shorter than the forced split comes out as
// written, however the reads cut it. (An empty CR LF line cut after its CR
// meets the rule for an LF CR pair at the split point: the line before it
// keeps a CR.)
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz_support.h"
#include "runner/pump.h"

namespace {

constexpr std::size_t kText = ChunkSplitter::kTextBytes;
constexpr std::size_t kMinimumRoom = ChunkSplitter::kMinimumRoom;

// The reads and chunks of one stream as one list: a read mark for each
// read, then the chunks that read produced.
struct Event {
  bool is_read = false;
  std::string chunk;
  bool operator==(const Event &) const = default;
};
using Events = std::vector<Event>;

void collect(std::string_view chunk, void *context) {
  if (chunk.size() > kText)
    fuzz::fail("chunk of %zu bytes", chunk.size());
  static_cast<Events *>(context)->push_back({false, std::string(chunk)});
}

bool is_line_end(char c) {
  return c == '\r' || c == '\n';
}

// The designed splitting over a string holding the buffer's bytes.
class ModelSplitter {
public:
  std::size_t room() const { return kText - held_.size(); }
  std::size_t held() const { return held_.size(); }

  void take(std::string read, Events *events) {
    if (ended_in_cr_ && read[0] == '\n')
      read.erase(0, 1);
    ended_in_cr_ = false;
    std::string text = held_ + read;
    std::size_t split = text.find_last_of("\r\n");
    if (split == std::string::npos) {
      if (kText - text.size() >= kMinimumRoom) {
        held_ = text;
        return;
      }
      events->push_back({false, text});
      held_.clear();
      return;
    }
    std::string chunk = text.substr(0, split);
    bool pair = !chunk.empty() && is_line_end(chunk.back()) && chunk.back() != text[split];
    if (pair)
      chunk.pop_back();
    events->push_back({false, chunk});
    ended_in_cr_ = text[split] == '\r' && !pair && split + 1 == text.size();
    held_ = text.substr(split + 1);
  }

  void finish(Events *events) {
    if (!held_.empty())
      events->push_back({false, held_});
    held_.clear();
    ended_in_cr_ = false;
  }

private:
  std::string held_;
  bool ended_in_cr_ = false;
};

std::string without_line_ends(std::string text) {
  std::erase_if(text, is_line_end);
  return text;
}

// True when every line of TEXT ends in LINE_END alone and is shorter than
// the text a forced split needs.
bool uniform_lines(const std::string &text, const std::string &line_end) {
  std::size_t start = 0;
  for (std::size_t end; (end = text.find(line_end, start)) != std::string::npos;
       start = end + line_end.size()) {
    std::string line = text.substr(start, end - start);
    if (line.find_first_of("\r\n") != std::string::npos || line.size() >= kText - kMinimumRoom)
      return false;
  }
  std::string last = text.substr(start);
  return last.find_first_of("\r\n") == std::string::npos && last.size() < kText - kMinimumRoom;
}

void compare(const Events &got, const Events &expected) {
  if (got.size() != expected.size())
    fuzz::fail("%zu reads and chunks, expected %zu", got.size(), expected.size());
  for (std::size_t i = 0; i < got.size(); ++i) {
    if (!(got[i] == expected[i]))
      fuzz::fail("entry %zu is %s'%s', expected %s'%s'", i, got[i].is_read ? "read " : "",
                 fuzz::visible(got[i].chunk).c_str(), expected[i].is_read ? "read " : "",
                 fuzz::visible(expected[i].chunk).c_str());
  }
}

// Every chunk followed by LINE_END, as the pump prints it.
std::string printed(const Events &events, const std::string &line_end) {
  std::string text;
  for (const Event &event : events) {
    if (!event.is_read)
      text += event.chunk + line_end;
  }
  return text;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  fuzz::Input input{data, size};
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
    got.push_back({true, ""});
    expected.push_back({true, ""});
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

  if (without_line_ends(printed(got, "")) != without_line_ends(output))
    fuzz::fail("output lost or changed apart from line ends");
  for (const std::string line_end : {"\n", "\r\n"}) {
    if (!uniform_lines(output, line_end) || output.find("\n\r\n") != std::string::npos)
      continue;
    std::string whole = output;
    if (!whole.empty() && whole.back() != '\n')
      whole += line_end;
    if (printed(got, line_end) != whole)
      fuzz::fail("'%s' printed as '%s'", fuzz::visible(output).c_str(),
                 fuzz::visible(printed(got, line_end)).c_str());
  }
  return 0;
}
