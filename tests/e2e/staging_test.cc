// The early ends of a run: reconciliation errors (1), no staging folder (2),
// staging errors (3) and nothing to check (0), with what each prints and
// what it leaves in TEMP.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "e2e/harness.h"

namespace {

using e2e::text;

// A host path in the program's own notation: backslash separators (under
// Wine, on drive Z:).
std::string program_path(const std::string &host_path) {
  if (e2e::is_wine())
    return e2e::seen(host_path);
  std::string path = host_path;
  for (char &c : path) {
    if (c == '/')
      c = '\\';
  }
  return path;
}

class EarlyEnds : public testing::Test {
protected:
  // A committed file: created in the workspace, named in a file line.
  std::string commit(const std::string &relative, const std::string &content = "x\n") {
    std::string path = program_path(workspace_.write(relative, content));
    lines_ += "\\\\" + path + "\n";
    return path;
  }
  std::string commit_missing(const std::string &relative) {
    std::string path = program_path(workspace_.path() + "/" + relative);
    lines_ += "\\\\" + path + "\n";
    return path;
  }
  void version(const std::string &text) { lines_ += text + "\n"; }

  e2e::Result run(std::vector<std::string> args = {}) {
    e2e::Invocation invocation;
    invocation.args = std::move(args);
    invocation.input = e2e::checker({"list"}) + "\n" + lines_;
    invocation.temp = temp_.path();
    return e2e::run(invocation);
  }

  // The staging folder as the program names it (TEMP as given), with
  // "<pid>" for the id.
  std::string staging_folder() const { return e2e::seen(temp_.path()) + "\\tvk<pid>.tmp"; }

  std::vector<std::string> temp_listing() const { return temp_.listing(); }

