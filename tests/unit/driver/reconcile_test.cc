#include "driver/reconcile.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "unit/driver/plain_reconcile.h"

namespace {

using platform::PathKind;

// Test paths name their kind by their first letter: M is missing, D a
// directory, anything else an ordinary file.
PathKind kind_by_first_letter(const char *path) {
  return path[0] == 'M' ? PathKind::Missing : path[0] == 'D' ? PathKind::Directory : PathKind::File;
}

void plain_reconcile(const FileList &files, VersionTable &versions) {
  reconcile_test::plain_reconcile_with(files, versions, kind_by_first_letter);
}

void indexed_reconcile(const FileList &files, VersionTable &versions) {
  reconcile_files_with(files, versions, kind_by_first_letter);
}

// A machine that cannot start one more thread: the caller must query the
// helpers' slices itself.
int g_refused_starts = 0;
std::uint32_t refuse_thread(platform::ThreadRoutine, void *, platform::Handle *) {
  ++g_refused_starts;
  return 11; // EAGAIN
}

void reconcile_without_threads(const FileList &files, VersionTable &versions) {
  reconcile_files_with(files, versions, kind_by_first_letter, refuse_thread);
}

using Reconcile = void (*)(const FileList &, VersionTable &);

// Error count and matched file per version ("-" for none) of one commit.
using Result = std::pair<int, std::vector<std::string>>;

Result reconcile_one(Reconcile reconcile, const FileList &files,
                     const std::vector<std::string> &texts) {
  VersionTable versions;
  for (const std::string &text : texts)
    versions.push_back(VersionEntry{text, std::nullopt, std::nullopt, std::nullopt});
  g_settings.error_count = 0;
  reconcile(files, versions);
  Result result{g_settings.error_count, {}};
  for (const VersionEntry &entry : versions)
    result.second.push_back(entry.matched_file.value_or("-"));
  g_settings.error_count = 0;
  return result;
}

std::string output_of(Reconcile reconcile, const FileList &files,
                      const std::vector<std::string> &texts, int debug_level, Result *result) {
  g_settings.debug_level = debug_level;
  testing::internal::CaptureStdout();
  *result = reconcile_one(reconcile, files, texts);
  g_settings.debug_level = 0;
  return testing::internal::GetCapturedStdout();
}

struct Case {
  std::vector<std::string> files;
  std::vector<std::string> versions;
  std::string output; // at debug level 0
  Result result;
};

const Case kCases[] = {
    {{"W:\\ws\\proj\\a.c"}, {"x\\proj\\a.c"}, "", {0, {"W:\\ws\\proj\\a.c"}}},
    {{"W:\\ws\\a.c"},
     {"a.c"},
     "ERROR: file 'W:\\ws\\a.c' does not match any version\n"
     "ERROR: version 'a.c' does not match any file\n",
     {2, {"-"}}},
    // One ambiguity per matching tail, even when a version is found.
    {{"W:\\p\\q\\b.c", "W:\\r\\q\\b.c"},
     {"\\q\\b.c", "\\b.c", "\\x\\b.c"},
     "ERROR: Version '\\q\\b.c' has multiple matches:\n\tW:\\p\\q\\b.c\t\\q\\b.c"
     "ERROR: Version '\\q\\b.c' has multiple matches:\n\tW:\\p\\q\\b.c\t\\b.c"
     "ERROR: version '\\x\\b.c' does not match any file\n",
     {3, {"W:\\p\\q\\b.c", "W:\\r\\q\\b.c", "-"}}},
    {{"W:\\p\\q\\b.c", "W:\\r\\b.c", "W:\\s\\q\\b.c"},
     {"\\q\\b.c", "\\b.c"},
     "ERROR: Version '\\q\\b.c' has multiple matches:\n\tW:\\p\\q\\b.c\t\\b.c"
     "ERROR: Version '\\q\\b.c' has multiple matches:\n\tW:\\p\\q\\b.c\t\\q\\b.c"
     "ERROR: Version '\\q\\b.c' has multiple matches:\n\tW:\\p\\q\\b.c\t\\b.c"
     "ERROR: Version '\\b.c' has multiple matches:\n\tW:\\r\\b.c\t\\b.c"
     "ERROR: file 'W:\\s\\q\\b.c' does not match any version\n",
     {5, {"W:\\p\\q\\b.c", "W:\\r\\b.c"}}},
    // The same text twice takes the second after reporting the first.
    {{"W:\\a\\b.c", "W:\\c\\b.c"},
     {"\\b.c", "\\b.c"},
     "ERROR: Version '\\b.c' has multiple matches:\n\tW:\\a\\b.c\t\\b.c",
     {1, {"W:\\a\\b.c", "W:\\c\\b.c"}}},
    {{"W:\\src\\a.c"},
     {"\\src\\A.c"},
     "ERROR: file 'W:\\src\\a.c' does not match any version\n"
     "ERROR: version '\\src\\A.c' does not match any file\n",
     {2, {"-"}}},
    {{"W:\\a.c"},
     {"\\a.c\\x"},
     "ERROR: file 'W:\\a.c' does not match any version\n"
     "ERROR: version '\\a.c\\x' does not match any file\n",
     {2, {"-"}}},
    // The longer tail wins over an earlier, shorter version.
    {{"W:\\p\\a.c"},
     {"\\a.c", "\\p\\a.c"},
     "ERROR: version '\\a.c' does not match any file\n",
     {1, {"-", "W:\\p\\a.c"}}},
};

TEST(Reconcile, EdgeCases) {
  for (const Case &c : kCases) {
    Result got;
    EXPECT_EQ(output_of(plain_reconcile, c.files, c.versions, 0, &got), c.output) << "reference";
    EXPECT_EQ(output_of(indexed_reconcile, c.files, c.versions, 0, &got), c.output);
    EXPECT_EQ(got, c.result) << c.output;
  }
  Result got;
  EXPECT_EQ(output_of(indexed_reconcile, {"W:\\p\\a.c"}, {"\\p\\a.c"}, 2, &got),
            "version '\\p\\a.c' matches file 'W:\\p\\a.c'\n");
  EXPECT_EQ(output_of(indexed_reconcile, {"W:\\p\\a.c"}, {"\\p\\a.c"}, 1, &got), "");
}

// Random commits over a small alphabet of folder names, so that tails,
// duplicates and ambiguities are frequent.
std::string random_path(std::mt19937 &random, bool as_file) {
  static const char *const kParts[] = {"a", "b", "src", "a.c", "", "x y"};
  static const char *const kRoots[] = {"W:", "M:", "D:", "", "w"};
  std::string path = as_file ? kRoots[random() % 5] : random() % 4 == 0 ? kParts[random() % 6] : "";
  for (int depth = static_cast<int>(random() % 4); depth > 0; --depth)
    path += std::string("\\") + kParts[random() % 6];
  return path;
}

template <typename T> const T &pick(std::mt19937 &random, const std::vector<T> &from) {
  return from[random() % from.size()];
}

void random_commit(std::mt19937 &random, FileList *files, std::vector<std::string> *versions) {
  for (int i = static_cast<int>(random() % 7); i > 0; --i)
    files->push_back(random() % 5 == 0 && !files->empty() ? pick(random, *files)
                                                          : random_path(random, true));
  for (int i = static_cast<int>(random() % 7); i > 0; --i) {
    if (random() % 5 == 0 && !versions->empty()) {
      versions->push_back(pick(random, *versions));
    } else if (random() % 2 == 0 && !files->empty()) {
      // A tail of a committed file, so that pairings are common.
      const std::string &file = pick(random, *files);
      std::size_t at = file.find('\\', random() % (file.size() + 1));
      versions->push_back(at == std::string::npos ? file : file.substr(at));
    } else {
      versions->push_back(random_path(random, false));
    }
  }
}

using Commit = std::pair<FileList, std::vector<std::string>>;

// What reconciling every commit printed, each headed by its number.
std::string reconcile_all(Reconcile reconcile, const std::vector<Commit> &commits,
                          std::vector<Result> *results) {
  g_settings.debug_level = 2;
  testing::internal::CaptureStdout();
  for (std::size_t i = 0; i < commits.size(); ++i) {
    std::printf("\n#%zu\n", i);
    results->push_back(reconcile_one(reconcile, commits[i].first, commits[i].second));
  }
  g_settings.debug_level = 0;
  return testing::internal::GetCapturedStdout();
}

TEST(Reconcile, IndexAgreesWithPlainScanOnRandomCommits) {
  std::mt19937 random(20261206);
  std::vector<Commit> commits(4000);
  for (Commit &commit : commits)
    random_commit(random, &commit.first, &commit.second);
  std::vector<Result> got, expected;
  std::string output = reconcile_all(indexed_reconcile, commits, &got);
  ASSERT_EQ(output, reconcile_all(plain_reconcile, commits, &expected));
  ASSERT_EQ(got, expected);
  int ambiguous = 0, clean = 0, paired = 0;
  for (const auto &[errors, matches] : got) {
    clean += errors == 0 && !matches.empty();
    for (const std::string &match : matches)
      paired += match != "-";
  }
  for (std::size_t at = output.find("multiple"); at != std::string::npos;
       at = output.find("multiple", at + 1))
    ++ambiguous;
  // The generator must reach both kinds of commit to prove anything.
  EXPECT_GT(ambiguous, 300);
  EXPECT_GT(clean, 20);
  EXPECT_GT(paired, 2000);
}

} // namespace

