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

struct RunResult {
  int status = 0;
  std::uint32_t exit_code = 12345;
  OutputCounters counters{99, 99};
  std::string out;
  std::string err;
};

RunResult run(const std::string &command) {
  RunResult result;
  testing::internal::CaptureStdout();
  testing::internal::CaptureStderr();
  result.status = execute(command.c_str(), &result.exit_code, &result.counters, {});
  std::fflush(stdout);
  std::fflush(stderr);
  result.err = testing::internal::GetCapturedStderr();
  result.out = testing::internal::GetCapturedStdout();
  return result;
}

TEST(ExecuteTest, RelaysBothStreamsWithExactCountsAndExitCode) {
  struct Case {
    const char *steps;
    std::uint32_t exit_code, out_bytes, err_bytes;
    std::string out, err;
  };
  const Case cases[] = {
      {"out:hello\\n err:oops\\r\\n out:a\\nb exit:3", 3, 9, 6, "hello\na\nb\n", "oops\n"},
      {"exit:0", 0, 0, 0, "", ""},
      // A NUL byte is relayed and counted like any other.
      {"out:ab\\0cd\\n", 0, 6, 0, std::string("ab\0cd\n", 6), ""},
  };
  for (const Case &c : cases) {
    RunResult r = run(fake_checker_command(c.steps));
    EXPECT_EQ(r.status, 0) << c.steps;
    EXPECT_EQ(r.exit_code, c.exit_code) << c.steps;
    EXPECT_EQ(r.counters.stdout_bytes, c.out_bytes) << c.steps;
    EXPECT_EQ(r.counters.stderr_bytes, c.err_bytes) << c.steps;
    EXPECT_EQ(r.out, c.out) << c.steps;
    EXPECT_EQ(r.err, c.err) << c.steps;
  }
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

// A pump that cannot be started: the first start is the out pump's.
int g_starts = 0;
bool g_fail_out = false;
bool g_fail_err = false;

platform::Status failing_starter(platform::ThreadRoutine routine, void *context,
                                 platform::Thread *thread) {
  bool is_out = g_starts++ == 0;
  if (is_out ? g_fail_out : g_fail_err)
    return platform::Status::failure(8);
  return platform::start_thread(routine, context, thread);
}

TEST(ExecuteTest, PipeWithoutPumpIsDrainedSoTheRunEnds) {
  // Far more than a pipe holds, on both streams: without draining, the
  // child would block and the wait for it would never end.
  const std::string command =
      fake_checker_command("repeat:40000:xxxxxxxxxxxxxxx\\n err:start\\n sleep:10 exit:6");
  const std::pair<bool, bool> cases[] = {{true, false}, {false, true}, {true, true}};
  for (const auto &[fail_out, fail_err] : cases) {
    g_starts = 0;
    g_fail_out = fail_out;
    g_fail_err = fail_err;
    platform::ThreadStarter saved = g_start_pump_thread;
    g_start_pump_thread = failing_starter;
    RunResult r = run(command);
    g_start_pump_thread = saved;
    SCOPED_TRACE(testing::Message() << "out fails " << fail_out << ", err fails " << fail_err);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.exit_code, 6u);
    EXPECT_EQ(r.out.find("ERROR: Execute - Error creating OutThread, ThreadError=8\n") !=
                  std::string::npos,
              fail_out);
    EXPECT_EQ(r.out.find("ERROR: Execute - Error creating ErrThread, ThreadError=8\n") !=
                  std::string::npos,
              fail_err);
    EXPECT_EQ(r.counters.stdout_bytes, fail_out ? 0u : 640000u);
    EXPECT_EQ(r.counters.stderr_bytes, fail_err ? 0u : 6u);
    EXPECT_EQ(r.err, fail_err ? "" : "start\n");
  }
}

} // namespace
