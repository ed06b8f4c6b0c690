#include <gtest/gtest.h>

#include "patterns/patterns.h"

namespace {

// The expression texts that users see at debug level 1 and that the matcher
// runs; the common shapes are pinned by the command-line end-to-end tests.
TEST(AntTranslation, ProducesTheAnchoredExpression) {
  const struct {
    const char *pattern;
    bool case_insensitive;
    const char *expression;
  } rows[] = {
      {"*+", false, "^[^\\]*+$"},
      {"a|b", false, "^a|b$"},
      {"[ab]", true, "^[[aA][bB]]$"},
      {"", false, "^$"},
      {"**", false, "^.*$"},
      {"**/", false, "^.*$"},
      {"Z9_\xe9", true, "^[zZ]9_\xe9$"},
  };
  for (const auto &row : rows) {
    EXPECT_EQ(translate_ant_pattern(row.pattern, row.case_insensitive), row.expression)
        << "pattern " << row.pattern << (row.case_insensitive ? " (-c)" : "");
  }
}

TEST(AntTranslation, LongPatternsAreTranslatedWhole) {
  std::string pattern;
  for (int i = 0; i < 5000; ++i)
    pattern += "*a";
  EXPECT_EQ(translate_ant_pattern(pattern, true).size(), 2 + 5000 * (5 + 4));
}

} // namespace
