// Automaton: decides whether a match exists by following every path
// through the node program at once.
//
// The paths (see paths.h) wait at the places where they consume a
// character, at a "$" or at the end node, which means a match. The set of
// paths after each character depends only on the set before it and the
// character (and on whether the character may start a match), so the sets
// are numbered as they are met and their transitions cached: after a short
// warm-up every character costs one table look-up.
//
// The backtracking search explores every path from every start position it
// tries before it gives up, so it finds a match exactly when one of these
// paths reaches the end node. Which match it reports, and the group
// positions, are left to it.
#include "regex/automaton.h"

#include <algorithm>
#include <array>
#include <bitset>
#include <cstring>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "regex/paths.h"

namespace {

using regex_paths::contains_matched;
using regex_paths::Path;
using regex_paths::PathKind;
using regex_paths::PathProgram;

// How the backtracking search chooses its start positions.
enum class StartRule { kSubjectStart, kFirstCharacter, kEveryPosition };

// A transition-table entry is the address of the next state's row, or one
// of these codes, which no address takes.
using Entry = std::uintptr_t;
constexpr Entry kUnknown = 0;
constexpr Entry kMatchFound = 1; // some path reaches the end node
// The transition leads to the state in which no path is pending, while only
// the subject's start or the first character can start an attempt: the
// search can stop there, or jump to the next first character.
constexpr Entry kIdle = 2;
constexpr Entry kLastCode = kIdle;
// Sets of paths kept at once; past this the cache starts again.
constexpr std::size_t kStateLimit = 2048;
// Paths kept in all those sets; past this the cache starts again too.
constexpr std::size_t kStoredPathLimit = std::size_t{1} << 20;

struct State {
  std::vector<std::uint32_t> paths;
  std::int8_t matches_at_end = -1; // through its "$" paths; -1: not yet known
};

} // namespace

struct RegexpAutomaton {
  // What the automaton was built from.
  std::vector<unsigned char> program;
  unsigned char first_char = 0;
  unsigned char anchored = 0;

  bool usable = false;
  StartRule start_rule = StartRule::kEveryPosition;
  PathProgram paths;
  std::array<std::uint8_t, 256> byte_class{};
  std::size_t classes = 1;
  // State 0 is the start of the subject, where nothing is pending yet and
  // an attempt starts with "^" passing.
  std::vector<State> states;
  // One row per state: an entry per byte class, then the state's number.
  // Rows stay where they are as states are added, so that entries can
  // hold their addresses.
  std::vector<std::unique_ptr<Entry[]>> rows;
  std::unordered_map<std::string, std::int32_t> state_ids;
  std::int32_t empty_state = -1; // no path pending, past the start; -1: none yet
  std::size_t stored_paths = 0;  // in all states' sets
  std::vector<std::uint32_t> scratch;
};

void RegexpAutomatonDeleter::operator()(RegexpAutomaton *automaton) const {
  delete automaton;
}

