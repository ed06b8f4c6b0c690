// Line splitting and classification are checked against their model by the
// lines fuzz target over its corpus; a stream that fails is here.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <string>

#include "driver/input.h"

namespace {

#if defined(__GLIBC__)
// A stream that hands out the text it points to and then fails, as a disk
// or a device can.
ssize_t read_then_fail(void *cookie, char *buffer, std::size_t size) {
  auto *rest = static_cast<std::string *>(cookie);
  if (rest->empty())
    return -1;
  std::size_t count = std::min(size, rest->size());
  rest->copy(buffer, count);
  rest->erase(0, count);
  return static_cast<ssize_t>(count);
}

// A failed read is reported, not taken for the end of the input. A folder,
// which the C library opens as a file, fails at its first read; otherwise
// the lines before the failure are classified, the one it cut short is not.
TEST(ReadInput, AFailedReadIsNotTheEndOfTheInput) {
  FILE *folder = std::fopen(std::filesystem::temp_directory_path().c_str(), "r");
  ASSERT_NE(folder, nullptr);
  InputData nothing;
  EXPECT_FALSE(read_input(folder, false, &nothing));
  EXPECT_FALSE(nothing.checker_command.has_value());
  std::fclose(folder);

  std::string rest = "echo: hi\ncmd\nc:\\\\a.c\n\\a.c";
  FILE *stream = fopencookie(&rest, "r", cookie_io_functions_t{read_then_fail, {}, {}, {}});
  InputData input;
  testing::internal::CaptureStdout();
  EXPECT_FALSE(read_input(stream, false, &input));
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "hi\n");
  EXPECT_EQ(input.checker_command, "cmd");
  EXPECT_EQ(input.files, FileList{"a.c"});
  EXPECT_TRUE(input.versions.empty());
  std::fclose(stream);
}
#endif

} // namespace
