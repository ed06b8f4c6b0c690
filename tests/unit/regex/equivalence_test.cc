// The matcher against the plain recursive interpreter of reference_matcher.h:
// same results and same group positions on many random expressions and
// subjects, whether failures are remembered from the first step, part way
// through a call, or not at all.
#include <gtest/gtest.h>

#include <iterator>
#include <limits>
#include <random>
#include <string>

#include "regex/match_tuning.h"
#include "regex/regexp.h"
#include "unit/regex/reference_matcher.h"

namespace {

class ExpressionGenerator {
public:
  explicit ExpressionGenerator(unsigned seed) : random_(seed) {}

  std::string expression(int depth) {
    std::string text = sequence(depth);
    while (pick(100) < (depth == 0 ? 15 : 25))
      text += '|' + sequence(depth);
    return text;
  }

  // Bytes on both sides of 0x7F/0x80 and a line feed, an ordinary character
  // to the matcher: a byte taken as a signed char anywhere shows up here.
  std::string subject() {
    static const char kBytes[] = "aaabbbc\\\n\x7f\x80\xe9\xe9\xff";
    std::string text;
    for (int length = pick(12); length > 0; --length)
      text += kBytes[pick(sizeof kBytes - 1)];
    return text;
  }

private:
  int pick(int bound) { return std::uniform_int_distribution<int>(0, bound - 1)(random_); }

  std::string sequence(int depth) {
    static const char *const kAtoms[] = {
        "a", "b", "ab", "ba", "aab", ".", "[ab]", "[^a]", "[a-b]", "[^\\]", "\\\\", "^", "$", "\\a",
        // High bytes and line feeds in literals (first, inner, escaped) and
        // in sets: single members, ranges across 0x7F/0x80, negated.
        "\xe9", "\xe9\xff", "a\n", "\\\xff", "[\xe9]", "[^\xe9]", "[\n\x80-\xe9]", "[~-\x80]",
        "[^\x7f-\xff]", "[^a\n\xff]"};
    static const char *const kMarks[] = {"", "", "", "*", "+", "?"};
    std::string text;
    for (int pieces = pick(5); pieces > 0; --pieces) {
      // Decide on a group before drawing the atom: the draws stay in order.
      bool group = depth < 3 && pick(100) < 30;
      if (group)
        text.append("(").append(expression(depth + 1)).append(")");
      else
        text += kAtoms[pick(std::size(kAtoms))];
      text += kMarks[pick(6)];
    }
    return text;
  }

