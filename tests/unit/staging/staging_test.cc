// The staging rules that the end-to-end runs cannot reach: the length limit
// of the folder's path, the folder left by an earlier run, and every form of
// a version that climbs out.
#include "staging/staging.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>

#include "platform/platform.h"
#include "unit/scoped_variable.h"

namespace {

namespace fs = std::filesystem;

TEST(StagingFolderPath, IsFormedFromTempAndProcessId) {
  std::string path;
  ASSERT_TRUE(form_staging_folder_path("C:\\Temp", 4242, &path));
  EXPECT_EQ(path, "C:\\Temp\\tvk4242.tmp");
  // "\tvk7.tmp" adds 9 characters; the field holds 1,023 and a NUL.
  ASSERT_TRUE(form_staging_folder_path(std::string(1014, 't'), 7, &path));
  EXPECT_EQ(path.size(), 1023u);
  path = "untouched";
  EXPECT_FALSE(form_staging_folder_path(std::string(1015, 't'), 7, &path));
  EXPECT_EQ(path, "untouched");
}

// A folder of the same name left by an earlier run is a failure.
TEST(StagingFolderPath, IsCreatedOnce) {
  fs::path root =
      fs::temp_directory_path() / ("tvk-staging-" + std::to_string(platform::process_id()));
  fs::create_directories(root);
  std::string temp = root.string();
  std::replace(temp.begin(), temp.end(), '/', '\\');
  ScopedVariable temp_variable("TEMP", temp);
  RunSettings saved = g_settings;
  ASSERT_TRUE(create_staging_folder());
  EXPECT_EQ(g_settings.staging_folder,
            temp + "\\tvk" + std::to_string(platform::process_id()) + ".tmp");
  EXPECT_FALSE(create_staging_folder());
  g_settings = saved;
  fs::remove_all(root);
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

} // namespace
