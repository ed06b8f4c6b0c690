// Interrupted runs: Ctrl-C in a terminal (SIGINT to the whole process
// group), a kill of the gate alone (SIGTERM), and on Windows Ctrl-C in the
// console. Whether it comes while the checker runs or while the files are
// copied, the run ends the checker, relays what it printed, leaves nothing
// in TEMP and no process behind, and ends the way an interrupted program
// ends, so that its caller sees the interruption.
#include <gtest/gtest.h>

#include <signal.h>

#include <cerrno>
#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "e2e/harness.h"

namespace {

using e2e::text;

struct Row {
  const char *name;
  int signal;    // native: the signal sent; 0 for Ctrl-C in Wine's console
  bool to_group; // to the gate's whole process group, as a terminal sends it
  bool copying;  // while the files are copied, else while the checker runs
};

const Row kRows[] = {
    {"SigintToTheGroupWhileTheCheckerRuns", SIGINT, true, false},
    {"SigtermToTheGateWhileTheCheckerRuns", SIGTERM, false, false},
    {"SigintToTheGroupWhileCopying", SIGINT, true, true},
    {"SigtermToTheGateWhileCopying", SIGTERM, false, true},
    {"CtrlCWhileTheCheckerRuns", 0, false, false},
    {"CtrlCWhileCopying", 0, false, true},
};

class Interrupted : public testing::TestWithParam<Row> {};

TEST_P(Interrupted, CleansUpAndEndsByTheInterruption) {
  const Row &row = GetParam();
  if ((row.signal == 0) != e2e::is_wine())
    GTEST_SKIP() << (e2e::is_wine() ? "POSIX signals" : "a Windows console");
  e2e::Session session;
  // The checker says when it runs (when the files are copied, it must not);
  // copying takes a while with many files.
  const std::string ready = session.workspace.path() + "/ready";
  std::string input =
      e2e::checker({"out:ready\\n", "touch:" + e2e::seen(ready), "sleep:60000", "out:never\\n"}) +
      "\n";
  const int files = !row.copying ? 1 : e2e::is_wine() ? 2000 : 10000;
  for (int i = 0; i < files; ++i) {
    std::string folder = "d" + std::to_string(i % 20), name = "f" + std::to_string(i) + ".c";
    input += session.file_line(folder + "/" + name) + "\\p\\" + folder + "\\" + name + "\n";
  }
  e2e::Invocation call{.args = {"-i", e2e::seen(session.workspace.write("input.txt", input))},
                       .temp = session.temp.path()};
  std::string cue = row.copying ? session.temp.path() + "/tvk<pid>.tmp" : ready;
  int gate = 0;
  if (e2e::is_wine())
    call.ctrl_c_when = cue;
  else
    call.meanwhile = [&](int pid) {
      gate = pid;
      if (std::size_t at = cue.find("<pid>"); at != std::string::npos)
        cue.replace(at, 5, std::to_string(pid));
      for (int waited = 0; waited < 30000 && !std::filesystem::exists(cue); ++waited)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
      kill(row.to_group ? -pid : pid, row.signal);
    };
  e2e::Result result = e2e::run(call);
  EXPECT_EQ(result.code, e2e::is_wine() ? 0xC000013Au : 0xDEAD0000u | row.signal);
  EXPECT_TRUE(result.out == (row.copying ? "" : text("ready\n"))) << result.out.substr(0, 500);
  EXPECT_EQ(result.err, "");
  EXPECT_TRUE(session.temp_listing().empty());
  if (!e2e::is_wine()) {
    EXPECT_TRUE(kill(-gate, 0) == -1 && errno == ESRCH) << "a process of the run is left";
  }
}

INSTANTIATE_TEST_SUITE_P(, Interrupted, testing::ValuesIn(kRows), e2e::row_name<Row>);

// A checker that takes its time to end after SIGTERM gets the signal once,
// not again while the gate waits for it.
TEST(InterruptedChecker, GetsThePassedOnSignalOnce) {
  if (e2e::is_wine())
    GTEST_SKIP() << "POSIX signals";
  e2e::Session session;
  const std::string ready = session.workspace.path() + "/ready";
  std::string input = "sh -c \"trap 'echo term' TERM; touch " + ready +
                      "; sleep 0.4; sleep 0.4\"\n" + session.file_line("a.c") + "\\p\\a.c\n";
  e2e::Result result =
      e2e::run({.input = input, .temp = session.temp.path(), .meanwhile = [&](int pid) {
                  while (!std::filesystem::exists(ready))
                    std::this_thread::sleep_for(std::chrono::milliseconds(1));
                  kill(pid, SIGTERM);
                }});
  EXPECT_EQ(result.code, 0xDEAD0000u | SIGTERM);
  EXPECT_EQ(result.out, "term\n");
  EXPECT_TRUE(session.temp_listing().empty());
}

} // namespace
