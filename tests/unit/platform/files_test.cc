// The file services both platforms share, on each (the Windows build's
// under Wine): what end-to-end runs cannot arrange. A copy is deleted only
// while its name still holds that copy, read-only or not; a file is read
// whole only at its size; a failed folder creation says what kind of
// failure it was, in the system's own words.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace {

namespace fs = std::filesystem;

class PlatformFiles : public testing::Test {
protected:
  void SetUp() override {
    // One folder per process: its tests run one after the other, and each
    // removes the folder when it ends.
    root_ = fs::temp_directory_path() / ("tvk-platform-" + std::to_string(platform::process_id()));
    fs::remove_all(root_);
    fs::create_directories(root_ / "copies");
    std::ofstream(root_ / "source") << "committed";
  }
  void TearDown() override {
    // Writable again, or Windows would refuse to remove them.
    for (const char *name : {"source", "copies/read-only"})
      fs::permissions(root_ / name, fs::perms::owner_write, fs::perm_options::add, ignored_);
    fs::remove_all(root_, ignored_);
  }

  // The path of NAME below the root, as the program writes paths.
  std::string at(const std::string &name) const { return (root_ / name).make_preferred().string(); }

  fs::path root_;
  std::error_code ignored_;
};

// With a few copies or enough for a folder to be judged from its listing.
class CopiesInOneFolder : public PlatformFiles, public testing::WithParamInterface<int> {};

TEST_P(CopiesInOneFolder, ACopyIsDeletedOnlyWhileItIsStillThatCopy) {
  std::vector<std::string> names = {"replaced", "gone"};
  for (int i = 0; i < GetParam(); ++i)
    names.push_back("plain" + std::to_string(i));
  names.push_back("read-only");
  std::vector<platform::CreatedFile> made(names.size());
  for (std::size_t i = 0; i < made.size(); ++i) {
    made[i].relative = names[i];
    if (i + 1 == made.size())
      fs::permissions(root_ / "source", fs::perms::owner_read | fs::perms::group_read);
    ASSERT_TRUE(platform::copy_file(at("source").c_str(), at("copies/" + names[i]).c_str(),
                                    &made[i].identity)
                    .ok());
  }
  // The first copy is moved aside (so its identity stays taken) and a file
  // of the checker's takes its name; the second is gone.
  fs::rename(root_ / "copies" / "replaced", root_ / "moved");
  std::ofstream(root_ / "copies" / "replaced") << "the checker's";
  fs::remove(root_ / "copies" / "gone");
  platform::delete_created_files(at("copies") + "\\", made);
  EXPECT_TRUE(fs::exists(root_ / "copies" / "replaced"));
  EXPECT_TRUE(fs::exists(root_ / "moved"));
  EXPECT_EQ(std::distance(fs::directory_iterator(root_ / "copies"), {}), 1);
}

INSTANTIATE_TEST_SUITE_P(, CopiesInOneFolder, testing::Values(0, 5));

// A file is read whole and in order only when it holds exactly the size
// given: around the reads of up to a MiB, and one byte off either way.
TEST_F(PlatformFiles, ReadsAFileWholeOnlyAtTheSizeGiven) {
  const std::pair<std::size_t, int> rows[] = {
      {0, 0},    {1, 0}, {(1 << 20) - 1, 0}, {1 << 20, 0}, {(1 << 20) + 1, 0}, {3000, -1},
      {3000, 1}, {0, 1}};
  for (const auto &[size, off] : rows) {
    std::string content(size, '\0');
    for (std::size_t i = 0; i < size; ++i)
      content[i] = static_cast<char>(i * 7 + i / 4096);
    std::ofstream(root_ / "sized", std::ios::binary | std::ios::trunc) << content;
    std::string read;
    bool whole = platform::read_regular_file(
        at("sized").c_str(), size + off,
        [&read](const char *bytes, std::size_t count) { read.append(bytes, count); });
    EXPECT_EQ(whole, off == 0) << size << " read as " << size + off;
    EXPECT_TRUE(off != 0 || read == content) << size;
  }
}

TEST_F(PlatformFiles, AFailedFolderCreationSaysWhichKind) {
  platform::Status taken = platform::make_folder(at("copies").c_str());
  platform::Status no_parent = platform::make_folder(at("missing/below").c_str());
  EXPECT_EQ(taken.kind(), platform::Failure::Exists);
  EXPECT_EQ(no_parent.kind(), platform::Failure::NotFound);
  std::string text = platform::error_text(no_parent);
  EXPECT_FALSE(text.starts_with("unknown error")) << text;
  EXPECT_TRUE(text.ends_with("\n")) << text;
}

} // namespace
