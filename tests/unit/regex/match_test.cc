// The matcher's own cases: refusals, damaged programs, the work on
// pathological subjects, and the automaton that decides before the
// backtracking search (its cache of states must survive overflowing, and
// damaged programs must fail as they do without it). That the automaton and
// the backtracking search agree on results and group positions is the fuzz
// target's check, replayed over its corpus by ctest.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "regex/match_tuning.h"
#include "regex/regexp.h"
#include "unit/regex/regex_test_support.h"

namespace {

using regex_test::HookCapture;
using regex_test::repeated;

// Plain tuning, with or without the automaton deciding first.
MatchTuning deciding_first(bool decide_first) {
  return MatchTuning{MatchTuning{}.memo_free_steps, false, decide_first};
}

int backtracking_only(Regexp &regexp, const char *subject) {
  return execute_regexp_tuned(&regexp, subject, deciding_first(false), nullptr);
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
    const char *message; // the first one; "": none
  } cases[] = {
      {damaged("a", 0, 0x9D), "a", 0, "corrupted program"},
      {std::move(empty_program), "a", 0, "corrupted program"},
      {damaged("[a]", 4, 15), "a", 0, "memory corruption"}, // unknown opcode
      {std::move(unterminated), "abcdef", 0, "memory corruption"},
      {damaged("[a]", 6, 0), "a", 0, "corrupted pointers"},      // chain ends early
      {damaged("[a]", 6, 200), "a", 0, "corrupted pointers"},    // link leaves the program
      {damaged("a*", 7, NODE_EMPTY), "a", 1, "internal foulup"}, // counts nothing, goes on
      {damaged("^a", 10, 0), "b", 0, ""},                        // empty literal: only the end
      {damaged("^a", 10, 0), "", 1, ""},
  };
  for (auto &c : cases) {
    HookCapture hook;
    EXPECT_EQ(execute_regexp(c.regexp.get(), c.subject), c.result) << c.message;
    // Each start position tried may report again.
    EXPECT_EQ(hook.received().empty() ? "" : hook.received().front(), c.message);
  }
  HookCapture hook;
  EXPECT_EQ(execute_regexp(nullptr, "a"), 0);
  EXPECT_EQ(execute_regexp(cases[0].regexp.get(), nullptr), 0);
  EXPECT_EQ(hook.received(), (std::vector<std::string>{"NULL parameter", "NULL parameter"}));
}

// Near misses that plain backtracking takes quadratic time or worse on, and
// matches of the same expressions: remembered failures keep the search
// linear. With the automaton first, a subject that does not match takes no
// backtracking step at all, and a handful of states.
TEST(ExecuteRegexp, PathologicalBacktrackingStaysLinear) {
  const std::size_t n = 2000;
  // clang-format off
  const struct { const char *expression; std::string subject; bool matches; } cases[] = {
    {"^.*.*.*x$", repeated("abc\\", n), false}, {"^.*.*.*x$", repeated("abc\\", n - 1) + "x", true},
    {".*.*[x]", repeated("abc\\", n), false}, {"^.*a\\\\.*b\\\\.*c\\\\.*d$", repeated("a\\b\\c\\", n), false},
    {"^(.*a)*b$", repeated("a", n), false}, {"^a.*.*[x]", repeated("a", n), false},
    {"x.*y.*z", repeated("xy", n), false},     // first-character starts
    {"(a|b)*(c|d)", repeated("ab", n), false}, // every position a start
    // Found by the fuzzer: eight ways to match each "x", exponential for
    // plain recursion.
    {"(x()?()()?()?a?a*(|y))+@", repeated("x", n), false}, {"(x()?()()?()?a?a*(|y))+@", repeated("x", n) + "@", true},
  };
  // clang-format on
  for (const auto &c : cases) {
    std::unique_ptr<Regexp> regexp = compile_regexp(c.expression);
    for (bool decide_first : {true, false}) {
      SCOPED_TRACE(std::string(c.expression) + (decide_first ? ", automaton first" : ""));
      MatchStatistics statistics;
      EXPECT_EQ(execute_regexp_tuned(regexp.get(), c.subject.c_str(), deciding_first(decide_first),
                                     &statistics),
                c.matches);
      EXPECT_LT(statistics.steps, 60 * c.subject.size());
      // At most one failure table for each repetition and alternative.
      auto marks = std::ranges::count_if(std::string_view(c.expression),
                                         [](char m) { return std::strchr("*+?|", m) != nullptr; });
      EXPECT_LE(statistics.memo_tables, static_cast<std::uint64_t>(marks));
      if (decide_first && !c.matches) {
        EXPECT_EQ(statistics.steps + statistics.attempts, 0u);
        EXPECT_LT(statistics.automaton_states, 20u);
      }
    }
  }
}

