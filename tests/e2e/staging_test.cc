// The early ends of a run: reconciliation errors (1), no staging folder (2),
// staging errors (3) and nothing to check (0), with what each prints and
// what it leaves in TEMP; and the staging folder's name where an earlier
// run left one behind.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "e2e/harness.h"

namespace {

using e2e::text;
using e2e::without_pid;

// The rows' texts use the marks of e2e::Session::placed.
struct EarlyEnd {
  const char *name;
  std::vector<std::string> args;
  // Committed files below the workspace: "!" before the name keeps the
  // file from being made, "/" after it makes it a folder.
  std::vector<std::string> files;
  std::vector<std::string> versions;
  std::string out; // the end of the output when it starts with "..."
  std::uint32_t code;
};

const EarlyEnd kEarlyEnds[] = {
    // clang-format off
  {"MissingFile", {}, {"!proj/gone.c"}, {"\\proj\\gone.c"}, "WARNING: Skipping non-existant file '<ws>\\proj\\gone.c'\n"
   "ERROR: version '\\proj\\gone.c' does not match any file\nExiting code 1\n", 1},
  {"AmbiguousVersion", {}, {"one/b.c", "two/b.c", "dir/"}, {"\\b.c"}, "ERROR: Version '\\b.c' has multiple matches:\n\t<ws>\\one\\b.c"
   "\t\\b.cERROR: file '<ws>\\two\\b.c' does not match any version\nWARNING: Skipping directory '<ws>\\dir'\n"
   "Exiting code 1\n", 1},
  {"NothingToCopy", {"-b"}, {}, {}, "debug level is now 1\n0 files copied\nNo files to check - exiting code 0\n", 0},
  {"FileWhereAFolderGoes", {"-b", "-b"}, {"x/a.c", "y/a.c/b.c"}, {"\\a.c", "\\a.c\\b.c"},
   "...copy '<ws>\\x\\a.c' to '<stage>\\a.c'\n\ncopy '<ws>\\y\\a.c\\b.c' to '<stage>\\a.c\\b.c'\n\n"
   "ERROR: Failed to copy '<ws>\\y\\a.c\\b.c' to '<stage>\\a.c\\b.c': <not-a-folder>\n1 files copied\n"
   "Exiting code 3\n", 3},
  {"FolderBelowAFile", {}, {"x/a.c", "y/a.c/d/b.c"}, {"\\a.c", "\\a.c\\d\\b.c"},
   "ERROR: Failed to create folder '<stage>\\a.c\\d'\nExiting code 3\n", 3},
  // The staging stops at a version that climbs out: the later file is not copied.
  {"VersionClimbingOut", {"-b"}, {"ws/evil.c", "ws/fine.c", "ws/later.c"}, {"\\fine.c", "\\..\\evil.c", "\\later.c"},
   "...ERROR: version '\\..\\evil.c' leads outside the staging folder\n1 files copied\nExiting code 3\n", 3},
    // clang-format on
};

class EarlyEnds : public testing::TestWithParam<EarlyEnd> {};

TEST_P(EarlyEnds, MessagesAndExitCodes) {
  const EarlyEnd &row = GetParam();
  e2e::Session session;
  std::string input = e2e::checker({"list"}) + "\n";
  for (std::string file : row.files) {
    if (file[0] == '!' || file.back() == '/') {
      if (file.back() == '/')
        session.workspace.write(file + "inside", "");
      file = file.substr(file[0] == '!', file.size() - 1);
      input += "\\\\" + e2e::backslashed(session.workspace.path() + "/" + file) + "\n";
    } else {
      input += session.file_line(file);
    }
  }
  for (const std::string &version : row.versions)
    input += version + "\n";
  e2e::Result result = session.run(row.args, input);
  std::string out = without_pid(result.out);
  std::string expected = text(session.placed(row.out));
  if (expected.starts_with("...")) {
    expected.erase(0, 3);
    out.erase(0, out.size() > expected.size() ? out.size() - expected.size() : 0);
  }
  EXPECT_EQ(out, expected);
  EXPECT_EQ(result.code, row.code);
  EXPECT_TRUE(session.temp_listing().empty());
}

INSTANTIATE_TEST_SUITE_P(, EarlyEnds, testing::ValuesIn(kEarlyEnds), e2e::row_name<EarlyEnd>);

// A TEMP that does not exist, one so long that the staging folder path
// could not be held, and (Windows has no fallback) none.
class NoStagingFolder : public testing::TestWithParam<const char *> {};

TEST_P(NoStagingFolder, EndsWithCodeTwo) {
  const std::string given = GetParam();
  if (given == "Unset" && !e2e::is_wine())
    GTEST_SKIP() << "POSIX falls back to TMPDIR and /tmp";
  e2e::Session session;
  e2e::Invocation invocation;
  invocation.input = e2e::checker({}) + "\n" + session.file_line("proj/a.c") + "\\proj\\a.c\n";
  invocation.temp = given == "Unset"     ? ""
                    : given == "Missing" ? session.temp.path() + "/no-such-folder"
                                         : session.temp.path() + "/" + std::string(1100, 'n');
  e2e::Result result = e2e::run(invocation);
  EXPECT_EQ(result.out, text("FATAL ERROR: Failed to create temporary folder\n"));
  EXPECT_EQ(result.code, 2u);
  EXPECT_TRUE(session.temp_listing().empty());
}

INSTANTIATE_TEST_SUITE_P(, NoStagingFolder, testing::Values("Missing", "TooLong", "Unset"),
                         [](const auto &info) { return e2e::row_name(info); });

// A staging folder left by a run that was killed, whose process id this run
// got again, or anything else under that name, is passed over: the run
// takes the next free name and never enters, reuses or deletes what it
// found there.
TEST(Staging, TakenNamesArePassedOver) {
  e2e::Session session;
  std::string input =
      e2e::checker({"workdir:\\n", "list"}) + "\n" + session.file_line("a.c") + "\\p\\a.c\n";
  e2e::Result result = e2e::run(
      {.input = input, .temp = session.temp.path(), .taken = {"tvk<pid>.tmp", "tvk<pid>-1.tmp"}});
  std::string workdir = session.placed("<workdir>");
  workdir.replace(workdir.size() - 4, 4, "-2.tmp");
  EXPECT_EQ(without_pid(result.out), text(workdir + "\np/a.c 2\n"));
  EXPECT_EQ(result.code, 0u);
  EXPECT_EQ(session.temp_listing(), (std::vector<std::string>{"tvk<pid>-1.tmp/", "tvk<pid>.tmp/"}));
}

// Paths longer than the 260 characters of Windows' plain calls: a committed
// file and its staged copy of 300 and 1,000 characters, and a TEMP of 300
// with the checker started in the staging folder (-w). The file is read,
// copied, checked and removed like any other.
struct LongPath {
  const char *name;
  int file_length;
  int temp_length;
};

class LongPaths : public testing::TestWithParam<LongPath> {};

TEST_P(LongPaths, AreCopiedCheckedAndRemoved) {
  const LongPath &row = GetParam();
  e2e::Session session;
  std::string temp = session.temp.path(), folder;
  while (e2e::seen(temp).size() < static_cast<std::size_t>(row.temp_length))
    temp += "/" + std::string(100, 't');
  while (e2e::seen(session.workspace.path() + folder).size() + 4 <
         static_cast<std::size_t>(row.file_length))
    folder += "/" + std::string(100, 'f');
  std::filesystem::create_directories(temp);
  std::string version = folder + "/a.c";
  std::replace(version.begin(), version.end(), '/', '\\');
  std::string input = e2e::checker({"out:ran\\n"}) + "\n" +
                      session.file_line((folder + "/a.c").substr(1)) + version + "\n";
  e2e::Result result = e2e::run({{"-w"}, input, temp});
  EXPECT_EQ(std::pair(result.out, result.code), std::pair(text("ran\n"), 0u));
  for (const std::string &left : session.temp_listing())
    EXPECT_EQ(left.find("tvk"), std::string::npos) << left;
}

const LongPath kLongPaths[] = {{"File300", 300, 0}, {"File1000", 1000, 0}, {"Temp300", 0, 300}};

INSTANTIATE_TEST_SUITE_P(, LongPaths, testing::ValuesIn(kLongPaths), e2e::row_name<LongPath>);

// Commits large enough to be copied on several threads, folder by folder,
// where one copy fails: the run ends as the plain loop ends it (OUT, before
// the exit line), and the copies made beyond the failing one are gone.
void expect_failed_copy(const e2e::Session &session, const std::string &lines,
                        const std::string &out) {
  e2e::Result result = session.run({}, e2e::checker({"out:never\\n"}) + "\n" + lines);
  EXPECT_EQ(e2e::without_pid(result.out), text(session.placed(out + "Exiting code 3\n")));
  EXPECT_EQ(result.code, 3u);
  EXPECT_TRUE(session.temp_listing().empty());
}

TEST(LargeCommit, AFileWhereAFolderGoes) {
  e2e::Session session;
  std::string lines = session.file_line("x") + "\\p\\x\n";
  for (int i = 0; i < 600; ++i)
    lines += session.file_line("f" + std::to_string(i) + ".c") + "\\p\\x\\f" + std::to_string(i) +
             ".c\n";
  expect_failed_copy(
      session, lines,
      "ERROR: Failed to copy '<ws>\\f0.c' to '<stage>\\p\\x\\f0.c': <not-a-folder>\n");
}

// Listed alternating between two folders, with a named pipe half way: it
// passes for a file until it is copied.
TEST(LargeCommit, AFailedCopyInACommitListedAcrossFolders) {
  if (e2e::is_wine())
    GTEST_SKIP() << "a named pipe as a committed file";
  e2e::Session session;
  std::string lines;
  for (int i = 0; i < 300; ++i) {
    for (std::string folder : {"z", "a"})
      lines += session.file_line(folder + "/f" + std::to_string(i) + ".c") + "\\" + folder + "\\f" +
               std::to_string(i) + ".c\n";
  }
  std::string pipe = session.workspace.path() + "/z/f150.c";
  std::filesystem::remove(pipe);
  ASSERT_EQ(mkfifo(pipe.c_str(), 0644), 0);
  expect_failed_copy(session, lines,
                     "ERROR: Failed to copy '<ws>\\z\\f150.c' to '<stage>\\z\\f150.c': "
                     "Invalid argument\n\n");
}

TEST(Staging, NamesDifferingInCaseCollideWhereCaseIsIgnored) {
  if (!e2e::is_wine())
    GTEST_SKIP() << "this file system tells letter cases apart";
  e2e::Session session;
  std::string input = e2e::checker({"list"}) + "\n" + session.file_line("p/A.c") +
                      session.file_line("q/a.c") + "\\A.c\n\\a.c\n";
  e2e::Result result = session.run({}, input);
  EXPECT_EQ(e2e::without_pid(result.out),
            text(session.placed("ERROR: Failed to copy '<ws>\\q\\a.c' to '<stage>\\a.c': File "
                                "exists.\r\n\nExiting code 3\n")));
  EXPECT_EQ(result.code, 3u);
  EXPECT_TRUE(session.temp_listing().empty());
}

} // namespace
