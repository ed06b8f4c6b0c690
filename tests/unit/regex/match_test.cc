// The matcher's own cases: start positions, refusals, damaged programs,
// the work on pathological subjects, and the automaton that decides before
// the backtracking search (its cache of states must follow changes to a
// compiled expression and survive overflowing). Results and group
// positions against the reference interpreter are the fuzz target's,
// replayed over its corpus by ctest.
#include <gtest/gtest.h>

#include <functional>
#include <random>
#include <string>
#include <vector>

#include "regex/match_tuning.h"
#include "regex/regexp.h"
#include "unit/regex/regex_test_support.h"

namespace {

using regex_test::HookCapture;
using regex_test::repeated;

// The groups as "start,end" offsets into SUBJECT ("-" for an unset group),
// trailing unset groups left out.
std::string spans(const Regexp &regexp, const char *subject) {
  std::string text, unset;
  for (int g = 0; g < kRegexpGroups; ++g) {
    if (regexp.group_start[g] == nullptr) {
      unset += " -";
      continue;
    }
    text += unset + " " + std::to_string(regexp.group_start[g] - subject) + "," +
            std::to_string(regexp.group_end[g] - subject);
    unset.clear();
  }
  return text.empty() ? text : text.substr(1);
}

MatchTuning deciding_first(bool decide_first) {
  MatchTuning tuning;
  tuning.decide_first = decide_first;
  return tuning;
}

int backtracking_only(Regexp &regexp, const char *subject) {
  return execute_regexp_tuned(&regexp, subject, deciding_first(false), nullptr);
}

TEST(ExecuteRegexp, HintsDecideWhichStartsAreTried) {
  const struct {
    const char *expression, *subject;
    std::uint64_t attempts;
  } cases[] = {
      {"x*abc*de", "abcd", 0}, // required literal absent
      {"^ab", "xab", 1},       // anchored
      {"bc", "abxbxbc", 3},    // only at each "b"
      {"[b]c", "abxbxb", 7},   // no hint: every position and the NUL
  };
  for (const auto &c : cases) {
    std::unique_ptr<Regexp> regexp = compile_regexp(c.expression);
    MatchStatistics statistics;
    execute_regexp_tuned(regexp.get(), c.subject, deciding_first(false), &statistics);
    EXPECT_EQ(statistics.attempts, c.attempts) << c.expression << " on " << c.subject;
  }
  // No start position tried: the previous match stays described; tried and
  // failed: everything is cleared.
  std::unique_ptr<Regexp> regexp = compile_regexp("x*abc*de");
  const char *earlier = "xxabcde";
  ASSERT_EQ(execute_regexp(regexp.get(), earlier), 1);
  EXPECT_EQ(execute_regexp(regexp.get(), "abcd"), 0);
  EXPECT_EQ(spans(*regexp, earlier), "0,7");
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
  const struct {
    const char *expression;
    std::string subject;
    bool matches;
  } cases[] = {
      {"^.*.*.*x$", repeated("abc\\", n), false},
      {"^.*.*.*x$", repeated("abc\\", n - 1) + "x", true},
      {".*.*[x]", repeated("abc\\", n), false},
      {"^.*a\\\\.*b\\\\.*c\\\\.*d$", repeated("a\\b\\c\\", n), false},
      {"^(.*a)*b$", repeated("a", n), false},
      {"^a.*.*[x]", repeated("a", n), false},
      {"x.*y.*z", repeated("xy", n), false},     // first-character starts
      {"(a|b)*(c|d)", repeated("ab", n), false}, // every position a start
      // Found by the fuzzer: eight ways to match each "x", exponential for
      // plain recursion.
      {"(x()?()()?()?a?a*(|y))+@", repeated("x", n), false},
      {"(x()?()()?()?a?a*(|y))+@", repeated("x", n) + "@", true},
  };
  for (const auto &c : cases) {
    std::unique_ptr<Regexp> regexp = compile_regexp(c.expression);
    for (bool decide_first : {true, false}) {
      SCOPED_TRACE(std::string(c.expression) + (decide_first ? ", automaton first" : ""));
      MatchStatistics statistics;
      EXPECT_EQ(execute_regexp_tuned(regexp.get(), c.subject.c_str(), deciding_first(decide_first),
                                     &statistics),
                c.matches);
      EXPECT_LT(statistics.steps, 60 * c.subject.size());
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
  EXPECT_EQ(spans(*regexp, subject.c_str()),
            "0,1000003 0,1 1000000,1000001 1000001,1000002 1000002,1000003");
}

// An expression matched once (so that its automaton exists), then changed
// in place: the next calls must see the change.
TEST(MatcherAutomaton, FollowsChangesToTheExpression) {
  const struct {
    const char *expression;
    std::function<void(Regexp &)> change;
    const char *subject;
    int before, after;
  } cases[] = {
      // The "b" of "^abc$" (marker 0, alternative 1, "^" 4, literal 7, its
      // text from 10) becomes "x".
      {"^abc$", [](Regexp &r) { r.program[11] = 'x'; }, "axc", 0, 1},
      {"bc", [](Regexp &r) { r.anchored = 1; }, "abc", 1, 0},
      {"[ab]c", [](Regexp &r) { r.first_char = 'b'; }, "xac", 1, 0},
      {"[ab]c", [](Regexp &r) { r.first_char = 'a'; }, "xac", 1, 1},
  };
  for (const auto &c : cases) {
    std::unique_ptr<Regexp> regexp = compile_regexp(c.expression);
    ASSERT_EQ(regexp_matches(regexp.get(), c.subject), c.before) << c.expression;
    c.change(*regexp);
    EXPECT_EQ(regexp_matches(regexp.get(), c.subject), c.after) << c.expression;
    EXPECT_EQ(execute_regexp(regexp.get(), c.subject), c.after) << c.expression;
    EXPECT_EQ(backtracking_only(*regexp, c.subject), c.after) << c.expression;
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

// Two thousand alternatives under a repetition: every one can follow every
// other, too many follow entries to keep, so the backtracking search
// decides alone; a hundred still get an automaton.
TEST(MatcherAutomaton, LeavesHugeAlternationsToBacktracking) {
  for (int alternatives : {2000, 100}) {
    std::string expression = "^(";
    for (int i = 0; i < alternatives; ++i)
      expression += (i > 0 ? "|b" : "b") + std::to_string(1000 + i);
    std::unique_ptr<Regexp> regexp = compile_regexp((expression + ")*$").c_str());
    ASSERT_NE(regexp, nullptr);
    for (const char *subject : {"b1000b1001b1099", "b1000b1001b099"}) {
      MatchStatistics statistics;
      EXPECT_EQ(execute_regexp_tuned(regexp.get(), subject, MatchTuning{}, &statistics),
                backtracking_only(*regexp, subject))
          << alternatives << " on " << subject;
      EXPECT_EQ(statistics.automaton_states > 0, alternatives == 100) << subject;
    }
  }
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
          ASSERT_EQ(outcome(*regexp, subject, true), alone);
          HookCapture hook;
          ASSERT_EQ(regexp_matches(regexp.get(), subject), alone.result);
          ASSERT_EQ(hook.received(), alone.messages);
          ++compared;
        }
      }
    }
  }
  EXPECT_GT(compared, 5000);
}

} // namespace
