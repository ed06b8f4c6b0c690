#include "staging/staging.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>

#include "platform/platform.h"
#include "unit/scoped_variable.h"

namespace {

namespace fs = std::filesystem;

// The program's own form of a host path: backslash separators.
std::string program_path(const fs::path &path) {
  std::string text = path.string();
  std::replace(text.begin(), text.end(), '/', '\\');
  return text;
}

void write_file(const fs::path &path, const std::string &content) {
  fs::create_directories(path.parent_path());
  std::ofstream(path, std::ios::binary) << content;
}

// Every entry below ROOT, relative, folders with a trailing '/', sorted.
std::vector<std::string> listing(const fs::path &root) {
  std::vector<std::string> entries;
  for (const auto &entry : fs::recursive_directory_iterator(root))
    entries.push_back(fs::relative(entry.path(), root).generic_string() +
                      (entry.is_directory() && !entry.is_symlink() ? "/" : ""));
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
    return VersionEntry{text, program_path(root_ / "ws" / file), std::nullopt, std::nullopt};
  }

  std::string staged(const std::string &version_text) const {
    return g_settings.staging_folder + version_text;
  }

  // Runs the staging loop at DEBUG_LEVEL and returns what it printed.
  std::string stage(VersionTable &versions, int debug_level, int expected_copies,
                    const PatternList &include = {}) {
    g_settings.debug_level = debug_level;
    testing::internal::CaptureStdout();
    EXPECT_EQ(stage_files(versions, include, PatternList{}), expected_copies);
    g_settings.debug_level = 0;
    return testing::internal::GetCapturedStdout();
  }

  fs::path root_;
  RunSettings saved_;
};

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

TEST_F(Staging, CreatesItsFolderOnceUnderTemp) {
  std::string temp = program_path(root_ / "temp");
  fs::create_directories(root_ / "temp");
  ScopedVariable temp_variable("TEMP", temp);

  std::string name = "tvk" + std::to_string(platform::process_id()) + ".tmp";
  ASSERT_TRUE(create_staging_folder());
  EXPECT_EQ(g_settings.staging_folder, temp + "\\" + name);
  EXPECT_TRUE(fs::is_directory(root_ / "temp" / name));
  // A folder of the same name left by an earlier run is a failure.
  EXPECT_FALSE(create_staging_folder());
  std::string too_long = temp + "\\" + std::string(1100, 'n');
  temp_variable.set(too_long);
  EXPECT_FALSE(create_staging_folder());
  EXPECT_EQ(listing(root_ / "temp").size(), 1u);
}

TEST(LeadsOutside, FindsParentComponentsOnly) {
  const std::pair<const char *, bool> rows[] = {
      {"\\src\\a.c", false}, {"\\..\\a.c", true},    {"\\src\\..\\..\\a.c", true},
      {"..\\a.c", true},     {"\\src\\..", true},    {"..", true},
      {"\\a/../../b", true}, {"\\a\\..b\\c", false}, {"\\a\\b..\\c", false},
      {"\\...\\c", false},   {"\\.\\c", false},      {"\\a\\\\..\\\\", true},
  };
  for (const auto &[version, outside] : rows)
    EXPECT_EQ(leads_outside_staging_folder(version), outside) << version;
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
  EXPECT_FALSE(ensure_folder(g_settings.staging_folder + "\\plain\\sub\\deeper"));
  // Without a backslash a missing parent cannot be climbed to.
  EXPECT_FALSE(ensure_folder((root_ / "missing").generic_string() + "/child"));
  EXPECT_FALSE(fs::exists(root_ / "missing"));
}

