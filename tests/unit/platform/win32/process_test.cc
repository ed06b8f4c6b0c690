// The Windows process layer with the system's own shell as the checker.
// (Full 32-bit exit codes are checked end to end under Wine.)
#include <gtest/gtest.h>

#include <string>

#include "runner/runner.h"

namespace {

TEST(Win32ProcessTest, CommandShellRunsAsChecker) {
  std::uint32_t exit_code = 0;
  OutputCounters counters;
  testing::internal::CaptureStdout();
  int status = execute("cmd /c echo hi& exit 7", &exit_code, &counters, {});
  std::string out = testing::internal::GetCapturedStdout();
  EXPECT_EQ(status, 0);
  EXPECT_EQ(exit_code, 7u);
  EXPECT_EQ(counters.stdout_bytes, 4u); // "hi" and CR LF
  EXPECT_EQ(out, "hi\n");               // the capture reads its file in text mode
}

} // namespace
