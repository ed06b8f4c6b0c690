// The dump-log file services. (The long-path form is checked end to end:
// stripping WORKDIR under a TEMP reached through a link.)
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/platform.h"

namespace fs = std::filesystem;

namespace {

class PosixLogTest : public testing::Test {
protected:
  void SetUp() override {
    folder_ =
        fs::temp_directory_path() / ("tvk-log-test-" + std::to_string(getpid()) + "-" +
                                     testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(folder_);
    fs::create_directories(folder_);
  }
  void TearDown() override { fs::remove_all(folder_); }

  std::string path(const std::string &name) const { return (folder_ / name).string(); }

  static std::string read(const std::string &file) {
    std::ifstream stream(file, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(stream), {});
  }
  static unsigned mode(const std::string &file) {
    struct stat status {};
    EXPECT_EQ(stat(file.c_str(), &status), 0) << file;
    return status.st_mode & 0777;
  }

  fs::path folder_;
};

TEST_F(PosixLogTest, LogIsPrivateAndAppendsWholeLines) {
  std::string log = path("tvk1.log");
  ASSERT_TRUE(platform::create_log_file(log.c_str()).ok());
  EXPECT_EQ(mode(log), 0600u);
  EXPECT_TRUE(platform::append_log_line(log.c_str(), "first").ok());
  EXPECT_TRUE(platform::append_log_line(log.c_str(), "").ok());
  EXPECT_TRUE(platform::append_log_line(log.c_str(), std::string("a\0b", 3)).ok());
  EXPECT_EQ(read(log), std::string("first\n\na\0b\n", 11));
  // Our own log left from before is emptied and made private again.
  chmod(log.c_str(), 0644);
  ASSERT_TRUE(platform::create_log_file(log.c_str()).ok());
  EXPECT_EQ(read(log), "");
  EXPECT_EQ(mode(log), 0600u);
}

TEST_F(PosixLogTest, LinksAreNeverFollowedOrEmptied) {
  std::string target = path("precious");
  std::ofstream(target, std::ios::binary) << "keep me";
  std::string symlink_log = path("tvk3.log");
  fs::create_symlink(target, symlink_log);
  EXPECT_FALSE(platform::create_log_file(symlink_log.c_str()).ok());
  EXPECT_FALSE(platform::append_log_line(symlink_log.c_str(), "x").ok());
  std::string hardlink_log = path("tvk4.log");
  fs::create_hard_link(target, hardlink_log);
  EXPECT_FALSE(platform::create_log_file(hardlink_log.c_str()).ok());
  EXPECT_FALSE(platform::append_log_line(hardlink_log.c_str(), "x").ok());
  EXPECT_EQ(read(target), "keep me");
  EXPECT_FALSE(platform::create_log_file(folder_.string().c_str()).ok()) << "a folder is no log";
}

} // namespace
