// Fuzz target for the expression compiler and matcher. The input is an
// expression text, a NUL byte, then a subject (see fuzz::subject_from: up to
// its own first NUL, optionally repeated into a long one).
//
// Every compiled program must be one the automaton takes on. Every
// expression is matched with failures remembered from the first step, with
// the default tuning, by the backtracking search alone (with 64-bit
// positions, and remembering from a step part way through the call) and
// answer-only; all runs must agree on the result and every group position.
// Short inputs are also compared with plain backtracking and with the
// recursive interpreter of the unit tests, which ignores the compiler's
// start hints and required literal; both can take exponential time, so the
// interpreter runs first with a step budget, and both comparisons are
// skipped when it runs out.
//
// ctest replays the seed corpus through this function (see
// tests/unit/regex/corpus_replay.cc).
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "fuzz_support.h"
#include "regex/automaton.h"
#include "regex/match_tuning.h"
#include "regex/regexp.h"
#include "unit/regex/reference_matcher.h"

namespace {

// Steps of the recursive interpreter before it gives up: a few tens of
// milliseconds. Even ten-character subjects can take it exponential time,
// for instance a repeated group with several optional empty groups inside.
constexpr std::uint64_t kReferenceSteps = 1000000;

// A call's result and group positions, as the reference reports them.
using Outcome = regex_test::ReferenceResult;

Outcome copy_groups(int result, const Regexp &regexp) {
  Outcome outcome;
  outcome.matched = result;
  for (int g = 0; g < kRegexpGroups; ++g) {
    outcome.group_start[g] = regexp.group_start[g];
    outcome.group_end[g] = regexp.group_end[g];
  }
  return outcome;
}

constexpr std::uint64_t kNever = std::numeric_limits<std::uint64_t>::max();

MatchTuning tuned(std::uint64_t memo_free_steps, bool decide_first, bool wide_positions) {
  MatchTuning tuning;
  tuning.memo_free_steps = memo_free_steps;
  tuning.decide_first = decide_first;
  tuning.wide_positions = wide_positions;
  return tuning;
}

Outcome run(Regexp &regexp, const std::string &subject, const MatchTuning &tuning) {
  return copy_groups(execute_regexp_tuned(&regexp, subject.c_str(), tuning, nullptr), regexp);
}

void expect_same(const Outcome &a, const Outcome &b, const char *what) {
  if (a.matched != b.matched)
    fuzz::fail("%s: result %d, expected %d", what, b.matched, a.matched);
  if (a.matched == 0)
    return;
  for (int g = 0; g < kRegexpGroups; ++g) {
    if (a.group_start[g] != b.group_start[g] || a.group_end[g] != b.group_end[g])
      fuzz::fail("%s: group %d differs", what, g);
  }
}

// A match lies inside the subject, every group inside the match and set at
// both ends or at neither.
void check_match(const Outcome &outcome, const std::string &subject) {
  if (outcome.matched == 0)
    return;
  const char *begin = subject.c_str();
  const char *end = begin + subject.size();
  const char *match_start = outcome.group_start[0];
  const char *match_end = outcome.group_end[0];
  if (match_start == nullptr || match_end == nullptr || match_start < begin ||
      match_start > match_end || match_end > end)
    fuzz::fail("whole match outside the subject");
  for (int g = 1; g < kRegexpGroups; ++g) {
    const char *start = outcome.group_start[g];
    const char *stop = outcome.group_end[g];
    if ((start == nullptr) != (stop == nullptr))
      fuzz::fail("group %d set at one end only", g);
    if (start != nullptr && (start < match_start || start > stop || stop > match_end))
      fuzz::fail("group %d outside the whole match", g);
  }
}

// The automaton refuses the programs the compiler must never write: links
// that leave the program, unknown opcodes, operands without a terminator,
// repetitions of anything but a one-character node, loops that consume
// nothing. It also gives up when the follow sets pass their budget, which
// a program of at most 1024 bytes cannot reach: it has no more paths than
// bytes, and each path follows at most all of them.
void check_program(Regexp &regexp, const std::string &subject) {
  const ProgramBytes &program = regexp.program;
  if (program.size() < 4 || program.size() >= 0x7fff || program[0] != kRegexpMarker)
    fuzz::fail("bad program size or marker");
  if (program.size() <= 1024 &&
      decide_match(regexp, subject.c_str(), nullptr) == Decision::kUndecided)
    fuzz::fail("the automaton does not take the compiled program on");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  const char *bytes = reinterpret_cast<const char *>(data);
  const char *separator = static_cast<const char *>(std::memchr(bytes, 0, size));
  if (separator == nullptr)
    return 0;
  std::string expression(bytes, separator);
  std::string subject = fuzz::subject_from(separator + 1, bytes + size);

  std::unique_ptr<Regexp> regexp = compile_regexp(expression.c_str());
  if (regexp == nullptr)
    return 0;
  check_program(*regexp, subject);

  Outcome first = run(*regexp, subject, tuned(0, true, false));
  check_match(first, subject);
  expect_same(first, copy_groups(execute_regexp(regexp.get(), subject.c_str()), *regexp),
              "default matcher");
  // The backtracking search deciding alone: remembering from the first
  // step with 64-bit positions, and from a step part way through the call.
  expect_same(first, run(*regexp, subject, tuned(0, false, true)), "64-bit positions");
  std::uint64_t part_way = 1 + fuzz::checksum(subject) % 40;
  expect_same(first, run(*regexp, subject, tuned(part_way, false, false)), "remembering part way");
  if (regexp_matches(regexp.get(), subject.c_str()) != first.matched)
    fuzz::fail("answer-only call: %d, expected %d", 1 - first.matched, first.matched);
  // Plain backtracking and the recursive interpreter can take exponential
  // time; keep them to short inputs. Both follow the same search, so when
  // the interpreter runs out of steps, plain backtracking would too.
  if (subject.size() > 20 || expression.size() > 32)
    return 0;
  regex_test::ReferenceResult reference =
      regex_test::ReferenceMatcher(*regexp, subject.c_str(), kReferenceSteps).run();
  if (reference.gave_up)
    return 0;
  expect_same(first, run(*regexp, subject, tuned(kNever, false, false)), "plain backtracking");
  expect_same(reference, first, "against the recursive interpreter");
  return 0;
}
