// Fuzz target for the expression compiler and matcher. The input is an
// expression text, a NUL byte, then a subject (see fuzz::subject_from: up to
// its own first NUL, optionally repeated into a long one).
//
// Every compiled program is walked node by node and must stay inside its
// own bytes with known opcodes. Every expression is matched with failures
// remembered from the first step, with the default tuning, with 64-bit
// positions and by the backtracking search alone; all runs must agree
// on the result and every group position, and a match must honour the
// start hints and the required literal. Short inputs are also compared
// with plain backtracking and with the recursive interpreter of the unit
// tests; both can take exponential time, so the interpreter runs first
// with a step budget, and both comparisons are skipped when it runs out.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <limits>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz_support.h"
#include "regex/match_tuning.h"
#include "regex/regexp.h"
#include "unit/regex/reference_matcher.h"

namespace {

// Steps of the recursive interpreter before it gives up: a few tens of
// milliseconds. Even ten-character subjects can take it exponential time,
// for instance a repeated group with several optional empty groups inside.
constexpr std::uint64_t kReferenceSteps = 1000000;

struct Outcome {
  int result = 0;
  const char *group_start[kRegexpGroups] = {};
  const char *group_end[kRegexpGroups] = {};
};

Outcome copy_groups(int result, const Regexp &regexp) {
  Outcome outcome;
  outcome.result = result;
  for (int g = 0; g < kRegexpGroups; ++g) {
    outcome.group_start[g] = regexp.group_start[g];
    outcome.group_end[g] = regexp.group_end[g];
  }
  return outcome;
}

Outcome run(Regexp &regexp, const std::string &subject, const MatchTuning &tuning) {
  return copy_groups(execute_regexp_tuned(&regexp, subject.c_str(), tuning, nullptr), regexp);
}

void expect_same(const Outcome &a, const Outcome &b, const char *what) {
  if (a.result != b.result)
    fuzz::fail("%s: result %d, expected %d", what, b.result, a.result);
  if (a.result == 0)
    return;
  for (int g = 0; g < kRegexpGroups; ++g) {
    if (a.group_start[g] != b.group_start[g] || a.group_end[g] != b.group_end[g])
      fuzz::fail("%s: group %d differs", what, g);
  }
}

// A match lies inside the subject, every group inside the match and set at
// both ends or at neither, and the hints of the compiler hold for it.
void check_match(const Outcome &outcome, const Regexp &regexp, const std::string &subject) {
  if (outcome.result == 0)
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
  if (regexp.anchored && match_start != begin)
    fuzz::fail("anchored expression matched after the start");
  if (regexp.first_char != 0 &&
      (match_start == end || static_cast<unsigned char>(*match_start) != regexp.first_char))
    fuzz::fail("match does not begin with the first-character hint");
  if (regexp.required_literal != nullptr) {
    std::string_view literal(regexp.required_literal,
                             static_cast<std::size_t>(regexp.required_length));
    std::string_view matched(match_start, static_cast<std::size_t>(match_end - match_start));
    if (matched.find(literal) == std::string_view::npos)
      fuzz::fail("match lacks the required literal");
  }
}

// Walks every node reachable from the first one and checks that offsets,
// operands and opcodes stay inside the program.
class ProgramWalk {
public:
  explicit ProgramWalk(const ProgramBytes &program)
      : program_(program), seen_(program.size(), false) {}

  void check() {
    if (program_.size() < 4 || program_.size() >= 0x7fff || program_[0] != kRegexpMarker)
      fuzz::fail("bad program size or marker");
    if (program_[1] != NODE_ALTERNATIVE)
      fuzz::fail("program does not begin with an alternative");
    visit(1);
    while (!pending_.empty()) {
      std::size_t at = pending_.back();
      pending_.pop_back();
      walk_from(at);
    }
  }

private:
  void visit(std::size_t at) {
    if (at + 3 > program_.size())
      fuzz::fail("node at %zu runs past the program", at);
    if (!seen_[at]) {
      seen_[at] = true;
      pending_.push_back(at);
    }
  }

