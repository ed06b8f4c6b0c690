// The backtracking search of the matcher (see interpreter.cc).
#pragma once

#include "regex/match_tuning.h"
#include "regex/regexp.h"

// Tries the start positions the hints of REGEXP allow, leftmost first, and
// sets the group arrays from the first match: 1, or 0 when none matches.
// The caller has checked the program's marker and size, and the required
// literal.
int backtracking_search(Regexp &regexp, const char *subject, const MatchTuning &tuning,
                        MatchStatistics *statistics);
