// Interrupted runs: Ctrl-C in a terminal (SIGINT to the whole process
// group), a kill of the gate alone (SIGTERM), and on Windows Ctrl-C in the
// console. Whether it comes while the checker runs or while the files are
// copied, the run ends the checker, relays what it printed, leaves nothing
// in TEMP and no process behind, and ends the way an interrupted program
// ends, so that its caller sees the interruption.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>

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

// Waits until PATH exists; false once the run PID has ended without it.
bool appears(const std::string &path, int pid) {
  for (;;) {
    if (std::filesystem::exists(path))
      return true;
    siginfo_t ended{};
    if (waitid(P_PID, static_cast<id_t>(pid), &ended, WEXITED | WNOHANG | WNOWAIT) != 0 ||
        ended.si_pid != 0)
      return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
}

TEST_P(Interrupted, CleansUpAndEndsByTheInterruption) {
  const Row &row = GetParam();
  if ((row.signal == 0) != e2e::is_wine())
    GTEST_SKIP() << (e2e::is_wine() ? "POSIX signals" : "a Windows console");
  e2e::Session session;
  e2e::ScratchFolder cues;
  // The checker says when it runs; copying takes a while with many files.
  const std::string ready = cues.path() + "/ready";
  std::vector<std::string> steps = {"out:ran\\n"};
  if (!row.copying)
    steps = {"out:ready\\n", "touch:" + e2e::seen(ready), "sleep:60000", "out:never\\n"};
  std::string input = e2e::checker(steps) + "\n";
  const int files = !row.copying ? 1 : e2e::is_wine() ? 2000 : 10000;
  for (int i = 0; i < files; ++i) {
    std::string folder = "d" + std::to_string(i % 20), name = "f" + std::to_string(i) + ".c";
    input += session.file_line(folder + "/" + name) + "\\p\\" + folder + "\\" + name + "\n";
  }
  e2e::Invocation call;
  call.args = {"-i", e2e::seen(session.workspace.write("input.txt", input))};
  call.temp = session.temp.path();
  std::string cue = row.copying ? session.temp.path() + "/tvk<pid>.tmp" : ready;
  if (e2e::is_wine())
    call.ctrl_c_when = cue;
  e2e::Running running = e2e::start(call);
  if (!e2e::is_wine()) {
    if (std::size_t pid = cue.find("<pid>"); pid != std::string::npos)
      cue.replace(pid, 5, std::to_string(running.pid));
    EXPECT_TRUE(appears(cue, running.pid));
    kill(row.to_group ? -running.pid : running.pid, row.signal);
  }
  e2e::Result result = e2e::finish(running);
  EXPECT_EQ(result.code, e2e::is_wine() ? 0xC000013Au : 0xDEAD0000u | row.signal);
  EXPECT_TRUE(result.out == (row.copying ? "" : text("ready\n"))) << result.out.substr(0, 500);
  EXPECT_EQ(result.err, "");
  EXPECT_TRUE(session.temp_listing().empty());
  if (!e2e::is_wine()) {
    EXPECT_EQ(kill(-running.pid, 0), -1) << "a process of the run is left";
    EXPECT_EQ(errno, ESRCH);
  }
}

INSTANTIATE_TEST_SUITE_P(, Interrupted, testing::ValuesIn(kRows),
                         [](const testing::TestParamInfo<Row> &info) { return info.param.name; });

} // namespace
