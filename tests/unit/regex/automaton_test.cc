// The automaton that decides before the backtracking search: its cache of
// states must follow changes to a compiled expression, survive overflowing,
// keep long subjects linear, and leave damaged programs to the backtracking
// search so that they fail the same way.
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

int backtracking_only(Regexp &regexp, const char *subject) {
  MatchTuning tuning;
  tuning.decide_first = false;
  return execute_regexp_tuned(&regexp, subject, tuning, nullptr);
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
      // The literal "b" of "^abc$" (offsets: marker 0, alternative 1, "^" 4,
      // literal 7, its text from 10) becomes "x".
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
  ASSERT_NE(regexp, nullptr);
  std::mt19937 random(7);
  MatchStatistics statistics;
  for (int round = 0; round < 40; ++round) {
    std::string subject;
    for (int i = 0; i < 2000; ++i)
      subject += "ab"[random() % 2];
    if (round % 2 == 0)
      subject += 'c';
    int expected = backtracking_only(*regexp, subject.c_str());
    EXPECT_EQ(execute_regexp_tuned(regexp.get(), subject.c_str(), MatchTuning{}, &statistics),
              expected)
        << round;
    EXPECT_EQ(regexp_matches(regexp.get(), subject.c_str()), expected) << round;
  }
  EXPECT_GT(statistics.automaton_resets, 0u) << statistics.automaton_states;
}

// Two thousand alternatives under a repetition: every one can follow every
// other, too many follow entries to keep, so the backtracking search
// decides alone; a hundred still get an automaton.
TEST(MatcherAutomaton, LeavesHugeAlternationsToBacktracking) {
  const struct {
    int alternatives;
    bool automaton;
  } cases[] = {{2000, false}, {100, true}};
  for (const auto &c : cases) {
    std::string expression = "^(";
    for (int i = 0; i < c.alternatives; ++i)
      expression += (i > 0 ? "|b" : "b") + std::to_string(1000 + i);
    expression += ")*$";
    std::unique_ptr<Regexp> regexp = compile_regexp(expression.c_str());
    ASSERT_NE(regexp, nullptr);
    for (const char *subject : {"b1000b1001b1099", "b1000b1001b099", ""}) {
      MatchStatistics statistics;
      EXPECT_EQ(execute_regexp_tuned(regexp.get(), subject, MatchTuning{}, &statistics),
                backtracking_only(*regexp, subject))
          << c.alternatives << " on " << subject;
      EXPECT_EQ(statistics.automaton_states > 0, c.automaton && *subject != '\0')
          << c.alternatives << " on " << subject;
    }
  }
}

// Subjects that do not match are settled without a single backtracking step,
// with a handful of states, however long they are.
TEST(MatcherAutomaton, NearMissesNeedNoBacktracking) {
  const std::size_t length = 200000;
  const struct {
    const char *expression;
    std::string subject;
  } cases[] = {
      {"^.*a\\\\.*b\\\\.*c\\\\.*d$", repeated("a\\b\\c\\", length) + "dx"},
      {"^(a|b)*$", repeated("ab", length) + "c"},
      {"^(.*a)*b$", repeated("a", length)},
      {"x.*y.*z", repeated("xy", length)}, // first-character starts
      {"(a|b)*c", repeated("ab", length)}, // every position a start
  };
  for (const auto &c : cases) {
    std::unique_ptr<Regexp> regexp = compile_regexp(c.expression);
    MatchStatistics statistics;
    EXPECT_EQ(execute_regexp_tuned(regexp.get(), c.subject.c_str(), MatchTuning{}, &statistics), 0)
        << c.expression;
    EXPECT_EQ(statistics.steps, 0u) << c.expression;
    EXPECT_EQ(statistics.attempts, 0u) << c.expression;
    EXPECT_LT(statistics.automaton_states, 20u) << c.expression;
  }
}

// Every one-byte damage of a few programs: with the automaton first or not,
// the same result, the same group positions and the same messages.
TEST(MatcherAutomaton, DamagedProgramsFailAsWithoutIt) {
  // No repeated groups: damage inside one could leave a loop that consumes
  // nothing, which the backtracking search would follow for ever.
  const char *const kExpressions[] = {"^a(b|cd)?e?[^x]$", "x*ab+c", "(a)|b.$"};
  const char *const kSubjects[] = {"abcdbe", "xxabbbc", "ab", "b1", "", "abcdex"};
  // Opcodes, link bytes, operand bytes; not the loop-back opcode, whose
  // backward links can make a damaged program loop without consuming.
  const unsigned char kValues[] = {0, 1, 2, 3, 4, 5, 6, 8, 9, 10, 11, 15, 21, 31, 40, 'a', 200};
  int compared = 0;
  for (const char *text : kExpressions) {
    std::unique_ptr<Regexp> original = compile_regexp(text);
    ASSERT_NE(original, nullptr);
    for (std::size_t offset = 1; offset < original->program.size(); ++offset) {
      for (unsigned char value : kValues) {
        std::unique_ptr<Regexp> regexp = compile_regexp(text);
        regexp->program[offset] = value;
        for (const char *subject : kSubjects) {
          std::vector<std::string> messages[2];
          const char *positions[2][2 * kRegexpGroups];
          int results[2];
          for (int decide_first = 0; decide_first < 2; ++decide_first) {
            HookCapture hook;
            MatchTuning tuning;
            tuning.decide_first = decide_first != 0;
            results[decide_first] = execute_regexp_tuned(regexp.get(), subject, tuning, nullptr);
            messages[decide_first] = hook.received();
            for (int g = 0; g < kRegexpGroups; ++g) {
              positions[decide_first][g] = regexp->group_start[g];
              positions[decide_first][kRegexpGroups + g] = regexp->group_end[g];
            }
          }
          SCOPED_TRACE(std::string(text) + " damaged at " + std::to_string(offset) + " to " +
                       std::to_string(value) + " on '" + subject + "'");
          ASSERT_EQ(results[0], results[1]);
          ASSERT_EQ(messages[0], messages[1]);
          HookCapture hook;
          ASSERT_EQ(regexp_matches(regexp.get(), subject), results[0]);
          ASSERT_EQ(hook.received(), messages[0]);
          if (results[0] == 1) {
            for (int g = 0; g < 2 * kRegexpGroups; ++g)
              ASSERT_EQ(positions[0][g], positions[1][g]) << g;
          }
          ++compared;
        }
      }
    }
  }
  EXPECT_GT(compared, 5000);
}

} // namespace
