// The staging loop of a large commit, whose copies are made ahead on a few
// threads: whatever stops the loop, it stops where the plain loop would,
// with the same message, and leaves exactly the copies the plain loop
// would have made.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "staging/bulk.h"
#include "staging/staging.h"

namespace {

namespace fs = std::filesystem;

std::string program_path(const fs::path &path) {
  std::string text = path.string();
  std::replace(text.begin(), text.end(), '/', '\\');
  return text;
}

// The regular files below ROOT, relative, sorted.
std::vector<std::string> files_below(const fs::path &root) {
  std::vector<std::string> files;
  for (const auto &entry : fs::recursive_directory_iterator(root))
    if (entry.is_regular_file())
      files.push_back(fs::relative(entry.path(), root).generic_string());
  std::sort(files.begin(), files.end());
  return files;
}

constexpr int kVersions = 2 * static_cast<int>(kCopiesPerThread);

enum class Stop { None, MissingSource, LeadsOutside, FolderTaken, SameFileTwice, FileForFolder };

struct Case {
  const char *name;
  Stop stop;
  int at; // the version that stops the loop
};

class BulkStaging : public testing::TestWithParam<Case> {
protected:
  void SetUp() override {
    root_ = fs::temp_directory_path() / ("tvk-bulk-" + std::to_string(platform::process_id()));
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

  // The version text of file I: "\\d<I/50>\\f<I>.c".
  static std::string name_of(int i) {
    std::string name = "\\d";
    name.append(std::to_string(i / 50)).append("\\f").append(std::to_string(i)).append(".c");
    return name;
  }

  // A commit of kVersions files in folders of 50, with the stop of CASE.
  VersionTable commit(const Case &c) {
    VersionTable versions;
    for (int i = 0; i < kVersions; ++i) {
      fs::path file = root_ / "ws" / std::to_string(i);
      std::ofstream(file, std::ios::binary) << i;
      std::string version = name_of(i);
      if (i == c.at && c.stop == Stop::MissingSource)
        fs::remove(file);
      if (i == c.at && c.stop == Stop::LeadsOutside)
        version.insert(0, std::string("\\.."));
      // Another text for a file copied earlier, late in the list, so that a
      // thread may well get to it first.
      if (i == c.at && c.stop == Stop::FolderTaken)
        version = "\\blocked\\sub\\f.c";
      // A file named like the folder of the versions from 50 on.
      if (i == c.at && c.stop == Stop::FileForFolder)
        version = "\\d1";
      if (i == c.at && c.stop == Stop::SameFileTwice)
        version = "\\d0\\.\\f3.c";
      versions.push_back(VersionEntry{version, program_path(file), std::nullopt, std::nullopt});
    }
    // A file where a folder has to be made.
    if (c.stop == Stop::FolderTaken)
      std::ofstream(root_ / "stage" / "blocked") << "not a folder";
    return versions;
  }

  fs::path root_;
  RunSettings saved_;
};

TEST_P(BulkStaging, StopsWhereThePlainLoopStops) {
  const Case &c = GetParam();
  VersionTable versions = commit(c);
  int expected = c.stop == Stop::None ? kVersions : c.stop == Stop::FileForFolder ? 50 : c.at;
  // Where the one part of the message not known here, the system's text,
  // starts.
  bool text_unknown = c.stop == Stop::SameFileTwice || c.stop == Stop::FileForFolder;
  g_settings.debug_level = 2; // a line for every copy, in list order
  testing::internal::CaptureStdout();
  EXPECT_EQ(stage_files(versions, {}, {}), expected);
  std::string printed = testing::internal::GetCapturedStdout();
  g_settings.debug_level = 0;

  const VersionEntry &stopper = versions[static_cast<std::size_t>(expected % kVersions)];
  std::string staged = g_settings.staging_folder + stopper.version;
  std::string message;
  switch (c.stop) {
  case Stop::None:
    break;
  case Stop::MissingSource:
    message = "ERROR: Failed to copy '" + *stopper.matched_file + "' to '" + staged +
              "': " + platform::error_text(platform::Status::failure(ENOENT)) + "\n";
    break;
  case Stop::LeadsOutside:
    message = "ERROR: version '" + stopper.version + "' leads outside the staging folder\n";
    break;
  case Stop::FolderTaken:
    message = "ERROR: Failed to create folder '" + staged.substr(0, staged.rfind('\\')) + "'\n";
    break;
  case Stop::SameFileTwice:
  case Stop::FileForFolder:
    message = "ERROR: Failed to copy '" + *stopper.matched_file + "' to '" + staged + "': ";
    break;
  }
  std::string copies;
  for (int i = 0; i < expected || (i == expected && message.find("copy '") != std::string::npos);
       ++i) {
    const VersionEntry &entry = versions[static_cast<std::size_t>(i)];
    copies += "copy '" + *entry.matched_file + "' to '" + g_settings.staging_folder +
              entry.version + "'\n\n";
  }
  std::string copied_line = std::to_string(expected) + " files copied\n";
  if (text_unknown) {
    EXPECT_EQ(printed.rfind(copies + message, 0), 0u) << printed;
    EXPECT_TRUE(printed.ends_with(copied_line)) << printed;
  } else {
    EXPECT_EQ(printed, copies + message + copied_line);
  }
  EXPECT_EQ(g_settings.error_count, c.stop == Stop::None ? 0 : 1);

  // Exactly the copies before the stop are there, and nothing else.
  std::vector<std::string> wanted;
  for (int i = 0; i < expected; ++i) {
    std::string name = versions[static_cast<std::size_t>(i)].version.substr(1);
    std::replace(name.begin(), name.end(), '\\', '/');
    wanted.push_back(name);
  }
  if (c.stop == Stop::FolderTaken)
    wanted.push_back("blocked");
  std::sort(wanted.begin(), wanted.end());
  EXPECT_EQ(files_below(root_ / "stage"), wanted);
  for (int i = 0; i < kVersions; ++i)
    EXPECT_EQ(versions[static_cast<std::size_t>(i)].copy.has_value(), i < expected) << i;

  // The clean-up takes every copy, and the folders with them.
  remove_staged_copies(versions);
  EXPECT_EQ(fs::exists(root_ / "stage"), c.stop == Stop::FolderTaken);
}

INSTANTIATE_TEST_SUITE_P(
    Stops, BulkStaging,
    testing::Values(Case{"Complete", Stop::None, 0},
                    Case{"MissingSourceEarly", Stop::MissingSource, 5},
                    Case{"MissingSourceLate", Stop::MissingSource, kVersions - 3},
                    Case{"LeadsOutside", Stop::LeadsOutside, 300},
                    Case{"FolderTaken", Stop::FolderTaken, 400},
                    Case{"SameFileTwice", Stop::SameFileTwice, kVersions - 1},
                    Case{"FileForFolder", Stop::FileForFolder, 10}),
    [](const testing::TestParamInfo<Case> &info) { return std::string(info.param.name); });

} // namespace
