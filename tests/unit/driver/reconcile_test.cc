#include "driver/reconcile.h"

#include <gtest/gtest.h>

#include <algorithm>
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

void model_reconcile(const FileList &files, VersionTable &versions) {
  reconcile_test::model_reconcile_with(files, versions, kind_by_first_letter);
}

void indexed_reconcile(const FileList &files, VersionTable &versions) {
  reconcile_files_with(files, versions, kind_by_first_letter);
}

// A machine that cannot start one more thread: the caller must query the
// helpers' slices itself.
int g_refused_starts = 0;
platform::Status refuse_thread(platform::ThreadRoutine, void *, platform::Thread *) {
  ++g_refused_starts;
  return platform::Status::failure(11); // EAGAIN
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
    // A file at the root and one of the same name below it pair with their
    // own versions in every order of the lines, also three levels deep and
    // under a workspace root named unlike the repository's.
    {{"W:\\ws\\build.xml", "W:\\ws\\app\\build.xml"},
     {"\\r\\app\\build.xml", "\\r\\build.xml"},
     "",
     {0, {"W:\\ws\\app\\build.xml", "W:\\ws\\build.xml"}}},
    {{"W:\\ws\\app\\build.xml", "W:\\ws\\build.xml"},
     {"\\r\\app\\build.xml", "\\r\\build.xml"},
     "",
     {0, {"W:\\ws\\app\\build.xml", "W:\\ws\\build.xml"}}},
    {{"W:\\u\\p3\\__init__.py", "W:\\u\\p3\\x\\__init__.py", "W:\\u\\p3\\x\\y\\__init__.py"},
     {"\\p\\x\\y\\__init__.py", "\\p\\x\\__init__.py", "\\p\\__init__.py"},
     "",
     {0, {"W:\\u\\p3\\x\\y\\__init__.py", "W:\\u\\p3\\x\\__init__.py", "W:\\u\\p3\\__init__.py"}}},
    // Two versions a file could equally take, one of which another file
    // could take as well: a tie, so the search decides and reports.
    {{"W:\\x\\b.c", "W:\\y\\b.c"},
     {"\\r\\x\\b.c", "\\s\\x\\b.c"},
     "ERROR: Version '\\r\\x\\b.c' has multiple matches:\n\tW:\\x\\b.c\t\\b.c",
     {1, {"W:\\x\\b.c", "W:\\y\\b.c"}}},
};

TEST(Reconcile, EdgeCases) {
  for (const Case &c : kCases) {
    Result got;
    EXPECT_EQ(output_of(model_reconcile, c.files, c.versions, 0, &got), c.output) << "reference";
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

// A commit of distinct files, each with a version named from one of its
// tails under another root, in shuffled order: names repeat at different
// depths, so the search alone often pairs a file with another's version.
void paired_commit(std::mt19937 &random, FileList *files, std::vector<std::string> *versions) {
  for (int i = static_cast<int>(random() % 6) + 1; i > 0; --i) {
    std::string file = "W:" + random_path(random, false) + "\\a.c";
    if (std::find(files->begin(), files->end(), file) != files->end())
      continue;
    files->push_back(file);
    std::size_t at = file.find('\\', random() % (file.size() - 3));
    versions->push_back("\\r" + file.substr(at));
  }
  std::shuffle(versions->begin(), versions->end(), random);
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

// On random commits the run pairs as the model does, message for message;
// and wherever the search alone succeeds, the one-to-one pairing is the
// pairing it found, so such commits are paired exactly as before.
TEST(Reconcile, IndexAgreesWithTheModelOnRandomCommits) {
  std::mt19937 random(20261206);
  std::vector<Commit> commits(4000);
  for (std::size_t i = 0; i < commits.size(); ++i)
    (i % 2 == 0 ? random_commit : paired_commit)(random, &commits[i].first, &commits[i].second);
  std::vector<Result> got, expected, searched;
  std::string output = reconcile_all(indexed_reconcile, commits, &got);
  ASSERT_EQ(output, reconcile_all(model_reconcile, commits, &expected));
  ASSERT_EQ(got, expected);
  reconcile_all(plain_reconcile, commits, &searched);
  int ambiguous = 0, clean = 0, paired = 0, rescued = 0;
  for (std::size_t i = 0; i < got.size(); ++i) {
    if (searched[i].first == 0) {
      EXPECT_EQ(got[i], searched[i]) << "commit " << i;
    }
    rescued += searched[i].first > 0 && got[i].first == 0;
    clean += got[i].first == 0 && !got[i].second.empty();
    for (const std::string &match : got[i].second)
      paired += match != "-";
  }
  for (std::size_t at = output.find("multiple"); at != std::string::npos;
       at = output.find("multiple", at + 1))
    ++ambiguous;
  // The generator must reach every kind of commit to prove anything.
  EXPECT_GT(ambiguous, 300);
  EXPECT_GT(clean, 20);
  EXPECT_GT(rescued, 100);
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
