// The matcher's entry points: the checks every call starts with, then the
// automaton's decision (automaton.h) and, where the positions of a match
// are wanted or the automaton cannot decide, the backtracking search
// (interpreter.h).
#include <cstring>

#include "regex/automaton.h"
#include "regex/backtrack_stack.h"
#include "regex/interpreter.h"
#include "regex/match_tuning.h"
#include "regex/node_scan.h"
#include "regex/regexp.h"

namespace {

using regex_match::report_failure;

bool contains_required_literal(const Regexp &regexp, const char *subject) {
  const char *literal = regexp.required_literal;
  std::size_t length =
      regexp.required_length > 0 ? static_cast<std::size_t>(regexp.required_length) : 0;
  for (const char *p = std::strchr(subject, literal[0]); p != nullptr;
       p = std::strchr(p + 1, literal[0])) {
    if (std::strncmp(p, literal, length) == 0)
      return true;
    if (*p == '\0')
      break;
  }
  return false;
}

// The checks every call starts with; true when the call is refused (after
// reporting why) or the required literal is missing, so that no start
// position is tried.
bool settled_without_attempt(const Regexp *regexp, const char *subject) {
  if (regexp == nullptr || subject == nullptr) {
    report_failure("NULL parameter");
    return true;
  }
  const ProgramBytes &program = regexp->program;
  if (program.empty() || program[0] != kRegexpMarker ||
      program.size() > regex_match::kLargestProgram) {
    report_failure("corrupted program");
    return true;
  }
  return regexp->required_literal != nullptr && !contains_required_literal(*regexp, subject);
}

// Whether the search would try any start position at all: only the first
// character can rule out every one.
bool tries_a_start_position(const Regexp &regexp, const char *subject) {
  return regexp.anchored != 0 || regexp.first_char == 0 ||
         std::strchr(subject, regexp.first_char) != nullptr;
}

void clear_groups(Regexp &regexp) {
  for (int i = 0; i < kRegexpGroups; ++i) {
    regexp.group_start[i] = nullptr;
    regexp.group_end[i] = nullptr;
  }
}

Decision decide(Regexp &regexp, const char *subject, MatchStatistics *statistics) {
  AutomatonStatistics automaton_statistics;
  Decision decision = decide_match(regexp, subject, &automaton_statistics);
  if (statistics != nullptr) {
    statistics->automaton_states += automaton_statistics.states_built;
    statistics->automaton_resets += automaton_statistics.cache_resets;
  }
  return decision;
}

} // namespace

int execute_regexp_tuned(Regexp *regexp, const char *subject, const MatchTuning &tuning,
                         MatchStatistics *statistics) {
  if (settled_without_attempt(regexp, subject))
    return 0;
  // Most subjects do not match: the automaton says so in one pass, and the
  // backtracking search then only runs to find the positions of a match.
  if (tuning.decide_first && decide(*regexp, subject, statistics) == Decision::kNoMatch) {
    if (tries_a_start_position(*regexp, subject))
      clear_groups(*regexp);
    return 0;
  }
  return backtracking_search(*regexp, subject, tuning, statistics);
}

int execute_regexp(Regexp *regexp, const char *subject) {
  return execute_regexp_tuned(regexp, subject, MatchTuning{}, nullptr);
}

int regexp_matches(Regexp *regexp, const char *subject) {
  if (settled_without_attempt(regexp, subject))
    return 0;
  switch (decide_match(*regexp, subject, nullptr)) {
  case Decision::kNoMatch:
    return 0;
  case Decision::kMatch:
    return 1;
  case Decision::kUndecided:
    break;
  }
  return execute_regexp_tuned(regexp, subject, MatchTuning{}, nullptr);
}
