// The folders of the staging loop beside the staging folder (where a
// version without a leading backslash goes) are judged as every folder
// creation judges a name that is taken, however many were found before.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "platform/platform.h"
#include "staging/paths.h"

namespace fs = std::filesystem;

TEST(FolderMaker, AsksAboutEveryNameBesideTheStagingFolder) {
  fs::path root =
      fs::temp_directory_path() / ("tvk-folders-" + std::to_string(platform::process_id()));
  fs::create_directories(root / "stage");
  std::ofstream(root / "stage.file");
  std::error_code no_links;
  fs::create_symlink(root / "nowhere", root / "stage.link", no_links);
  FolderMaker folders(root.string() + "\\stage");
  // A file where the folder goes is there (the copy below it fails); a link
  // to nothing is not.
  EXPECT_EQ(folders.make(root.string() + "\\stage.file"), Outcome::Done);
  EXPECT_TRUE(no_links || folders.make(root.string() + "\\stage.link") == Outcome::Failed);
  fs::remove_all(root);
}
