#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "driver/input.h"

namespace {

// A file holding DATA, read back in binary so every byte reaches the reader
// as written; removed when done.
class Stream {
public:
  explicit Stream(const std::string &data)
      : path_((std::filesystem::temp_directory_path() /
               ("trelvik-input-" + std::to_string(std::random_device{}()) + ".txt"))
                  .string()) {
    std::ofstream(path_, std::ios::binary) << data;
    file_ = std::fopen(path_.c_str(), "rb");
  }
  ~Stream() {
    std::fclose(file_);
    std::remove(path_.c_str());
  }
  FILE *get() const { return file_; }

private:
  std::string path_;
  FILE *file_;
};

TEST(LineReader, SplitsOnEveryKindOfLineEndAtAnyLength) {
  const std::string longest(1000000, 'x');
  const struct {
    std::string data;
    std::vector<std::string> lines;
  } rows[] = {
      {"", {}},
      {"\n\r\n\r", {}},
      {"a\r\nb\r\n", {"a", "b"}},
      {"a\rb\r", {"a", "b"}},
      {"a\n\n\r\n\rb", {"a", "b"}},
      {"last line without end", {"last line without end"}},
      {std::string("ab\0cd\nef", 8), {"ab", "ef"}},
      // A line that starts with a NUL stores a byte, so it is a line with
      // empty text rather than an empty line.
      {std::string("\0zz\nq", 5), {"", "q"}},
      {" \t \n", {" \t "}},
      {"a\n" + longest + "\r\nb", {"a", longest, "b"}},
  };
  for (const auto &row : rows) {
    Stream stream(row.data);
    LineReader reader(stream.get());
    std::vector<std::string> lines;
    for (std::string line; reader.next(&line);)
      lines.push_back(line);
    EXPECT_EQ(lines, row.lines) << "input of " << row.data.size() << " bytes";
  }
}

// The classification as one text: "[command]" (or "-"), then "f:" files and
// "v:" versions in order.
std::string classify(const std::string &data) {
  InputData input;
  read_input(Stream(data).get(), false, &input);
  std::string text = input.checker_command ? "[" + *input.checker_command + "]" : "-";
  for (const std::string &file : input.files)
    text += " f:" + file;
  for (const VersionEntry &entry : input.versions)
    text += " v:" + entry.version;
  return text;
}

TEST(ReadInput, ClassifiesHeaderCommandFilesAndVersions) {
  const struct {
    const char *data;
    const char *expected;
  } rows[] = {
      {"clientpath: c:\\ws\nviewpath: \\v\n", "-"},
      {"clientpath: c:\\ws\ncheck.exe -x\nc:\\ws\\\\src\\a.c\n\\src\\a.c\n",
       "[check.exe -x] f:src\\a.c v:\\src\\a.c"},
      {"echo: \n", "[echo: ]"}, // a bare prefix is the command
      {"clientpath: \nx\n", "[clientpath: ] v:x"},
      {"echo:hi\n", "[echo:hi]"},
      {"Echo: hi\n", "[Echo: hi]"},
      {"  echo: hi\n", "[  echo: hi]"},
      {"cmd\necho: hi\n", "[cmd] v:echo: hi"},
      {"cmd\nabc\\\\\n", "[cmd] v:abc\\\\"}, // the pair must have text after it
      {"cmd\nd:\\\\\\\\name\n", "[cmd] f:\\\\name"},
      {"cmd\n \t\n", "[cmd] v:"}, // white space only is an empty version
      {"cmd\n  c:\\\\f.c\n", "[cmd] f:f.c"},
  };
  for (const auto &row : rows)
    EXPECT_EQ(classify(row.data), row.expected) << row.data;
}

#if defined(__GLIBC__)
// A stream that hands out the text it points to and then fails, as a disk
// or a device can.
ssize_t read_then_fail(void *cookie, char *buffer, std::size_t size) {
  auto *rest = static_cast<std::string *>(cookie);
  if (rest->empty())
    return -1;
  std::size_t count = std::min(size, rest->size());
  rest->copy(buffer, count);
  rest->erase(0, count);
  return static_cast<ssize_t>(count);
}

// A failed read is reported, not taken for the end of the input. A folder,
// which the C library opens as a file, fails at its first read; otherwise
// the lines before the failure are classified, the one it cut short is not.
TEST(ReadInput, AFailedReadIsNotTheEndOfTheInput) {
  FILE *folder = std::fopen(std::filesystem::temp_directory_path().c_str(), "r");
  ASSERT_NE(folder, nullptr);
  InputData nothing;
  EXPECT_FALSE(read_input(folder, false, &nothing));
  EXPECT_FALSE(nothing.checker_command.has_value());
  std::fclose(folder);

  std::string rest = "echo: hi\ncmd\nc:\\\\a.c\n\\a.c";
  FILE *stream = fopencookie(&rest, "r", cookie_io_functions_t{read_then_fail, {}, {}, {}});
  InputData input;
  testing::internal::CaptureStdout();
  EXPECT_FALSE(read_input(stream, false, &input));
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "hi\n");
  EXPECT_EQ(input.checker_command, "cmd");
  EXPECT_EQ(input.files, FileList{"a.c"});
  EXPECT_TRUE(input.versions.empty());
  std::fclose(stream);
}
#endif

TEST(ReadInput, KeepsEveryLineOfLargeInputs) {
  std::string data = "cmd\n";
  for (int i = 0; i < 250; ++i)
    data += "c:\\ws\\\\f" + std::to_string(i) + "\n\\f" + std::to_string(i) + "\n";
  InputData input;
  read_input(Stream(data).get(), false, &input);
  ASSERT_EQ(input.files.size(), 250u);
  ASSERT_EQ(input.versions.size(), 250u);
  EXPECT_EQ(input.files[249], "f249");
  EXPECT_EQ(input.versions[100].version, "\\f100");
  EXPECT_FALSE(input.versions[100].matched_file.has_value());
}

} // namespace
