// Automaton: decides whether a match exists by following every path
// through the node program at once.
//
// A path waits at a "thread": a node that consumes one character (a
// one-character node, one character of a literal, a repetition's operand),
// a "$" that can only be passed at the end of the subject, or the end node,
// which means a match. The set of threads after each character depends only
// on the set before it and the character (and on whether the character may
// start a match), so the sets are numbered as they are met and their
// transitions cached: after a short warm-up every character costs one table
// look-up.
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

#include "regex/program.h"

namespace {

using regex_program::kFirstNode;
using regex_program::kNodeHeaderSize;
using regex_program::kNoNode;

enum class ThreadKind : std::uint8_t { kMatched, kCharacter, kLineEnd };

// Where a path goes on from a thread, or where a set of paths starts.
struct Continuation {
  enum class Kind : std::uint8_t {
    kNode,       // the node at VALUE
    kAfterNode,  // the node that the next link of the node at VALUE leads to
    kThread,     // exactly the thread VALUE (the next character of a literal)
    kRepetition, // the repetition node at VALUE: once more, or what follows it
  };
  Kind kind = Kind::kNode;
  std::uint32_t value = 0;
};

struct Thread {
  ThreadKind kind = ThreadKind::kMatched;
  std::bitset<256> accepted; // the bytes a character thread consumes; never NUL
  Continuation after;
  std::vector<std::uint32_t> follow; // character thread: the threads after it, sorted
  bool matches_at_end = false;       // "$" thread: the rest matches at the subject's end
};

constexpr std::uint32_t kMatchedThread = 0;

// Follow sets can grow with the square of the program (a long alternation
// under a repetition): past this many entries in all, the automaton is not
// built and the backtracking search decides alone.
constexpr std::size_t kFollowBudget = std::size_t{1} << 20;

// What the position of a set of paths allows: "^" passes only at the
// subject's start, "$" only at its end.
struct Context {
  bool at_start = false;
  bool at_end = false;
};

struct ThreadProgram {
  std::vector<Thread> threads;
  std::vector<std::uint32_t> start_at_subject_start; // a match attempt at position 0
  std::vector<std::uint32_t> start_elsewhere;        // at any later position
  bool start_matches_empty_subject = false;          // an attempt on the empty subject
  bool start_matches_at_end = false;                 // an attempt at the NUL of a longer one
};

bool contains_matched(const std::vector<std::uint32_t> &threads) {
  return !threads.empty() && threads.front() == kMatchedThread;
}

// Turns the node program into threads and their follow sets. Refuses
// (false) every program the compiler would not have written in the places
// a path can reach: broken links, unknown opcodes, operands without a
// terminator, and loops that consume nothing.
class ThreadBuilder {
public:
  explicit ThreadBuilder(const ProgramBytes &program)
      : program_(program.data()), size_(program.size()), visited_(program.size(), 0),
        on_path_(program.size(), 0) {}

  bool build(ThreadProgram &out);

private:
  enum Tag : std::uint64_t { kCharacterTag, kLoopTag, kFirstPassTag, kLineEndTag };

  bool is_node(std::size_t node) const {
    return node != kNoNode && node + kNodeHeaderSize <= size_;
  }
  std::size_t next_of(std::size_t node) const {
    return regex_program::next_node(program_, size_, node);
  }
  const unsigned char *operand(std::size_t node) const;
  bool operand_bytes(std::size_t node, bool for_repetition, std::bitset<256> &accepted,
                     std::size_t &literal_length) const;
  std::uint32_t add_thread(std::uint64_t key, ThreadKind kind, const std::bitset<256> &accepted,
                           Continuation after);
  bool add_literal_threads(std::size_t node, std::vector<std::uint32_t> &out);
  bool add_repetition_thread(std::size_t node, Tag tag, std::vector<std::uint32_t> &out);
  bool push_next(std::size_t node);
  bool expand_node(std::size_t node, Context context, std::vector<std::uint32_t> &out);
  bool expand(std::size_t start, Context context, std::vector<std::uint32_t> &out);
  bool closure(Continuation from, Context context, std::vector<std::uint32_t> &out);

