// Stripping the staging folder from output lines, and the dump log.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "driver/settings.h"
#include "platform/platform.h"
#include "runner/runner.h"

namespace fs = std::filesystem;

namespace {

void remove_temp() {
#ifdef _WIN32
  _putenv("TEMP=");
#else
  unsetenv("TEMP");
#endif
}

// This process's dump-log file name.
std::string log_name() {
  std::string name = "tvk";
  name += std::to_string(platform::process_id());
  name += ".log";
  return name;
}

// Restores the settings and TEMP that a test changes.
class RewriteTest : public testing::Test {
protected:
  void SetUp() override {
    saved_ = g_settings;
    const char *temp = std::getenv("TEMP");
    saved_temp_ = temp ? std::optional<std::string>(temp) : std::nullopt;
  }
  void TearDown() override {
    g_settings = saved_;
    if (saved_temp_)
      platform::set_environment("TEMP", saved_temp_->c_str());
    else
      remove_temp();
    if (!folder_.empty())
      fs::remove_all(folder_);
  }

  // A fresh folder for TEMP, named for this test.
  std::string make_temp() {
    std::string name = "tvk-rewrite-";
    name += std::to_string(platform::process_id());
    name += "-";
    name += testing::UnitTest::GetInstance()->current_test_info()->name();
    folder_ = fs::temp_directory_path() / name;
    fs::remove_all(folder_);
    fs::create_directories(folder_);
    platform::set_environment("TEMP", folder_.string().c_str());
    return folder_.string();
  }

  static std::string read(const std::string &file) {
    std::ifstream stream(file, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(stream), {});
  }

  RunSettings saved_;
  std::optional<std::string> saved_temp_;
  fs::path folder_;
};

struct StripCase {
  const char *chunk;
  const char *result;
};

TEST_F(RewriteTest, RemovesEveryOccurrenceOfBothPrefixes) {
  g_settings.staging_prefix = "C:\\T\\tvk7.tmp\\";
  g_settings.long_staging_prefix = "C:\\Temp\\tvk7.tmp\\";
  const StripCase cases[] = {
      {"C:\\T\\tvk7.tmp\\src\\A.java:3: bad", "src\\A.java:3: bad"},
      {"x C:\\T\\tvk7.tmp\\a, C:\\Temp\\tvk7.tmp\\b", "x a, b"},
      {"C:\\T\\tvk7.tmp\\", ""},
      // A removal that joins the two halves of another occurrence.
      {"C:\\T\\tC:\\T\\tvk7.tmp\\vk7.tmp\\f", "f"},
      {"folder C:\\T\\tvk7.tmp", "folder C:\\T\\tvk7.tmp"},
      {"C:\\T\\tvk7.tmp/f", "C:\\T\\tvk7.tmp/f"},
      {"c:\\t\\TVK7.TMP\\f", "c:\\t\\TVK7.TMP\\f"},
      {"", ""},
  };
  for (const StripCase &c : cases)
    EXPECT_EQ(rewrite_output_line(c.chunk), c.result) << c.chunk;
  g_settings.case_insensitive = true;
  EXPECT_EQ(rewrite_output_line("c:\\t\\tvk7.tmp\\f"), "c:\\t\\tvk7.tmp\\f") << "-c plays no part";
}

TEST_F(RewriteTest, MissingOrEqualLongPrefixIsSkipped) {
  g_settings.staging_prefix = "P\\";
  g_settings.long_staging_prefix.reset();
  EXPECT_EQ(rewrite_output_line("P\\a Q\\b"), "a Q\\b");
  g_settings.long_staging_prefix = "P\\";
  EXPECT_EQ(rewrite_output_line("P\\P\\\\a"), "\\a");
}

TEST_F(RewriteTest, PrepareBuildsThePrefixes) {
  std::string temp = make_temp();
  fs::create_directories(folder_ / "tvk5.tmp");
  g_settings.staging_folder = temp + "\\tvk5.tmp";
  g_settings.dump = false;
  testing::internal::CaptureStdout();
  prepare_output_rewriting();
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "") << "no line without -d";
  EXPECT_EQ(g_settings.staging_prefix, temp + "\\tvk5.tmp\\");
  ASSERT_TRUE(g_settings.long_staging_prefix.has_value());
  // The long form names the same folder, in the system's own spelling.
  std::string long_form = *g_settings.long_staging_prefix;
  for (char &c : long_form)
    c = c == '\\' ? '/' : c;
#ifdef _WIN32
  std::string expected = (folder_ / "tvk5.tmp").string() + "/";
  for (char &c : expected)
    c = c == '\\' ? '/' : c;
#else
  std::string expected = fs::canonical(folder_ / "tvk5.tmp").string() + "/";
#endif
  EXPECT_EQ(long_form, expected);
  EXPECT_FALSE(g_settings.dump_log_path.has_value());

