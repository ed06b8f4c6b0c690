#include "staging/staging.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>

#include "platform/platform.h"

namespace {

namespace fs = std::filesystem;

// The program's own form of a host path: backslash separators.
std::string program_path(const fs::path &path) {
  std::string text = path.string();
  for (char &c : text) {
    if (c == '/')
      c = '\\';
  }
  return text;
}

std::string read_file(const fs::path &path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream content;
  content << in.rdbuf();
  return content.str();
}

void write_file(const fs::path &path, const std::string &content) {
  fs::create_directories(path.parent_path());
  std::ofstream(path, std::ios::binary) << content;
}

// Every entry below ROOT, relative, folders with a trailing '/', sorted.
std::vector<std::string> listing(const fs::path &root) {
  std::vector<std::string> entries;
  for (const auto &entry : fs::recursive_directory_iterator(root)) {
    std::string name = fs::relative(entry.path(), root).generic_string();
    if (entry.is_directory() && !entry.is_symlink())
      name += "/";
    entries.push_back(name);
  }
  std::sort(entries.begin(), entries.end());
  return entries;
}

class Staging : public testing::Test {
protected:
  void SetUp() override {
    static int serial = 0;
    root_ = fs::temp_directory_path() / ("tvk-staging-" + std::to_string(platform::process_id()) +
                                         "-" + std::to_string(++serial));
    fs::remove_all(root_);
    fs::create_directories(root_ / "ws");
    fs::create_directories(root_ / "stage");
    saved_ = g_settings;
    g_settings.staging_folder = program_path(root_ / "stage");
    g_settings.error_count = 0;
    g_settings.debug_level = 0;
  }
  void TearDown() override {
    g_settings = saved_;
    std::error_code ignored;
    fs::remove_all(root_, ignored);
  }

  // A workspace file and its version entry, matched as reconciliation
  // would leave it.
  VersionEntry version(const std::string &text, const std::string &file,
                       const std::string &content = "data") {
    write_file(root_ / "ws" / file, content);
    return VersionEntry{text, program_path(root_ / "ws" / file), std::nullopt, false};
  }

  std::string staged(const std::string &version_text) const {
    return g_settings.staging_folder + version_text;
  }

  // Runs the staging loop at DEBUG_LEVEL and returns what it printed.
  std::string stage(VersionTable &versions, int debug_level, int *copied,
                    const PatternList &include = {}) {
    g_settings.debug_level = debug_level;
    testing::internal::CaptureStdout();
    *copied = stage_files(versions, include, PatternList{});
    std::string output = testing::internal::GetCapturedStdout();
    g_settings.debug_level = 0;
    return output;
  }

