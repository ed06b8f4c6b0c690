// Knobs and counters of the matcher, for the tests and the benchmark; the
// program itself only calls execute_regexp.
#pragma once

#include <cstddef>
#include <cstdint>

#include "regex/regexp.h"

struct MatchTuning {
  // Steps one call may take before the matcher starts remembering failed
  // continuations. Short subjects rarely get that far, so they allocate no
  // memo tables; 0 remembers from the first step. At its maximum the
  // matcher backtracks exactly as a plain recursive interpreter would.
  std::uint64_t memo_free_steps = 1024;
  // Keep positions in 64 bits even for a subject whose offsets fit 32, as
  // only subjects of 2 GiB or more otherwise do.
  bool wide_positions = false;
  // Let the automaton decide first, and backtrack only when it finds a
  // match (or does not take the program on). Off, the backtracking search
  // alone decides every call.
  bool decide_first = true;
};

struct MatchStatistics {
  std::uint64_t steps = 0;            // nodes visited, characters counted or skipped
  std::uint64_t attempts = 0;         // start positions tried
  std::uint64_t memo_tables = 0;      // per-node failure tables allocated
  std::size_t deepest_stack = 0;      // most backtracking frames held at once
  std::uint64_t automaton_states = 0; // automaton states built
  std::uint64_t automaton_resets = 0; // times the automaton's state cache was full
};

// execute_regexp with explicit tuning; STATISTICS may be null.
int execute_regexp_tuned(Regexp *regexp, const char *subject, const MatchTuning &tuning,
                         MatchStatistics *statistics);
