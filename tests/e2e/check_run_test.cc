// Whole check runs: staging, the checker with WORKDIR, the relay of its
// output (every byte, line ends split between reads, both streams into one
// file, the staging folder stripped), cleanup, and the exit code, with what
// each kind of end leaves in TEMP.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <sstream>

#include "e2e/harness.h"

namespace {

using e2e::text;
using e2e::without_pid;
using namespace std::string_literals;

// The commit of every run: a Java file, one in a test folder, and a C file
// with a tab and a trailing blank for the example checker.
std::string commit(const e2e::Session &session, const std::string &command) {
  return "clientpath: ws\n" + command + "\n" + session.file_line("src/A.java", "class A") +
         "\\project\\src\\A.java\n" + session.file_line("src/test/T.java", "class T {}") +
         "\\project\\test\\T.java\n" + session.file_line("lib/x.c", "int a;\n\tint b; \n") +
         "\\project\\lib\\x.c\n";
}

struct Row {
  const char *name;
  std::vector<std::string> args;
  std::vector<std::string> steps; // of the fake checker
  std::string out, err;           // LF line ends, process ids as "<pid>"
  std::uint32_t code;
  std::vector<std::string> left = {};          // what TEMP holds afterwards
  std::vector<std::string> logs = {};          // the dump log's content, any of these
  std::string command = "";                    // instead of the fake checker
  bool create_process = false;                 // see e2e::Invocation
  std::optional<std::uint32_t> wine_code = {}; // the code under Wine, when it differs
};

// 3,000 times 16 bytes without a line end, as the relay prints them: in
// pieces of 1,024 bytes (its buffer), each ended as a line.
std::string in_pieces() {
  std::string all, pieces;
  for (int i = 0; i < 3000; ++i)
    all += "0123456789abcdef";
  for (std::size_t at = 0; at < all.size(); at += 1024)
    pieces += all.substr(at, 1024) + "\n";
  return pieces;
}

// The rows' texts use the marks of e2e::Session::placed.
// clang-format off
const Row kRows[] = {
  {"CheckerCodeWinsOverOAndE", {"-o", "-e"}, {"out:o\\n", "err:e\\n", "exit:7"}, "o\n", "e\n", 7},
  {"FiveBeforeSix", {"-o", "-e"}, {"out:o\\n", "err:e\\n"}, "o\nExiting code 5\n", "e\n", 5},
  // A trigger written in C starts the gate with its runtime's spawn call,
  // which hands the gate a table of inherited handles: the checker must
  // still write into the gate's pipes.
  {"FiveWhenStartedByCreateProcess", {"-e"}, {"out:o\\n", "err:e\\n"}, "o\nExiting code 5\n", "e\n", 5,
   {}, {}, "", true},
  // Line ends inside one read pass as they are; the last one becomes the
  // system's.
  {"CrLfEndsALine", {}, {"out:a\\r\\nb\\r\\n", "err:c\\r\\n"}, "a\r\nb\n", "c\n", 0},
  {"AnEmptyLineEndsARead", {}, {"out:a\\n\\n", "sleep:50", "out:b\\n"}, "a\n\nb\n", "", 0},
  {"ALineLongerThanTheBuffer", {}, {"repeat:3000:0123456789abcdef"}, in_pieces(), "", 0},
  {"OIgnoresStandardError", {"-o"}, {"err:e\\n"}, "", "e\n", 0},
  {"EIgnoresStandardOutput", {"-e"}, {"out:o\\n"}, "o\n", "", 0},
  {"Six", {"--stdout"}, {"out:o\\n"}, "o\nExiting code 6\n", "", 6},
  {"SilentChecker", {"-o", "-e"}, {}, "", "", 0},
  {"OutputWithoutOOrE", {}, {"out:o\\n", "err:e\\n"}, "o\n", "e\n", 0},
  {"AnEmptyWriteDoesNotEndTheOutput", {"-o"},
   {"out:before\\n", "empty-write", "sleep:100", "out:after\\n"}, "before\nafter\nExiting code 6\n", "", 6},
  // Windows hands the whole 32-bit code on; POSIX keeps the low 8 bits.
  {"ExitCodesOfEveryWidth", {}, {"exit:70000"}, "", "", 70000u % 256, {}, {}, "", false, 70000u},
  // Without -w the checker starts in the gate's own folder.
  {"StagedFilesAtTheirVersionPaths", {"**/*.java", "**/*.c", "-x", "**/test/**"}, {"list", "workdir:\\n", "cwd:\\n"},
   "Skipping '\\project\\test\\T.java'\nproject/lib/x.c 16\nproject/src/A.java 7\n<workdir>\n<cwd>\n", "", 0},
  {"WStartsTheCheckerInTheStagingFolder", {"-w", "**/*.c"}, {"cwd:\\n", "list"},
   "Skipping '\\project\\src\\A.java'\nSkipping '\\project\\test\\T.java'\n<workdir>\nproject/lib/x.c 16\n", "", 0},
  {"WhatTheCheckerWritesStays", {}, {"touch:made/by/checker.txt"}, "", "", 0,
   {"tvk<pid>.tmp/", "tvk<pid>.tmp/made/", "tvk<pid>.tmp/made/by/", "tvk<pid>.tmp/made/by/checker.txt"}},
  // A skipped version names a staged path too, but no copy of the run.
  {"CheckersFileWhereASkippedVersionWouldBeStagedStays", {"**/*.java"},
   {"touch:project/lib/x.c"}, "Skipping '\\project\\lib\\x.c'\n", "", 0,
   {"tvk<pid>.tmp/", "tvk<pid>.tmp/project/", "tvk<pid>.tmp/project/lib/", "tvk<pid>.tmp/project/lib/x.c"}},
  {"NothingSelected", {"**/*.h"}, {"out:never\\n"},
   "Skipping '\\project\\src\\A.java'\nSkipping '\\project\\test\\T.java'\n"
   "Skipping '\\project\\lib\\x.c'\nNo files to check - exiting code 0\n", "", 0},
  {"CountsAreTakenBeforeStripping", {"-s", "-o"}, {"workdir:<sep>\\n"}, "\nExiting code 6\n", "", 6},
  {"BackgroundProcessesAndStandardInput", {}, {"stdin", "background:300", "out:first\\n"},
   "stdin:0\nfirst\nlate\n", "", 0},
  {"ANulThenLinesInLaterWrites", {"-o"}, {"out:abc\\0def", "out:reason 1\\nreason 2\\n", "out:reason 3\\n"},
   "abc\0defreason 1\nreason 2\nreason 3\nExiting code 6\n"s, "", 6},
  // UTF-16: the NUL after the last LF is a line of its own at the end.
  {"Utf16", {"-s"}, {"out:A\\0:\\0 \\0t\\0a\\0b\\0\\r\\0\\n\\0B\\0\\r\\0\\n\\0"},
   "A\0:\0 \0t\0a\0b\0\r\0\n\0B\0\r\0\n\0\n"s, "", 0},
  {"ADumpLogWithoutStripStaysEmpty", {"-d"}, {"out:hello\\n"},
   "writing log to '<temp>\\tvk<pid>.log'\nhello\n", "", 0, {"tvk<pid>.log"}, {""}},
  // The checker names the staged file by its full path, in the form the
  // system gives it.
  {"StripAndDump", {"-s", "-d", "-o"}, {"workdir:<sep>project<sep>src<sep>A.java:1: bad\\n", "err:plain\\n"},
   "writing log to '<temp>\\tvk<pid>.log'\nproject<\\>src<\\>A.java:1: bad\nExiting code 6\n", "plain\n", 6,
   {"tvk<pid>.log"}, {"project<\\>src<\\>A.java:1: bad\nplain\n", "plain\nproject<\\>src<\\>A.java:1: bad\n"}},
  {"ACheckerThatCannotStart", {"-e"}, {},
   "ERROR: Execute - Couldn't create process, missing-checker-program --flag\n"
   "ERROR: Failed to start 'missing-checker-program --flag'\nExiting code 4\n", "", 4,
   {}, {}, "missing-checker-program --flag"},
  {"ACheckerThatCannotStartWithW", {"-e", "-w"}, {},
   "ERROR: Execute - Couldn't create process, missing-checker-program --flag\n"
   "ERROR: Failed to start 'missing-checker-program --flag'\nExiting code 4\n", "", 4,
   {}, {}, "missing-checker-program --flag"},
  // The example checker through the gate, as the README shows it.
  {"TheExampleStyleChecker", {"-s", "-e", "**/*.c"}, {},
   "Skipping '\\project\\src\\A.java'\nSkipping '\\project\\test\\T.java'\n"
   "trelvik-stylecheck: 1 files checked, 2 faults\n",
   "project<\\>lib<\\>x.c:2: tab character\nproject<\\>lib<\\>x.c:2: trailing blank\n", 1,
   {}, {}, "<stylecheck>"},
};
// clang-format on

class CheckRun : public testing::TestWithParam<Row> {};

TEST_P(CheckRun, OutputExitCodeAndWhatIsLeft) {
  const Row &row = GetParam();
  e2e::Session session;
  std::vector<std::string> steps;
  for (const std::string &step : row.steps)
    steps.push_back(session.placed(step));
  e2e::Invocation call;
  call.args = row.args;
  call.input =
      commit(session, row.command.empty() ? e2e::checker(steps) : session.placed(row.command));
  call.temp = session.temp.path();
  call.create_process = row.create_process;
  e2e::Result result = e2e::run(call);
  EXPECT_EQ(without_pid(result.out), text(session.placed(row.out)));
  EXPECT_EQ(result.err, text(session.placed(row.err)));
  EXPECT_EQ(result.code, e2e::is_wine() && row.wine_code ? *row.wine_code : row.code);
  EXPECT_EQ(session.temp_listing(), row.left);
  if (!row.logs.empty() && session.temp.listing().size() == 1) {
    std::string logged = e2e::read_file(session.temp.path() + "/" + session.temp.listing()[0]);
    EXPECT_TRUE(std::any_of(row.logs.begin(), row.logs.end(), [&](const std::string &log) {
      return logged == text(session.placed(log));
    })) << logged;
  }
}

INSTANTIATE_TEST_SUITE_P(, CheckRun, testing::ValuesIn(kRows), e2e::row_name<Row>);

// The lines of TEXT, each without the CR bytes that end it.
std::vector<std::string> lines_of(const std::string &text) {
  std::vector<std::string> lines;
  std::istringstream stream(text);
  for (std::string line; std::getline(stream, line);) {
    while (!line.empty() && line.back() == '\r')
      line.pop_back();
    lines.push_back(line);
  }
  return lines;
}

TEST(Relay, CrLfSplitBetweenReadsIsOneLineEnd) {
  // Lines of five bytes: a read of 1,024 bytes from a line start ends
  // between the CR and the LF.
  e2e::Session session;
  e2e::Result result = session.run({}, commit(session, e2e::checker({"repeat:3000:abc\\r\\n"})));
  std::vector<std::string> lines = lines_of(result.out);
  EXPECT_EQ(std::count(lines.begin(), lines.end(), "abc"), 3000);
  EXPECT_EQ(lines.size(), 3000u) << "an empty line where a CR LF was split";
  EXPECT_EQ(result.code, 0u);
}

TEST(Relay, OneFileForBothStreamsKeepsLinesWholeAndInOrder) {
  e2e::Session session;
  e2e::Invocation call;
  call.args = {"-d"};
  call.input = "echo: gate's own line\n" + commit(session, e2e::checker({"interleave:500"}));
  call.temp = session.temp.path();
  call.one_output_file = true;
  e2e::Result result = e2e::run(call);
  EXPECT_EQ(result.code, 0u);
  std::vector<std::string> lines = lines_of(e2e::without_pid(result.out));
  ASSERT_EQ(lines.size(), 1002u);
  EXPECT_EQ(lines[0], "gate's own line");
  EXPECT_EQ(lines[1], "writing log to '" + e2e::seen(session.temp.path()) + "\\tvk<pid>.log'");
  // Each stream's lines come in their own order; the two streams may mix.
  int out_lines = 0, err_lines = 0;
  char out_line[64], err_line[64];
  for (std::size_t i = 2; i < lines.size(); ++i) {
    std::snprintf(out_line, sizeof out_line, "OUT-LINE-%05d-abcdefghijklmnopqrstuvwxyz", out_lines);
    std::snprintf(err_line, sizeof err_line, "ERR-%05d", err_lines);
    if (lines[i] == out_line)
      ++out_lines;
    else if (lines[i] == err_line)
      ++err_lines;
    else
      FAIL() << "line " << i << " is cut or out of order: " << lines[i];
  }
}

// TEMP as given: ending in a slash, through a link, relative.
class StripWhateverTempLooksLike : public testing::TestWithParam<const char *> {};

TEST_P(StripWhateverTempLooksLike, RemovesWorkdir) {
  if (e2e::is_wine())
    GTEST_SKIP() << "WORKDIR is the staging folder itself on Windows";
  namespace fs = std::filesystem;
  e2e::Session session;
  const std::string temp = session.temp.path();
  fs::create_directory(temp + "/real");
  fs::create_directory_symlink(temp + "/real", temp + "/link");
  e2e::Invocation call;
  call.args = {"-s", "-e", "**/A.java"};
  call.input = commit(session, e2e::checker({"workdir:/src/A.java:1: error\\n", "err:x\\n"}));
  const std::string form = GetParam();
  call.temp = form == "Relative" ? "real" : form == "Link" ? temp + "/link" : temp + "/";
  call.cwd = temp;
  e2e::Result result = e2e::run(call);
  EXPECT_EQ(result.out, "Skipping '\\project\\test\\T.java'\nSkipping '\\project\\lib\\x.c'\n"
                        "src/A.java:1: error\nExiting code 5\n");
  EXPECT_EQ(result.code, 5u);
}

INSTANTIATE_TEST_SUITE_P(, StripWhateverTempLooksLike,
                         testing::Values("TrailingSlash", "Link", "Relative"),
                         [](const auto &info) { return e2e::row_name(info); });

} // namespace
