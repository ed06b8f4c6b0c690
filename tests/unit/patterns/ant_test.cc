#include <gtest/gtest.h>

#include "patterns/patterns.h"

namespace {

struct Translation {
  const char *pattern;
  bool case_insensitive;
  const char *expression;
};

// The expression texts that users see at debug level 1 and that the
// matcher runs; each row pins one rule of the translation.
const Translation kTranslations[] = {
    {"**/src/**/*.java", false, "^.*src\\\\.*[^\\]*\\.java$"},
    {"**/src/**/*.java", true, "^.*[sS][rR][cC]\\\\.*[^\\]*\\.[jJ][aA][vV][aA]$"},
    {"**/*.java", false, "^.*[^\\]*\\.java$"},
    {"**/test/**", false, "^.*test\\\\.*$"},
    {"/src/*.c", false, "^\\\\src\\\\[^\\]*\\.c$"},
    {"src/**", false, "^src\\\\.*$"},
    {"**\\lib", false, "^.*lib$"},
    {"x\\y", false, "^x\\\\y$"},
    {"a**b", false, "^a.*b$"},
    {"***", false, "^.*[^\\]*$"},
    {"?.h", false, "^.\\.h$"},
    {"a+", false, "^a+$"},
    {"*+", false, "^[^\\]*+$"},
    {"a|b", false, "^a|b$"},
    {"[ab]", true, "^[[aA][bB]]$"},
    {"", false, "^$"},
    {"**", false, "^.*$"},
    {"**/", false, "^.*$"},
    {"Z9_\xe9", true, "^[zZ]9_\xe9$"},
};

TEST(AntTranslation, ProducesTheAnchoredExpression) {
  for (const Translation &row : kTranslations) {
    EXPECT_EQ(translate_ant_pattern(row.pattern, row.case_insensitive), row.expression)
        << "pattern " << row.pattern << (row.case_insensitive ? " (-c)" : "");
  }
}

TEST(AntTranslation, LongPatternsAreTranslatedWhole) {
  std::string pattern;
  for (int i = 0; i < 5000; ++i)
    pattern += "*a";
  std::string expression = translate_ant_pattern(pattern, true);
  EXPECT_EQ(expression.size(), 2 + 5000 * (5 + 4));
}

} // namespace
