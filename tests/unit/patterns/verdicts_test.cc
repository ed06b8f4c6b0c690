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

// The usual allow and deny lists are covered end to end; these are the
// corners.
TEST(Verdicts, SelectionForStaging) {
  const PatternList none;
  const PatternList tests = compile_all({"**/test/**"}, false);
  const struct {
    const char *version;
    PatternList include;
    const PatternList &exclude;
    bool selected;
  } rows[] = {
      {"\\test\\x.h", compile_all({"**/*.java"}, false), tests, false},
      {"c", compile_all({"a", "b", "c"}, false), none, true}, // every entry is tried
      {"\\lib\\mysrc\\x", compile_all({"**/src/**"}, false), none, true},
      {"\\x\\Src\\y", compile_all({"**/SRC/**"}, true), none, true},
      {"\\x\\Src\\y", compile_all({"**/SRC/**"}, false), none, false},
      {"", {}, none, true},
      {"", compile_all({"**"}, false), none, true},
      {"", compile_all({"?"}, false), none, false},
  };
  for (const auto &row : rows)
    EXPECT_EQ(is_selected_for_staging(row.version, row.include, row.exclude), row.selected)
        << row.version;
  EXPECT_FALSE(any_pattern_matches(none, "a"));
}

} // namespace
