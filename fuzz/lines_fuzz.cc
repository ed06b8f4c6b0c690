// Fuzz target for the input line reader and the line classification.
//
// Input layout: a mode byte (bit 0: versions-only, bit 1: debug level 2,
// bits 2-7 all set: padding, for some data), a padding byte, a byte giving
// the number of read sizes, the read sizes, then the data. Padding puts
// 64 KiB minus the padding byte of a letter, LF or CR (by the padding byte
// modulo 3) before the data, so that the data straddles the reader's refill
// boundary; it only applies to the plain reading of lines. The stream hands
// out its bytes in the given read sizes, in turn.
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

// A read-only stream over PADDING bytes of FILL followed by DATA, that
// returns at most the next of its read sizes per read. The padding is never
// stored: 64 KiB per run would slow the target down.
struct ChoppedSource {
  std::size_t padding = 0;
  char fill = 0;
  std::string data;
  std::vector<std::size_t> read_sizes;
  std::size_t position = 0;
  std::size_t next_size = 0;
};

ssize_t read_chopped(void *cookie, char *buffer, std::size_t size) {
  auto *source = static_cast<ChoppedSource *>(cookie);
  std::size_t count = source->read_sizes[source->next_size++ % source->read_sizes.size()];
  std::size_t total = source->padding + source->data.size();
  count = std::min({count, size, total - source->position});
  for (std::size_t i = 0; i < count; ++i, ++source->position)
    buffer[i] = source->position < source->padding
                    ? source->fill
                    : source->data[source->position - source->padding];
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

// The lines of the padded stream: a letter padding joins the first line of
// the data (up to that line's NUL), line ends only end an empty line.
std::vector<std::string> model_padded_lines(const ChoppedSource &source) {
  std::vector<std::string> lines;
  std::string rest = source.data;
  if (source.padding > 0 && source.fill != '\n' && source.fill != '\r') {
    std::size_t end = std::min(source.data.find_first_of("\r\n"), source.data.size());
    std::string first = source.data.substr(0, end);
    lines.push_back(std::string(source.padding, source.fill) + first.c_str());
    rest = end < source.data.size() ? source.data.substr(end + 1) : std::string();
  }
  for (std::string &line : model_lines(rest))
    lines.push_back(std::move(line));
  return lines;
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

  // 64 KiB less the padding byte, of a letter (one long line), LF or CR.
  // Padding makes a run ten times slower, so only about one in 16 of the
  // inputs that ask for it get it, picked by a checksum of the data so that
  // an input always replays the same way.
  if ((mode & 0xfc) == 0xfc && fuzz::checksum(source.data) % 16 == 0) {
    static const char kFill[] = {'x', '\n', '\r'};
    source.padding = 65536 - shortfall;
    source.fill = kFill[shortfall % 3];
    lines = model_padded_lines(source);
  }
  compare_lines(read_all_lines(source), lines);
  return 0;
}
