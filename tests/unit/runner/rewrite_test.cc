// Stripping the staging folder from output lines, and the dump log. (The
// prefixes that the preparation builds from TEMP are checked end to end.)
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "common/settings.h"
#include "platform/platform.h"
#include "runner/runner.h"
#include "unit/scoped_variable.h"

namespace fs = std::filesystem;

namespace {

using namespace std::string_literals;

// This process's dump-log file name.
std::string log_name() {
  return "tvk" + std::to_string(platform::process_id()) + ".log";
}

// Restores the settings and TEMP that a test changes.
class RewriteTest : public testing::Test {
protected:
  void SetUp() override { saved_ = g_settings; }
  void TearDown() override {
    g_settings = saved_;
    if (!folder_.empty())
      fs::remove_all(folder_);
  }

  // A fresh folder for TEMP, named for this test.
  std::string make_temp() {
    folder_ =
        fs::temp_directory_path() / ("tvk-rewrite-" + std::to_string(platform::process_id()) + "-" +
                                     testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(folder_);
    fs::create_directories(folder_);
    temp_.set(folder_.string());
    return folder_.string();
  }

  // Runs the preparation and returns what it announced.
  std::string prepare() {
    testing::internal::CaptureStdout();
    prepare_output_rewriting(staging_folder_, dump_, &context_);
    return testing::internal::GetCapturedStdout();
  }

  RunSettings saved_;
  RewriteContext context_;
  std::string staging_folder_;
  bool dump_ = false;
  ScopedVariable temp_{"TEMP"};
  fs::path folder_;
};

TEST_F(RewriteTest, RemovesEveryOccurrenceOfEveryPrefix) {
  context_.staging_prefix = "C:\\T\\tvk7.tmp\\";
  context_.long_staging_prefix = "C:\\Temp\\tvk7.tmp\\";
  context_.workdir_prefix = "/t//tvk7.tmp/";
  const std::pair<std::string, std::string> cases[] = {
      {"C:\\T\\tvk7.tmp\\src\\A.java:3: bad", "src\\A.java:3: bad"},
      {"x C:\\T\\tvk7.tmp\\a, C:\\Temp\\tvk7.tmp\\b", "x a, b"},
      {"C:\\T\\tvk7.tmp\\", ""},
      // A removal that joins the two halves of another occurrence.
      {"C:\\T\\tC:\\T\\tvk7.tmp\\vk7.tmp\\f", "f"},
      {"folder C:\\T\\tvk7.tmp", "folder C:\\T\\tvk7.tmp"},
      {"C:\\T\\tvk7.tmp/f", "C:\\T\\tvk7.tmp/f"},
      {"c:\\t\\TVK7.TMP\\f", "c:\\t\\TVK7.TMP\\f"},
      {"/t//tvk7.tmp/src/A.java:1: error", "src/A.java:1: error"},
      // Every byte counts, NULs included, and prefixes are found across them.
      {"a\0C:\\T\\tvk7.tmp\\b\0/t//tvk7.tmp/c\0"s, "a\0b\0c\0"s},
  };
  for (const auto &[chunk, result] : cases)
    EXPECT_EQ(rewrite_output_line(context_, chunk), result) << chunk;
  g_settings.case_insensitive = true;
  EXPECT_EQ(rewrite_output_line(context_, "c:\\t\\tvk7.tmp\\f"), "c:\\t\\tvk7.tmp\\f")
      << "-c plays no part";
  // A missing long prefix, or one equal to the short, is skipped.
  context_.workdir_prefix.reset();
  context_.staging_prefix = "P\\";
  context_.long_staging_prefix.reset();
  EXPECT_EQ(rewrite_output_line(context_, "P\\a Q\\b"), "a Q\\b");
  context_.long_staging_prefix = "P\\";
  EXPECT_EQ(rewrite_output_line(context_, "P\\P\\\\a"), "\\a");
}

TEST_F(RewriteTest, LogNameThatDoesNotFitMeansNoLog) {
  std::string long_temp = make_temp().append("\\").append(1100, 'x');
  ASSERT_TRUE(platform::set_environment("TEMP", long_temp.c_str()).ok());
  staging_folder_ = std::string(1, 'S');
  dump_ = true;
  EXPECT_EQ(prepare(), "writing log to '(null)'\n");
  EXPECT_FALSE(context_.dump_log_path.has_value());
  EXPECT_EQ(rewrite_output_line(context_, "S\\x"), "x");
}

TEST_F(RewriteTest, TwoPumpsNeverMixInsideOneLogLine) {
  staging_folder_ = make_temp() + "\\tvk3.tmp";
  dump_ = true;
  prepare();
  ASSERT_TRUE(context_.dump_log_path.has_value());
  const int kLines = 300;
  // Each chunk holds a NUL, which the log keeps like any other byte.
  auto chunk_of = [](char letter) {
    return std::string(450, letter) + '\0' + std::string(449, letter);
  };
  auto pump = [this, &chunk_of](char letter) {
    std::string chunk = chunk_of(letter);
    for (int i = 0; i < kLines; ++i)
      rewrite_output_line(context_, chunk);
  };
  std::thread first(pump, 'a');
  std::thread second(pump, 'b');
  first.join();
  second.join();
  std::ifstream stream(folder_ / log_name(), std::ios::binary);
  int lines = 0;
  for (std::string line; std::getline(stream, line); ++lines) {
    if (!line.empty() && line.back() == '\r')
      line.pop_back();
    ASSERT_TRUE(line == chunk_of('a') || line == chunk_of('b'));
  }
  EXPECT_EQ(lines, 2 * kLines);
}

} // namespace