  const unsigned char *program_;
  std::size_t size_;
  std::vector<Thread> *threads_ = nullptr;
  std::unordered_map<std::uint64_t, std::uint32_t> thread_ids_;
  // Per program offset: the closure that last reached it, and whether it
  // is on the current path of that closure's search.
  std::vector<std::uint32_t> visited_;
  std::vector<std::uint8_t> on_path_;
  std::uint32_t generation_ = 0;
  struct Visit {
    std::size_t node;
    bool leaving;
  };
  std::vector<Visit> pending_;
};

const unsigned char *ThreadBuilder::operand(std::size_t node) const {
  std::size_t begin = node + kNodeHeaderSize;
  if (begin >= size_ || std::memchr(program_ + begin, 0, size_ - begin) == nullptr)
    return nullptr;
  return program_ + begin;
}

// The bytes the one-character node at NODE consumes. A repeated literal
// repeats its first character; a literal outside a repetition reports its
// length instead, one thread per character.
bool ThreadBuilder::operand_bytes(std::size_t node, bool for_repetition, std::bitset<256> &accepted,
                                  std::size_t &literal_length) const {
  literal_length = 0;
  accepted.reset();
  unsigned char opcode = program_[node];
  if (opcode == NODE_ANY_CHAR) {
    accepted.set();
  } else if (opcode == NODE_LITERAL || opcode == NODE_IN_SET || opcode == NODE_NOT_IN_SET) {
    const unsigned char *members = operand(node);
    if (members == nullptr)
      return false;
    if (opcode == NODE_LITERAL) {
      if (members[0] == 0)
        return false;
      literal_length = for_repetition ? 1 : std::strlen(reinterpret_cast<const char *>(members));
      accepted.set(members[0]);
    } else {
      for (const unsigned char *m = members; *m != 0; ++m)
        accepted.set(*m);
      if (opcode == NODE_NOT_IN_SET)
        accepted.flip();
    }
  } else {
    return false;
  }
  accepted.reset(0);
  return true;
}

std::uint32_t ThreadBuilder::add_thread(std::uint64_t key, ThreadKind kind,
                                        const std::bitset<256> &accepted, Continuation after) {
  auto [it, added] = thread_ids_.try_emplace(key, static_cast<std::uint32_t>(threads_->size()));
  if (added) {
    Thread thread;
    thread.kind = kind;
    thread.accepted = accepted;
    thread.after = after;
    threads_->push_back(std::move(thread));
  }
  return it->second;
}

bool ThreadBuilder::add_literal_threads(std::size_t node, std::vector<std::uint32_t> &out) {
  std::bitset<256> first;
  std::size_t length = 0;
  if (!operand_bytes(node, false, first, length))
    return false;
  const unsigned char *text = operand(node);
  // Built from the last character back, so that each one knows its successor.
  Continuation after{Continuation::Kind::kAfterNode, static_cast<std::uint32_t>(node)};
  std::uint32_t id = 0;
  for (std::size_t k = length; k-- > 0;) {
    std::bitset<256> accepted;
    accepted.set(text[k]);
    id = add_thread(std::uint64_t{node} << 20 | std::uint64_t{k} << 2 | kCharacterTag,
                    ThreadKind::kCharacter, accepted, after);
    after = {Continuation::Kind::kThread, id};
  }
  out.push_back(id);
  return true;
}

bool ThreadBuilder::add_repetition_thread(std::size_t node, Tag tag,
                                          std::vector<std::uint32_t> &out) {
  std::size_t operand_node = node + kNodeHeaderSize;
  std::bitset<256> accepted;
  std::size_t length = 0;
  if (!is_node(operand_node) || !operand_bytes(operand_node, true, accepted, length))
    return false;
  out.push_back(add_thread(std::uint64_t{node} << 20 | tag, ThreadKind::kCharacter, accepted,
                           {Continuation::Kind::kRepetition, static_cast<std::uint32_t>(node)}));
  return true;
}

bool ThreadBuilder::push_next(std::size_t node) {
  std::size_t next = next_of(node);
  if (next == kNoNode)
    return false;
  pending_.push_back({next, false});
  return true;
}

// Adds the threads that NODE itself stands for and queues the nodes a path
// reaches from it without consuming a character.
bool ThreadBuilder::expand_node(std::size_t node, Context context,
                                std::vector<std::uint32_t> &out) {
  unsigned char opcode = program_[node];
  switch (opcode) {
  case NODE_END:
    out.push_back(kMatchedThread);
    return true;
  case NODE_LINE_START:
    return !context.at_start || push_next(node);
  case NODE_LINE_END:
    if (context.at_end)
      return push_next(node);
    out.push_back(add_thread(std::uint64_t{node} << 20 | kLineEndTag, ThreadKind::kLineEnd, {},
                             {Continuation::Kind::kAfterNode, static_cast<std::uint32_t>(node)}));
    return true;
  case NODE_ANY_CHAR:
  case NODE_IN_SET:
  case NODE_NOT_IN_SET: {
    std::bitset<256> accepted;
    std::size_t length = 0;
    if (!operand_bytes(node, false, accepted, length))
      return false;
    out.push_back(add_thread(std::uint64_t{node} << 20 | kCharacterTag, ThreadKind::kCharacter,
                             accepted,
                             {Continuation::Kind::kAfterNode, static_cast<std::uint32_t>(node)}));
    return true;
  }
  case NODE_LITERAL:
    return add_literal_threads(node, out);
  case NODE_EMPTY:
  case NODE_LOOP_BACK:
    return push_next(node);
  case NODE_ALTERNATIVE:
    // Every alternative of the chain; a lone one is simply entered.
    pending_.push_back({node + kNodeHeaderSize, false});
    for (std::size_t next = next_of(node); next != kNoNode && program_[next] == NODE_ALTERNATIVE;
         next = next_of(next))
      pending_.push_back({next + kNodeHeaderSize, false});
    return true;
  case NODE_ZERO_OR_MORE:
    return add_repetition_thread(node, kLoopTag, out) && push_next(node);
  case NODE_ONE_OR_MORE:
    return add_repetition_thread(node, kFirstPassTag, out);
  default:
    if (regex_program::is_group_open(opcode) || regex_program::is_group_close(opcode))
      return push_next(node);
    return false;
  }
}

// Depth-first over the links that consume nothing, from START. Meeting a
// node again while it is still on the current path is a loop that consumes
// nothing, which only a damaged program has.
bool ThreadBuilder::expand(std::size_t start, Context context, std::vector<std::uint32_t> &out) {
  pending_.clear();
  pending_.push_back({start, false});
  while (!pending_.empty()) {
    Visit visit = pending_.back();
    pending_.pop_back();
    if (visit.leaving) {
      on_path_[visit.node] = 0;
      continue;
    }
    if (!is_node(visit.node))
      return false;
    if (visited_[visit.node] == generation_) {
      if (on_path_[visit.node] != 0)
        return false;
      continue;
    }
    visited_[visit.node] = generation_;
    on_path_[visit.node] = 1;
    pending_.push_back({visit.node, true});
    if (!expand_node(visit.node, context, out))
      return false;
  }
  return true;
}

bool ThreadBuilder::closure(Continuation from, Context context, std::vector<std::uint32_t> &out) {
  out.clear();
  ++generation_;
  bool complete = true;
  switch (from.kind) {
  case Continuation::Kind::kNode:
    complete = expand(from.value, context, out);
    break;
  case Continuation::Kind::kAfterNode: {
    std::size_t next = next_of(from.value);
    complete = next != kNoNode && expand(next, context, out);
    break;
  }
  case Continuation::Kind::kThread:
    out.push_back(from.value);
    break;
  case Continuation::Kind::kRepetition: {
    std::size_t next = next_of(from.value);
    complete = add_repetition_thread(from.value, kLoopTag, out) && next != kNoNode &&
               expand(next, context, out);
    break;
  }
  }
  std::sort(out.begin(), out.end());
  out.erase(std::unique(out.begin(), out.end()), out.end());
  return complete;
}

bool ThreadBuilder::build(ThreadProgram &out) {
  threads_ = &out.threads;
  out.threads.assign(1, Thread{});
  Continuation start{Continuation::Kind::kNode, static_cast<std::uint32_t>(kFirstNode)};
  std::vector<std::uint32_t> at_end;
  if (!closure(start, {true, false}, out.start_at_subject_start) ||
      !closure(start, {false, false}, out.start_elsewhere))
    return false;
  if (!closure(start, {true, true}, at_end))
    return false;
  out.start_matches_empty_subject = contains_matched(at_end);
  if (!closure(start, {false, true}, at_end))
    return false;
  out.start_matches_at_end = contains_matched(at_end);
  // New threads are appended while the list is walked.
  std::vector<std::uint32_t> threads;
  std::size_t follow_entries = 0;
  for (std::size_t id = 1; id < out.threads.size(); ++id) {
    Continuation after = out.threads[id].after;
    if (out.threads[id].kind == ThreadKind::kCharacter) {
      if (!closure(after, {false, false}, threads))
        return false;
      follow_entries += threads.size();
      if (follow_entries > kFollowBudget)
        return false;
      out.threads[id].follow = threads;
    } else {
      if (!closure(after, {false, true}, threads))
        return false;
      out.threads[id].matches_at_end = contains_matched(threads);
    }
  }
  return true;
}

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
// Sets of threads kept at once; past this the cache starts again.
constexpr std::size_t kStateLimit = 2048;
// Threads kept in all those sets; past this the cache starts again too.
constexpr std::size_t kStoredThreadLimit = std::size_t{1} << 20;

struct State {
  std::vector<std::uint32_t> threads;
  std::int8_t matches_at_end = -1; // through its "$" threads; -1: not yet known
};

} // namespace