  fs::path root_;
  RunSettings saved_;
};

// An include list that selects nothing: its one entry never matches.
PatternList select_nothing() {
  PatternList list;
  list.push_back(PatternEntry{"never", nullptr});
  return list;
}

TEST(StagingFolderPath, IsFormedFromTempAndProcessId) {
  std::string path;
  ASSERT_TRUE(form_staging_folder_path("C:\\Temp", 4242, &path));
  EXPECT_EQ(path, "C:\\Temp\\tvk4242.tmp");
  // "\tvk7.tmp" adds 9 characters; the field holds 1,023 and a NUL.
  ASSERT_TRUE(form_staging_folder_path(std::string(1014, 't'), 7, &path));
  EXPECT_EQ(path.size(), 1023u);
  path = "untouched";
  EXPECT_FALSE(form_staging_folder_path(std::string(1015, 't'), 7, &path));
  EXPECT_FALSE(form_staging_folder_path(std::string(5000, 't'), 7, &path));
  EXPECT_EQ(path, "untouched");
}

// Restores TEMP as it was, also when it was unset.
class SavedTemp {
public:
  SavedTemp() {
    const char *value = std::getenv("TEMP");
    if (value != nullptr)
      value_ = value;
  }
  ~SavedTemp() {
    if (value_) {
      platform::set_environment("TEMP", value_->c_str());
      return;
    }
#ifdef _WIN32
    _putenv("TEMP=");
#else
    unsetenv("TEMP");
#endif
  }

private:
  std::optional<std::string> value_;
};

TEST_F(Staging, CreatesItsFolderOnceUnderTemp) {
  SavedTemp saved_temp;
  std::string temp = program_path(root_ / "temp");
  fs::create_directories(root_ / "temp");
  platform::set_environment("TEMP", temp.c_str());
  g_settings.staging_folder.clear();

  ASSERT_TRUE(create_staging_folder());
  std::string expected = temp + "\\tvk" + std::to_string(platform::process_id()) + ".tmp";
  EXPECT_EQ(g_settings.staging_folder, expected);
  EXPECT_TRUE(
      fs::is_directory(root_ / "temp" / ("tvk" + std::to_string(platform::process_id()) + ".tmp")));
  // A folder of the same name left by an earlier run is a failure.
  EXPECT_FALSE(create_staging_folder());

  std::string missing = program_path(root_ / "no-such-temp");
  platform::set_environment("TEMP", missing.c_str());
  EXPECT_FALSE(create_staging_folder());

  std::string too_long = program_path(root_ / "temp") + "\\" + std::string(1100, 'n');
  platform::set_environment("TEMP", too_long.c_str());
  EXPECT_FALSE(create_staging_folder());
  EXPECT_EQ(listing(root_ / "temp").size(), 1u);
}

TEST(LeadsOutside, FindsParentComponentsOnly) {
  struct Row {
    const char *version;
    bool outside;
  };
  const Row rows[] = {
      {"\\src\\a.c", false}, {"\\..\\a.c", true},     {"\\src\\..\\..\\a.c", true},
      {"..\\a.c", true},     {"\\src\\..", true},     {"..", true},
      {"\\a/../../b", true}, {"\\a\\..b\\c", false},  {"\\a\\b..\\c", false},
      {"\\...\\c", false},   {"\\.\\c", false},       {"", false},
      {"\\a..", false},      {"\\a\\\\..\\\\", true}, {"\\src/..", true},
  };
  for (const Row &row : rows)
    EXPECT_EQ(leads_outside_staging_folder(row.version), row.outside) << row.version;
}

TEST_F(Staging, EnsureFolderCreatesMissingAncestorsTopDown) {
  std::string deep = g_settings.staging_folder;
  for (int i = 0; i < 40; ++i)
    deep += "\\d" + std::to_string(i);
  EXPECT_TRUE(ensure_folder(deep));
  EXPECT_TRUE(fs::is_directory(root_ / "stage" / "d0" / "d1" / "d2"));
  EXPECT_EQ(platform::path_kind(deep.c_str()), platform::PathKind::Directory);
  // Existing folders and files of that name count as present.
  EXPECT_TRUE(ensure_folder(deep));
  write_file(root_ / "stage" / "plain", "x");
  EXPECT_TRUE(ensure_folder(g_settings.staging_folder + "\\plain"));
}

TEST_F(Staging, EnsureFolderFailsWhereNoFolderCanBe) {
  write_file(root_ / "stage" / "plain", "x");
  EXPECT_FALSE(ensure_folder(g_settings.staging_folder + "\\plain\\sub\\deeper"));
  // Without a backslash a missing parent cannot be climbed to.
  std::string slashed = (root_ / "missing").generic_string() + "/child";
  EXPECT_FALSE(ensure_folder(slashed));
  EXPECT_FALSE(fs::exists(root_ / "missing"));
  EXPECT_FALSE(ensure_folder("missing-parent-zz/child"));
}

TEST_F(Staging, CopiesEverySelectedFileToItsVersionPath) {
  VersionTable versions = {version("\\p\\a.c", "a.c", "alpha"),
                           version("\\p\\q\\b.c", "sub/b.c", "beta")};
  int copied = 0;
  std::string output = stage(versions, 2, &copied);
  EXPECT_EQ(copied, 2);
  EXPECT_EQ(output, "copy '" + *versions[0].matched_file + "' to '" + staged("\\p\\a.c") +
                        "'\n\ncopy '" + *versions[1].matched_file + "' to '" +
                        staged("\\p\\q\\b.c") + "'\n\n2 files copied\n");
  EXPECT_EQ(read_file(root_ / "stage" / "p" / "a.c"), "alpha");
  EXPECT_EQ(read_file(root_ / "stage" / "p" / "q" / "b.c"), "beta");
  EXPECT_TRUE(versions[0].copied && versions[1].copied);
  EXPECT_EQ(versions[1].staged_path.value_or(""), staged("\\p\\q\\b.c"));
  EXPECT_EQ(g_settings.error_count, 0);
}

TEST_F(Staging, SkipsUnselectedVersionsButStillNamesTheirStagedPath) {
  VersionTable versions = {version("\\p\\a.c", "a.c"), version("\\..\\b.c", "b.c")};
  int copied = 0;
  std::string output = stage(versions, 1, &copied, select_nothing());
  EXPECT_EQ(output, "Skipping '\\p\\a.c'\nSkipping '\\..\\b.c'\n0 files copied\n");
  EXPECT_EQ(copied, 0);
  EXPECT_EQ(versions[0].staged_path.value_or(""), staged("\\p\\a.c"));
  EXPECT_FALSE(versions[0].copied);
  EXPECT_TRUE(listing(root_ / "stage").empty());
  EXPECT_EQ(g_settings.error_count, 0);
}

TEST_F(Staging, RefusesVersionsThatClimbOutAndStops) {
  VersionTable versions = {version("\\ok.c", "ok.c"), version("\\..\\escape.c", "e.c"),
                           version("\\later.c", "later.c")};
  int copied = 0;
  std::string output = stage(versions, 1, &copied);
  EXPECT_EQ(output,
            "ERROR: version '\\..\\escape.c' leads outside the staging folder\n1 files copied\n");
  EXPECT_EQ(copied, 1);
  EXPECT_EQ(g_settings.error_count, 1);
  EXPECT_FALSE(fs::exists(root_ / "escape.c"));
  EXPECT_EQ(listing(root_ / "stage"), std::vector<std::string>{"ok.c"});
}

TEST_F(Staging, FirstFailedCopyStopsTheLoop) {
  write_file(root_ / "stage" / "two.c", "already here");
  VersionTable versions = {version("\\one.c", "one.c"), version("\\two.c", "two.c"),
                           version("\\three.c", "three.c")};
  // The text the system gives for a destination that exists.
  std::string expected_text;
  EXPECT_FALSE(platform::copy_file(versions[1].matched_file->c_str(), staged("\\two.c").c_str(),
                                   &expected_text));
  int copied = 0;
  std::string output = stage(versions, 1, &copied);
  EXPECT_EQ(output, "ERROR: Failed to copy '" + *versions[1].matched_file + "' to '" +
                        staged("\\two.c") + "': " + expected_text + "\n1 files copied\n");
  EXPECT_EQ(copied, 1);
  EXPECT_EQ(g_settings.error_count, 1);
  EXPECT_EQ(read_file(root_ / "stage" / "two.c"), "already here");
  EXPECT_FALSE(fs::exists(root_ / "stage" / "three.c"));
  EXPECT_FALSE(versions[1].copied);
  EXPECT_FALSE(versions[2].staged_path.has_value());
}

TEST_F(Staging, RemovalDeletesOnlyThisRunsCopies) {
  VersionTable versions = {version("\\p\\a.c", "a.c"), version("\\p\\q\\b.c", "b.c"),
                           version("\\r\\c.c", "c.c")};
  int copied = 0;
  stage(versions, 0, &copied);
  ASSERT_EQ(copied, 3);
  // What the checker leaves, and a file no copy of this run made, stay.
  write_file(root_ / "stage" / "r" / "report.txt", "checker output");
  VersionEntry foreign{"\\p\\foreign.c", program_path(root_ / "ws" / "a.c"),
                       staged("\\p\\foreign.c"), false};
  write_file(root_ / "stage" / "p" / "foreign.c", "not ours");
  versions.push_back(foreign);

  remove_staged_copies(versions);
  EXPECT_EQ(listing(root_ / "stage"),
            (std::vector<std::string>{"p/", "p/foreign.c", "r/", "r/report.txt"}));
  EXPECT_TRUE(fs::exists(root_ / "ws" / "a.c"));
}

TEST_F(Staging, RemovalTakesTheWholeTreeWhenNothingElseIsLeft) {
  VersionTable versions = {version("\\p\\q\\a.c", "a.c")};
  int copied = 0;
  stage(versions, 0, &copied);
  fs::create_directories(root_ / "stage" / "empty" / "deeper");
  remove_staged_copies(versions);
  EXPECT_FALSE(fs::exists(root_ / "stage"));
  EXPECT_TRUE(fs::exists(root_ / "ws" / "a.c"));
}

TEST_F(Staging, RemovalNeverFollowsALinkToAFolder) {
  fs::create_directories(root_ / "outside" / "empty");
  std::error_code error;
  fs::create_directory_symlink(root_ / "outside", root_ / "stage" / "link", error);
  if (error)
    GTEST_SKIP() << "no folder links here: " << error.message();
  remove_folder_tree(g_settings.staging_folder);
  EXPECT_TRUE(fs::is_directory(root_ / "outside" / "empty"));
  EXPECT_TRUE(fs::is_symlink(root_ / "stage" / "link"));
}

TEST_F(Staging, WorkdirNamesTheStagingFolder) {
  set_workdir();
  const char *workdir = std::getenv("WORKDIR");
  ASSERT_NE(workdir, nullptr);
  EXPECT_EQ(workdir, platform::workdir_value(g_settings.staging_folder));
  EXPECT_EQ(platform::path_kind(workdir), platform::PathKind::Directory);
}

} // namespace