  void walk_from(std::size_t at) {
    unsigned char op = program_[at];
    std::size_t offset = static_cast<std::size_t>(program_[at + 1]) << 8 | program_[at + 2];
    if (!known_opcode(op))
      fuzz::fail("unknown opcode %u at %zu", op, at);
    check_operand(op, at);
    if (offset == 0)
      return;
    if (op == NODE_LOOP_BACK) {
      if (offset > at)
        fuzz::fail("loop back before the program at %zu", at);
      visit(at - offset);
    } else {
      visit(at + offset);
    }
  }

  void check_operand(unsigned char op, std::size_t at) {
    std::size_t operand = at + 3;
    switch (op) {
    case NODE_LITERAL:
    case NODE_IN_SET:
    case NODE_NOT_IN_SET: {
      const void *terminator = operand < program_.size() ? std::memchr(program_.data() + operand, 0,
                                                                       program_.size() - operand)
                                                         : nullptr;
      if (terminator == nullptr || terminator == program_.data() + operand)
        fuzz::fail("empty or unterminated operand at %zu", at);
      break;
    }
    case NODE_ALTERNATIVE:
      visit(operand);
      break;
    case NODE_ZERO_OR_MORE:
    case NODE_ONE_OR_MORE:
      check_repeated(operand);
      break;
    default:
      break;
    }
  }

  void check_repeated(std::size_t operand) {
    if (operand + 3 > program_.size())
      fuzz::fail("repetition operand past the program");
    unsigned char inner = program_[operand];
    if (inner != NODE_ANY_CHAR && inner != NODE_LITERAL && inner != NODE_IN_SET &&
        inner != NODE_NOT_IN_SET)
      fuzz::fail("repetition of a node of kind %u", inner);
    check_operand(inner, operand);
  }

  static bool known_opcode(unsigned char op) {
    return op <= NODE_ONE_OR_MORE || (op > NODE_GROUP_OPEN && op < NODE_GROUP_CLOSE) ||
           (op > NODE_GROUP_CLOSE && op <= NODE_GROUP_CLOSE + 9);
  }

  const ProgramBytes &program_;
  std::vector<bool> seen_;
  std::vector<std::size_t> pending_;
};

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
  ProgramWalk(regexp->program).check();

  MatchTuning remembering;
  remembering.memo_free_steps = 0;
  MatchTuning plain;
  plain.memo_free_steps = std::numeric_limits<std::uint64_t>::max();
  MatchTuning wide;
  wide.wide_positions = true;
  // The backtracker deciding on its own, without the automaton's answer.
  MatchTuning backtracking_alone;
  backtracking_alone.memo_free_steps = 0;
  backtracking_alone.decide_first = false;

  Outcome first = run(*regexp, subject, remembering);
  check_match(first, *regexp, subject);
  expect_same(first, copy_groups(execute_regexp(regexp.get(), subject.c_str()), *regexp),
              "default matcher");
  expect_same(first, run(*regexp, subject, wide), "64-bit positions");
  expect_same(first, run(*regexp, subject, backtracking_alone), "backtracking alone");
  if (regexp_matches(regexp.get(), subject.c_str()) != first.result)
    fuzz::fail("answer-only call: %d, expected %d", 1 - first.result, first.result);
  // Plain backtracking and the recursive interpreter can take exponential
  // time; keep them to short inputs. Both follow the same search, so when
  // the interpreter runs out of steps, plain backtracking would too.
  if (subject.size() <= 10 && expression.size() <= 24) {
    regex_test::ReferenceResult reference =
        regex_test::ReferenceMatcher(*regexp, subject.c_str(), kReferenceSteps).run();
    if (reference.gave_up)
      return 0;
    expect_same(first, run(*regexp, subject, plain), "plain backtracking");
    Outcome expected;
    expected.result = reference.matched;
    for (int g = 0; g < kRegexpGroups; ++g) {
      expected.group_start[g] = reference.group_start[g];
      expected.group_end[g] = reference.group_end[g];
    }
    expect_same(expected, first, "against the recursive interpreter");
  }
  return 0;
}
