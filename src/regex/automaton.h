// Deciding whether a match exists without backtracking: all paths through
// the node program are followed at once, one subject character at a time,
// and the sets of paths met are cached as the states of a lazily built
// deterministic automaton.
#pragma once

#include <cstddef>
#include <cstdint>

#include "regex/regexp.h"

enum class Decision {
  kNoMatch,
  kMatch,
  // A program the automaton does not take on (a damaged one, or one whose
  // empty loops could make the backtracking search run forever): only the
  // backtracking search can say what happens with it.
  kUndecided,
};

struct AutomatonStatistics {
  std::uint64_t states_built = 0; // automaton states made during the call
  std::uint64_t cache_resets = 0; // times the state cache was full
};

// Whether the backtracking search of execute_regexp, with the same start
// positions (anchored, first character, or every position up to the
// subject's NUL), finds a match in SUBJECT. The required-literal check is
// the caller's. Builds or reuses the automaton kept in REGEXP; when the
// program or the hints have changed since, it is built again.
// Takes time linear in the subject length; allocates only when it meets
// sets of paths it has not met before.
Decision decide_match(Regexp &regexp, const char *subject, AutomatonStatistics *statistics);
