#include <gtest/gtest.h>

#include <limits>
#include <string>
#include <vector>

#include "regex/match_tuning.h"
#include "regex/regexp.h"
#include "unit/regex/regex_test_support.h"

namespace {

using regex_test::HookCapture;
using regex_test::Span;
using regex_test::span_of;

constexpr Span kUnset = {-1, -1};

struct MatchCase {
  const char *expression;
  const char *subject;
  bool matches;
  Span whole = kUnset;
  std::vector<Span> groups = {}; // groups 1, 2, ... in order
};

// Runs every case twice: as the program does, and remembering failures from
// the first step, which must not change any result or position.
void expect_cases(const std::vector<MatchCase> &cases) {
  for (const MatchCase &c : cases) {
    std::unique_ptr<Regexp> regexp = compile_regexp(c.expression);
    ASSERT_NE(regexp, nullptr) << c.expression;
    for (std::uint64_t memo_free_steps : {std::uint64_t{1024}, std::uint64_t{0}}) {
      SCOPED_TRACE(std::string("expression '") + c.expression + "' on '" + c.subject +
                   "', memo after " + std::to_string(memo_free_steps) + " steps");
      MatchTuning tuning;
      tuning.memo_free_steps = memo_free_steps;
      int result = execute_regexp_tuned(regexp.get(), c.subject, tuning, nullptr);
      ASSERT_EQ(result, c.matches ? 1 : 0);
      if (!c.matches)
        continue;
      EXPECT_EQ(span_of(*regexp, 0, c.subject), c.whole);
      for (int g = 1; g < kRegexpGroups; ++g) {
        Span expected = g <= static_cast<int>(c.groups.size()) ? c.groups[g - 1] : kUnset;
        EXPECT_EQ(span_of(*regexp, g, c.subject), expected) << "group " << g;
      }
    }
  }
}

TEST(ExecuteRegexp, PositionsAndPriorities) {
  expect_cases({
      {"b", "abc", true, {1, 2}},
      {"abc", "xxabc", true, {2, 5}},
      {"^ab", "xab", false},
      {"^ab", "abx", true, {0, 2}},
      {"$", "abc", true, {3, 3}},
      {"", "", true, {0, 0}},
      {"", "abc", true, {0, 0}},
      {".", "", false},
      {"a*", "bbb", true, {0, 0}},
      {"^a*$", "aaab", false},
      {"a*a", "aaaa", true, {0, 4}},
      {"a+b", "xaab", true, {1, 4}},
      {"(a)*", "aaa", true, {0, 3}, {{2, 3}}},
      {"(ab)+", "xababab", true, {1, 7}, {{5, 7}}},
      {"(a|ab)c", "abc", true, {0, 3}, {{0, 2}}},
      {"(a|ab)(c|bcd)", "abcd", true, {0, 4}, {{0, 1}, {1, 4}}},
      {"a|ab", "ab", true, {0, 1}},
      {"(a)(b)?", "ac", true, {0, 1}, {{0, 1}, kUnset}},
      {"(a?)b", "b", true, {0, 1}, {{0, 0}}},
      {"((a)|b)+", "ab", true, {0, 2}, {{1, 2}, {0, 1}}},
      {"(a*)b", "aab", true, {0, 3}, {{0, 2}}},
      {"x*abc*de", "xxabcde", true, {0, 7}},
      {"^[^\\]*\\.c$", "x.c", true, {0, 3}},
      {"^[^\\]*\\.c$", "d\\x.c", false},
      {"^.*\\.c$", "d\\x.c", true, {0, 5}},
      {"a$b", "a$b", false},
      {".", "\n", true, {0, 1}},
      {"[^a]", "\n", true, {0, 1}},
      {"^a|b$", "ax", true, {0, 1}},
      {"^a|b$", "xb", true, {1, 2}},
      {"^a|b$", "xa", false},
      {"a^b", "a^b", false},
      {"\xe9+", "x\xe9\xe9y", true, {1, 3}},
      {"[\xe0-\xff]", "a\xf0", true, {1, 2}},
      {"^.*src\\\\.*[^\\]*\\.java$", "\\src\\a\\B.java", true, {0, 13}},
      {"^.*src\\\\.*[^\\]*\\.java$", "\\src\\a\\B.javax", false},
      {"^.*test\\\\.*$", "\\a\\test\\", true, {0, 8}},
  });
}

TEST(ExecuteRegexp, HintsDecideWhichStartsAreTried) {
  struct HintCase {
    const char *expression;
    const char *subject;
    std::uint64_t attempts;
  };
  const HintCase cases[] = {
      {"x*abc*de", "abcd", 0}, // required literal absent: no attempt
      {"^ab", "xab", 1},       // anchored: one attempt
      {"bc", "abxbxbc", 3},    // only at each "b"
      {"bc", "axa", 0},        // first character never occurs
      {"[b]c", "abxbxb", 7},   // no hint: every position and the NUL
  };
  for (const HintCase &c : cases) {
    std::unique_ptr<Regexp> regexp = compile_regexp(c.expression);
    ASSERT_NE(regexp, nullptr);
    MatchStatistics statistics;
    execute_regexp_tuned(regexp.get(), c.subject, MatchTuning{}, &statistics);
    EXPECT_EQ(statistics.attempts, c.attempts) << c.expression << " on " << c.subject;
  }
}

TEST(ExecuteRegexp, GroupArraysAfterAFailedCall) {
  std::unique_ptr<Regexp> regexp = compile_regexp("x*abc*de");
  ASSERT_NE(regexp, nullptr);
  const char *earlier = "xxabcde";
  ASSERT_EQ(execute_regexp(regexp.get(), earlier), 1);
  // No start position tried: the previous match stays described.
  EXPECT_EQ(execute_regexp(regexp.get(), "abcd"), 0);
  EXPECT_EQ(span_of(*regexp, 0, earlier), (Span{0, 7}));
  // Start positions tried and failed: everything is cleared.
  EXPECT_EQ(execute_regexp(regexp.get(), "dexx"), 0);
  for (int g = 0; g < kRegexpGroups; ++g) {
    EXPECT_EQ(regexp->group_start[g], nullptr);
    EXPECT_EQ(regexp->group_end[g], nullptr);
  }
}

// Damages one byte of a compiled program; OFFSET counts from the marker.
std::unique_ptr<Regexp> damaged(const char *expression, std::size_t offset, unsigned char value) {
  std::unique_ptr<Regexp> regexp = compile_regexp(expression);
  regexp->program.at(offset) = value;
  return regexp;
}

TEST(ExecuteRegexp, RefusalsAndDamagedPrograms) {
  struct DamageCase {
    std::unique_ptr<Regexp> regexp;
    const char *subject;
    int result;
    const char *message;
  };
  std::unique_ptr<Regexp> empty_program = compile_regexp("a");
  empty_program->program.clear();
  // "^abc" without its end node and the literal's NUL: the literal would
  // run to the end of the program.
  std::unique_ptr<Regexp> unterminated = compile_regexp("^abc");
  unterminated->program.resize(unterminated->program.size() - 4);
  DamageCase cases[] = {
      {damaged("a", 0, 0x9D), "a", 0, "corrupted program"},
      {std::move(empty_program), "a", 0, "corrupted program"},
      {damaged("[a]", 4, 15), "a", 0, "memory corruption"}, // unknown opcode
      {std::move(unterminated), "abcdef", 0, "memory corruption"},
      {damaged("[a]", 6, 0), "a", 0, "corrupted pointers"},      // chain ends early
      {damaged("[a]", 6, 200), "a", 0, "corrupted pointers"},    // link leaves the program
      {damaged("a*", 7, NODE_EMPTY), "a", 1, "internal foulup"}, // counts nothing, goes on
  };
  for (DamageCase &c : cases) {
    HookCapture hook;
    EXPECT_EQ(execute_regexp(c.regexp.get(), c.subject), c.result) << c.message;
    ASSERT_FALSE(hook.received().empty()) << c.message;
    EXPECT_EQ(hook.received().front(), c.message);
  }
  HookCapture hook;
  std::unique_ptr<Regexp> regexp = compile_regexp("a");
  EXPECT_EQ(execute_regexp(nullptr, "a"), 0);
  EXPECT_EQ(execute_regexp(regexp.get(), nullptr), 0);
  EXPECT_EQ(hook.received(), (std::vector<std::string>{"NULL parameter", "NULL parameter"}));
}

TEST(ExecuteRegexp, EmptyLiteralInADamagedProgramStaysInBounds) {
  // "^a" with the literal's only character overwritten by its terminator.
  std::unique_ptr<Regexp> regexp = damaged("^a", 10, 0);
  EXPECT_EQ(execute_regexp(regexp.get(), ""), 1);
  EXPECT_EQ(execute_regexp(regexp.get(), "b"), 0);
}

// Million-character version lines: the backtracking stack lives on the heap
// and remembered failures keep the work linear here.
std::string repeated(const std::string &unit, std::size_t length) {
  std::string text;
  text.reserve(length + unit.size());
  while (text.size() < length)
    text += unit;
  text.resize(length);
  return text;
}

struct LongCase {
  const char *expression;
  std::string subject;
  bool matches;
};

void expect_linear_work(const std::vector<LongCase> &cases) {
  for (const LongCase &c : cases) {
    std::unique_ptr<Regexp> regexp = compile_regexp(c.expression);
    ASSERT_NE(regexp, nullptr);
    MatchStatistics statistics;
    EXPECT_EQ(execute_regexp_tuned(regexp.get(), c.subject.c_str(), MatchTuning{}, &statistics),
              c.matches ? 1 : 0)
        << c.expression;
    EXPECT_LT(statistics.steps, 20 * c.subject.size()) << c.expression;
  }
}

constexpr std::size_t kMillion = 1000000;

// The translation of "(a|b)*".
TEST(ExecuteRegexp, MillionCharacterRepeatedGroup) {
  expect_linear_work({{"^(a|b)*$", repeated("ab", kMillion - 1) + "c", false}});
  std::string subject = repeated("ab", kMillion);
  std::unique_ptr<Regexp> regexp = compile_regexp("^(a|b)*$");
  ASSERT_EQ(execute_regexp(regexp.get(), subject.c_str()), 1);
  EXPECT_EQ(span_of(*regexp, 1, subject.c_str()), (Span{999999, 1000000}));
}

// The translation of "**/**/**/x".
TEST(ExecuteRegexp, MillionCharacterStackedStars) {
  expect_linear_work({
      {"^.*.*.*x$", repeated("abc\\", kMillion), false},
      {"^.*.*.*x$", repeated("abc\\", kMillion - 1) + "x", true},
  });
}

TEST(ExecuteRegexp, LongSubjectsTakeLinearWork) {
  const std::size_t n = 100000;
  expect_linear_work({
      {"^(a|b)*$", std::string("c").append(repeated("ab", n - 1)), false},
      {".*.*[x]", repeated("abc\\", n), false},
      {"^.*a\\\\.*b\\\\.*c\\\\.*d$", repeated("a\\b\\c\\", n), false},
      {"^(.*a)*b$", repeated("a", n), false},
      {"^(a|ab)*c$", repeated("ab", n), false},
      {"^a.*.*[x]", repeated("a", n), false},
  });
}

// Without any table, remembering each repetition's latest failure already
// keeps the Ant-style near miss polynomial (plain backtracking takes about
// 400 million steps here).
TEST(ExecuteRegexp, LatestFailuresAloneTameTheNearMiss) {
  std::unique_ptr<Regexp> regexp = compile_regexp("^.*a\\\\.*b\\\\.*c\\\\.*d$");
  std::string subject = repeated("a\\b\\c\\", 1000);
  MatchTuning tuning;
  tuning.memo_free_steps = std::numeric_limits<std::uint64_t>::max();
  MatchStatistics statistics;
  EXPECT_EQ(execute_regexp_tuned(regexp.get(), subject.c_str(), tuning, &statistics), 0);
  EXPECT_LT(statistics.steps, 1000000u);
}

// The group boundaries are collected from a backtracking stack many blocks
// deep: the first group sits at its bottom, the last pass of the second at
// its top.
TEST(ExecuteRegexp, GroupsSurviveADeepStack) {
  std::string subject = std::string("x").append(repeated("ab", 20000)).append("yz");
  std::unique_ptr<Regexp> regexp = compile_regexp("^(x)(a|b)*(y)(z)?$");
  MatchStatistics statistics;
  ASSERT_EQ(execute_regexp_tuned(regexp.get(), subject.c_str(), MatchTuning{}, &statistics), 1);
  EXPECT_GT(statistics.deepest_stack, 20000u);
  const Span expected[kRegexpGroups] = {
      {0, 20003}, {0, 1}, {20000, 20001}, {20001, 20002}, {20002, 20003}};
  for (int g = 0; g < kRegexpGroups; ++g) {
    Span want = g < 5 ? expected[g] : kUnset;
    EXPECT_EQ(span_of(*regexp, g, subject.c_str()), want) << "group " << g;
  }
}

} // namespace
