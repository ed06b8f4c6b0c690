#include "driver/reconcile.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "driver/diagnostics.h"

namespace {

namespace fs = std::filesystem;
using platform::PathKind;

// Test paths name their kind by their first letter: M is missing, D a
// directory, anything else an ordinary file.
PathKind kind_by_first_letter(const char *path) {
  if (path[0] == 'M')
    return PathKind::Missing;
  if (path[0] == 'D')
    return PathKind::Directory;
  return PathKind::File;
}

// The straightforward pairing: every backslash tail of the file against
// every version in table order. Quadratic, kept as the reference that the
// indexed pairing must reproduce message for message.
bool plain_version_matches_suffix(const char *suffix, VersionEntry &entry) {
  std::size_t length = std::strlen(suffix);
  if (length > entry.version.size())
    return false;
  if (entry.version.compare(entry.version.size() - length, length, suffix) != 0)
    return false;
  if (!entry.matched_file)
    return true;
  std::printf("ERROR: Version '%s' has multiple matches:\n\t%s\t%s", entry.version.c_str(),
              entry.matched_file->c_str(), suffix);
  ++g_settings.error_count;
  return false;
}

void plain_reconcile(const FileList &files, VersionTable &versions, PathKindQuery path_kind) {
  for (const std::string &file : files) {
    PathKind kind = path_kind(file.c_str());
    if (kind == PathKind::Missing) {
      std::printf("WARNING: Skipping non-existant file '%s'\n", file.c_str());
      continue;
    }
    if (kind == PathKind::Directory) {
      std::printf("WARNING: Skipping directory '%s'\n", file.c_str());
      continue;
    }
    bool matched = false;
    for (std::size_t at = 0; at < file.size() && !matched; ++at) {
      if (file[at] != '\\')
        continue;
      for (VersionEntry &entry : versions) {
        if (plain_version_matches_suffix(file.c_str() + at, entry)) {
          entry.matched_file = file;
          log_debug2("version '%s' matches file '%s'", entry.version.c_str(), file.c_str());
          matched = true;
          break;
        }
      }
    }
    if (!matched)
      log_error("ERROR: file '%s' does not match any version\n", file.c_str());
  }
  for (const VersionEntry &entry : versions) {
    if (!entry.matched_file)
      log_error("ERROR: version '%s' does not match any file\n", entry.version.c_str());
  }
}

VersionTable table_of(const std::vector<std::string> &texts) {
  VersionTable versions;
  for (const std::string &text : texts)
    versions.push_back(VersionEntry{text, std::nullopt, std::nullopt, false});
  return versions;
}

struct Outcome {
  std::string output;
  int errors = 0;
  std::vector<std::string> matches; // matched file per version, "-" for none
};

template <typename Reconcile>
Outcome outcome_of(const FileList &files, const std::vector<std::string> &texts, int debug_level,
                   Reconcile reconcile) {
  VersionTable versions = table_of(texts);
  g_settings.error_count = 0;
  g_settings.debug_level = debug_level;
  testing::internal::CaptureStdout();
  reconcile(files, versions);
  Outcome outcome;
  outcome.output = testing::internal::GetCapturedStdout();
  outcome.errors = g_settings.error_count;
  for (const VersionEntry &entry : versions)
    outcome.matches.push_back(entry.matched_file.value_or("-"));
  g_settings.error_count = 0;
  g_settings.debug_level = 0;
  return outcome;
}

Outcome indexed(const FileList &files, const std::vector<std::string> &texts, int debug = 2) {
  return outcome_of(files, texts, debug, [](const FileList &f, VersionTable &v) {
    reconcile_files_with(f, v, kind_by_first_letter);
  });
}

Outcome plain(const FileList &files, const std::vector<std::string> &texts, int debug = 2) {
  return outcome_of(files, texts, debug, [](const FileList &f, VersionTable &v) {
    plain_reconcile(f, v, kind_by_first_letter);
  });
}

struct Case {
  const char *name;
  std::vector<std::string> files;
  std::vector<std::string> versions;
  std::string output; // at debug level 0
  int errors;
  std::vector<std::string> matches;
};

const Case kCases[] = {
    {"longest tail first", {"W:\\ws\\proj\\a.c"}, {"\\proj\\a.c"}, "", 0, {"W:\\ws\\proj\\a.c"}},
    {"version need not begin with a backslash",
     {"W:\\ws\\proj\\a.c"},
     {"x\\proj\\a.c"},
     "",
     0,
     {"W:\\ws\\proj\\a.c"}},
    {"version without backslash never matches",
     {"W:\\ws\\a.c"},
     {"a.c"},
     "ERROR: file 'W:\\ws\\a.c' does not match any version\n"
     "ERROR: version 'a.c' does not match any file\n",
     2,
     {"-"}},
    {"second file on a taken version",
     {"W:\\one\\b.c", "W:\\two\\b.c"},
     {"\\b.c"},
     "ERROR: Version '\\b.c' has multiple matches:\n\tW:\\one\\b.c\t\\b.c"
     "ERROR: file 'W:\\two\\b.c' does not match any version\n",
     2,
     {"W:\\one\\b.c"}},
    {"one ambiguity per matching tail, even when a version is found",
     {"W:\\p\\q\\b.c", "W:\\r\\q\\b.c"},
     {"\\q\\b.c", "\\b.c", "\\x\\b.c"},
     "ERROR: Version '\\q\\b.c' has multiple matches:\n\tW:\\p\\q\\b.c\t\\q\\b.c"
     "ERROR: Version '\\q\\b.c' has multiple matches:\n\tW:\\p\\q\\b.c\t\\b.c"
     "ERROR: version '\\x\\b.c' does not match any file\n",
     3,
     {"W:\\p\\q\\b.c", "W:\\r\\q\\b.c", "-"}},
    {"every taken version reported, then nothing matches",
     {"W:\\p\\q\\b.c", "W:\\r\\b.c", "W:\\s\\q\\b.c"},
     {"\\q\\b.c", "\\b.c"},
     "ERROR: Version '\\q\\b.c' has multiple matches:\n\tW:\\p\\q\\b.c\t\\b.c"
     "ERROR: Version '\\q\\b.c' has multiple matches:\n\tW:\\p\\q\\b.c\t\\q\\b.c"
     "ERROR: Version '\\q\\b.c' has multiple matches:\n\tW:\\p\\q\\b.c\t\\b.c"
     "ERROR: Version '\\b.c' has multiple matches:\n\tW:\\r\\b.c\t\\b.c"
     "ERROR: file 'W:\\s\\q\\b.c' does not match any version\n",
     5,
     {"W:\\p\\q\\b.c", "W:\\r\\b.c"}},
    {"same text twice takes the second after reporting the first",
     {"W:\\a\\b.c", "W:\\c\\b.c"},
     {"\\b.c", "\\b.c"},
     "ERROR: Version '\\b.c' has multiple matches:\n\tW:\\a\\b.c\t\\b.c",
     1,
     {"W:\\a\\b.c", "W:\\c\\b.c"}},
    {"file listed twice",
     {"W:\\a\\b.c", "W:\\a\\b.c"},
     {"\\a\\b.c"},
     "ERROR: Version '\\a\\b.c' has multiple matches:\n\tW:\\a\\b.c\t\\a\\b.c"
     "ERROR: Version '\\a\\b.c' has multiple matches:\n\tW:\\a\\b.c\t\\b.c"
     "ERROR: file 'W:\\a\\b.c' does not match any version\n",
     3,
     {"W:\\a\\b.c"}},
    {"path without backslash",
     {"b.c"},
     {},
     "ERROR: file 'b.c' does not match any version\n",
     1,
     {}},
    {"missing file only warned, its version reported",
     {"M:\\gone\\a.c"},
     {"\\gone\\a.c"},
     "WARNING: Skipping non-existant file 'M:\\gone\\a.c'\n"
     "ERROR: version '\\gone\\a.c' does not match any file\n",
     1,
     {"-"}},
    {"directory only warned",
     {"D:\\src", "W:\\src\\a.c"},
     {"\\src\\a.c"},
     "WARNING: Skipping directory 'D:\\src'\n",
     0,
     {"W:\\src\\a.c"}},
    {"letter case matters",
     {"W:\\src\\a.c"},
     {"\\src\\A.c"},
     "ERROR: file 'W:\\src\\a.c' does not match any version\n"
     "ERROR: version '\\src\\A.c' does not match any file\n",
     2,
     {"-"}},
    {"nothing at all", {}, {}, "", 0, {}},
    {"versions without files, in table order",
     {},
     {"\\b", "\\a"},
     "ERROR: version '\\b' does not match any file\n"
     "ERROR: version '\\a' does not match any file\n",
     2,
     {"-", "-"}},
    {"tail must end the version, not merely occur in it",
     {"W:\\a.c"},
     {"\\a.c\\x"},
     "ERROR: file 'W:\\a.c' does not match any version\n"
     "ERROR: version '\\a.c\\x' does not match any file\n",
     2,
     {"-"}},
    {"longer tail wins over an earlier shorter version",
     {"W:\\p\\a.c"},
     {"\\a.c", "\\p\\a.c"},
     "ERROR: version '\\a.c' does not match any file\n",
     1,
     {"-", "W:\\p\\a.c"}},
};

TEST(Reconcile, EdgeCases) {
  for (const Case &c : kCases) {
    EXPECT_EQ(plain(c.files, c.versions, 0).output, c.output) << "reference: " << c.name;
    Outcome got = indexed(c.files, c.versions, 0);
    EXPECT_EQ(got.output, c.output) << c.name;
    EXPECT_EQ(got.errors, c.errors) << c.name;
    EXPECT_EQ(got.matches, c.matches) << c.name;
  }
}

TEST(Reconcile, AnnouncesEachPairingAtDebugLevelTwo) {
  Outcome got = indexed({"W:\\p\\a.c"}, {"\\p\\a.c"}, 2);
  EXPECT_EQ(got.output, "version '\\p\\a.c' matches file 'W:\\p\\a.c'\n");
  EXPECT_EQ(indexed({"W:\\p\\a.c"}, {"\\p\\a.c"}, 1).output, "");
}

// Random commits over a small alphabet of folder names, so that tails,
// duplicates and ambiguities are frequent.
std::string random_path(std::mt19937 &random, bool as_file) {
  static const char *const kParts[] = {"a", "b", "src", "a.c", "", "x y"};
  std::string path;
  if (as_file) {
    static const char *const kRoots[] = {"W:", "M:", "D:", "", "w"};
    path = kRoots[random() % 5];
  } else if (random() % 4 == 0) {
    path = kParts[random() % 6];
  }
  int depth = static_cast<int>(random() % 4);
  for (int i = 0; i < depth; ++i)
    path += std::string("\\") + kParts[random() % 6];
  return path;
}

struct Commit {
  FileList files;
  std::vector<std::string> versions;
};

Commit random_commit(std::mt19937 &random) {
  Commit commit;
  int file_count = static_cast<int>(random() % 7);
  int version_count = static_cast<int>(random() % 7);
  for (int i = 0; i < file_count; ++i)
    commit.files.push_back(random() % 5 == 0 && !commit.files.empty()
                               ? commit.files[random() % commit.files.size()]
                               : random_path(random, true));
  for (int i = 0; i < version_count; ++i) {
    if (random() % 5 == 0 && !commit.versions.empty()) {
      commit.versions.push_back(commit.versions[random() % commit.versions.size()]);
    } else if (random() % 2 == 0 && !commit.files.empty()) {
      // A tail of a committed file, so that pairings are common.
      const std::string &file = commit.files[random() % commit.files.size()];
      std::size_t at = file.find('\\', random() % (file.size() + 1));
      commit.versions.push_back(at == std::string::npos ? file : file.substr(at));
    } else {
      commit.versions.push_back(random_path(random, false));
    }
  }
  return commit;
}

// What a block of commits printed (each headed by its number), and the
// error count and pairings of each.
struct BlockOutcome {
  std::string output;
  std::vector<std::pair<int, std::vector<std::string>>> results;
};

BlockOutcome run_block(const std::vector<Commit> &commits, std::size_t first,
                       void (*reconcile)(const FileList &, VersionTable &)) {
  BlockOutcome block;
  g_settings.debug_level = 2;
  testing::internal::CaptureStdout();
  for (std::size_t i = first; i < commits.size() && i < first + 250; ++i) {
    std::printf("\n#%zu\n", i);
    VersionTable versions = table_of(commits[i].versions);
    g_settings.error_count = 0;
    reconcile(commits[i].files, versions);
    std::vector<std::string> matches;
    for (const VersionEntry &entry : versions)
      matches.push_back(entry.matched_file.value_or("-"));
    block.results.emplace_back(g_settings.error_count, matches);
  }
  block.output = testing::internal::GetCapturedStdout();
  g_settings.debug_level = 0;
  g_settings.error_count = 0;
  return block;
}

TEST(Reconcile, IndexAgreesWithPlainScanOnRandomCommits) {
  std::mt19937 random(20261206);
  std::vector<Commit> commits;
  for (int i = 0; i < 4000; ++i)
    commits.push_back(random_commit(random));
  auto fast = [](const FileList &f, VersionTable &v) {
    reconcile_files_with(f, v, kind_by_first_letter);
  };
  auto reference = [](const FileList &f, VersionTable &v) {
    plain_reconcile(f, v, kind_by_first_letter);
  };
  int ambiguous = 0;
  int clean = 0;
  int paired = 0;
  for (std::size_t first = 0; first < commits.size(); first += 250) {
    BlockOutcome got = run_block(commits, first, fast);
    BlockOutcome expected = run_block(commits, first, reference);
    ASSERT_EQ(got.output, expected.output);
    ASSERT_EQ(got.results, expected.results) << "block from " << first;
    for (const auto &[errors, matches] : got.results) {
      clean += errors == 0 && !matches.empty();
      for (const std::string &match : matches)
        paired += match != "-";
    }
    for (std::size_t at = got.output.find("multiple"); at != std::string::npos;
         at = got.output.find("multiple", at + 1))
      ++ambiguous;
  }
  // The generator must reach both kinds of commit to prove anything.
  EXPECT_GT(ambiguous, 300);
  EXPECT_GT(clean, 20);
  EXPECT_GT(paired, 2000);
}

// With real files the status query decides: missing, directory, file.
TEST(Reconcile, AsksTheFileSystem) {
  fs::path root =
      fs::temp_directory_path() /
      ("tvk-reconcile-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()));
  fs::create_directories(root / "ws" / "dir");
  std::ofstream(root / "ws" / "a.c") << "int a;\n";
  std::string base = root.string();
  for (char &c : base) {
    if (c == '/')
      c = '\\';
  }
  std::string file = base + "\\ws\\a.c";
  std::string folder = base + "\\ws\\dir";
  std::string missing = base + "\\ws\\gone.c";
  VersionTable versions = table_of({"\\ws\\a.c"});
  g_settings.error_count = 0;
  testing::internal::CaptureStdout();
  reconcile_files({file, folder, missing}, versions);
  std::string output = testing::internal::GetCapturedStdout();
  EXPECT_EQ(output, "WARNING: Skipping directory '" + folder +
                        "'\nWARNING: Skipping non-existant file '" + missing + "'\n");
  EXPECT_EQ(g_settings.error_count, 0);
  EXPECT_EQ(versions[0].matched_file.value_or("-"), file);
  fs::remove_all(root);
}

} // namespace
