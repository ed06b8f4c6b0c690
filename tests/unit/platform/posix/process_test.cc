// The POSIX process layer: command-line splitting, what a child inherits,
// and the exit codes of children that did not simply return.
#include <gtest/gtest.h>

#include <csignal>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "platform/posix/command_line.h"
#include "runner/runner.h"
#include "unit/runner/fake_checker_command.h"

namespace {

using Arguments = std::vector<std::string>;

struct SplitCase {
  const char *command;
  Arguments arguments;
};

// Backslash rules: the count before a double quote decides; elsewhere a
// backslash is literal.
const SplitCase kSplits[] = {
    {"", {}},
    {"  \t ", {}},
    {"prog", {"prog"}},
    {"  prog   a\tb  ", {"prog", "a", "b"}},
    {"prog \"a b\" c", {"prog", "a b", "c"}},
    {"\"C:\\Program Files\\x.exe\" -v", {"C:\\Program Files\\x.exe", "-v"}},
    {"prog a\"b c\"d", {"prog", "ab cd"}},
    {"prog \"\"", {"prog", ""}},
    {"prog a\\b\\\\c", {"prog", "a\\b\\\\c"}},
    {"prog a\\\"b", {"prog", "a\"b"}},            // 1 backslash: literal quote
    {"prog a\\\\\"b c\"", {"prog", "a\\b c"}},    // 2: one backslash, quote acts
    {"prog a\\\\\\\"b", {"prog", "a\\\"b"}},      // 3: one backslash, literal quote
    {"prog \"a\\\\\" b", {"prog", "a\\", "b"}},   // even count closes the quote
    {"prog \"a\"\"b\" c", {"prog", "a\"b", "c"}}, // "" inside quotes: a quote
    {"prog \"unterminated arg", {"prog", "unterminated arg"}},
    {"prog trailing\\", {"prog", "trailing\\"}},
};

TEST(SplitCommandLineTest, FollowsTheWindowsRuntimeRules) {
  for (const SplitCase &c : kSplits)
    EXPECT_EQ(platform::split_command_line(c.command), c.arguments) << c.command;
}

std::string checker(const std::string &steps) {
  return fake_checker_command(steps);
}

struct ChildRun {
  int status = 0;
  std::uint32_t exit_code = 0;
  std::string out;
};

ChildRun run(const std::string &command) {
  ChildRun result;
  OutputCounters counters;
  testing::internal::CaptureStdout();
  result.status = execute(command.c_str(), &result.exit_code, &counters, nullptr);
  std::fflush(stdout);
  result.out = testing::internal::GetCapturedStdout();
  return result;
}

TEST(PosixProcessTest, ChildGetsOnlyItsThreeStandardStreams) {
  ChildRun r = run(checker("fds"));
  EXPECT_EQ(r.out, "fds:0,1,2\n");
}

TEST(PosixProcessTest, QuotedArgumentsReachTheChildWhole) {
  ChildRun r = run(checker("\"out:a b\\n\" out:\\\"q\\\"\\n"));
  EXPECT_EQ(r.out, "a b\n\"q\"\n");
}

TEST(PosixProcessTest, ProgramWithoutSlashIsSearchedOnPath) {
  ChildRun r = run("sh -c \"exit 7\"");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.exit_code, 7u);
}

TEST(PosixProcessTest, SignalledChildGives128PlusSignal) {
  const int signals[] = {SIGKILL, SIGTERM, SIGINT};
  for (int signal : signals) {
    ChildRun r = run(checker("out:x\\n raise:" + std::to_string(signal)));
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.exit_code, 128u + static_cast<std::uint32_t>(signal)) << signal;
    EXPECT_EQ(r.out, "x\n");
  }
}

TEST(PosixProcessTest, CommandThatCannotStartGivesErrno) {
  const char *commands[] = {"", "   ", "\"\" arg", "tvk-no-such-program", "./tvk-missing"};
  for (const char *command : commands) {
    ChildRun r = run(command);
    EXPECT_EQ(r.status, 2) << "'" << command << "'";
    EXPECT_EQ(r.out, "ERROR: Execute - Couldn't create process, " + std::string(command) + "\n");
  }
}

TEST(PosixProcessTest, UnreadableExitCodeIsAFailureNotAPass) {
  // With SIGCHLD ignored the system reaps the child itself, and its exit
  // code is gone by the time it is asked for.
  struct sigaction ignore {};
  ignore.sa_handler = SIG_IGN;
  struct sigaction saved {};
  sigaction(SIGCHLD, &ignore, &saved);
  ChildRun r = run(checker("out:x\\n exit:0"));
  sigaction(SIGCHLD, &saved, nullptr);
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.exit_code, 0xFFFFFFFFu);
  EXPECT_NE(r.out.find("ERROR: GetExitCodeProcess fails\n\n"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("x\n"), std::string::npos);
}

} // namespace
