// execute with real child processes: the fake checker, started from the
// test program's folder. On Windows the output capture reads its file in text mode,
// so captured text shows LF where the program wrote CR LF.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "runner/pump.h"
#include "runner/runner.h"
#include "unit/runner/fake_checker_command.h"

namespace {

// The fake checker with its steps as one command line.
std::string checker(const std::vector<std::string> &steps) {
  std::string joined;
  for (const std::string &step : steps)
    joined += " " + step;
  return fake_checker_command(joined);
}

struct RunResult {
  int status = 0;
  std::uint32_t exit_code = 0;
  OutputCounters counters;
  std::string out;
  std::string err;
};

RunResult run(const std::string &command, OutputFilter filter = nullptr) {
  RunResult result;
  result.exit_code = 12345;
  result.counters.stdout_bytes = 99;
  result.counters.stderr_bytes = 99;
  testing::internal::CaptureStdout();
  testing::internal::CaptureStderr();
  result.status = execute(command.c_str(), &result.exit_code, &result.counters, filter);
  std::fflush(stdout);
  std::fflush(stderr);
  result.err = testing::internal::GetCapturedStderr();
  result.out = testing::internal::GetCapturedStdout();
  return result;
}

TEST(ExecuteTest, RelaysBothStreamsWithExactCountsAndExitCode) {
  RunResult r = run(checker({"out:hello\\n", "err:oops\\r\\n", "out:a\\nb", "exit:3"}));
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.exit_code, 3u);
  EXPECT_EQ(r.counters.stdout_bytes, 9u);
  EXPECT_EQ(r.counters.stderr_bytes, 6u);
  EXPECT_EQ(r.out, "hello\na\nb\n");
  EXPECT_EQ(r.err, "oops\n");
}

TEST(ExecuteTest, SilentCheckerLeavesCountsAtZero) {
  RunResult r = run(checker({"exit:0"}));
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.exit_code, 0u);
  EXPECT_EQ(r.counters.stdout_bytes, 0u);
  EXPECT_EQ(r.counters.stderr_bytes, 0u);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, "");
}

TEST(ExecuteTest, CheckerReadingItsInputSeesEndOfInput) {
  RunResult r = run(checker({"stdin"}));
  EXPECT_EQ(r.out, "stdin:0\n");
}

TEST(ExecuteTest, WaitsForProcessesThatInheritedTheOutput) {
  RunResult r = run(checker({"out:first\\n", "background:300", "exit:4"}));
  EXPECT_EQ(r.exit_code, 4u);
  EXPECT_EQ(r.out, "first\nlate\n");
  EXPECT_EQ(r.counters.stdout_bytes, 11u);
}

TEST(ExecuteTest, LargeOutputIsRelayedCompletely) {
  RunResult r = run(checker({"repeat:20000:0123456789abcdef\\n", "err:e"}));
  EXPECT_EQ(r.counters.stdout_bytes, 20000u * 17u);
  EXPECT_EQ(r.counters.stderr_bytes, 1u);
  std::string line = "0123456789abcdef\n";
  std::string expected;
  for (int i = 0; i < 20000; ++i)
    expected += line;
  // Reads cut the stream anywhere, but the lines come out whole and in order.
  EXPECT_EQ(r.out, expected);
  EXPECT_EQ(r.err, "e\n");
}

TEST(ExecuteTest, NulByteEndsTheTextButIsCounted) {
  RunResult r = run(checker({"out:ab\\0cd\\n"}));
  EXPECT_EQ(r.counters.stdout_bytes, 6u);
  EXPECT_EQ(r.out, "ab\n");
}

std::string drop_everything(const char *) {
  return "";
}

TEST(ExecuteTest, CountsAreTakenBeforeTheFilter) {
  RunResult r = run(checker({"out:abc\\ndef\\n", "err:x\\n"}), drop_everything);
  EXPECT_EQ(r.counters.stdout_bytes, 8u);
  EXPECT_EQ(r.counters.stderr_bytes, 2u);
  EXPECT_EQ(r.out, "\n");
  EXPECT_EQ(r.err, "\n");
}

TEST(ExecuteTest, MissingProgramIsReportedWithTheSystemCode) {
  const std::string command = "tvk-no-such-program-here --flag";
  RunResult r = run(command);
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.out, "ERROR: Execute - Couldn't create process, " + command + "\n");
  EXPECT_EQ(r.exit_code, 12345u) << "the exit code is not written";
  EXPECT_EQ(r.counters.stdout_bytes, 0u) << "the counters are zeroed first";
  EXPECT_EQ(r.counters.stderr_bytes, 0u);
}

// ---- A pump that cannot be started --------------------------------------

int g_starts = 0;
bool g_fail_out = false;
bool g_fail_err = false;

std::uint32_t failing_starter(platform::ThreadRoutine routine, void *context,
                              platform::Handle *thread) {
  bool is_out = g_starts++ == 0;
  if ((is_out && g_fail_out) || (!is_out && g_fail_err))
    return 8;
  return platform::start_thread(routine, context, thread);
}

struct PumpFailure {
  bool fail_out;
  bool fail_err;
};

TEST(ExecuteTest, PipeWithoutPumpIsDrainedSoTheRunEnds) {
  const PumpFailure cases[] = {{true, false}, {false, true}, {true, true}};
  // Far more than a pipe holds, on both streams: without draining, the
  // child would block and the wait for it would never end.
  const std::string command =
      checker({"repeat:40000:xxxxxxxxxxxxxxx\\n", "err:start\\n", "sleep:10", "exit:6"});
  for (const PumpFailure &c : cases) {
    g_starts = 0;
    g_fail_out = c.fail_out;
    g_fail_err = c.fail_err;
    ThreadStarter saved = g_start_pump_thread;
    g_start_pump_thread = failing_starter;
    RunResult r = run(command);
    g_start_pump_thread = saved;
    SCOPED_TRACE(testing::Message() << "out fails " << c.fail_out << ", err fails " << c.fail_err);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.exit_code, 6u);
    std::string out_message = "ERROR: Execute - Error creating OutThread, ThreadError=8\n";
    std::string err_message = "ERROR: Execute - Error creating ErrThread, ThreadError=8\n";
    EXPECT_EQ(r.out.find(out_message) != std::string::npos, c.fail_out);
    EXPECT_EQ(r.out.find(err_message) != std::string::npos, c.fail_err);
    EXPECT_EQ(r.counters.stdout_bytes, c.fail_out ? 0u : 640000u);
    EXPECT_EQ(r.counters.stderr_bytes, c.fail_err ? 0u : 6u);
    EXPECT_EQ(r.err, c.fail_err ? "" : "start\n");
  }
}

} // namespace
