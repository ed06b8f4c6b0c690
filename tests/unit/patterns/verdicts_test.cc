#include <gtest/gtest.h>

#include "patterns/patterns.h"

namespace {

PatternList compile_all(std::initializer_list<const char *> patterns, bool case_insensitive) {
  g_settings.case_insensitive = case_insensitive;
  PatternList list;
  for (const char *pattern : patterns) {
    PatternEntry entry;
    entry.source = pattern;
    EXPECT_TRUE(compile_ant_pattern(entry)) << pattern;
    list.push_back(std::move(entry));
  }
  g_settings.case_insensitive = false;
  return list;
}

TEST(Verdicts, SelectionForStaging) {
  PatternList java = compile_all({"**/*.java", "**/*.c"}, false);
  PatternList tests = compile_all({"**/test/**"}, false);
  PatternList none;
  PatternList any_case = compile_all({"**/SRC/**"}, true);
  struct Row {
    const char *version;
    const PatternList &include;
    const PatternList &exclude;
    bool selected;
  } rows[] = {
      {"\\src\\A.java", java, tests, true},
      {"\\src\\a.c", java, tests, true},
      {"\\src\\a.h", java, tests, false},     // not allowed
      {"\\test\\T.java", java, tests, false}, // denied
      {"\\test\\x.h", java, tests, false},    // not allowed, exclude never asked
      {"\\anything", none, none, true},       // no lists: everything goes
      {"\\test\\y", none, tests, false},      // only a deny list
      {"\\lib\\mysrc\\x", compile_all({"**/src/**"}, false), none, true},
      {"\\x\\Src\\y", any_case, none, true},
      {"\\x\\Src\\y", compile_all({"**/SRC/**"}, false), none, false},
      {"", none, none, true},
      {"", compile_all({"**"}, false), none, true},
  };
  for (const Row &row : rows) {
    EXPECT_EQ(is_selected_for_staging(row.version, row.include, row.exclude), row.selected)
        << row.version;
  }
}

TEST(Verdicts, AnyPatternMatchesTriesEveryEntry) {
  PatternList list = compile_all({"a", "b", "c"}, false);
  EXPECT_TRUE(any_pattern_matches(list, "c"));
  EXPECT_FALSE(any_pattern_matches(list, "d"));
  EXPECT_FALSE(any_pattern_matches(PatternList{}, "a"));
}

} // namespace