namespace {

// A commit large enough for the status queries to be spread over threads:
// the warnings still come in list order, and every file keeps its own kind,
// also when no helper thread can be started.
TEST(Reconcile, LargeCommitKeepsTheOrderOfItsMessages) {
  static const char *const kRoots[] = {"W:", "M:", "D:"};
  FileList files;
  std::vector<std::string> versions;
  std::string expected;
  for (int i = 0; i < 20000; ++i) {
    std::string tail = "\\d" + std::to_string(i) + "\\f.c";
    files.push_back(kRoots[i % 3] + tail);
    versions.push_back(tail);
    if (i % 3 == 1)
      expected += "WARNING: Skipping non-existant file '" + files.back() + "'\n";
    if (i % 3 == 2)
      expected += "WARNING: Skipping directory '" + files.back() + "'\n";
  }
  for (int i = 0; i < 20000; ++i) {
    if (i % 3 != 0)
      expected += "ERROR: version '" + versions[i] + "' does not match any file\n";
  }
  for (Reconcile reconcile : {indexed_reconcile, reconcile_without_threads}) {
    Result got;
    EXPECT_TRUE(output_of(reconcile, files, versions, 0, &got) == expected);
    EXPECT_EQ(got.first, 13333);
  }
  if (std::thread::hardware_concurrency() > 1) {
    EXPECT_GT(g_refused_starts, 0);
  }
}

} // namespace
