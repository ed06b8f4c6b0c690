// The input line reader: lines end at every run of CR and LF bytes, empty
// ones are skipped, and a NUL ends the text of its line. (The protocol's
// rules over those lines are checked end to end.)
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "driver/input.h"

namespace {

struct Lines {
  const char *name;
  std::string text;
  std::vector<std::string> lines;
};

class LineReaderLines : public testing::TestWithParam<Lines> {};

TEST_P(LineReaderLines, SplitAtLineEndsAndCutAtNul) {
  const std::string &text = GetParam().text;
  FILE *stream = std::tmpfile();
  ASSERT_NE(stream, nullptr);
  std::fwrite(text.data(), 1, text.size(), stream);
  std::rewind(stream);
  LineReader reader(stream);
  std::vector<std::string> lines;
  for (std::string line; reader.next(&line);)
    lines.push_back(line);
  std::fclose(stream);
  EXPECT_EQ(lines, GetParam().lines);
}

const Lines kLines[] = {
    {"LastLineWithoutEnd", "a\nb", {"a", "b"}},
    {"EmptyLinesAndCrLf", "\r\n\r\na\r\r\nb\n\n", {"a", "b"}},
    {"Nul", std::string("ab\0cd\n\0\nx", 9), {"ab", "", "x"}},
    {"LongerThanTheBuffer", std::string(70000, 'x') + "\ny", {std::string(70000, 'x'), "y"}},
};

INSTANTIATE_TEST_SUITE_P(, LineReaderLines, testing::ValuesIn(kLines),
                         [](const testing::TestParamInfo<Lines> &info) { return info.param.name; });

} // namespace
