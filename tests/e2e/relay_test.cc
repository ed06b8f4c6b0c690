// The relay of the checker's output through the gate: every byte, line ends
// split between reads, both streams captured into one file, and stripping
// the staging folder in the form the checker was handed.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "e2e/harness.h"

namespace {

using e2e::text;
using namespace std::string_literals;

class Relay : public testing::Test {
protected:
  // The protocol for one committed file, checked by the fake checker with
  // STEPS, after the header lines HEADER.
  std::string commit(const std::vector<std::string> &steps, const std::string &header = "") {
    std::string path = workspace_.write("src/A.java", "class A");
    return header + e2e::checker(steps) + "\nws\\\\" + e2e::backslashed(path) +
           "\n\\project\\src\\A.java\n";
  }

  e2e::Invocation invocation(std::vector<std::string> args, const std::string &input) const {
    e2e::Invocation call;
    call.args = std::move(args);
    call.input = input;
    call.temp = temp_.path();
    return call;
  }

  e2e::ScratchFolder temp_;
  e2e::ScratchFolder workspace_;
};

// The lines of TEXT, each without the CR bytes that end it.
std::vector<std::string> lines_of(const std::string &text) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  for (std::size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1) {
    std::string line = text.substr(start, end - start);
    while (!line.empty() && line.back() == '\r')
      line.pop_back();
    lines.push_back(line);
  }
  if (start < text.size())
    lines.push_back(text.substr(start));
  return lines;
}

std::string numbered(const char *format, int number) {
  char line[64];
  std::snprintf(line, sizeof line, format, number);
  return line;
}

TEST_F(Relay, EveryByteTheCheckerWritesIsRelayed) {
  const std::string utf16 = "A\0:\0 \0t\0a\0b\0\r\0\n\0B\0\r\0\n\0"s;
  struct Case {
    const char *name;
    std::vector<std::string> args;
    std::vector<std::string> steps;
    std::string out;
    std::uint32_t code;
  } cases[] = {
      {"NUL, then lines in later writes",
       {"-o"},
       {"out:abc\\0def", "out:reason 1\\nreason 2\\nreason 3\\n",
        "out:reason 4\\nreason 5\\nreason 6\\n"},
       "abc\0defreason 1\nreason 2\nreason 3\nreason 4\nreason 5\nreason 6\nExiting code 6\n"s,
       6},
      // UTF-16: the NUL after the last LF is a line of its own at the end.
      {"UTF-16",
       {"-s"},
       {"out:A\\0:\\0 \\0t\\0a\\0b\\0\\r\\0\\n\\0B\\0\\r\\0\\n\\0"},
       utf16 + "\n",
       0},
  };
  for (const Case &c : cases) {
    e2e::Result result = e2e::run(invocation(c.args, commit(c.steps)));
    EXPECT_EQ(result.out, text(c.out)) << c.name;
    EXPECT_EQ(result.code, c.code) << c.name;
  }
}

TEST_F(Relay, CrLfSplitBetweenReadsIsOneLineEnd) {
  // Lines of five bytes: a read of 1,024 bytes from a line start ends
  // between the CR and the LF.
  e2e::Result result = e2e::run(invocation({}, commit({"repeat:3000:abc\\r\\n"})));
  std::vector<std::string> lines = lines_of(result.out);
  EXPECT_EQ(std::count(lines.begin(), lines.end(), "abc"), 3000);
  EXPECT_EQ(lines.size(), 3000u) << "an empty line where a CR LF was split";
  EXPECT_EQ(result.code, 0u);
}

TEST_F(Relay, OneFileForBothStreamsKeepsLinesWholeAndInOrder) {
  e2e::Invocation call = invocation({"-d"}, commit({"interleave:500"}, "echo: gate's own line\n"));
  call.one_output_file = true;
  e2e::Result result = e2e::run(call);
  EXPECT_EQ(result.code, 0u);
  std::vector<std::string> lines = lines_of(e2e::without_pid(result.out));
  ASSERT_EQ(lines.size(), 1002u);
  EXPECT_EQ(lines[0], "gate's own line");
  EXPECT_EQ(lines[1], "writing log to '" + e2e::seen(temp_.path()) + "\\tvk<pid>.log'");
  // Each stream's lines come in their own order; the two streams may mix.
  int out_lines = 0;
  int err_lines = 0;
  for (std::size_t i = 2; i < lines.size(); ++i) {
    if (lines[i] == numbered("OUT-LINE-%05d-abcdefghijklmnopqrstuvwxyz", out_lines))
      ++out_lines;
    else if (lines[i] == numbered("ERR-%05d", err_lines))
      ++err_lines;
    else
      FAIL() << "line " << i << " is cut or out of order: " << lines[i];
  }
}

TEST_F(Relay, StripRemovesWorkdirWhateverTempLooksLike) {
  if (e2e::is_wine())
    GTEST_SKIP() << "WORKDIR is the staging folder itself on Windows";
  namespace fs = std::filesystem;
  fs::create_directory(temp_.path() + "/real");
  fs::create_directory_symlink(temp_.path() + "/real", temp_.path() + "/link");
  const std::pair<const char *, std::string> temps[] = {
      {"trailing slash", temp_.path() + "/"},
      {"symbolic link", temp_.path() + "/link"},
      {"relative", "real"},
  };
  for (const auto &[name, temp] : temps) {
    e2e::Invocation call =
        invocation({"-s", "-e"}, commit({"workdir:/src/A.java:1: error\\n", "err:x\\n"}));
    call.temp = temp;
    call.cwd = temp_.path();
    e2e::Result result = e2e::run(call);
    EXPECT_EQ(result.out, "src/A.java:1: error\nExiting code 5\n") << name;
    EXPECT_EQ(result.code, 5u) << name;
  }
}

} // namespace
