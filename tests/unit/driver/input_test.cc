// The input line reader: lines end at every run of CR and LF bytes, empty
// ones are skipped, and a NUL ends the text of its line. (The protocol's
// rules over those lines are checked end to end.)
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "driver/input.h"

namespace {

TEST(LineReader, SplitsAtLineEndsAndCutsAtNul) {
  const std::pair<std::string, std::vector<std::string>> cases[] = {
      {"a\nb", {"a", "b"}},
      {"\r\n\r\na\r\r\nb\n\n", {"a", "b"}},
      {std::string("ab\0cd\n\0\nx", 9), {"ab", "", "x"}},
      {std::string(70000, 'x') + "\ny", {std::string(70000, 'x'), "y"}},
  };
  for (const auto &[text, expected] : cases) {
    FILE *stream = std::tmpfile();
    ASSERT_NE(stream, nullptr);
    std::fwrite(text.data(), 1, text.size(), stream);
    std::rewind(stream);
    LineReader reader(stream);
    std::vector<std::string> lines;
    for (std::string line; reader.next(&line);)
      lines.push_back(line);
    std::fclose(stream);
    EXPECT_EQ(lines, expected) << text.substr(0, 20);
  }
}

} // namespace
