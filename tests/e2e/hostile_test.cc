// Hostile commits and hostile checkers: whatever arrives, the gate ends with
// its designed message and exit code, never crashes or hangs, and touches
// nothing outside its staging folder.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "e2e/harness.h"

namespace {

using e2e::text;
using e2e::without_pid;

class Hostile : public testing::Test, protected e2e::Session {};

// A checker may leave a link to a folder outside, or put one where a staged
// folder was, pointing at files with the names of the run's copies. What
// the checker leaves stays (with the staging folder around it), but the
// removal never goes through the link: neither the files behind it nor the
// folders it empties are touched.
struct LinkCase {
  const char *name;
  std::vector<std::string> steps;
  std::string left; // the link, when the system let the checker make it
};

class LinksLeftByTheChecker : public testing::TestWithParam<LinkCase>, protected e2e::Session {};

TEST_P(LinksLeftByTheChecker, AreNeverFollowed) {
  e2e::ScratchFolder victim;
  victim.write("a.c", "not the gate's\n");
  std::filesystem::create_directories(victim.path() + "/empty/deeper");
  const std::vector<std::string> before = victim.listing();
  std::vector<std::string> steps = GetParam().steps;
  steps.back() += e2e::seen(victim.path());
  steps.push_back("out:done\\n");
  std::string input = e2e::checker(steps) + "\n" + file_line("a.c") + "\\x\\a.c\n" +
                      file_line("src/a.c") + "\\p\\src\\a.c\n";
  e2e::Result result = run({"**/*.c"}, input);
  EXPECT_EQ(result.out, text("done\n"));
  EXPECT_EQ(result.code, 0u);
  EXPECT_EQ(victim.listing(), before);
  // When the system let the checker make the link, it stays, and nothing else does.
  if (!temp_listing().empty()) {
    EXPECT_EQ(temp_listing(), (std::vector<std::string>{"tvk<pid>.tmp/", GetParam().left}));
  }
}

const LinkCase kLinks[] = {
    {"BesideTheCopies", {"link:escape="}, "tvk<pid>.tmp/escape"},
    {"WhereAStagedFolderWas", {"remove:x", "link:x="}, "tvk<pid>.tmp/x"},
};

INSTANTIATE_TEST_SUITE_P(, LinksLeftByTheChecker, testing::ValuesIn(kLinks),
                         e2e::row_name<LinkCase>);

// A read-only committed file gives a read-only copy (on Windows the copy
// takes the attribute); the run still removes it and its folders.
TEST_F(Hostile, ReadOnlyCommittedFilesLeaveNothingBehind) {
  std::string line = file_line("src/a.c");
  std::filesystem::permissions(workspace.path() + "/src/a.c", std::filesystem::perms::owner_read);
  std::string input = e2e::checker({"list"}) + "\n" + line + "\\p\\src\\a.c\n";
  e2e::Result result = run({"**/*.c"}, input);
  EXPECT_EQ(result.out, text("p/src/a.c 2\n"));
  EXPECT_EQ(result.code, 0u);
  EXPECT_TRUE(temp_listing().empty());
}

// A version line of a million characters is paired and selected like any
// other; the system refuses a name that long, which ends the staging.
TEST_F(Hostile, AMillionCharacterVersion) {
  const std::string version = "\\" + std::string(1000000, 'a') + "\\a.c";
  std::string input = e2e::checker({"out:never\\n"}) + "\n" + file_line("a.c") + version + "\n";
  e2e::Result result = run({"**/*.c"}, input);
  std::string prefix = "ERROR: Failed to create folder '" + staging_folder() + "\\aaaa";
  EXPECT_EQ(without_pid(result.out).substr(0, prefix.size()), prefix);
  EXPECT_NE(result.out.find(text("'\nExiting code 3\n")), std::string::npos);
  EXPECT_EQ(result.code, 3u);
  EXPECT_TRUE(temp_listing().empty());
}

// NUL bytes end an input line; bytes that are not UTF-8 pass through the
// patterns, the version texts and the checker's output unchanged.
TEST_F(Hostile, NulAndNonUtf8Bytes) {
  const std::string name = "\xe9t\xe9.c"; // Latin-1, not UTF-8
  // Under Wine the program's code page turns these bytes into UTF-8 names.
  const std::string host_name = e2e::is_wine() ? "\xc3\xa9t\xc3\xa9.c" : name;
  std::string input = e2e::checker({"out:\\xff\\xfe bad \\x80\\n", "err:\\xc3\\x28\\n"}) + "\n";
  workspace.write(host_name, "x");
  input += "ws\\\\" + e2e::backslashed(workspace.path()) + "\\" + name + "\n";
  input += "\\p\\" + name + "\n";
  input += file_line("b.c") + "\\p\\b.c";
  input += std::string("\0trailing junk\n", 15);
  std::string pattern = e2e::is_wine() ? "**/*.c" : "**/\xe9*.c";
  e2e::Result result = run({"-b", "-b", pattern, "**/b.c"}, input);
  EXPECT_EQ(result.code, 0u) << result.out;
  EXPECT_NE(result.out.find(text("version '\\p\\" + name + "' matches file")), std::string::npos);
  EXPECT_NE(result.out.find(text("version '\\p\\b.c' matches file")), std::string::npos);
  EXPECT_NE(result.out.find(text("\xff\xfe bad \x80\n")), std::string::npos);
  EXPECT_EQ(result.err, text("\xc3\x28\n"));
  EXPECT_TRUE(temp_listing().empty());

  // A line that holds only a NUL is not empty: it is a version with no text.
  result = run({pattern, "**/b.c"}, input + std::string("\0\n", 2));
  EXPECT_EQ(result.out, text("ERROR: version '' does not match any file\nExiting code 1\n"));
  EXPECT_EQ(result.code, 1u);
}

// A checker that fills both pipes in turn needs both drained at once; every
// byte is relayed and counted.
TEST_F(Hostile, ACheckerFloodingBothStreams) {
  std::string input = e2e::checker({"flood:64"}) + "\n" + file_line("a.c") + "\\p\\a.c\n";
  e2e::Result result = run({"-e", "**/*.c"}, input);
  std::string line = std::string(63, 'f') + "\n";
  std::string half;
  for (int i = 0; i < 32 * 1024; ++i)
    half += line;
  EXPECT_TRUE(result.err == text(half));
  EXPECT_TRUE(result.out == text(half + "Exiting code 5\n"));
  EXPECT_EQ(result.code, 5u);
  EXPECT_TRUE(temp_listing().empty());
}

} // namespace