// Group boundaries collected from a backtracking stack many blocks deep (a
// million frames: the machine stack would not hold them): the first group
// sits at its bottom, the last pass of the second at its top.
TEST(ExecuteRegexp, GroupsSurviveADeepStack) {
  std::string subject = std::string("x").append(repeated("ab", 1000000)).append("yz");
  std::unique_ptr<Regexp> regexp = compile_regexp("^(x)(a|b)*(y)(z)?$");
  MatchStatistics statistics;
  ASSERT_EQ(execute_regexp_tuned(regexp.get(), subject.c_str(), MatchTuning{}, &statistics), 1);
  EXPECT_GT(statistics.deepest_stack, 1000000u);
  const std::ptrdiff_t spans[][2] = {
      {0, 1000003}, {0, 1}, {1000000, 1000001}, {1000001, 1000002}, {1000002, 1000003}};
  for (int g = 0; g < 5; ++g) {
    EXPECT_EQ(regexp->group_start[g] - subject.c_str(), spans[g][0]) << g;
    EXPECT_EQ(regexp->group_end[g] - subject.c_str(), spans[g][1]) << g;
  }
}

// "the twelfth character from the end is an a": thousands of sets of paths,
// more than the cache keeps, so it starts again part way through.
TEST(MatcherAutomaton, AgreesAfterItsCacheOverflows) {
  std::unique_ptr<Regexp> regexp =
      compile_regexp("[ab]*a[ab][ab][ab][ab][ab][ab][ab][ab][ab][ab][ab]c");
  std::mt19937 random(7);
  MatchStatistics statistics;
  for (int round = 0; round < 40; ++round) {
    std::string subject;
    for (int i = 0; i < 2000; ++i)
      subject += "ab"[random() % 2];
    subject += round % 2 == 0 ? "c" : "";
    int expected = backtracking_only(*regexp, subject.c_str());
    EXPECT_EQ(execute_regexp_tuned(regexp.get(), subject.c_str(), MatchTuning{}, &statistics),
              expected);
    EXPECT_EQ(regexp_matches(regexp.get(), subject.c_str()), expected) << round;
  }
  EXPECT_GT(statistics.automaton_resets, 0u) << statistics.automaton_states;
}

// A program changed after a match is matched as it is now, not by the
// states the automaton learnt from it before.
TEST(MatcherAutomaton, FollowsAProgramChangedAfterAMatch) {
  std::unique_ptr<Regexp> regexp = compile_regexp("xab");
  EXPECT_EQ(regexp_matches(regexp.get(), "xab"), 1);
  for (std::size_t i = 0; i < regexp->program.size(); ++i) {
    if (regexp->program[i] == 'b')
      regexp->program[i] = 'c';
  }
  EXPECT_EQ(regexp_matches(regexp.get(), "xab"), 0);
  EXPECT_EQ(regexp_matches(regexp.get(), "xac"), 1);
}

struct Outcome {
  int result;
  std::vector<std::string> messages;
  std::vector<const char *> groups;
  bool operator==(const Outcome &) const = default;
};

Outcome outcome(Regexp &regexp, const char *subject, bool decide_first) {
  HookCapture hook;
  Outcome out{
      execute_regexp_tuned(&regexp, subject, deciding_first(decide_first), nullptr), {}, {}};
  out.messages = hook.received();
  for (int g = 0; g < kRegexpGroups && out.result == 1; ++g)
    out.groups.insert(out.groups.end(), {regexp.group_start[g], regexp.group_end[g]});
  return out;
}

// Every one-byte damage of a few programs: with the automaton first or not,
// and answer-only, the same result, group positions and messages.
TEST(MatcherAutomaton, DamagedProgramsFailAsWithoutIt) {
  // No repeated groups and no loop-back opcode among the values: either
  // could leave a loop that consumes nothing, which the backtracking search
  // would follow for ever.
  const char *const kExpressions[] = {"^a(b|cd)?e?[^x]$", "x*ab+c", "(a)|b.$"};
  const char *const kSubjects[] = {"abcdbe", "xxabbbc", "ab", "b1", "", "abcdex"};
  const unsigned char kValues[] = {0, 1, 2, 3, 4, 5, 6, 8, 9, 10, 11, 15, 21, 31, 40, 'a', 200};
  int compared = 0;
  for (const char *text : kExpressions) {
    std::size_t size = compile_regexp(text)->program.size();
    for (std::size_t offset = 1; offset < size; ++offset) {
      for (unsigned char value : kValues) {
        std::unique_ptr<Regexp> regexp = damaged(text, offset, value);
        for (const char *subject : kSubjects) {
          SCOPED_TRACE(std::string(text) + " damaged at " + std::to_string(offset) + " to " +
                       std::to_string(value) + " on '" + subject + "'");
          Outcome alone = outcome(*regexp, subject, false);
          EXPECT_EQ(outcome(*regexp, subject, true), alone);
          HookCapture hook;
          EXPECT_EQ(regexp_matches(regexp.get(), subject), alone.result);
          EXPECT_EQ(hook.received(), alone.messages);
          ++compared;
        }
      }
    }
  }
  EXPECT_GT(compared, 5000);
}

} // namespace