TEST_F(Staging, SkipsUnselectedVersionsButStillNamesTheirStagedPath) {
  VersionTable versions = {version("\\p\\a.c", "a.c"), version("\\..\\b.c", "b.c")};
  // An include list whose one entry never matches selects nothing.
  PatternList nothing;
  nothing.push_back(PatternEntry{"never", nullptr});
  EXPECT_EQ(stage(versions, 1, 0, nothing),
            "Skipping '\\p\\a.c'\nSkipping '\\..\\b.c'\n0 files copied\n");
  EXPECT_EQ(versions[0].staged_path.value_or(""), staged("\\p\\a.c"));
  EXPECT_FALSE(versions[0].copy.has_value());
  EXPECT_TRUE(listing(root_ / "stage").empty());
  EXPECT_EQ(g_settings.error_count, 0);
}

TEST_F(Staging, RefusesVersionsThatClimbOutAndStops) {
  VersionTable versions = {version("\\ok.c", "ok.c"), version("\\..\\escape.c", "e.c"),
                           version("\\later.c", "later.c")};
  EXPECT_EQ(stage(versions, 1, 1),
            "ERROR: version '\\..\\escape.c' leads outside the staging folder\n1 files copied\n");
  EXPECT_EQ(g_settings.error_count, 1);
  EXPECT_FALSE(fs::exists(root_ / "escape.c"));
  EXPECT_EQ(listing(root_ / "stage"), std::vector<std::string>{"ok.c"});
}

// Versions leave a folder and come back to it, go deeper and up again, or
// name folders that only share the start of their names: every copy lands
// at its own place.
TEST_F(Staging, CopiesLandInTheirFoldersWhateverTheOrder) {
  const std::vector<std::vector<std::string>> rows = {
      {"\\p\\a.c", "\\p\\b.c", "\\q\\c.c", "\\p\\d.c", "\\p\\s\\e.c", "\\p\\f.c"},
      {"\\p\\a.c", "\\pq\\b.c", "\\p\\q\\c.c", "\\pq\\d.c", "\\e.c", "\\p\\f.c"},
  };
  for (const std::vector<std::string> &texts : rows) {
    fs::remove_all(root_ / "stage");
    fs::create_directories(root_ / "stage");
    VersionTable versions;
    std::vector<std::string> expected;
    for (const std::string &text : texts) {
      std::string name = text.substr(text.rfind('\\') + 1);
      versions.push_back(version(text, name, "content of " + name));
      std::string relative = text.substr(1);
      std::replace(relative.begin(), relative.end(), '\\', '/');
      expected.push_back(relative);
    }
    stage(versions, 0, static_cast<int>(texts.size()));
    EXPECT_EQ(g_settings.error_count, 0);
    for (const std::string &relative : expected) {
      std::string name = relative.substr(relative.rfind('/') + 1);
      std::ifstream copy(root_ / "stage" / relative, std::ios::binary);
      std::string content((std::istreambuf_iterator<char>(copy)), {});
      EXPECT_EQ(content, "content of " + name) << relative;
    }
  }
}

TEST_F(Staging, RemovalDeletesOnlyThisRunsCopies) {
  VersionTable versions = {version("\\p\\a.c", "a.c"), version("\\p\\q\\b.c", "b.c"),
                           version("\\r\\c.c", "c.c")};
  stage(versions, 0, 3);
  // What the checker leaves, and a file no copy of this run made, stay.
  write_file(root_ / "stage" / "r" / "report.txt", "checker output");
  write_file(root_ / "stage" / "p" / "foreign.c", "not ours");
  versions.push_back(VersionEntry{"\\p\\foreign.c", program_path(root_ / "ws" / "a.c"),
                                  staged("\\p\\foreign.c"), std::nullopt});
  remove_staged_copies(versions);
  EXPECT_EQ(listing(root_ / "stage"),
            (std::vector<std::string>{"p/", "p/foreign.c", "r/", "r/report.txt"}));
  EXPECT_TRUE(fs::exists(root_ / "ws" / "a.c"));

  // With nothing else left, the whole tree goes, empty folders included.
  fs::remove_all(root_ / "stage");
  fs::create_directories(root_ / "stage" / "empty" / "deeper");
  versions = {version("\\p\\a.c", "a.c")};
  stage(versions, 0, 1);
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

} // namespace
