#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "regex/match_tuning.h"
#include "regex/regexp.h"
#include "unit/regex/regex_test_support.h"

namespace {

using regex_test::HookCapture;
using regex_test::repeated;

// The groups as "start,end" offsets into SUBJECT ("-1" where unset, "-" for
// an unset group), trailing unset groups left out.
std::string spans(const Regexp &regexp, const char *subject) {
  std::string text, unset;
  for (int g = 0; g < kRegexpGroups; ++g) {
    const char *start = regexp.group_start[g], *end = regexp.group_end[g];
    if (start == nullptr && end == nullptr) {
      unset += " -";
      continue;
    }
    text += unset + " " + std::to_string(start ? start - subject : -1) + "," +
            std::to_string(end ? end - subject : -1);
    unset.clear();
  }
  return text.empty() ? text : text.substr(1);
}

// Each case runs as the program does and with failures remembered from the
// first step, which must not change any result or position.
TEST(ExecuteRegexp, PositionsAndPriorities) {
  const struct {
    const char *expression, *subject;
    const char *spans; // null: no match
  } cases[] = {
      // Top-level bars, dollars inside and single stars are pinned end to end.
      {"b", "abc", "1,2"},
      {"^ab", "xab", nullptr},
      {"$", "abc", "3,3"},
      {"", "abc", "0,0"},
      {"a*", "bbb", "0,0"},
      {"a*a", "aaaa", "0,4"},
      {"(a)*", "aaa", "0,3 2,3"},
      {"(ab)+", "xababab", "1,7 5,7"},
      {"(a|ab)c", "abc", "0,3 0,2"},
      {"(a|ab)(c|bcd)", "abcd", "0,4 0,1 1,4"},
      {"(a)(b)?", "ac", "0,1 0,1"},
      {"(a?)b", "b", "0,1 0,0"},
      {"((a)|b)+", "ab", "0,2 1,2 0,1"},
      {"x*abc*de", "xxabcde", "0,7"},
      {".", "\n", "0,1"},
      {"\xe9+", "x\xe9\xe9y", "1,3"},
      {"[\xe0-\xff]", "a\xf0", "1,2"},
      {"^.*src\\\\.*[^\\]*\\.java$", "\\src\\a\\B.java", "0,13"},
  };
  for (const auto &c : cases) {
    std::unique_ptr<Regexp> regexp = compile_regexp(c.expression);
    ASSERT_NE(regexp, nullptr) << c.expression;
    for (std::uint64_t memo_free_steps : {1024, 0}) {
      SCOPED_TRACE(std::string("'") + c.expression + "' on '" + c.subject + "', memo after " +
                   std::to_string(memo_free_steps));
      MatchTuning tuning;
      tuning.memo_free_steps = memo_free_steps;
      ASSERT_EQ(execute_regexp_tuned(regexp.get(), c.subject, tuning, nullptr), c.spans != nullptr);
      if (c.spans != nullptr) {
        EXPECT_EQ(spans(*regexp, c.subject), c.spans);
      }
    }
  }
}

TEST(ExecuteRegexp, HintsDecideWhichStartsAreTried) {
  const struct {
    const char *expression;
    const char *subject;
    std::uint64_t attempts;
  } cases[] = {
      {"x*abc*de", "abcd", 0}, // required literal absent: no attempt
      {"^ab", "xab", 1},       // anchored: one attempt
      {"bc", "abxbxbc", 3},    // only at each "b"
      {"bc", "axa", 0},        // first character never occurs
      {"[b]c", "abxbxb", 7},   // no hint: every position and the NUL
  };
  for (const auto &c : cases) {
    std::unique_ptr<Regexp> regexp = compile_regexp(c.expression);
    MatchStatistics statistics;
    MatchTuning backtracking_only;
    backtracking_only.decide_first = false;
    execute_regexp_tuned(regexp.get(), c.subject, backtracking_only, &statistics);
    EXPECT_EQ(statistics.attempts, c.attempts) << c.expression << " on " << c.subject;
  }
}

TEST(ExecuteRegexp, GroupArraysAfterAFailedCall) {
  std::unique_ptr<Regexp> regexp = compile_regexp("x*abc*de");
  const char *earlier = "xxabcde";
  ASSERT_EQ(execute_regexp(regexp.get(), earlier), 1);
  // No start position tried: the previous match stays described.
  EXPECT_EQ(execute_regexp(regexp.get(), "abcd"), 0);
  EXPECT_EQ(spans(*regexp, earlier), "0,7");
  // Start positions tried and failed: everything is cleared.
  EXPECT_EQ(execute_regexp(regexp.get(), "dexx"), 0);
  EXPECT_EQ(spans(*regexp, earlier), "");
}

// Damages one byte of a compiled program; OFFSET counts from the marker.
std::unique_ptr<Regexp> damaged(const char *expression, std::size_t offset, unsigned char value) {
  std::unique_ptr<Regexp> regexp = compile_regexp(expression);
  regexp->program[offset] = value;
  return regexp;
}

TEST(ExecuteRegexp, RefusalsAndDamagedPrograms) {
  std::unique_ptr<Regexp> empty_program = compile_regexp("a");
  empty_program->program.truncate(0);
  // "^abc" without its end node and the literal's NUL.
  std::unique_ptr<Regexp> unterminated = compile_regexp("^abc");
  unterminated->program.truncate(unterminated->program.size() - 4);
  struct {
    std::unique_ptr<Regexp> regexp;
    const char *subject;
    int result;
    const char *message;
  } cases[] = {
      {damaged("a", 0, 0x9D), "a", 0, "corrupted program"},
      {std::move(empty_program), "a", 0, "corrupted program"},
      {damaged("[a]", 4, 15), "a", 0, "memory corruption"}, // unknown opcode
      {std::move(unterminated), "abcdef", 0, "memory corruption"},
      {damaged("[a]", 6, 0), "a", 0, "corrupted pointers"},      // chain ends early
      {damaged("[a]", 6, 200), "a", 0, "corrupted pointers"},    // link leaves the program
      {damaged("a*", 7, NODE_EMPTY), "a", 1, "internal foulup"}, // counts nothing, goes on
  };
  for (auto &c : cases) {
    HookCapture hook;
    EXPECT_EQ(execute_regexp(c.regexp.get(), c.subject), c.result) << c.message;
    ASSERT_FALSE(hook.received().empty()) << c.message;
    EXPECT_EQ(hook.received().front(), c.message);
  }
  HookCapture hook;
  EXPECT_EQ(execute_regexp(nullptr, "a"), 0);
  EXPECT_EQ(execute_regexp(cases[0].regexp.get(), nullptr), 0);
  EXPECT_EQ(hook.received(), (std::vector<std::string>{"NULL parameter", "NULL parameter"}));

  // "^a" with the literal's only character overwritten by its terminator.
  std::unique_ptr<Regexp> empty_literal = damaged("^a", 10, 0);
  EXPECT_EQ(execute_regexp(empty_literal.get(), ""), 1);
  EXPECT_EQ(execute_regexp(empty_literal.get(), "b"), 0);
}

// Million-character version lines: the backtracking stack lives on the heap
// and remembered failures keep the work linear.
TEST(ExecuteRegexp, LongSubjectsTakeLinearWork) {
  const std::size_t million = 1000000, n = 100000;
  const struct {
    const char *expression;
    std::string subject;
    bool matches;
  } cases[] = {
      {"^(a|b)*$", repeated("ab", million - 1) + "c", false}, // "(a|b)*"
      {"^.*.*.*x$", repeated("abc\\", million), false},       // "**/**/**/x"
      {"^.*.*.*x$", repeated("abc\\", million - 1) + "x", true},
      {"^(a|b)*$", std::string("c").append(repeated("ab", n - 1)), false},
      {".*.*[x]", repeated("abc\\", n), false},
      {"^.*a\\\\.*b\\\\.*c\\\\.*d$", repeated("a\\b\\c\\", n), false},
      {"^(.*a)*b$", repeated("a", n), false},
      {"^(a|ab)*c$", repeated("ab", n), false},
      {"^a.*.*[x]", repeated("a", n), false},
  };
  for (const auto &c : cases) {
    std::unique_ptr<Regexp> regexp = compile_regexp(c.expression);
    // The backtracking search alone as well: it must stay linear by itself.
    for (bool decide_first : {true, false}) {
      MatchTuning tuning;
      tuning.decide_first = decide_first;
      MatchStatistics statistics;
      EXPECT_EQ(execute_regexp_tuned(regexp.get(), c.subject.c_str(), tuning, &statistics),
                c.matches)
          << c.expression;
      EXPECT_LT(statistics.steps, 20 * c.subject.size()) << c.expression;
    }
  }
  std::string subject = repeated("ab", million);
  std::unique_ptr<Regexp> regexp = compile_regexp("^(a|b)*$");
  ASSERT_EQ(execute_regexp(regexp.get(), subject.c_str()), 1);
  EXPECT_EQ(spans(*regexp, subject.c_str()), "0,1000000 999999,1000000");
}

// Each pass of the group can match its one character in eight ways; the
// fuzzer found that plain recursion takes exponential time on ten of them.
// The work per character stays the same from a thousand to a million.
TEST(ExecuteRegexp, OptionalEmptyGroupsInARepetitionStayLinear) {
  std::unique_ptr<Regexp> regexp = compile_regexp("(x()?()()?()?a?a*(|y))+@");
  ASSERT_NE(regexp, nullptr);
  for (std::size_t n : {1000u, 1000000u}) {
    for (const char *end : {"", "@"}) {
      std::string subject = repeated("x", n) + end;
      for (bool decide_first : {true, false}) {
        MatchTuning tuning;
        tuning.decide_first = decide_first;
        MatchStatistics statistics;
        EXPECT_EQ(execute_regexp_tuned(regexp.get(), subject.c_str(), tuning, &statistics),
                  *end == '@')
            << n << end;
        EXPECT_LT(statistics.steps, 60 * n) << n << end << decide_first;
      }
    }
  }
}

// Group boundaries collected from a backtracking stack many blocks deep:
// the first group sits at its bottom, the last pass of the second at its top.
TEST(ExecuteRegexp, GroupsSurviveADeepStack) {
  std::string subject = std::string("x").append(repeated("ab", 20000)).append("yz");
  std::unique_ptr<Regexp> regexp = compile_regexp("^(x)(a|b)*(y)(z)?$");
  MatchStatistics statistics;
  ASSERT_EQ(execute_regexp_tuned(regexp.get(), subject.c_str(), MatchTuning{}, &statistics), 1);
  EXPECT_GT(statistics.deepest_stack, 20000u);
  EXPECT_EQ(spans(*regexp, subject.c_str()), "0,20003 0,1 20000,20001 20001,20002 20002,20003");
}

} // namespace
