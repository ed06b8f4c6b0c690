// The pairing of files with versions is checked against its rules by the
// reconcile fuzz target, over its corpus in every build. What the target
// cannot show is here: a commit large enough for the status queries to be
// spread over threads, also where no thread can start.
#include "driver/reconcile.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "unit/captured_stdout.h"

namespace {

using platform::PathKind;

// Test paths name their kind by their first letter: M is missing, D a
// directory, anything else an ordinary file.
PathKind kind_by_first_letter(const char *path) {
  return path[0] == 'M' ? PathKind::Missing : path[0] == 'D' ? PathKind::Directory : PathKind::File;
}

class Reconcile : public CapturedStdout, public testing::WithParamInterface<bool> {};

// The warnings still come in list order, every file keeps its own kind and
// every version its own file, also when no helper thread can be started.
TEST_P(Reconcile, LargeCommitKeepsTheOrderOfItsMessages) {
  const bool threads_start = GetParam();
  static const char *const kRoots[] = {"W:", "M:", "D:"};
  FileList files;
  VersionTable versions;
  std::string expected;
  for (int i = 0; i < 20000; ++i) {
    versions.push_back({"\\d" + std::to_string(i) + "\\f.c", std::nullopt, std::nullopt});
    files.push_back(kRoots[i % 3] + versions.back().version);
    if (i % 3 == 1)
      expected += "WARNING: Skipping non-existant file '" + files.back() + "'\n";
    if (i % 3 == 2)
      expected += "WARNING: Skipping directory '" + files.back() + "'\n";
  }
  for (int i = 0; i < 20000; ++i) {
    if (i % 3 != 0)
      expected += "ERROR: version '" + versions[i].version + "' does not match any file\n";
  }
  int refused = 0;
  platform::ThreadStarter refuse = [&](platform::ThreadRoutine, void *, platform::Thread *) {
    ++refused;
    return platform::Status::failure(platform::Failure::Other, 11);
  };
  Outcome outcome = threads_start ? reconcile_files(files, versions, kind_by_first_letter)
                                  : reconcile_files(files, versions, kind_by_first_letter, refuse);
  EXPECT_TRUE(printed() == expected);
  EXPECT_EQ(outcome, Outcome::Failed);
  for (int i = 0; i < 20000; i += 3)
    EXPECT_EQ(versions[i].matched_file.value_or("-"), files[i]);
  EXPECT_EQ(refused > 0, !threads_start && std::thread::hardware_concurrency() > 1);
}

INSTANTIATE_TEST_SUITE_P(, Reconcile, testing::Bool(),
                         [](const testing::TestParamInfo<bool> &info) {
                           return info.param ? "HelperThreads" : "NoThreadCanStart";
                         });

} // namespace
