// The pairing of files with versions is checked against its rules by the
// reconcile fuzz target, over its corpus in every build. What the target
// cannot show is here: a commit large enough for the status queries to be
// spread over threads.
#include "driver/reconcile.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "common/settings.h"

namespace {

using platform::PathKind;

// Test paths name their kind by their first letter: M is missing, D a
// directory, anything else an ordinary file.
PathKind kind_by_first_letter(const char *path) {
  return path[0] == 'M' ? PathKind::Missing : path[0] == 'D' ? PathKind::Directory : PathKind::File;
}

// A machine that cannot start one more thread: the caller must query the
// helpers' slices itself.
int g_refused_starts = 0;
platform::Status refuse_thread(platform::ThreadRoutine, void *, platform::Thread *) {
  ++g_refused_starts;
  return platform::Status::failure(11); // EAGAIN
}

// The warnings still come in list order, every file keeps its own kind and
// every version its own file, also when no helper thread can be started.
TEST(Reconcile, LargeCommitKeepsTheOrderOfItsMessages) {
  static const char *const kRoots[] = {"W:", "M:", "D:"};
  FileList files;
  std::vector<std::string> texts;
  std::string expected;
  for (int i = 0; i < 20000; ++i) {
    texts.push_back("\\d" + std::to_string(i) + "\\f.c");
    files.push_back(kRoots[i % 3] + texts.back());
    if (i % 3 == 1)
      expected += "WARNING: Skipping non-existant file '" + files.back() + "'\n";
    if (i % 3 == 2)
      expected += "WARNING: Skipping directory '" + files.back() + "'\n";
  }
  for (int i = 0; i < 20000; ++i) {
    if (i % 3 != 0)
      expected += "ERROR: version '" + texts[i] + "' does not match any file\n";
  }
  for (bool threads : {true, false}) {
    VersionTable versions;
    for (const std::string &text : texts)
      versions.push_back(VersionEntry{text, std::nullopt, std::nullopt});
    g_settings.error_count = 0;
    testing::internal::CaptureStdout();
    if (threads)
      reconcile_files_with(files, versions, kind_by_first_letter);
    else
      reconcile_files_with(files, versions, kind_by_first_letter, refuse_thread);
    EXPECT_TRUE(testing::internal::GetCapturedStdout() == expected) << threads;
    EXPECT_EQ(g_settings.error_count, 13333) << threads;
    g_settings.error_count = 0;
    for (int i = 0; i < 20000; i += 3)
      EXPECT_EQ(versions[i].matched_file.value_or("-"), files[i]);
  }
  if (std::thread::hardware_concurrency() > 1) {
    EXPECT_GT(g_refused_starts, 0);
  }
}

} // namespace
