#include <windows.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "platform/platform.h"

namespace {

namespace fs = std::filesystem;

std::string read_file(const fs::path &path) {
  std::ostringstream content;
  content << std::ifstream(path, std::ios::binary).rdbuf();
  return content.str();
}

// The system's own text for CODE, as FormatMessageA gives it.
std::string system_text(DWORD code) {
  char *buffer = nullptr;
  DWORD length =
      FormatMessageA(0x1300, nullptr, code, 0x0400, reinterpret_cast<LPSTR>(&buffer), 0, nullptr);
  std::string text = length != 0 ? std::string(buffer, length) : std::string();
  LocalFree(buffer);
  return text;
}

// Copies FROM to TO: "" on success, else the system's text for the failure.
std::string copy_error(const std::string &from, const std::string &to) {
  platform::Status copied = platform::copy_file(from.c_str(), to.c_str());
  return copied.ok() ? "" : platform::error_text(copied);
}

class Win32Files : public testing::Test {
protected:
  void SetUp() override {
    static int serial = 0;
    root_ = fs::temp_directory_path() / ("tvk-files-" + std::to_string(platform::process_id()) +
                                         "-" + std::to_string(++serial));
    fs::remove_all(root_);
    fs::create_directories(root_);
  }
  void TearDown() override {
    std::error_code ignored;
    fs::remove_all(root_, ignored);
  }

  std::string path(const std::string &name) const { return (root_ / name).string(); }

  std::string write(const std::string &name, const std::string &content) {
    std::ofstream(root_ / name, std::ios::binary) << content;
    return path(name);
  }

  fs::path root_;
};

TEST_F(Win32Files, StatusAndFolders) {
  write("f", "x");
  EXPECT_EQ(platform::path_kind(path("f").c_str()), platform::PathKind::File);
  EXPECT_EQ(platform::path_kind(root_.string().c_str()), platform::PathKind::Directory);
  EXPECT_EQ(platform::path_kind(path("none").c_str()), platform::PathKind::Missing);
  EXPECT_TRUE(platform::make_folder(path("d").c_str()).ok());
  EXPECT_EQ(platform::make_folder(path("d").c_str()).code(), EEXIST);
  EXPECT_EQ(platform::make_folder(path("a\\b").c_str()).code(), ENOENT);
  EXPECT_EQ(platform::workdir_value("C:\\Temp\\tvk1.tmp"), "C:\\Temp\\tvk1.tmp");
}

TEST_F(Win32Files, CopyFailsOnAnExistingFileWithTheSystemText) {
  std::string source = write("src", std::string(100000, 'q'));
  ASSERT_EQ(copy_error(source, path("copy")), "");
  EXPECT_EQ(read_file(root_ / "copy"), std::string(100000, 'q'));

  write("taken", "old");
  EXPECT_EQ(copy_error(source, path("taken")), system_text(ERROR_FILE_EXISTS));
  EXPECT_EQ(read_file(root_ / "taken"), "old");
  // Letter case does not tell files apart here.
  EXPECT_NE(copy_error(source, path("COPY")), "");

  std::string error = copy_error(path("missing"), path("out"));
  EXPECT_EQ(error, system_text(ERROR_FILE_NOT_FOUND));
  EXPECT_FALSE(fs::exists(root_ / "out"));
  ASSERT_GE(error.size(), 2u);
  EXPECT_EQ(error.substr(error.size() - 2), "\r\n");
}

} // namespace
