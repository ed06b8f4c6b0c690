// Fuzz target for the input line reader and the line classification.
//
// Input layout: a mode byte (bit 0: versions-only, bit 1: debug level 2), an
// unused byte, a byte giving the number of read sizes, the read sizes, then
// the data. The
// stream hands out its bytes in the given read sizes, in turn. (Inputs far
// larger than the reader's buffer are the end-to-end tests'.)
//
// Oracle: the data cut at every run of CR and LF bytes, empty pieces
// dropped and each piece cut at its first NUL; then the header, command and
// body rules applied to those lines, with the messages they print.
#include <sys/types.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "common/settings.h"
#include "driver/input.h"
#include "fuzz_support.h"

namespace {

using Lines = std::vector<std::string>;

// A read-only stream over DATA that returns at most the next of its read
// sizes per read.
struct ChoppedSource {
  std::string data;
  std::vector<std::size_t> read_sizes;
  std::size_t position = 0;
  std::size_t next_size = 0;
};

ssize_t read_chopped(void *cookie, char *buffer, std::size_t size) {
  auto *source = static_cast<ChoppedSource *>(cookie);
  std::size_t count = source->read_sizes[source->next_size++ % source->read_sizes.size()];
  count = std::min({count, size, source->data.size() - source->position});
  source->data.copy(buffer, count, source->position);
  source->position += count;
  return static_cast<ssize_t>(count);
}

// A stream over a copy of SOURCE, from its start.
FILE *open_chopped(ChoppedSource *copy) {
  return fopencookie(copy, "rb", cookie_io_functions_t{read_chopped, {}, {}, {}});
}

Lines model_lines(const std::string &data) {
  Lines lines;
  for (std::size_t at = 0, end; at < data.size(); at = end + 1) {
    end = std::min(data.find_first_of("\r\n", at), data.size());
    if (end > at)
      lines.push_back(data.substr(at, end - at).c_str());
  }
  return lines;
}

struct Expected {
  std::string command = "<none>";
  Lines files, versions;
  std::string printed;
};

Expected model_classification(const Lines &lines, bool versions_only, bool debug) {
  // The header lines and what each prints at debug level 2 ("": always the
  // rest of the line).
  const std::pair<std::string, std::string> kHeaders[] = {
      {"echo: ", ""}, {"clientpath: ", "clientpath is '"}, {"viewpath: ", "viewpath is '"}};
  Expected expected;
  bool body = versions_only;
  long number = 0;
  for (const std::string &line : lines) {
    if (!body) {
      auto header = std::find_if(std::begin(kHeaders), std::end(kHeaders), [&](const auto &h) {
        return line.size() > h.first.size() && line.starts_with(h.first);
      });
      std::string rest = header == std::end(kHeaders) ? line : line.substr(header->first.size());
      if (header == std::end(kHeaders)) {
        expected.command = line;
        body = true;
        if (debug)
          expected.printed += "cmd: " + line + "\n";
      } else if (header->second.empty()) {
        expected.printed += rest + "\n";
      } else if (debug) {
        expected.printed += header->second + rest + "'\n";
      }
      continue;
    }
    std::string trimmed = line.substr(std::min(line.find_first_not_of(" \t\v\f"), line.size()));
    std::size_t pair = trimmed.find("\\\\");
    bool is_file = pair != std::string::npos && pair + 2 < trimmed.size();
    (is_file ? expected.files : expected.versions)
        .push_back(is_file ? trimmed.substr(pair + 2) : trimmed);
    if (debug)
      expected.printed +=
          "line[" + std::to_string(number) + "] = " +
          (is_file ? "file '" + expected.files.back() + "'\n" : "version '" + trimmed + "'\n");
    ++number;
  }
  return expected;
}

void compare_lines(ChoppedSource source, const Lines &expected) {
  FILE *stream = open_chopped(&source);
  Lines got;
  LineReader reader(stream);
  for (std::string line; reader.next(&line);)
    got.push_back(line);
  std::fclose(stream);
  if (got.size() != expected.size())
    fuzz::fail("%zu lines read, %zu expected", got.size(), expected.size());
  for (std::size_t i = 0; i < got.size(); ++i) {
    if (got[i] != expected[i])
      fuzz::fail("line %zu is '%s', expected '%s'", i, fuzz::visible(got[i]).c_str(),
                 fuzz::visible(expected[i]).c_str());
  }
}

void compare_classification(ChoppedSource source, const Lines &lines, bool versions_only,
                            bool debug) {
  Expected expected = model_classification(lines, versions_only, debug);
  FILE *stream = open_chopped(&source);
  InputData input;
  g_settings.debug_level = debug ? 2 : 0;
  std::string printed = fuzz::printed_by([&] { read_input(stream, versions_only, &input); });
  g_settings.debug_level = 0;
  std::fclose(stream);
  Lines versions;
  for (const VersionEntry &entry : input.versions)
    versions.push_back(entry.version);
  if (input.checker_command.value_or("<none>") != expected.command ||
      input.files != expected.files || versions != expected.versions)
    fuzz::fail("checker command, file list or version table differs");
  if (printed != expected.printed)
    fuzz::fail("printed '%s', expected '%s'", fuzz::visible(printed).c_str(),
               fuzz::visible(expected.printed).c_str());
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  fuzz::Input input{data, size};
  int mode = input.byte();
  bool versions_only = (mode & 1) != 0;
  bool debug = (mode & 2) != 0;
  input.byte();
  ChoppedSource source;
  for (int count = input.byte() % 8 + 1; count > 0; --count) {
    std::uint8_t choice = input.byte();
    // Mostly short reads; 0 stands for a large one.
    source.read_sizes.push_back(choice == 0 ? 100000 : choice);
  }
  source.data = input.rest();
  Lines lines = model_lines(source.data);
  compare_classification(source, lines, versions_only, debug);
  compare_lines(source, lines);
  return 0;
}
