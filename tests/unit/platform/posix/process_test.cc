// The POSIX process layer: command-line splitting, what a child inherits,
// and the exit codes of children that did not simply return.
#include <gtest/gtest.h>

#include <csignal>
#include <string>
#include <vector>

#include "platform/posix/command_line.h"
#include "runner/runner.h"
#include "unit/runner/fake_checker_command.h"

namespace {

using Arguments = std::vector<std::string>;

// Backslash rules: the count before a double quote decides; elsewhere a
// backslash is literal.
// clang-format off
const std::pair<const char *, Arguments> kSplits[] = {
  {"", {}}, {"  \t ", {}}, {"  prog   a\tb  ", {"prog", "a", "b"}}, {"prog \"a b\" c", {"prog", "a b", "c"}},
  {"\"C:\\Program Files\\x.exe\" -v", {"C:\\Program Files\\x.exe", "-v"}}, {"prog a\"b c\"d", {"prog", "ab cd"}},
  {"prog \"\"", {"prog", ""}}, {"prog a\\b\\\\c", {"prog", "a\\b\\\\c"}},
  {"prog a\\\"b", {"prog", "a\"b"}},            // 1 backslash: literal quote
  {"prog a\\\\\"b c\"", {"prog", "a\\b c"}},    // 2: one backslash, quote acts
  {"prog a\\\\\\\"b", {"prog", "a\\\"b"}},      // 3: one backslash, literal quote
  {"prog \"a\\\\\" b", {"prog", "a\\", "b"}},   // even count closes the quote
  {"prog \"a\"\"b\" c", {"prog", "a\"b", "c"}}, // "" inside quotes: a quote
  {"prog \"unterminated arg", {"prog", "unterminated arg"}}, {"prog trailing\\", {"prog", "trailing\\"}},
};
// clang-format on

TEST(SplitCommandLineTest, FollowsTheWindowsRuntimeRules) {
  for (const auto &[command, arguments] : kSplits)
    EXPECT_EQ(platform::split_command_line(command), arguments) << command;
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
  result.status = execute(command.c_str(), &result.exit_code, &counters, {});
  std::fflush(stdout);
  result.out = testing::internal::GetCapturedStdout();
  return result;
}

// The child gets its arguments whole and only the three standard streams;
// a child ended by a signal gives 128 plus the signal.
TEST(PosixProcessTest, ArgumentsStreamsAndSignals) {
  EXPECT_EQ(run(fake_checker_command("fds")).out, "fds:0,1,2\n");
  EXPECT_EQ(run(fake_checker_command("\"out:a b\\n\" out:\\\"q\\\"\\n")).out, "a b\n\"q\"\n");
  for (int signal : {SIGKILL, SIGTERM, SIGINT}) {
    ChildRun r = run(fake_checker_command("out:x\\n raise:" + std::to_string(signal)));
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.exit_code, 128u + static_cast<std::uint32_t>(signal)) << signal;
    EXPECT_EQ(r.out, "x\n");
  }
}

TEST(PosixProcessTest, UnreadableExitCodeIsAFailureNotAPass) {
  // With SIGCHLD ignored the system reaps the child itself, and its exit
  // code is gone by the time it is asked for.
  struct sigaction ignore {
  }, saved{};
  ignore.sa_handler = SIG_IGN;
  sigaction(SIGCHLD, &ignore, &saved);
  ChildRun r = run(fake_checker_command("out:x\\n exit:0"));
  sigaction(SIGCHLD, &saved, nullptr);
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.exit_code, 0xFFFFFFFFu);
  EXPECT_NE(r.out.find("ERROR: GetExitCodeProcess fails\n\n"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("x\n"), std::string::npos);
}

} // namespace
