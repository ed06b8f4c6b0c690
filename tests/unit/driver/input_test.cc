#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "driver/input.h"

namespace {

// A stream holding DATA, read back in binary so every byte reaches the
// reader as written.
class Stream {
public:
  explicit Stream(const std::string &data) {
    path_ = (std::filesystem::temp_directory_path() /
             ("trelvik-input-" + std::to_string(std::random_device{}()) + "-" +
              std::to_string(++counter_) + ".txt"))
                .string();
    FILE *out = std::fopen(path_.c_str(), "wb");
    std::fwrite(data.data(), 1, data.size(), out);
    std::fclose(out);
    file_ = std::fopen(path_.c_str(), "rb");
  }
  ~Stream() {
    std::fclose(file_);
    std::remove(path_.c_str());
  }
  FILE *get() const { return file_; }

private:
  static inline int counter_ = 0;
  std::string path_;
  FILE *file_;
};

std::vector<std::string> lines_of(const std::string &data) {
  Stream stream(data);
  LineReader reader(stream.get());
  std::vector<std::string> lines;
  std::string line;
  while (reader.next(&line))
    lines.push_back(line);
  return lines;
}

TEST(LineReader, SplitsOnEveryKindOfLineEnd) {
  using Lines = std::vector<std::string>;
  struct Row {
    std::string data;
    Lines lines;
  } rows[] = {
      {"", {}},
      {"\n\r\n\r", {}},
      {"a\nb\n", {"a", "b"}},
      {"a\r\nb\r\n", {"a", "b"}},
      {"a\rb\r", {"a", "b"}},
      {"a\n\n\r\n\rb", {"a", "b"}},
      {"last line without end", {"last line without end"}},
      {"x\n\n\n", {"x"}},
      {std::string("ab\0cd\nef", 8), {"ab", "ef"}},
      // A line that starts with a NUL stores a byte, so it is a line with
      // empty text rather than an empty line.
      {std::string("\0zz\nq", 5), {"", "q"}},
      {" \t \n", {" \t "}},
  };
  for (const Row &row : rows)
    EXPECT_EQ(lines_of(row.data), row.lines) << "input of " << row.data.size() << " bytes";
}

TEST(LineReader, ReadsLinesOfAnyLength) {
  std::string longest(1000000, 'x');
  std::vector<std::string> lines = lines_of("a\n" + longest + "\r\nb");
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[1], longest);
  EXPECT_EQ(lines[2], "b");
}

InputData classify(const std::string &data, bool versions_only) {
  Stream stream(data);
  InputData input;
  read_input(stream.get(), versions_only, &input);
  return input;
}

std::vector<std::string> versions_of(const InputData &input) {
  std::vector<std::string> texts;
  for (const VersionEntry &entry : input.versions)
    texts.push_back(entry.version);
  return texts;
}

TEST(ReadInput, ClassifiesHeaderCommandFilesAndVersions) {
  struct Row {
    const char *name;
    std::string data;
    bool versions_only;
    std::optional<std::string> command;
    FileList files;
    std::vector<std::string> versions;
  } rows[] = {
      {"empty", "", false, std::nullopt, {}, {}},
      {"header only", "clientpath: c:\\ws\nviewpath: \\v\n", false, std::nullopt, {}, {}},
      {"typical",
       "clientpath: c:\\ws\ncheck.exe -x\nc:\\ws\\\\src\\a.c\n\\src\\a.c\n",
       false,
       "check.exe -x",
       {"src\\a.c"},
       {"\\src\\a.c"}},
      {"bare prefixes are the command", "echo: \n", false, "echo: ", {}, {}},
      {"clientpath prefix alone", "clientpath: \nx\n", false, "clientpath: ", {}, {"x"}},
      {"no blank after colon", "echo:hi\n", false, "echo:hi", {}, {}},
      {"other case", "Echo: hi\n", false, "Echo: hi", {}, {}},
      {"leading blanks keep the command whole", "  echo: hi\n", false, "  echo: hi", {}, {}},
      {"echo after the command is a body line", "cmd\necho: hi\n", false, "cmd", {}, {"echo: hi"}},
      {"versions only has no header",
       "echo: hi\nc:\\\\x\n",
       true,
       std::nullopt,
       {"x"},
       {"echo: hi"}},
      {"pair at the end is a version", "cmd\nabc\\\\\n", false, "cmd", {}, {"abc\\\\"}},
      {"four backslashes", "cmd\nd:\\\\\\\\name\n", false, "cmd", {"\\\\name"}, {}},
      {"blanks trimmed in front only", "cmd\n \t\\v\\a.c  \n", false, "cmd", {}, {"\\v\\a.c  "}},
      {"white space only is an empty version", "cmd\n \t\n", false, "cmd", {}, {""}},
      {"blanks before a file line", "cmd\n  c:\\\\f.c\n", false, "cmd", {"f.c"}, {}},
  };
  for (const Row &row : rows) {
    InputData input = classify(row.data, row.versions_only);
    EXPECT_EQ(input.checker_command, row.command) << row.name;
    EXPECT_EQ(input.files, row.files) << row.name;
    EXPECT_EQ(versions_of(input), row.versions) << row.name;
  }
}

TEST(ReadInput, KeepsEveryLineOfLargeInputs) {
  std::string data = "cmd\n";
  for (int i = 0; i < 250; ++i)
    data += "c:\\ws\\\\f" + std::to_string(i) + "\n\\f" + std::to_string(i) + "\n";
  InputData input = classify(data, false);
  ASSERT_EQ(input.files.size(), 250u);
  ASSERT_EQ(input.versions.size(), 250u);
  EXPECT_EQ(input.files[249], "f249");
  EXPECT_EQ(input.versions[100].version, "\\f100");
  EXPECT_FALSE(input.versions[100].matched_file.has_value());
}

} // namespace
