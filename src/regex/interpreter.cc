// Interpreter: runs the node program of a Regexp over a subject by
// backtracking.
//
// The search order is that of a plain recursive interpreter: leftmost start
// position, alternatives in the order written, greedy single-node
// repetitions shortened one character at a time, "?" with its atom first and
// repeated groups iterating before they leave. Two things differ from such
// an interpreter, neither of which changes a result or a group position:
//
// - The pending choices live on a heap stack of frames (backtrack_stack.h),
//   not on the machine stack, so a long subject cannot exhaust the stack.
// - Once a call has taken more than a few steps, failures are remembered
//   (failure_memory.h), so that no choice point is explored twice at one
//   position.
//
// With the tables, each choice point is explored at most once per position,
// and each repetition tries each continuation position at most once per
// run, so a call takes at most on the order of (program size) x (subject
// length)^2 steps, and far fewer for the expressions Ant patterns become.
#include "regex/interpreter.h"

#include <algorithm>
#include <cstring>

#include "regex/backtrack_stack.h"
#include "regex/failure_memory.h"
#include "regex/node_scan.h"
#include "regex/program.h"

namespace regex_match {

namespace {

using regex_program::is_group_close;
using regex_program::is_group_open;
using regex_program::kFirstNode;
using regex_program::kNodeHeaderSize;
using regex_program::kNoNode;

// POSITION is the type subject offsets are kept in: the narrowest that
// holds every offset of the subject.
template <typename Position> class Matcher {
public:
  Matcher(Regexp &regexp, const char *subject, std::size_t subject_length,
          const MatchTuning &tuning, MatchStatistics *statistics)
      : regexp_(regexp), index_(regexp.program.size(), tuning.memo_free_steps),
        scan_(regexp.program, subject, subject_length, index_), memory_(index_),
        statistics_(statistics) {}
  ~Matcher() {
    if (statistics_ != nullptr) {
      statistics_->steps += index_.steps();
      statistics_->memo_tables += index_.tables();
    }
  }
  Matcher(const Matcher &) = delete;
  Matcher &operator=(const Matcher &) = delete;

  bool try_match_at(std::size_t start);

private:
  bool run_forward(std::size_t &node, std::size_t &position);
  [[gnu::always_inline]] bool pass_node(std::size_t node, unsigned char opcode, std::size_t &next,
                                        std::size_t &position);
  bool pass_group(std::size_t node, unsigned char opcode, std::size_t position);
  bool backtrack(std::size_t &node, std::size_t &position);
  bool resume_alternative(Frame<Position> &frame, std::size_t &node, std::size_t &position);
  void record_group_positions();
  [[gnu::always_inline]] void push(FrameKind kind, std::size_t node, std::size_t position,
                                   std::size_t extra) {
    stack_.push_back(make_frame<Position>(kind, node, position, extra));
    if (statistics_ != nullptr && stack_.size() > statistics_->deepest_stack)
      statistics_->deepest_stack = stack_.size();
  }

  bool enter_repetition(std::size_t node, std::size_t &position);
  std::size_t run_end_and_failure(const Repetition &known, std::size_t start,
                                  std::size_t &failed_start);
  bool resume_repetition(Frame<Position> &frame, std::size_t &node, std::size_t &position);
  Memo<Position> &repetition_memo(std::size_t repetition);
  void record_repetition_failure(std::size_t repetition, std::size_t start, std::size_t end);

  Regexp &regexp_;
  FailureIndex index_;
  NodeScanner scan_;
  FailureMemory<Position> memory_;
  MatchStatistics *statistics_;
  BlockStack<Frame<Position>> stack_;
};

template <typename Position>
Memo<Position> &Matcher<Position>::repetition_memo(std::size_t repetition) {
  return memory_.repetition_memo(
      repetition, scan_.subject(), scan_.subject_length(),
      [&](bool accepts[256]) { scan_.fill_acceptance(repetition, accepts); });
}

template <typename Position>
void Matcher<Position>::record_repetition_failure(std::size_t repetition, std::size_t start,
                                                  std::size_t end) {
  if (memory_.enabled())
    repetition_memo(repetition).lower_floor(end, start);
}

// Where the run of the repetition KNOWN that starts at START ends, and
// (in FAILED_START, else kNoPosition) the earliest start of that run known
// to fail: such a start settles every later start of its run, and leaves
// an earlier start only the continuations below its own.
template <typename Position>
std::size_t Matcher<Position>::run_end_and_failure(const Repetition &known, std::size_t start,
                                                   std::size_t &failed_start) {
  failed_start = kNoPosition;
  if (!memory_.enabled())
    return start + scan_.count_repeats(known.repeated, start);
  const Memo<Position> &memo = repetition_memo(known.node);
  std::size_t end = memo.run_end(start);
  failed_start = memo.floor(end);
  return end;
}

// Starts a greedy single-node repetition at POSITION: pushes its choice
// frame and moves POSITION to its longest continuation, or fails.
template <typename Position>
bool Matcher<Position>::enter_repetition(std::size_t node, std::size_t &position) {
  std::size_t start = position;
  const Repetition &known = scan_.repetition(node);
  std::size_t failed_start;
  std::size_t end = run_end_and_failure(known, start, failed_start);
  if (failed_start <= start)
    return false;
  std::size_t minimum = known.minimum;
  std::size_t high = end;
  if (failed_start != kNoPosition)
    high = std::min(failed_start + minimum - 1, end);
  std::size_t candidate = scan_.highest_candidate(high, start + minimum, known.look_ahead);
  if (candidate == kNoPosition) {
    record_repetition_failure(node, start, end);
    return false;
  }
  push(FrameKind::kRepetitionRun, node, start, end);
  push(FrameKind::kRepetition, node, start, candidate);
  position = candidate;
  return true;
}

template <typename Position>
bool Matcher<Position>::resume_repetition(Frame<Position> &frame, std::size_t &node,
                                          std::size_t &position) {
  const Repetition &known = scan_.repetition(frame.node());
  std::size_t low = std::size_t{frame.position} + known.minimum;
  std::size_t tried = frame.extra;
  if (tried <= low)
    return false;
  std::size_t candidate = scan_.highest_candidate(tried - 1, low, known.look_ahead);
  if (candidate == kNoPosition)
    return false;
  std::size_t next = known.next;
  frame.extra = static_cast<Position>(candidate);
  position = candidate;
  node = next;
  return true;
}

// Follows the program from NODE at POSITION until the end node (true) or a
// failure (false), pushing a frame at every choice and group boundary.
template <typename Position>
bool Matcher<Position>::run_forward(std::size_t &node, std::size_t &position) {
  const unsigned char *program = scan_.program();
  const std::size_t program_size = scan_.program_size();
  for (;;) {
    index_.count_step();
    if (node == kNoNode || node + kNodeHeaderSize > program_size) {
      report_failure("corrupted pointers");
      return false;
    }
    // The next link, decoded here rather than through next_of: this loop is
    // where the matcher spends its time.
    const unsigned char *at = program + node;
    unsigned char opcode = at[0];
    std::size_t offset = static_cast<std::size_t>(at[1]) << 8 | at[2];
    std::size_t next = node + offset;
    if (offset == 0)
      next = kNoNode;
    else if (opcode == NODE_LOOP_BACK)
      next = offset < node ? node - offset : kNoNode;
    if (opcode == NODE_END)
      return true;
    if (!pass_node(node, opcode, next, position))
      return false;
    node = next;
  }
}

// Passes the node at NODE (not the end node) at POSITION: false when it
// fails there, else POSITION moves past what it consumed and NEXT may be
// changed to where the path goes on.
template <typename Position>
inline bool Matcher<Position>::pass_node(std::size_t node, unsigned char opcode, std::size_t &next,
                                         std::size_t &position) {
  const unsigned char *subject = scan_.subject();
  switch (opcode) {
  case NODE_LINE_START:
    return position == 0;
  case NODE_LINE_END:
    return subject[position] == '\0';
  case NODE_ANY_CHAR:
    if (subject[position] == '\0')
      return false;
    ++position;
    return true;
  case NODE_LITERAL:
    return scan_.match_literal(node, position);
  case NODE_IN_SET:
  case NODE_NOT_IN_SET:
    return scan_.match_set(node, opcode == NODE_IN_SET, position);
  case NODE_EMPTY:
  case NODE_LOOP_BACK:
    return true;
  case NODE_ALTERNATIVE:
    // A single alternative is no choice: go straight on into it.
    if (next + kNodeHeaderSize <= scan_.program_size() &&
        scan_.program()[next] == NODE_ALTERNATIVE) {
      if (memory_.alternative_failed_before(node, position))
        return false;
      push(FrameKind::kAlternative, node, position, node);
    }
    next = node + kNodeHeaderSize;
    return true;
  case NODE_ZERO_OR_MORE:
  case NODE_ONE_OR_MORE:
    return enter_repetition(node, position);
  default:
    return pass_group(node, opcode, position);
  }
}

template <typename Position>
bool Matcher<Position>::pass_group(std::size_t node, unsigned char opcode, std::size_t position) {
  if (is_group_open(opcode)) {
    push(FrameKind::kGroupOpen, node, position, std::size_t{opcode} - NODE_GROUP_OPEN);
  } else if (is_group_close(opcode)) {
    push(FrameKind::kGroupClose, node, position, std::size_t{opcode} - NODE_GROUP_CLOSE);
  } else {
    report_failure("memory corruption");
    return false;
  }
  return true;
}

// Moves the alternative frame on to the next alternative of its chain, or
// remembers that the whole chain failed at its position (false).
template <typename Position>
bool Matcher<Position>::resume_alternative(Frame<Position> &frame, std::size_t &node,
                                           std::size_t &position) {
  std::size_t following = scan_.next_of(frame.node());
  if (scan_.is_node(following) && scan_.program()[following] == NODE_ALTERNATIVE) {
    frame.set_node(following);
    position = frame.position;
    node = following + kNodeHeaderSize;
    return true;
  }
  memory_.record_alternative_failure(frame.extra, frame.position, scan_.subject_length());
  return false;
}

// Unwinds to the most recent choice that has an untried option and sets
// NODE and POSITION to it; false when no choice is left.
template <typename Position>
bool Matcher<Position>::backtrack(std::size_t &node, std::size_t &position) {
  while (!stack_.empty()) {
    Frame<Position> &frame = stack_.back();
    switch (frame.kind()) {
    case FrameKind::kGroupOpen:
    case FrameKind::kGroupClose:
      break;
    case FrameKind::kAlternative:
      if (resume_alternative(frame, node, position))
        return true;
      break;
    case FrameKind::kRepetition:
      if (resume_repetition(frame, node, position))
        return true;
      break;
    case FrameKind::kRepetitionRun:
      record_repetition_failure(frame.node(), frame.position, frame.extra);
      break;
    }
    stack_.pop_back();
  }
  return false;
}

// The group boundaries on the successful path, deepest first: each entry is
// only set while still empty, so the last pass through a repeated group
// wins.
template <typename Position> void Matcher<Position>::record_group_positions() {
  const char *subject = reinterpret_cast<const char *>(scan_.subject());
  stack_.visit_from_top([&](const Frame<Position> &frame) {
    if (frame.kind() == FrameKind::kGroupOpen) {
      if (regexp_.group_start[frame.extra] == nullptr)
        regexp_.group_start[frame.extra] = subject + frame.position;
    } else if (frame.kind() == FrameKind::kGroupClose) {
      if (regexp_.group_end[frame.extra] == nullptr)
        regexp_.group_end[frame.extra] = subject + frame.position;
    }
  });
}

template <typename Position> bool Matcher<Position>::try_match_at(std::size_t start) {
  for (int i = 0; i < kRegexpGroups; ++i) {
    regexp_.group_start[i] = nullptr;
    regexp_.group_end[i] = nullptr;
  }
  if (statistics_ != nullptr)
    ++statistics_->attempts;
  stack_.clear();
  std::size_t node = kFirstNode;
  std::size_t position = start;
  for (;;) {
    if (run_forward(node, position)) {
      record_group_positions();
      const char *subject = reinterpret_cast<const char *>(scan_.subject());
      regexp_.group_start[0] = subject + start;
      regexp_.group_end[0] = subject + position;
      return true;
    }
    if (!backtrack(node, position))
      return false;
  }
}

// Subjects shorter than this keep their offsets in 32 bits, with the top
// bit free for the run tables' tag.
constexpr std::size_t kNarrowSubjectLimit = (std::size_t{1} << 31) - 2;

template <typename Position>
int search(Regexp &regexp, const char *subject, std::size_t length, const MatchTuning &tuning,
           MatchStatistics *statistics) {
  Matcher<Position> matcher(regexp, subject, length, tuning, statistics);
  if (regexp.anchored != 0)
    return matcher.try_match_at(0) ? 1 : 0;
  if (regexp.first_char != 0) {
    for (const char *p = std::strchr(subject, regexp.first_char); p != nullptr;
         p = std::strchr(p + 1, regexp.first_char)) {
      if (matcher.try_match_at(static_cast<std::size_t>(p - subject)))
        return 1;
    }
    return 0;
  }
  // Every position, the terminating NUL included, so that an expression
  // that can match the empty string also matches at the very end.
  for (std::size_t start = 0;; ++start) {
    if (matcher.try_match_at(start))
      return 1;
    if (subject[start] == '\0')
      return 0;
  }
}

} // namespace

} // namespace regex_match

int backtracking_search(Regexp &regexp, const char *subject, const MatchTuning &tuning,
                        MatchStatistics *statistics) {
  std::size_t length = std::strlen(subject);
  if (length < regex_match::kNarrowSubjectLimit && !tuning.wide_positions)
    return regex_match::search<std::uint32_t>(regexp, subject, length, tuning, statistics);
  return regex_match::search<std::uint64_t>(regexp, subject, length, tuning, statistics);
}
