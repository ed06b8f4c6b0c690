// The POSIX file services with the faults a run must survive: copies that
// keep every byte and permission bit or leave nothing, folders beside the
// staging folder judged anew, deletions that remove the folders they empty,
// and a dump log that is private and never written through a link. (That
// the clean-up never follows a link is checked end to end.)
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "platform/platform.h"
#include "staging/paths.h"

namespace {

namespace fs = std::filesystem;

std::string backslashed(const fs::path &path) {
  std::string text = path.string();
  std::replace(text.begin(), text.end(), '/', '\\');
  return text;
}

// Copies FROM to TO: "" on success, else the system's text for the failure.
std::string copy_error(const fs::path &from, const fs::path &to) {
  platform::Status copied = platform::copy_file(backslashed(from).c_str(), backslashed(to).c_str());
  return copied.ok() ? "" : platform::error_text(copied);
}

std::string read_file(const fs::path &path) {
  std::ostringstream content;
  content << std::ifstream(path, std::ios::binary).rdbuf();
  return content.str();
}

unsigned mode_of(const fs::path &path) {
  struct stat status {};
  return stat(path.c_str(), &status) == 0 ? status.st_mode & 0777 : 01000;
}

class PosixFiles : public testing::Test {
protected:
  void SetUp() override {
    root_ =
        fs::temp_directory_path() / ("tvk-files-" + std::to_string(getpid()) + "-" +
                                     testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(root_);
    fs::create_directories(root_);
  }
  void TearDown() override { fs::remove_all(root_); }

  fs::path write(const std::string &name, const std::string &content) {
    std::ofstream(root_ / name, std::ios::binary) << content;
    return root_ / name;
  }

  fs::path root_;
};

// Sizes around the copy's chunk of 64 KiB, each under another creation
// mask: every byte arrives, and the copy has the source's permission bits,
// which no mask may take away. A write that fails part way (a file-size
// limit) leaves no partial copy.
TEST_F(PosixFiles, CopyKeepsEveryByteAndThePermissionBitsOrNothing) {
  const std::tuple<std::size_t, mode_t, mode_t> rows[] = {{0, 022, 0751},      {1, 077, 0755},
                                                          {65535, 0, 0644},    {65536, 027, 0400},
                                                          {65537, 0777, 0700}, {200001, 002, 0777}};
  for (const auto &[size, mask, mode] : rows) {
    std::string content(size, 0);
    for (std::size_t i = 0; i < size; ++i)
      content[i] = static_cast<char>(i * 13 + size);
    fs::path source = write("sized" + std::to_string(size), content);
    chmod(source.c_str(), mode);
    fs::path copied = root_ / ("copy" + std::to_string(size));
    mode_t saved = umask(mask);
    EXPECT_EQ(copy_error(source, copied), "") << size;
    umask(saved);
    EXPECT_EQ(read_file(copied), content) << size;
    EXPECT_EQ(mode_of(copied), mode) << "mask " << mask;
  }
  // A file whose status reports no size although it has content, which the
  // system's copy call refuses: copied whole by reading.
  ASSERT_EQ(copy_error("/proc/version", root_ / "version"), "");
  EXPECT_EQ(read_file(root_ / "version"), read_file("/proc/version"));
  EXPECT_NE(read_file("/proc/version"), "");
  rlimit saved{};
  getrlimit(RLIMIT_FSIZE, &saved);
  rlimit small{4096, saved.rlim_max};
  auto old_handler = std::signal(SIGXFSZ, SIG_IGN);
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
  std::string error = copy_error(root_ / "sized200001", root_ / "part");
  setrlimit(RLIMIT_FSIZE, &saved);
  std::signal(SIGXFSZ, old_handler);
  EXPECT_EQ(error, "File too large\n");
  EXPECT_FALSE(fs::exists(root_ / "part"));
}

// Deletions in folder order remove each folder they leave once it is
// empty, and only such a folder; unasked, they remove none.
TEST_F(PosixFiles, DeletionsRemoveTheFoldersTheyLeaveEmpty) {
  fs::path source = write("source", "committed");
  const std::string copies[] = {"t/a/b/x", "t/a/b/d/z", "t/a/c/y", "t/e/w"};
  for (bool remove : {false, true}) {
    fs::path base = root_ / (remove ? "removing" : "keeping");
    std::vector<platform::CreatedFile> made;
    for (const std::string &copy : copies) {
      fs::create_directories((base / copy).parent_path());
      made.push_back({copy, {}});
      ASSERT_TRUE(
          platform::copy_file(source.c_str(), (base / copy).c_str(), &made.back().identity).ok());
    }
    std::ofstream(base / "t/a/c/checker's");
    platform::delete_created_files(base.string() + "/", made, remove);
    std::vector<std::string> left;
    for (const fs::directory_entry &entry : fs::recursive_directory_iterator(base))
      left.push_back(fs::relative(entry.path(), base).string());
    std::sort(left.begin(), left.end());
    EXPECT_EQ(left, (remove ? std::vector<std::string>{"t", "t/a", "t/a/c", "t/a/c/checker's"}
                            : std::vector<std::string>{"t", "t/a", "t/a/b", "t/a/b/d", "t/a/c",
                                                       "t/a/c/checker's", "t/e"}));
  }
}

// A folder beside the staging folder (where a version without a leading
// backslash goes) is asked about every time, as every folder creation asks
// about a taken name: a file there counts as present, a link to nothing
// does not, however many folders were found before.
TEST_F(PosixFiles, FoldersBesideTheStagingFolderAreAskedAbout) {
  write("stage.file", "");
  fs::create_symlink(root_ / "nowhere", root_ / "stage.link");
  FolderMaker folders(backslashed(root_ / "stage"));
  EXPECT_EQ(folders.make(backslashed(root_ / "stage.file")), Outcome::Done);
  EXPECT_EQ(folders.make(backslashed(root_ / "stage.link")), Outcome::Failed);
}

TEST_F(PosixFiles, DumpLogIsPrivateAndNeverFollowsALink) {
  std::string log = (root_ / "tvk1.log").string();
  ASSERT_TRUE(platform::create_log_file(log.c_str()).ok());
  EXPECT_EQ(mode_of(log), 0600u);
  for (const std::string &line : {std::string("first"), std::string(), std::string("a\0b", 3)})
    EXPECT_TRUE(platform::append_log_line(log.c_str(), line).ok());
  EXPECT_EQ(read_file(log), std::string("first\n\na\0b\n", 11));
  // Our own log left from before is emptied and made private again.
  chmod(log.c_str(), 0644);
  ASSERT_TRUE(platform::create_log_file(log.c_str()).ok());
  EXPECT_EQ(read_file(log), "");
  EXPECT_EQ(mode_of(log), 0600u);
  // Neither kind of link is opened, emptied or appended to.
  fs::path target = write("precious", "keep me");
  fs::create_symlink(target, root_ / "tvk3.log");
  fs::create_hard_link(target, root_ / "tvk4.log");
  for (const char *name : {"tvk3.log", "tvk4.log"}) {
    EXPECT_FALSE(platform::create_log_file((root_ / name).c_str()).ok()) << name;
    EXPECT_FALSE(platform::append_log_line((root_ / name).c_str(), "x").ok()) << name;
  }
  EXPECT_EQ(read_file(target), "keep me");
  EXPECT_FALSE(platform::create_log_file(root_.c_str()).ok()) << "a folder is no log";
}

} // namespace
