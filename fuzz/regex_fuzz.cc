// Fuzz target for the expression compiler and matcher. The input is an
// expression text, a NUL byte, then a subject (see fuzz::subject_from: up to
// its own first NUL, optionally repeated into a long one).
//
// Every compiled program must be one the automaton takes on. Every
// expression is matched with failures remembered from the first step, with
// the default tuning, by the backtracking search alone (with 64-bit
// positions, and remembering from a step part way through the call) and
// answer-only; all runs must agree on the result and every group position,
// and a match must lie inside the subject. The automaton that decides first
// and the backtracking search are separate implementations of the same
// rules, so each checks the other.
//
// ctest replays the seed corpus through this function.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "fuzz_support.h"
#include "regex/automaton.h"
#include "regex/match_tuning.h"
#include "regex/regexp.h"

namespace {

// A call's result and group positions.
struct Outcome {
  int matched = 0;
  std::vector<const char *> groups; // every start and end, when matched
};

Outcome outcome_of(int result, const Regexp &regexp) {
  Outcome outcome{result, {}};
  for (int g = 0; g < kRegexpGroups && result == 1; ++g)
    outcome.groups.insert(outcome.groups.end(), {regexp.group_start[g], regexp.group_end[g]});
  return outcome;
}

Outcome run(Regexp &regexp, const std::string &subject, const MatchTuning &tuning) {
  return outcome_of(execute_regexp_tuned(&regexp, subject.c_str(), tuning, nullptr), regexp);
}

void expect_same(const Outcome &a, const Outcome &b, const char *what) {
  if (a.matched != b.matched || a.groups != b.groups)
    fuzz::fail("%s: result %d, expected %d, or the groups differ", what, b.matched, a.matched);
}

// A match lies inside the subject, every group inside the match and set at
// both ends or at neither.
void check_match(const Outcome &outcome, const std::string &subject) {
  if (outcome.matched == 0)
    return;
  const char *match_start = outcome.groups[0], *match_end = outcome.groups[1];
  if (match_start == nullptr || match_end == nullptr || match_start < subject.c_str() ||
      match_start > match_end || match_end > subject.c_str() + subject.size())
    fuzz::fail("whole match outside the subject");
  for (int g = 1; g < kRegexpGroups; ++g) {
    const char *start = outcome.groups[2 * g], *stop = outcome.groups[2 * g + 1];
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

  Outcome first = run(*regexp, subject, MatchTuning{0, false, true});
  check_match(first, subject);
  expect_same(first, outcome_of(execute_regexp(regexp.get(), subject.c_str()), *regexp),
              "default matcher");
  // The backtracking search deciding alone: remembering from the first
  // step with 64-bit positions, and from a step part way through the call.
  expect_same(first, run(*regexp, subject, MatchTuning{0, true, false}), "64-bit positions");
  std::uint64_t part_way = 1 + fuzz::checksum(subject) % 40;
  expect_same(first, run(*regexp, subject, MatchTuning{part_way, false, false}),
              "remembering part way");
  if (regexp_matches(regexp.get(), subject.c_str()) != first.matched)
    fuzz::fail("answer-only call: %d, expected %d", 1 - first.matched, first.matched);
  return 0;
}