  g_settings.staging_folder = temp + "\\missing";
  prepare_output_rewriting();
  EXPECT_FALSE(g_settings.long_staging_prefix.has_value());
}

TEST_F(RewriteTest, DumpLogGetsEveryRewrittenChunk) {
  std::string temp = make_temp();
  g_settings.staging_folder = temp + "\\tvk9.tmp";
  g_settings.dump = true;
  testing::internal::CaptureStdout();
  prepare_output_rewriting();
  std::string announced = testing::internal::GetCapturedStdout();
  std::string log = temp;
  log += "\\";
  log += log_name();
  EXPECT_EQ(announced, "writing log to '" + log + "'\n");
  ASSERT_EQ(g_settings.dump_log_path, log);
  std::string host_log = (folder_ / log_name()).string();
  EXPECT_EQ(read(host_log), "") << "created empty";

  EXPECT_EQ(rewrite_output_line((g_settings.staging_prefix + "a.c: one").c_str()), "a.c: one");
  EXPECT_EQ(rewrite_output_line(g_settings.staging_prefix.c_str()), "");
#ifdef _WIN32
  EXPECT_EQ(read(host_log), "a.c: one\r\n\r\n");
#else
  EXPECT_EQ(read(host_log), "a.c: one\n\n");
#endif
}

TEST_F(RewriteTest, LogNameThatDoesNotFitMeansNoLog) {
  make_temp();
  std::string long_temp = folder_.string();
  long_temp.append("\\").append(1100, 'x');
  platform::set_environment("TEMP", long_temp.c_str());
  g_settings.staging_folder = std::string(1, 'S');
  g_settings.dump = true;
  testing::internal::CaptureStdout();
  prepare_output_rewriting();
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "writing log to '(null)'\n");
  EXPECT_FALSE(g_settings.dump_log_path.has_value());
  EXPECT_EQ(rewrite_output_line("S\\x"), "x");
}

TEST_F(RewriteTest, TwoPumpsNeverMixInsideOneLogLine) {
  std::string temp = make_temp();
  g_settings.staging_folder = temp + "\\tvk3.tmp";
  g_settings.dump = true;
  testing::internal::CaptureStdout();
  prepare_output_rewriting();
  testing::internal::GetCapturedStdout();
  const int kLines = 300;
  auto pump = [](char letter) {
    std::string chunk(900, letter);
    for (int i = 0; i < kLines; ++i)
      rewrite_output_line(chunk.c_str());
  };
  std::thread first(pump, 'a');
  std::thread second(pump, 'b');
  first.join();
  second.join();
  std::ifstream stream(folder_ / log_name(), std::ios::binary);
  std::string line;
  int lines = 0;
  while (std::getline(stream, line)) {
    if (!line.empty() && line.back() == '\r')
      line.pop_back();
    ASSERT_TRUE(line == std::string(900, 'a') || line == std::string(900, 'b'));
    ++lines;
  }
  EXPECT_EQ(lines, 2 * kLines);
}

} // namespace
