// execute with real child processes: the fake checker, started from the
// test program's folder. On Windows the output capture reads its file in
// text mode, so captured text shows LF where the program wrote CR LF.
#include <gtest/gtest.h>

#include <string>

#include "runner/pump.h"
#include "runner/runner.h"
#include "unit/runner/fake_checker_command.h"

namespace {

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
  for (const auto &[fail_out, fail_err] : {std::pair{true, false}, {false, true}, {true, true}}) {
    SCOPED_TRACE(testing::Message() << "out fails " << fail_out << ", err fails " << fail_err);
    g_starts = 0;
    g_fail_out = fail_out;
    g_fail_err = fail_err;
    platform::ThreadStarter saved = g_start_pump_thread;
    g_start_pump_thread = failing_starter;
    std::uint32_t exit_code = 0;
    OutputCounters counters{99, 99};
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    EXPECT_EQ(execute(command.c_str(), &exit_code, &counters, {}), 0);
    std::fflush(stdout);
    std::fflush(stderr);
    std::string err = testing::internal::GetCapturedStderr();
    std::string out = testing::internal::GetCapturedStdout();
    g_start_pump_thread = saved;
    EXPECT_EQ(exit_code, 6u);
    for (const auto &[pump, failed] : {std::pair{"Out", fail_out}, {"Err", fail_err}}) {
      std::string message = "ERROR: Execute - Error creating " + std::string(pump) + "Thread";
      EXPECT_EQ(out.find(message + ", ThreadError=8\n") != std::string::npos, failed) << pump;
    }
    EXPECT_EQ(counters.stdout_bytes, fail_out ? 0u : 640000u);
    EXPECT_EQ(counters.stderr_bytes, fail_err ? 0u : 6u);
    EXPECT_EQ(err, fail_err ? "" : "start\n");
  }
}

} // namespace
