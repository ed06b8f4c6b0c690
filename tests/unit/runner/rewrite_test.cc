// Stripping the staging folder from output lines. (The prefixes that the
// preparation builds from TEMP, and the dump log, are checked end to end.)
#include <gtest/gtest.h>

#include <string>

#include "runner/runner.h"

namespace {

using namespace std::string_literals;

TEST(Rewrite, RemovesEveryOccurrenceOfEveryPrefix) {
  RewriteContext context;
  context.staging_prefix = "C:\\T\\tvk7.tmp\\";
  context.long_staging_prefix = "C:\\Temp\\tvk7.tmp\\";
  context.workdir_prefix = "/t//tvk7.tmp/";
  // clang-format off
  const std::pair<std::string, std::string> cases[] = {
    {"C:\\T\\tvk7.tmp\\src\\A.java:3: bad", "src\\A.java:3: bad"},
    {"x C:\\T\\tvk7.tmp\\a, C:\\Temp\\tvk7.tmp\\b", "x a, b"}, {"C:\\T\\tvk7.tmp\\", ""},
    // A removal that joins the two halves of another occurrence.
    {"C:\\T\\tC:\\T\\tvk7.tmp\\vk7.tmp\\f", "f"},
    {"folder C:\\T\\tvk7.tmp", "folder C:\\T\\tvk7.tmp"}, {"C:\\T\\tvk7.tmp/f", "C:\\T\\tvk7.tmp/f"},
    {"c:\\t\\TVK7.TMP\\f", "c:\\t\\TVK7.TMP\\f"}, {"/t//tvk7.tmp/src/A.java:1: error", "src/A.java:1: error"},
    // Every byte counts, NULs included, and prefixes are found across them.
    {"a\0C:\\T\\tvk7.tmp\\b\0/t//tvk7.tmp/c\0"s, "a\0b\0c\0"s},
  };
  // clang-format on
  for (const auto &[chunk, result] : cases)
    EXPECT_EQ(rewrite_output_line(context, chunk), result) << chunk;
  // A missing long prefix, or one equal to the short, is skipped.
  context.workdir_prefix.reset();
  context.staging_prefix = "P\\";
  context.long_staging_prefix.reset();
  EXPECT_EQ(rewrite_output_line(context, "P\\a Q\\b"), "a Q\\b");
  context.long_staging_prefix = "P\\";
  EXPECT_EQ(rewrite_output_line(context, "P\\P\\\\a"), "\\a");
}

} // namespace
