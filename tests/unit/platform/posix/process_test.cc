// The POSIX process layer: command-line splitting, what a child inherits,
// the exit codes of children that did not simply return, and that no child
// is left unreaped.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cerrno>
#include <csignal>
#include <string>
#include <vector>

#include "platform/posix/command_line.h"
#include "runner/runner.h"
#include "unit/captured_stdout.h"
#include "unit/runner/fake_checker_command.h"

namespace {

struct Split {
  const char *name;
  const char *command;
  std::vector<std::string> arguments;
};

class SplitCommandLine : public testing::TestWithParam<Split> {};

TEST_P(SplitCommandLine, FollowsTheWindowsRuntimeRules) {
  EXPECT_EQ(platform::split_command_line(GetParam().command), GetParam().arguments);
}

// Backslash rules: the count before a double quote decides; elsewhere a
// backslash is literal.
// clang-format off
const Split kSplits[] = {
  {"Empty", "", {}}, {"Blanks", "  \t ", {}}, {"BlanksAndTabs", "  prog   a\tb  ", {"prog", "a", "b"}},
  {"Quoted", "prog \"a b\" c", {"prog", "a b", "c"}},
  {"QuotedProgram", "\"C:\\Program Files\\x.exe\" -v", {"C:\\Program Files\\x.exe", "-v"}},
  {"QuotesInside", "prog a\"b c\"d", {"prog", "ab cd"}}, {"EmptyQuotes", "prog \"\"", {"prog", ""}},
  {"LiteralBackslashes", "prog a\\b\\\\c", {"prog", "a\\b\\\\c"}},
  {"OneBackslashQuote", "prog a\\\"b", {"prog", "a\"b"}},             // literal quote
  {"TwoBackslashesQuote", "prog a\\\\\"b c\"", {"prog", "a\\b c"}},   // one backslash, quote acts
  {"ThreeBackslashesQuote", "prog a\\\\\\\"b", {"prog", "a\\\"b"}},   // one backslash, literal quote
  {"EvenCountClosesTheQuote", "prog \"a\\\\\" b", {"prog", "a\\", "b"}},
  {"DoubledQuoteInsideQuotes", "prog \"a\"\"b\" c", {"prog", "a\"b", "c"}},
  {"Unterminated", "prog \"unterminated arg", {"prog", "unterminated arg"}},
  {"TrailingBackslash", "prog trailing\\", {"prog", "trailing\\"}},
};
// clang-format on

INSTANTIATE_TEST_SUITE_P(, SplitCommandLine, testing::ValuesIn(kSplits),
                         [](const testing::TestParamInfo<Split> &info) { return info.param.name; });

class PosixProcess : public CapturedStdout {
protected:
  // Runs COMMAND; what it writes to standard output is in out_.
  CheckerRun run(const std::string &command) {
    CollectedOutput err;
    return execute({command.c_str(), nullptr, &out_, &err});
  }
  CollectedOutput out_;
};

// The child gets its arguments whole and only the three standard streams.
TEST_F(PosixProcess, ArgumentsAndStreams) {
  EXPECT_EQ(run(fake_checker_command("fds")).outcome, Outcome::Done);
  EXPECT_EQ(run(fake_checker_command("\"out:a b\\n\" out:\\\"q\\\"\\n")).outcome, Outcome::Done);
  EXPECT_EQ(out_.text, "fds:0,1,2\na b\n\"q\"\n");
}

TEST_F(PosixProcess, UnreadableExitCodeIsNoPass) {
  // With SIGCHLD ignored the system reaps the child itself, and its exit
  // code is gone by the time it is asked for; a parent may start the gate
  // so, and the start-up sets it back.
  struct sigaction ignore {
  }, saved{};
  ignore.sa_handler = SIG_IGN;
  sigaction(SIGCHLD, &ignore, &saved);
  CheckerRun r = run(fake_checker_command("out:x\\n exit:0"));
  platform::init_process();
  CheckerRun after_start_up = run(fake_checker_command("exit:3"));
  sigaction(SIGCHLD, &saved, nullptr);
  EXPECT_EQ(r.outcome, Outcome::Done);
  EXPECT_EQ(r.exit_code, std::nullopt);
  EXPECT_EQ(printed(), "ERROR: GetExitCodeProcess fails\n\n");
  EXPECT_EQ(out_.text, "x\n");
  EXPECT_EQ(after_start_up.exit_code, 3u);
}

// A child that no one waited for is reaped when its owner goes, not left a
// zombie.
TEST_F(PosixProcess, AChildNeverWaitedForIsReaped) {
  platform::Pipe pipe;
  ASSERT_TRUE(platform::create_pipe(&pipe).ok());
  {
    platform::ChildProcess child;
    std::string command = fake_checker_command("exit:3");
    ASSERT_TRUE(platform::start_process(command.c_str(), pipe.read_end, pipe.write_end,
                                        pipe.write_end, &child)
                    .ok());
  }
  EXPECT_EQ(waitpid(-1, nullptr, WNOHANG), -1);
  EXPECT_EQ(errno, ECHILD);
}

class ChildEndedBySignal : public PosixProcess, public testing::WithParamInterface<int> {};

TEST_P(ChildEndedBySignal, GivesOneHundredTwentyEightPlusTheSignal) {
  CheckerRun r = run(fake_checker_command("out:x\\n raise:" + std::to_string(GetParam())));
  EXPECT_EQ(r.outcome, Outcome::Done);
  EXPECT_EQ(r.exit_code, 128u + static_cast<std::uint32_t>(GetParam()));
  EXPECT_EQ(out_.text, "x\n");
}

INSTANTIATE_TEST_SUITE_P(, ChildEndedBySignal, testing::Values(SIGKILL, SIGTERM, SIGINT),
                         [](const testing::TestParamInfo<int> &info) {
                           return info.param == SIGKILL   ? "Kill"
                                  : info.param == SIGTERM ? "Term"
                                                          : "Int";
                         });

} // namespace
