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
#include "staging/staging.h"

namespace {

namespace fs = std::filesystem;

std::string backslashed(const fs::path &path) {
  std::string text = path.string();
  std::replace(text.begin(), text.end(), '/', '\\');
  return text;
}

// Copies FROM to TO: "" on success, else the system's text for the failure.
std::string copy_error(const std::string &from, const std::string &to,
                       platform::FileIdentity *identity = nullptr) {
  platform::Status copied = platform::copy_file(from.c_str(), to.c_str(), identity);
  return copied.ok() ? "" : platform::error_text(copied);
}

std::string read_file(const fs::path &path) {
  std::ostringstream content;
  content << std::ifstream(path, std::ios::binary).rdbuf();
  return content.str();
}

class PosixFiles : public testing::Test {
protected:
  void SetUp() override {
    static int serial = 0;
    root_ = fs::temp_directory_path() /
            ("tvk-files-" + std::to_string(getpid()) + "-" + std::to_string(++serial));
    fs::remove_all(root_);
    fs::create_directories(root_);
  }
  void TearDown() override { fs::remove_all(root_); }

  fs::path write(const std::string &name, const std::string &content) {
    fs::path path = root_ / name;
    std::ofstream(path, std::ios::binary) << content;
    return path;
  }

  fs::path root_;
};

TEST_F(PosixFiles, FoldersArePrivateAndReportTheirErrno) {
  std::string folder = backslashed(root_ / "made");
  ASSERT_TRUE(platform::make_folder(folder.c_str()).ok());
  struct stat status {};
  ASSERT_EQ(stat((root_ / "made").c_str(), &status), 0);
  EXPECT_EQ(status.st_mode & 0777, 0700u);
  EXPECT_EQ(platform::make_folder(folder.c_str()).code(), EEXIST);
  EXPECT_EQ(platform::make_folder(backslashed(root_ / "a" / "b").c_str()).code(), ENOENT);
}

// Sizes around the copy's chunk of 64 KiB, each under another creation
// mask: every byte arrives, and the copy has the source's permission bits,
// which no mask may take away. A file whose status reports no size although
// it has content is copied whole too.
TEST_F(PosixFiles, CopyKeepsEveryByteAndThePermissionBits) {
  const std::tuple<std::size_t, mode_t, mode_t> rows[] = {
      {0, 022, 0751},     {1, 077, 0755},      {65535, 0, 0644},
      {65536, 027, 0400}, {65537, 0777, 0700}, {200001, 002, 0777},
  };
  for (const auto &[size, mask, mode] : rows) {
    std::string content(size, 0);
    for (std::size_t i = 0; i < size; ++i)
      content[i] = static_cast<char>(i * 13 + size);
    fs::path source = write("sized" + std::to_string(size), content);
    chmod(source.c_str(), mode);
    fs::path copied = root_ / ("copy" + std::to_string(size));
    mode_t saved = umask(mask);
    std::string error = copy_error(backslashed(source), backslashed(copied));
    umask(saved);
    ASSERT_EQ(error, "") << size;
    EXPECT_EQ(read_file(copied), content) << size;
    struct stat status {};
    ASSERT_EQ(stat(copied.c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 0777, mode) << "mask " << mask;
  }
  std::string proc_text = read_file("/proc/version");
  if (proc_text.empty() || fs::file_size("/proc/version") != 0)
    GTEST_SKIP() << "no /proc/version that reports size 0";
  ASSERT_EQ(copy_error("/proc/version", root_ / "version"), "");
  EXPECT_EQ(read_file(root_ / "version"), proc_text);
}

TEST_F(PosixFiles, CopyErrorsCarryTheSystemText) {
  fs::path source = write("src", "new");
  fs::path taken = write("taken", "old");
  fs::create_directories(root_ / "dir");
  const std::tuple<fs::path, fs::path, const char *> rows[] = {
      {source, taken, "File exists\n"},
      {root_ / "missing", root_ / "out1", "No such file or directory\n"},
      {source, root_ / "no" / "folder", "No such file or directory\n"},
      {root_ / "dir", root_ / "out2", "Is a directory\n"},
      {source, root_ / "src" / "below", "Not a directory\n"},
      // A pipe would block the copy for good.
      {root_ / "fifo", root_ / "out3", "Invalid argument\n"},
      // Links are never written through, not even dangling ones.
      {source, root_ / "link", "File exists\n"},
      {source, root_ / "dangling", "File exists\n"},
  };
  ASSERT_EQ(mkfifo((root_ / "fifo").c_str(), 0600), 0);
  fs::create_symlink(taken, root_ / "link");
  fs::create_symlink(root_ / "nowhere", root_ / "dangling");
  for (const auto &[from, to, text] : rows) {
    EXPECT_EQ(copy_error(from, to), text) << to;
  }
  EXPECT_EQ(read_file(taken), "old");
  for (const char *out : {"out1", "out2", "out3", "nowhere"})
    EXPECT_FALSE(fs::exists(root_ / out));
}

TEST_F(PosixFiles, CopyThatBreaksOffLeavesNoPartialFile) {
  fs::path source = write("src", std::string(200000, 'z'));
  // A file-size limit makes the writes fail part way, whoever runs the test.
  rlimit saved{};
  getrlimit(RLIMIT_FSIZE, &saved);
  rlimit small{4096, saved.rlim_max};
  auto old_handler = std::signal(SIGXFSZ, SIG_IGN);
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
  std::string error = copy_error(source, root_ / "part");
  setrlimit(RLIMIT_FSIZE, &saved);
  std::signal(SIGXFSZ, old_handler);
  EXPECT_EQ(error, "File too large\n");
  EXPECT_FALSE(fs::exists(root_ / "part"));
}

// Every entry below ROOT, relative, folders with a trailing '/', links
// with a trailing '@', sorted.
std::vector<std::string> listing(const fs::path &root) {
  std::vector<std::string> entries;
  for (const auto &entry : fs::recursive_directory_iterator(root)) {
    std::string name = entry.path().lexically_relative(root).generic_string();
    entries.push_back(name + (entry.is_symlink() ? "@" : entry.is_directory() ? "/" : ""));
  }
  std::sort(entries.begin(), entries.end());
  return entries;
}

// What a checker may do to the staging folder before the run's copies are
// deleted, and what must be left afterwards. "out/a.c" stands outside, in
// the place a planted link points to.
TEST_F(PosixFiles, DeletionReachesOnlyTheCopiesThisRunMade) {
  struct Case {
    const char *name;
    void (*tamper)(const fs::path &stage);
    std::vector<std::string> left;
  } cases[] = {
      {"untouched", [](const fs::path &) {}, {}},
      {"folder swapped for a link to outside",
       [](const fs::path &stage) {
         fs::remove_all(stage / "x");
         fs::create_directory_symlink(stage.parent_path() / "out", stage / "x");
       },
       {"x@"}},
      // The copy stays alive elsewhere, so its number cannot be reused.
      {"copy swapped for another file",
       [](const fs::path &stage) {
         fs::rename(stage / "x" / "a.c", stage / "moved.c");
         std::ofstream(stage / "x" / "a.c") << "someone else's";
       },
       {"moved.c", "x/", "x/a.c"}},
      {"copy swapped for a hard link to outside",
       [](const fs::path &stage) {
         fs::remove(stage / "x" / "a.c");
         fs::create_hard_link(stage.parent_path() / "out" / "a.c", stage / "x" / "a.c");
       },
       {"x/", "x/a.c"}},
      {"staging folder swapped for a link",
       [](const fs::path &stage) {
         fs::remove_all(stage);
         fs::create_directory_symlink(stage.parent_path() / "out", stage);
       },
       {}},
  };
  for (const Case &c : cases) {
    fs::remove_all(root_);
    fs::create_directories(root_ / "stage" / "x");
    fs::create_directories(root_ / "out");
    write("out/a.c", "outside");
    write("src.c", "committed");
    platform::FileIdentity identity;
    ASSERT_EQ(copy_error(backslashed(root_ / "src.c"), backslashed(root_ / "stage" / "x" / "a.c"),
                         &identity),
              "");
    c.tamper(root_ / "stage");
    platform::delete_created_files(backslashed(root_) + "\\", {{"stage\\x\\a.c", identity}});
    platform::remove_empty_folders(backslashed(root_ / "stage").c_str());
    EXPECT_EQ(read_file(root_ / "out" / "a.c"), "outside") << c.name;
    EXPECT_EQ(read_file(root_ / "src.c"), "committed") << c.name;
    std::vector<std::string> left = fs::is_symlink(root_ / "stage") ? std::vector<std::string>{}
                                    : fs::exists(root_ / "stage")   ? listing(root_ / "stage")
                                                                    : std::vector<std::string>{};
    EXPECT_EQ(left, c.left) << c.name;
  }
}

// The folder removal takes every empty folder, however deep, and nothing
// else: not a file, not a link, not what lies behind a link, and not a
// folder whose odd name would read as a path elsewhere.
TEST_F(PosixFiles, FolderRemovalTakesOnlyEmptyRealFolders) {
  fs::create_directories(root_ / "outside" / "empty");
  fs::path stage = root_ / "stage";
  fs::path deep = stage / "deep";
  for (int level = 0; level < 300; ++level)
    deep /= "d";
  fs::create_directories(deep);
  fs::create_directories(stage / "kept" / "empty");
  std::ofstream(stage / "kept" / "report.txt") << "checker output";
  fs::create_directories(stage / "..\\outside");
  fs::create_directory_symlink(root_ / "outside", stage / "link");
  platform::remove_empty_folders(backslashed(stage).c_str());
  EXPECT_EQ(listing(stage), (std::vector<std::string>{"kept/", "kept/report.txt", "link@"}));
  EXPECT_TRUE(fs::is_directory(root_ / "outside" / "empty"));

  fs::remove_all(stage);
  fs::create_directory_symlink(root_ / "outside", stage);
  platform::remove_empty_folders(backslashed(stage).c_str());
  EXPECT_TRUE(fs::is_symlink(stage));
  EXPECT_TRUE(fs::is_directory(root_ / "outside" / "empty"));
}

} // namespace