namespace {

// Bytes that no path and no start rule tells apart share one class, so
// that the transition table stays small.
void compute_byte_classes(RegexpAutomaton &automaton) {
  std::array<std::uint8_t, 256> &classes = automaton.byte_class;
  classes.fill(0);
  std::size_t count = 1;
  auto split = [&](const std::bitset<256> &members) {
    std::array<std::int16_t, 512> renumbered;
    renumbered.fill(-1);
    std::size_t next = 0;
    for (int b = 0; b < 256; ++b) {
      std::size_t key = std::size_t{classes[b]} * 2 + (members.test(b) ? 1 : 0);
      if (renumbered[key] < 0)
        renumbered[key] = static_cast<std::int16_t>(next++);
      classes[b] = static_cast<std::uint8_t>(renumbered[key]);
    }
    count = next;
  };
  std::bitset<256> single;
  single.set(automaton.first_char);
  split(single);
  for (const Path &path : automaton.paths.paths) {
    if (path.kind == PathKind::kCharacter)
      split(path.accepted);
  }
  automaton.classes = count;
}

void add_row(RegexpAutomaton &automaton, std::size_t state) {
  auto row = std::make_unique<Entry[]>(automaton.classes + 1);
  std::fill(row.get(), row.get() + automaton.classes, kUnknown);
  row[automaton.classes] = state;
  automaton.rows.push_back(std::move(row));
}

std::size_t state_of(const RegexpAutomaton &automaton, const Entry *row) {
  return row[automaton.classes];
}

void reset_states(RegexpAutomaton &automaton) {
  automaton.states.assign(1, State{});
  automaton.rows.clear();
  add_row(automaton, 0);
  automaton.state_ids.clear();
  automaton.empty_state = -1;
  automaton.stored_paths = 0;
}

void build_automaton(RegexpAutomaton &automaton, const Regexp &regexp) {
  automaton.program.assign(regexp.program.begin(), regexp.program.end());
  automaton.first_char = regexp.first_char;
  automaton.anchored = regexp.anchored;
  automaton.start_rule = regexp.anchored != 0     ? StartRule::kSubjectStart
                         : regexp.first_char != 0 ? StartRule::kFirstCharacter
                                                  : StartRule::kEveryPosition;
  automaton.paths = PathProgram{};
  automaton.usable = regex_paths::build_paths(regexp.program, automaton.paths);
  if (!automaton.usable)
    return;
  compute_byte_classes(automaton);
  reset_states(automaton);
}

bool built_from(const RegexpAutomaton &automaton, const Regexp &regexp) {
  return automaton.first_char == regexp.first_char && automaton.anchored == regexp.anchored &&
         std::equal(automaton.program.begin(), automaton.program.end(), regexp.program.begin(),
                    regexp.program.end());
}

// The paths that a match attempt starting at a position adds, where the
// byte there is C; null when no attempt starts there.
const std::vector<std::uint32_t> *attempt_paths(const RegexpAutomaton &automaton, bool at_start,
                                                unsigned char c) {
  const PathProgram &paths = automaton.paths;
  const std::vector<std::uint32_t> &start =
      at_start ? paths.start_at_subject_start : paths.start_elsewhere;
  switch (automaton.start_rule) {
  case StartRule::kSubjectStart:
    return at_start ? &start : nullptr;
  case StartRule::kFirstCharacter:
    return c == automaton.first_char ? &start : nullptr;
  case StartRule::kEveryPosition:
    break;
  }
  return &start;
}

std::int32_t state_for(RegexpAutomaton &automaton, const std::vector<std::uint32_t> &paths,
                       AutomatonStatistics *statistics) {
  std::string key(reinterpret_cast<const char *>(paths.data()),
                  paths.size() * sizeof(std::uint32_t));
  auto found = automaton.state_ids.find(key);
  if (found != automaton.state_ids.end())
    return found->second;
  auto id = static_cast<std::int32_t>(automaton.states.size());
  automaton.states.push_back(State{paths, -1});
  automaton.stored_paths += paths.size();
  add_row(automaton, static_cast<std::size_t>(id));
  automaton.state_ids.emplace(std::move(key), id);
  if (paths.empty())
    automaton.empty_state = id;
  if (statistics != nullptr)
    ++statistics->states_built;
  return id;
}

// The entry for reading C in state FROM (which also lets an attempt start
// at C): the next state's row, kMatchFound or kIdle.
Entry compute_transition(RegexpAutomaton &automaton, std::size_t from, unsigned char c,
                         AutomatonStatistics *statistics) {
  const std::vector<Path> &all = automaton.paths.paths;
  std::vector<std::uint32_t> &next = automaton.scratch;
  next.clear();
  Entry &entry = automaton.rows[from][automaton.byte_class[c]];
  const std::vector<std::uint32_t> *attempt = attempt_paths(automaton, from == 0, c);
  if (attempt != nullptr && contains_matched(*attempt))
    return entry = kMatchFound;
  auto gather = [&](const std::vector<std::uint32_t> &paths) {
    for (std::uint32_t id : paths) {
      const Path &path = all[id];
      if (path.kind == PathKind::kCharacter && path.accepted.test(c))
        next.insert(next.end(), path.follow.begin(), path.follow.end());
    }
  };
  gather(automaton.states[from].paths);
  if (attempt != nullptr)
    gather(*attempt);
  std::sort(next.begin(), next.end());
  next.erase(std::unique(next.begin(), next.end()), next.end());
  if (contains_matched(next))
    return entry = kMatchFound;
  if (automaton.states.size() >= kStateLimit ||
      automaton.stored_paths + next.size() > kStoredPathLimit) {
    // FROM's row goes too; the caller carries on from the new state.
    reset_states(automaton);
    if (statistics != nullptr)
      ++statistics->cache_resets;
    std::int32_t to = state_for(automaton, next, statistics);
    return next.empty() && automaton.start_rule != StartRule::kEveryPosition
               ? kIdle
               : reinterpret_cast<Entry>(automaton.rows[static_cast<std::size_t>(to)].get());
  }
  std::int32_t to = state_for(automaton, next, statistics);
  if (next.empty() && automaton.start_rule != StartRule::kEveryPosition)
    return entry = kIdle;
  return entry = reinterpret_cast<Entry>(automaton.rows[static_cast<std::size_t>(to)].get());
}

// Whether a path pending in STATE, or an attempt starting at the NUL,
// matches at the end of the subject.
bool matches_at_end(RegexpAutomaton &automaton, std::size_t state) {
  const PathProgram &paths = automaton.paths;
  bool at_start = state == 0;
  if (automaton.start_rule == StartRule::kEveryPosition ||
      (automaton.start_rule == StartRule::kSubjectStart && at_start)) {
    if (at_start ? paths.start_matches_empty_subject : paths.start_matches_at_end)
      return true;
  }
  State &pending = automaton.states[state];
  if (pending.matches_at_end < 0) {
    pending.matches_at_end = 0;
    for (std::uint32_t id : pending.paths) {
      if (paths.paths[id].kind == PathKind::kLineEnd && paths.paths[id].matches_at_end)
        pending.matches_at_end = 1;
    }
  }
  return pending.matches_at_end != 0;
}

// Follows cached transitions from ROW until the subject ends or an entry
// needs attention (a code rather than a row); kept apart from the rest so
// that this loop holds everything in registers, and the next row's address
// is loaded straight from the entry.
[[gnu::always_inline]] inline const unsigned char *
follow_cached(const std::uint8_t *byte_class, const Entry *&row, const unsigned char *p) {
  const Entry *current = row;
  for (unsigned char c = *p; c != 0; c = *++p) {
    Entry next = current[byte_class[c]];
    if (next <= kLastCode)
      break;
    current = reinterpret_cast<const Entry *>(next);
  }
  row = current;
  return p;
}

Decision run(RegexpAutomaton &automaton, const unsigned char *subject,
             AutomatonStatistics *statistics) {
  const Entry *row = automaton.rows[0].get();
  const unsigned char *p = subject;
  for (;;) {
    p = follow_cached(automaton.byte_class.data(), row, p);
    if (*p == 0)
      break;
    Entry next = row[automaton.byte_class[*p]];
    if (next == kUnknown)
      next = compute_transition(automaton, state_of(automaton, row), *p, statistics);
    if (next == kMatchFound)
      return Decision::kMatch;
    if (next == kIdle) {
      if (automaton.start_rule == StartRule::kSubjectStart)
        return Decision::kNoMatch;
      const char *found = std::strchr(reinterpret_cast<const char *>(p + 1), automaton.first_char);
      if (found == nullptr)
        return Decision::kNoMatch;
      p = reinterpret_cast<const unsigned char *>(found);
      row = automaton.rows[static_cast<std::size_t>(automaton.empty_state)].get();
      continue;
    }
    row = reinterpret_cast<const Entry *>(next);
    ++p;
  }
  return matches_at_end(automaton, state_of(automaton, row)) ? Decision::kMatch
                                                             : Decision::kNoMatch;
}

} // namespace

Decision decide_match(Regexp &regexp, const char *subject, AutomatonStatistics *statistics) {
  if (regexp.automaton == nullptr) {
    regexp.automaton.reset(new RegexpAutomaton);
    build_automaton(*regexp.automaton, regexp);
  } else if (!built_from(*regexp.automaton, regexp)) {
    build_automaton(*regexp.automaton, regexp);
  }
  RegexpAutomaton &automaton = *regexp.automaton;
  if (!automaton.usable)
    return Decision::kUndecided;
  return run(automaton, reinterpret_cast<const unsigned char *>(subject), statistics);
}
