#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <optional>

#include <sys/stat.h>
#include <unistd.h>

#include "platform/platform.h"
#include "platform/posix/io.h"
#include "unit/scoped_variable.h"

namespace {

TEST(PosixSystem, TempFolderFallsBackFromTempToTmpdirToTmp) {
  const struct {
    std::optional<std::string> temp, tmpdir;
    std::string expected;
  } rows[] = {
      {"/a", "/b", "/a"},
      {std::nullopt, "/b", "/b"},
      {std::nullopt, std::nullopt, "/tmp"},
      {"", "/b", ""}, // taken as it is
      {"rel\\x", std::nullopt, "rel\\x"},
  };
  for (const auto &row : rows) {
    ScopedVariable temp("TEMP", row.temp);
    ScopedVariable tmpdir("TMPDIR", row.tmpdir);
    EXPECT_EQ(platform::temp_folder(), row.expected);
  }
}

TEST(PosixSystem, SystemPathsTurnBackslashesIntoSlashes) {
  EXPECT_EQ(platform::system_path("\\tmp\\x\\a b.c"), "/tmp/x/a b.c");
  EXPECT_EQ(platform::system_path("C:\\\\y/z"), "C://y/z");
  EXPECT_EQ(platform::system_path(""), "");
}

TEST(PosixSystem, InitProcessReopensClosedStandardStreamsAndIgnoresSigpipe) {
  int saved = dup(0);
  ASSERT_GE(saved, 0);
  close(0);
  platform::init_process();
  struct stat opened {};
  struct stat null_device {};
  EXPECT_EQ(fstat(0, &opened), 0);
  stat("/dev/null", &null_device);
  EXPECT_EQ(opened.st_rdev, null_device.st_rdev);
  dup2(saved, 0);
  close(saved);
  struct sigaction action {};
  sigaction(SIGPIPE, nullptr, &action);
  EXPECT_EQ(action.sa_handler, SIG_IGN);
  std::signal(SIGPIPE, SIG_DFL);
}

} // namespace
