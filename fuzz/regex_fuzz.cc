// libFuzzer harness for the expression compiler and matcher; not part of the
// normal build. The input is an expression text, a NUL byte, then a
// subject. Every compiled expression is matched with failures remembered
// from the first step, never, and with 64-bit positions, and the three runs
// must agree on the result and every group position; short inputs are also
// checked against the plain recursive interpreter of the unit tests.
//
// Build and run from the repository root, for example:
//   clang++ -std=c++20 -g -O1 -fsanitize=fuzzer,address,undefined -Isrc -Itests \
//     fuzz/regex_fuzz.cc src/regex/compile.cc src/regex/match.cc -o regex_fuzz
//   ./regex_fuzz -max_len=64 -max_total_time=60
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <string>

#include "regex/match_tuning.h"
#include "regex/regexp.h"
#include "unit/regex/reference_matcher.h"

namespace {

struct Outcome {
  int result = 0;
  const char *group_start[kRegexpGroups] = {};
  const char *group_end[kRegexpGroups] = {};
};

Outcome run(Regexp &regexp, const std::string &subject, const MatchTuning &tuning) {
  Outcome outcome;
  outcome.result = execute_regexp_tuned(&regexp, subject.c_str(), tuning, nullptr);
  for (int g = 0; g < kRegexpGroups; ++g) {
    outcome.group_start[g] = regexp.group_start[g];
    outcome.group_end[g] = regexp.group_end[g];
  }
  return outcome;
}

void expect_same(const Outcome &a, const Outcome &b) {
  if (a.result != b.result)
    std::abort();
  if (a.result == 0)
    return;
  for (int g = 0; g < kRegexpGroups; ++g) {
    if (a.group_start[g] != b.group_start[g] || a.group_end[g] != b.group_end[g])
      std::abort();
  }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  const char *bytes = reinterpret_cast<const char *>(data);
  const char *separator = static_cast<const char *>(std::memchr(bytes, 0, size));
  if (separator == nullptr)
    return 0;
  std::string expression(bytes, separator);
  std::string subject(separator + 1, bytes + size);
  subject = subject.c_str(); // up to its first NUL, as a version text would be

  std::unique_ptr<Regexp> regexp = compile_regexp(expression.c_str());
  if (regexp == nullptr)
    return 0;

  MatchTuning remembering;
  remembering.memo_free_steps = 0;
  MatchTuning plain;
  plain.memo_free_steps = std::numeric_limits<std::uint64_t>::max();
  MatchTuning wide;
  wide.wide_positions = true;

  Outcome first = run(*regexp, subject, remembering);
  expect_same(first, run(*regexp, subject, wide));
  // Plain backtracking and the recursive interpreter can take exponential
  // time; keep them to short inputs.
  if (subject.size() <= 10 && expression.size() <= 24) {
    expect_same(first, run(*regexp, subject, plain));
    regex_test::ReferenceResult reference =
        regex_test::ReferenceMatcher(*regexp, subject.c_str()).run();
    Outcome expected;
    expected.result = reference.matched;
    for (int g = 0; g < kRegexpGroups; ++g) {
      expected.group_start[g] = reference.group_start[g];
      expected.group_end[g] = reference.group_end[g];
    }
    expect_same(first, expected);
  }
  return 0;
}
