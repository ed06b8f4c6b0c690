// execute with real child processes: the fake checker, started from the
// test program's folder.
#include <gtest/gtest.h>

#include <string>

#include "runner/runner.h"
#include "unit/captured_stdout.h"
#include "unit/runner/fake_checker_command.h"

namespace {

// Which pump threads cannot be started.
struct Refusal {
  const char *name;
  bool out;
  bool err;
};

class PumpsThatCannotStart : public CapturedStdout, public testing::WithParamInterface<Refusal> {};

// Far more than a pipe holds, on both streams: without draining the pipe
// that has no pump, the child would block and the wait for it would never
// end.
TEST_P(PumpsThatCannotStart, LeaveTheirPipeDrainedSoTheRunEnds) {
  const Refusal &row = GetParam();
  const std::string command =
      fake_checker_command("repeat:40000:xxxxxxxxxxxxxxx\\n err:start\\n sleep:10 exit:6");
  CollectedOutput out, err;
  CheckerStart start{command.c_str(), nullptr, &out, &err};
  int starts = 0; // the first start is the out pump's
  start.start_thread = [&](platform::ThreadRoutine routine, void *context,
                           platform::Thread *thread) {
    if (starts++ == 0 ? row.out : row.err)
      return platform::Status::failure(platform::Failure::Other, 8);
    return platform::start_thread(routine, context, thread);
  };
  CheckerRun run = execute(start);
  std::string messages = printed();
  EXPECT_EQ(run.outcome, Outcome::Done);
  EXPECT_EQ(run.exit_code, 6u);
  for (const auto &[pump, refused] : {std::pair{"Out", row.out}, {"Err", row.err}}) {
    std::string message = "ERROR: Execute - Error creating " + std::string(pump) + "Thread";
    EXPECT_EQ(messages.find(message + ", ThreadError=8\n") != std::string::npos, refused) << pump;
  }
  EXPECT_EQ(run.counters.stdout_bytes, row.out ? 0u : 640000u);
  EXPECT_EQ(run.counters.stderr_bytes, row.err ? 0u : 6u);
  EXPECT_EQ(err.text, row.err ? "" : "start\n");
}

const Refusal kRefusals[] = {
    {"OutPump", true, false}, {"ErrPump", false, true}, {"Both", true, true}};

INSTANTIATE_TEST_SUITE_P(, PumpsThatCannotStart, testing::ValuesIn(kRefusals),
                         [](const testing::TestParamInfo<Refusal> &info) {
                           return info.param.name;
                         });

} // namespace