  std::mt19937 random_;
};

// Compares one call of the matcher under TUNING with the reference result.
void expect_same(Regexp &regexp, const std::string &subject, const MatchTuning &tuning,
                 const regex_test::ReferenceResult &expected) {
  static const char sentinel = 0;
  for (int g = 0; g < kRegexpGroups; ++g)
    regexp.group_start[g] = regexp.group_end[g] = &sentinel;
  ASSERT_EQ(execute_regexp_tuned(&regexp, subject.c_str(), tuning, nullptr), expected.matched);
  for (int g = 0; g < kRegexpGroups; ++g) {
    // No start position tried: the arrays are left alone.
    bool untouched = expected.attempts == 0;
    EXPECT_EQ(regexp.group_start[g], untouched ? &sentinel : expected.group_start[g]) << g;
    EXPECT_EQ(regexp.group_end[g], untouched ? &sentinel : expected.group_end[g]) << g;
  }
}

// Whether the whole match holds a byte from 0x80 up or a line feed.
bool covers_a_high_byte_or_line_feed(const regex_test::ReferenceResult &result) {
  for (const char *p = result.group_start[0]; p != result.group_end[0]; ++p) {
    if (static_cast<unsigned char>(*p) >= 0x80 || *p == '\n')
      return true;
  }
  return false;
}

TEST(MatcherEquivalence, RandomExpressionsAgreeWithTheReference) {
  ExpressionGenerator generator(20261206);
  // The automaton deciding first, then backtracking to place the match; and
  // the backtracking search deciding alone, remembering failures from the
  // first step, early, part way, hardly at all, with the 64-bit positions
  // that only huge subjects otherwise get, and not at all.
  const std::uint64_t kNever = std::numeric_limits<std::uint64_t>::max();
  const MatchTuning kTunings[] = {{1024, false, true},  {0, true, true},     {0, false, false},
                                  {3, false, false},    {40, false, false},  {1024, false, false},
                                  {0, true, false},     {1024, true, false}, {kNever, false, false},
                                  {kNever, false, true}};
  int compiled = 0, matched = 0, calls = 0, matched_high = 0;
  for (int round = 0; round < 4000; ++round) {
    std::string text = generator.expression(0);
    std::unique_ptr<Regexp> regexp = compile_regexp(text.c_str());
    if (regexp == nullptr)
      continue;
    ++compiled;
    for (int s = 0; s < 12; ++s) {
      std::string subject = generator.subject();
      regex_test::ReferenceResult expected =
          regex_test::ReferenceMatcher(*regexp, subject.c_str()).run();
      matched += expected.matched;
      if (expected.matched && covers_a_high_byte_or_line_feed(expected))
        ++matched_high;
      for (const MatchTuning &tuning : kTunings) {
        SCOPED_TRACE("'" + text + "' on '" + subject + "', memo after " +
                     std::to_string(tuning.memo_free_steps) +
                     (tuning.wide_positions ? ", wide" : "") +
                     (tuning.decide_first ? ", automaton first" : ""));
        expect_same(*regexp, subject, tuning, expected);
        ++calls;
        if (testing::Test::HasFailure())
          return;
      }
      ASSERT_EQ(regexp_matches(regexp.get(), subject.c_str()), expected.matched)
          << "'" << text << "' on '" << subject << "'";
    }
  }
  // The generator must produce a useful mix, not mostly refusals or misses,
  // and matches over high bytes and line feeds.
  EXPECT_GT(compiled, 2000);
  EXPECT_GT(matched, compiled * 12 / 5);
  EXPECT_LT(matched, compiled * 12 * 4 / 5);
  EXPECT_GT(calls, 250000);
  EXPECT_GT(matched_high, matched / 10);
}

// Expressions whose plain backtracking takes many paths, on subjects that
// almost match: the places where remembered failures cut the most.
TEST(MatcherEquivalence, HeavyBacktrackingAgreesWithTheReference) {
  const char *const kExpressions[] = {
      "(a|aa)*b",        "(a|ab|b)*c",       "^(a+b*)+c$",          "(.*a)*b",   "^.*.*.*c$",
      "(a+)+b",          "((a|b)(a|b))*$",   "^(a|b)*a(a|b)(a|b)$", "a*a*a*a*b", "(a?)(a?)(a?)aaa",
      "^(.*a\\\\)*.*b$", "((a)|(b)|(ab))+c", "(ba|a|b)+(ab)?$"};
  const char *const kSubjects[] = {"",
                                   "a",
                                   "aaaaaaaaaaaaaaaa",
                                   "aaaaaaaaaaaaaaab",
                                   "abababababababa",
                                   "ababababababababc",
                                   "bbbbaaaabbbbaaaa",
                                   "a\\a\\a\\a\\a\\a\\b",
                                   "a\\a\\a\\a\\a\\a\\c",
                                   "aaa"};
  for (const char *text : kExpressions) {
    std::unique_ptr<Regexp> regexp = compile_regexp(text);
    ASSERT_NE(regexp, nullptr) << text;
    for (const std::string subject : kSubjects) {
      regex_test::ReferenceResult expected =
          regex_test::ReferenceMatcher(*regexp, subject.c_str()).run();
      for (std::uint64_t memo_free_steps : {0, 10, 1024}) {
        for (bool decide_first : {true, false}) {
          SCOPED_TRACE(std::string("'") + text + "' on '" + subject + "'");
          expect_same(*regexp, subject, {memo_free_steps, false, decide_first}, expected);
        }
      }
      EXPECT_EQ(regexp_matches(regexp.get(), subject.c_str()), expected.matched)
          << text << " on " << subject;
    }
  }
}

} // namespace
