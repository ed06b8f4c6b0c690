// Fuzz target for the input line reader and the line classification.
//
// Input layout: a mode byte (bit 0: versions-only, bit 1: debug level 2,
// bits 2-7 all set: padding), a padding byte, a byte giving the number of
// read sizes, the read sizes, then the data. Padding puts 64 KiB minus the
// padding byte of a letter, LF or CR (by the padding byte modulo 3) before
// the data, so that the data straddles the reader's refill boundary; it
// only applies to the plain reading of lines. The stream hands out its bytes
// in the given read sizes, in turn.
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

#include "driver/input.h"
#include "driver/settings.h"
#include "fuzz_support.h"

namespace {

// A read-only stream over a byte string that returns at most the next of
// its read sizes per read.
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
  std::memcpy(buffer, source->data.data() + source->position, count);
  source->position += count;
  return static_cast<ssize_t>(count);
}

FILE *open_chopped(ChoppedSource *source) {
  cookie_io_functions_t functions{};
  functions.read = read_chopped;
  return fopencookie(source, "rb", functions);
}

std::vector<std::string> model_lines(const std::string &data) {
  std::vector<std::string> lines;
  std::size_t at = 0;
  while (at < data.size()) {
    std::size_t end = data.find_first_of("\r\n", at);
    if (end == std::string::npos)
      end = data.size();
    if (end > at)
      lines.push_back(data.substr(at, end - at).c_str());
    at = end + 1;
  }
  return lines;
}

struct Expected {
  std::string command = "<none>";
  std::vector<std::string> files;
  std::vector<std::string> versions;
  std::string printed;
};

bool starts_header(const std::string &line, const std::string &prefix) {
  return line.size() > prefix.size() && line.compare(0, prefix.size(), prefix) == 0;
}

Expected model_classification(const std::vector<std::string> &lines, bool versions_only,
                              bool debug) {
  Expected expected;
  bool body = versions_only;
  long number = 0;
  for (const std::string &line : lines) {
    if (!body) {
      if (starts_header(line, "echo: ")) {
        expected.printed += line.substr(6) + "\n";
      } else if (starts_header(line, "clientpath: ")) {
        if (debug)
          expected.printed += "clientpath is '" + line.substr(12) + "'\n";
      } else if (starts_header(line, "viewpath: ")) {
        if (debug)
          expected.printed += "viewpath is '" + line.substr(10) + "'\n";
      } else {
        expected.command = line;
        if (debug)
          expected.printed += "cmd: " + line + "\n";
        body = true;
      }
      continue;
    }
    std::size_t first = line.find_first_not_of(" \t\v\f");
    std::string trimmed = first == std::string::npos ? std::string() : line.substr(first);
    std::size_t pair = trimmed.find("\\\\");
    if (pair != std::string::npos && pair + 2 < trimmed.size()) {
      expected.files.push_back(trimmed.substr(pair + 2));
      if (debug)
        expected.printed +=
            "line[" + std::to_string(number) + "] = file '" + expected.files.back() + "'\n";
    } else {
      expected.versions.push_back(trimmed);
      if (debug)
        expected.printed += "line[" + std::to_string(number) + "] = version '" + trimmed + "'\n";
    }
    ++number;
  }
  return expected;
}

std::vector<std::string> read_all_lines(ChoppedSource source) {
  FILE *stream = open_chopped(&source);
  std::vector<std::string> lines;
  LineReader reader(stream);
  for (std::string line; reader.next(&line);)
    lines.push_back(line);
  std::fclose(stream);
  return lines;
}

void compare_lines(const std::vector<std::string> &got, const std::vector<std::string> &expected) {
  if (got.size() != expected.size())
    fuzz::fail("%zu lines read, %zu expected", got.size(), expected.size());
  for (std::size_t i = 0; i < got.size(); ++i) {
    if (got[i] != expected[i])
      fuzz::fail("line %zu is '%s', expected '%s'", i, fuzz::visible(got[i]).c_str(),
                 fuzz::visible(expected[i]).c_str());
  }
}

void compare_classification(const ChoppedSource &source, const std::vector<std::string> &lines,
                            bool versions_only, bool debug) {
  Expected expected = model_classification(lines, versions_only, debug);
  ChoppedSource copy = source;
  FILE *stream = open_chopped(&copy);
  InputData input;
  g_settings.debug_level = debug ? 2 : 0;
  fuzz::CapturedStdout captured;
  read_input(stream, versions_only, &input);
  std::string printed = captured.take();
  g_settings.debug_level = 0;
  std::fclose(stream);

  if (input.checker_command.value_or("<none>") != expected.command)
    fuzz::fail("checker command differs");
  if (input.files != expected.files)
    fuzz::fail("file list differs");
  std::vector<std::string> versions;
  for (const VersionEntry &entry : input.versions)
    versions.push_back(entry.version);
  if (versions != expected.versions)
    fuzz::fail("version table differs");
  if (printed != expected.printed)
    fuzz::fail("printed '%s', expected '%s'", fuzz::visible(printed).c_str(),
               fuzz::visible(expected.printed).c_str());
}

// 64 KiB less SHORTFALL bytes of one letter (one long line) or of line ends
// (nothing but skipped empty lines). Most inputs get none: padded inputs
// are slow.
std::string padding(int mode, std::size_t shortfall) {
  if ((mode & 0xfc) != 0xfc)
    return std::string();
  static const char kFill[] = {'x', '\n', '\r'};
  return std::string(65536 - shortfall, kFill[shortfall % 3]);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  fuzz::Input input(data, size);
  int mode = input.byte();
  bool versions_only = (mode & 1) != 0;
  bool debug = (mode & 2) != 0;
  std::size_t shortfall = input.byte();
  ChoppedSource source;
  for (int count = input.byte() % 8 + 1; count > 0; --count) {
    std::uint8_t choice = input.byte();
    // Mostly short reads; 0 stands for a large one.
    source.read_sizes.push_back(choice == 0 ? 100000 : choice);
  }
  source.data = input.rest();
  std::vector<std::string> lines = model_lines(source.data);
  compare_classification(source, lines, versions_only, debug);

  std::string pad = padding(mode, shortfall);
  if (!pad.empty()) {
    source.data.insert(0, pad);
    lines = model_lines(source.data);
  }
  compare_lines(read_all_lines(source), lines);
  return 0;
}