  e2e::ScratchFolder workspace_;
  e2e::ScratchFolder temp_;
  std::string lines_;
};

TEST_F(EarlyEnds, MissingFileEndsWithCodeOne) {
  std::string gone = commit_missing("proj/gone.c");
  version("\\proj\\gone.c");
  e2e::Result result = run();
  EXPECT_EQ(result.out, text("WARNING: Skipping non-existant file '" + gone +
                             "'\nERROR: version '\\proj\\gone.c' does not match any file\n"
                             "Exiting code 1\n"));
  EXPECT_EQ(result.code, 1u);
  EXPECT_TRUE(temp_listing().empty());
}

TEST_F(EarlyEnds, AmbiguousVersionEndsWithCodeOne) {
  std::string one = commit("one/b.c");
  std::string two = commit("two/b.c");
  version("\\b.c");
  std::string folder = program_path(workspace_.path() + "/dir");
  workspace_.write("dir/inside", "");
  lines_ += "\\\\" + folder + "\n";
  e2e::Result result = run();
  EXPECT_EQ(result.out,
            text("ERROR: Version '\\b.c' has multiple matches:\n\t" + one + "\t\\b.cERROR: file '" +
                 two + "' does not match any version\nWARNING: Skipping directory '" + folder +
                 "'\nExiting code 1\n"));
  EXPECT_EQ(result.code, 1u);
  EXPECT_TRUE(temp_listing().empty());
}

TEST_F(EarlyEnds, NoStagingFolderEndsWithCodeTwo) {
  commit("proj/a.c");
  version("\\proj\\a.c");
  const std::string fatal = text("FATAL ERROR: Failed to create temporary folder\n");

  e2e::Invocation invocation;
  invocation.input = e2e::checker({}) + "\n" + lines_;
  invocation.temp = temp_.path() + "/no-such-folder";
  e2e::Result result = e2e::run(invocation);
  EXPECT_EQ(result.out, fatal);
  EXPECT_EQ(result.code, 2u);

  // A TEMP so long that the staging folder path could not be held.
  invocation.temp = temp_.path() + "/" + std::string(1100, 'n');
  result = e2e::run(invocation);
  EXPECT_EQ(result.out, fatal);
  EXPECT_EQ(result.code, 2u);
  EXPECT_TRUE(temp_listing().empty());

  if (e2e::is_wine()) {
    // Windows has no fallback for an unset TEMP.
    invocation.temp.clear();
    result = e2e::run(invocation);
    EXPECT_EQ(result.out, fatal);
    EXPECT_EQ(result.code, 2u);
  }
}

TEST_F(EarlyEnds, NothingToCheckLeavesNothingBehind) {
  e2e::Result result = run({"-b"});
  EXPECT_EQ(result.out, text("debug level is now 1\n0 files copied\n"
                             "No files to check - exiting code 0\n"));
  EXPECT_EQ(result.code, 0u);
  EXPECT_TRUE(temp_listing().empty());
}

TEST_F(EarlyEnds, FailedCopyEndsWithCodeThreeAndRemovesWhatWasCopied) {
  std::string first = commit("x/a.c");
  std::string second = commit("y/a.c/b.c");
  version("\\a.c");
  version("\\a.c\\b.c");
  e2e::Result result = run({"-b", "-b"});
  std::string out = e2e::without_pid(result.out);
  std::string staged_first = staging_folder() + "\\a.c";
  std::string staged_second = staging_folder() + "\\a.c\\b.c";
  // A file stands where the copy needs a folder (the texts of Wine and
  // Linux).
  std::string reason = e2e::is_wine() ? "Path not found.\r\n" : "Not a directory\n";
  std::string expected_end =
      text("copy '" + first + "' to '" + staged_first + "'\n\n" + "copy '" + second + "' to '" +
           staged_second + "'\n\n" + "ERROR: Failed to copy '" + second + "' to '" + staged_second +
           "': " + reason + "\n1 files copied\nExiting code 3\n");
  ASSERT_GE(out.size(), expected_end.size()) << out;
  EXPECT_EQ(out.substr(out.size() - expected_end.size()), expected_end) << out;
  EXPECT_NE(out.find(text("version '\\a.c' matches file '" + first + "'\n")), std::string::npos);
  EXPECT_EQ(result.code, 3u);
  EXPECT_TRUE(temp_listing().empty());
}

TEST_F(EarlyEnds, FolderThatCannotBeMadeEndsWithCodeThree) {
  commit("x/a.c");
  commit("y/a.c/d/b.c");
  version("\\a.c");
  version("\\a.c\\d\\b.c");
  e2e::Result result = run();
  EXPECT_EQ(e2e::without_pid(result.out), text("ERROR: Failed to create folder '" +
                                               staging_folder() + "\\a.c\\d'\nExiting code 3\n"));
  EXPECT_EQ(result.code, 3u);
  EXPECT_TRUE(temp_listing().empty());
}

TEST_F(EarlyEnds, VersionClimbingOutIsRefusedWithCodeThree) {
  commit("ws/evil.c");
  commit("ws/fine.c");
  version("\\fine.c");
  version("\\..\\evil.c");
  e2e::Result result = run();
  EXPECT_EQ(result.out, text("ERROR: version '\\..\\evil.c' leads outside the staging folder\n"
                             "Exiting code 3\n"));
  EXPECT_EQ(result.code, 3u);
  EXPECT_TRUE(temp_listing().empty());
}

TEST_F(EarlyEnds, NamesDifferingInCaseCollideWhereCaseIsIgnored) {
  if (!e2e::is_wine())
    GTEST_SKIP() << "this file system tells letter cases apart";
  commit("p/A.c");
  commit("q/a.c");
  version("\\A.c");
  version("\\a.c");
  e2e::Result result = run();
  EXPECT_EQ(e2e::without_pid(result.out),
            text("ERROR: Failed to copy '" + program_path(workspace_.path() + "/q/a.c") + "' to '" +
                 staging_folder() + "\\a.c': File exists.\r\n\nExiting code 3\n"));
  EXPECT_EQ(result.code, 3u);
  EXPECT_TRUE(temp_listing().empty());
}

} // namespace
