// The Windows process layer under real child programs: full 32-bit exit
// codes come back unchanged.
#include <gtest/gtest.h>

#include <string>

#include "runner/runner.h"
#include "unit/runner/fake_checker_command.h"

namespace {

std::string checker(const std::string &steps) {
  return fake_checker_command(steps);
}

TEST(Win32ProcessTest, ExitCodeKeepsAll32Bits) {
  const std::uint32_t codes[] = {0, 1, 255, 256, 70000, 0xC0000005u, 0xFFFFFFFEu};
  for (std::uint32_t code : codes) {
    std::uint32_t exit_code = 12345;
    OutputCounters counters;
    testing::internal::CaptureStdout();
    int status =
        execute(checker("exit:" + std::to_string(code)).c_str(), &exit_code, &counters, {});
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(status, 0);
    EXPECT_EQ(exit_code, code);
  }
}

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