struct RegexpAutomaton {
  // What the automaton was built from.
  std::vector<unsigned char> program;
  unsigned char first_char = 0;
  unsigned char anchored = 0;

  bool usable = false;
  StartRule start_rule = StartRule::kEveryPosition;
  ThreadProgram threads;
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
  std::int32_t empty_state = -1;  // no path pending, past the start; -1: none yet
  std::size_t stored_threads = 0; // in all states' sets
  std::vector<std::uint32_t> scratch;
};

void RegexpAutomatonDeleter::operator()(RegexpAutomaton *automaton) const {
  delete automaton;
}

namespace {

// Bytes that no thread and no start rule tells apart share one class, so
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
  for (const Thread &thread : automaton.threads.threads) {
    if (thread.kind == ThreadKind::kCharacter)
      split(thread.accepted);
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
  automaton.stored_threads = 0;
}

void build_automaton(RegexpAutomaton &automaton, const Regexp &regexp) {
  automaton.program.assign(regexp.program.begin(), regexp.program.end());
  automaton.first_char = regexp.first_char;
  automaton.anchored = regexp.anchored;
  automaton.start_rule = regexp.anchored != 0     ? StartRule::kSubjectStart
                         : regexp.first_char != 0 ? StartRule::kFirstCharacter
                                                  : StartRule::kEveryPosition;
  automaton.threads = ThreadProgram{};
  automaton.usable = ThreadBuilder(regexp.program).build(automaton.threads);
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
const std::vector<std::uint32_t> *attempt_threads(const RegexpAutomaton &automaton, bool at_start,
                                                  unsigned char c) {
  const ThreadProgram &threads = automaton.threads;
  const std::vector<std::uint32_t> &start =
      at_start ? threads.start_at_subject_start : threads.start_elsewhere;
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

std::int32_t state_for(RegexpAutomaton &automaton, const std::vector<std::uint32_t> &threads,
                       AutomatonStatistics *statistics) {
  std::string key(reinterpret_cast<const char *>(threads.data()),
                  threads.size() * sizeof(std::uint32_t));
  auto found = automaton.state_ids.find(key);
  if (found != automaton.state_ids.end())
    return found->second;
  auto id = static_cast<std::int32_t>(automaton.states.size());
  automaton.states.push_back(State{threads, -1});
  automaton.stored_threads += threads.size();
  add_row(automaton, static_cast<std::size_t>(id));
  automaton.state_ids.emplace(std::move(key), id);
  if (threads.empty())
    automaton.empty_state = id;
  if (statistics != nullptr)
    ++statistics->states_built;
  return id;
}

// The entry for reading C in state FROM (which also lets an attempt start
// at C): the next state's row, kMatchFound or kIdle.
Entry compute_transition(RegexpAutomaton &automaton, std::size_t from, unsigned char c,
                         AutomatonStatistics *statistics) {
  const std::vector<Thread> &all = automaton.threads.threads;
  std::vector<std::uint32_t> &next = automaton.scratch;
  next.clear();
  Entry &entry = automaton.rows[from][automaton.byte_class[c]];
  const std::vector<std::uint32_t> *attempt = attempt_threads(automaton, from == 0, c);
  if (attempt != nullptr && contains_matched(*attempt))
    return entry = kMatchFound;
  auto gather = [&](const std::vector<std::uint32_t> &threads) {
    for (std::uint32_t id : threads) {
      const Thread &thread = all[id];
      if (thread.kind == ThreadKind::kCharacter && thread.accepted.test(c))
        next.insert(next.end(), thread.follow.begin(), thread.follow.end());
    }
  };
  gather(automaton.states[from].threads);
  if (attempt != nullptr)
    gather(*attempt);
  std::sort(next.begin(), next.end());
  next.erase(std::unique(next.begin(), next.end()), next.end());
  if (contains_matched(next))
    return entry = kMatchFound;
  if (automaton.states.size() >= kStateLimit ||
      automaton.stored_threads + next.size() > kStoredThreadLimit) {
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
  const ThreadProgram &threads = automaton.threads;
  bool at_start = state == 0;
  if (automaton.start_rule == StartRule::kEveryPosition ||
      (automaton.start_rule == StartRule::kSubjectStart && at_start)) {
    if (at_start ? threads.start_matches_empty_subject : threads.start_matches_at_end)
      return true;
  }
  State &pending = automaton.states[state];
  if (pending.matches_at_end < 0) {
    pending.matches_at_end = 0;
    for (std::uint32_t id : pending.threads) {
      if (threads.threads[id].kind == ThreadKind::kLineEnd && threads.threads[id].matches_at_end)
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
