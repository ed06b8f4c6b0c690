// The POSIX process layer: command-line splitting, what a child inherits,
// and the exit codes of children that did not simply return.
#include <gtest/gtest.h>

#include <csignal>
#include <fcntl.h>
#include <string>
#include <sys/resource.h>
#include <tuple>
#include <unistd.h>
#include <vector>

#include "platform/platform.h"
#include "platform/posix/command_line.h"
#include "runner/runner.h"
#include "unit/runner/fake_checker_command.h"

namespace {

using Arguments = std::vector<std::string>;

// Backslash rules: the count before a double quote decides; elsewhere a
// backslash is literal.
const std::pair<const char *, Arguments> kSplits[] = {
    {"", {}},
    {"  \t ", {}},
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

TEST(PosixProcessTest, ChildGetsItsArgumentsWholeAndOnlyThreeStreams) {
  EXPECT_EQ(run(fake_checker_command("fds")).out, "fds:0,1,2\n");
  EXPECT_EQ(run(fake_checker_command("\"out:a b\\n\" out:\\\"q\\\"\\n")).out, "a b\n\"q\"\n");
  // A program name without a slash is searched on PATH.
  ChildRun r = run("sh -c \"exit 7\"");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.exit_code, 7u);
}

TEST(PosixProcessTest, SignalledChildGives128PlusSignal) {
  for (int signal : {SIGKILL, SIGTERM, SIGINT}) {
    ChildRun r = run(fake_checker_command("out:x\\n raise:" + std::to_string(signal)));
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.exit_code, 128u + static_cast<std::uint32_t>(signal)) << signal;
    EXPECT_EQ(r.out, "x\n");
  }
}

TEST(PosixProcessTest, CommandThatCannotStartGivesErrno) {
  for (const char *command : {"", "   ", "\"\" arg", "./tvk-missing"}) {
    ChildRun r = run(command);
    EXPECT_EQ(r.status, 2) << "'" << command << "'";
    EXPECT_EQ(r.out, "ERROR: Execute - Couldn't create process, " + std::string(command) + "\n");
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

// Leaves exactly FREE descriptors available below a lowered limit, until it
// goes.
class DescriptorSqueeze {
public:
  explicit DescriptorSqueeze(int free) {
    getrlimit(RLIMIT_NOFILE, &saved_);
    rlimit lowered = saved_;
    lowered.rlim_cur = 256;
    setrlimit(RLIMIT_NOFILE, &lowered);
    for (int fd; (fd = open("/dev/null", O_RDONLY | O_CLOEXEC)) >= 0;)
      filler_.push_back(fd);
    for (int i = 0; i < free && !filler_.empty(); ++i) {
      close(filler_.back());
      filler_.pop_back();
    }
  }
  ~DescriptorSqueeze() {
    for (int fd : filler_)
      close(fd);
    setrlimit(RLIMIT_NOFILE, &saved_);
  }
  // How many descriptors can be had now (at most LIMIT); all given back.
  static int available(int limit) {
    std::vector<int> taken;
    for (int fd; static_cast<int>(taken.size()) < limit &&
                 (fd = open("/dev/null", O_RDONLY | O_CLOEXEC)) >= 0;)
      taken.push_back(fd);
    for (int fd : taken)
      close(fd);
    return static_cast<int>(taken.size());
  }

private:
  rlimit saved_{};
  std::vector<int> filler_;
};

// Each step of the preparation fails in turn for want of descriptors; every
// descriptor made before the failure is given back.
TEST(PosixProcessTest, EarlyFailuresReportAndCloseEverything) {
  const std::tuple<int, int, const char *> cases[] = {
      {1, -1, "Execute - Couldn't create StdIn pipe"},
      {2, -1, "Execute - Can't duplicate StdIn write handle!"},
      {3, -1, "Execute - Couldn't create StdOut pipe"},
      {4, -1, "Execute - Can't duplicate StdOut read handle!"},
      {5, -1, "Execute - Couldn't create StdErr pipe"},
      {6, -1, "Execute - Can't duplicate StdErr read handle!"},
      {7, EMFILE, "Execute - Couldn't create process, prog"},
  };
  for (const auto &[free, expected_status, message] : cases) {
    std::uint32_t exit_code = 77;
    OutputCounters counters{5, 0};
    testing::internal::CaptureStdout();
    int status = 0, left = 0;
    {
      DescriptorSqueeze squeeze(free);
      status = execute("prog", &exit_code, &counters, {});
      left = DescriptorSqueeze::available(free + 1);
    }
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "ERROR: " + std::string(message) + "\n");
    EXPECT_EQ(status, expected_status) << message;
    EXPECT_EQ(left, free) << message;
    EXPECT_EQ(exit_code, 77u);
    EXPECT_EQ(counters.stdout_bytes, 0u);
  }
}

} // namespace
