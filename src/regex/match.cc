// Matcher: runs the node program of a Regexp over a subject by backtracking.
//
// The search order is that of a plain recursive interpreter: leftmost start
// position, alternatives in the order written, greedy single-node
// repetitions shortened one character at a time, "?" with its atom first and
// repeated groups iterating before they leave. Two things differ from such
// an interpreter, neither of which changes a result or a group position:
//
// - The pending choices live on a heap stack of frames, not on the machine
//   stack, so a long subject cannot exhaust the stack.
// - Once a call has taken more than a few steps, failures are remembered.
//   Whether the rest of the program matches from node N at position P
//   depends only on N and P (there are no back-references, and group
//   positions are only written after the whole program has matched), so a
//   choice point that failed once at a position fails there again and is
//   not explored twice. For single-node repetitions the memory is kept per
//   run of characters that the repeated node accepts: every start inside
//   one run ends the run at the same place, so the continuations tried from
//   one start are a suffix of those tried from any earlier start in the same
//   run. Remembering the earliest failed start of each run therefore
//   settles every later start in that run at once, and tells an earlier
//   start which continuations it still has to try.
#include <cstring>
#include <limits>

#include "regex/match_tuning.h"
#include "regex/program.h"
#include "regex/regexp.h"

namespace {

using regex_program::is_group_close;
using regex_program::is_group_open;
using regex_program::kFirstNode;
using regex_program::kNodeHeaderSize;
using regex_program::kNoNode;

void report_failure(const char* message) {
  if (regexp_error_hook != nullptr)
    regexp_error_hook(message);
}

enum class FrameKind : unsigned char { kGroupOpen, kGroupClose, kAlternative, kRepetition };

// One pending choice, or one group boundary passed on the current path.
struct Frame {
  // Group: where it was passed. Alternative, repetition: the position the
  // choice was made at.
  std::size_t position;
  // Group: its number. Alternative: the first node of its chain.
  // Repetition: the continuation position being tried.
  std::size_t extra;
  // Alternative: the alternative being tried. Repetition: its node.
  std::uint32_t node;
  FrameKind kind;
};

constexpr std::size_t kNoPosition = std::numeric_limits<std::size_t>::max();
constexpr int kNoLookAhead = -1;
// Marks a run-table entry that holds the earliest failed start of the run
// ending there, rather than the end of the run that starts there.
constexpr std::size_t kFloorTag = std::size_t{1} << (std::numeric_limits<std::size_t>::digits - 1);

// What a choice-point node has been seen to fail at, allocated on first use.
struct Memo {
  // Alternative chains: one bit per position.
  std::vector<std::uint64_t> failed;
  // Single-node repetitions, one entry per position P (the NUL included):
  // where the operand accepts the byte at P, the end of the run that
  // contains P; elsewhere P ends a run, and the entry is kFloorTag plus the
  // earliest start in that run known to fail (P + 1 when none is).
  std::vector<std::size_t> runs;
};

// The one-character node under a repetition, decoded once per use.
struct RepeatedNode {
  unsigned char opcode = 0;
  unsigned char literal = 0;
  const char* members = nullptr;
  bool valid = false;
};

class Matcher {
 public:
  Matcher(Regexp& regexp, const char* subject, const MatchTuning& tuning,
          MatchStatistics* statistics)
      : regexp_(regexp), program_(regexp.program.data()), program_size_(regexp.program.size()),
        subject_(reinterpret_cast<const unsigned char*>(subject)), tuning_(tuning),
        statistics_(statistics) {}
  ~Matcher() {
    if (statistics_ != nullptr) {
      statistics_->steps += steps_;
      statistics_->memo_tables += memo_tables_;
    }
  }
  Matcher(const Matcher&) = delete;
  Matcher& operator=(const Matcher&) = delete;

  bool try_match_at(std::size_t start);

 private:
  bool run_forward(std::size_t& node, std::size_t& position);
  bool backtrack(std::size_t& node, std::size_t& position);
  void record_group_positions();

  bool enter_repetition(std::size_t node, std::size_t next, std::size_t& position);
  bool resume_repetition(Frame& frame, std::size_t& node, std::size_t& position);
  std::size_t count_repeats(const RepeatedNode& repeated, std::size_t position);
  std::size_t highest_candidate(std::size_t high, std::size_t low, int look_ahead);
  int look_ahead_of(std::size_t next) const;
  RepeatedNode decode_repeated(std::size_t repetition);

  bool is_node(std::size_t node) const {
    return node != kNoNode && node + kNodeHeaderSize <= program_size_;
  }
  std::size_t next_of(std::size_t node) const {
    return regex_program::next_node(program_, program_size_, node);
  }
  const char* operand_string(std::size_t node, std::size_t* length) const;
  bool match_literal(std::size_t node, std::size_t& position);
  bool match_set(std::size_t node, bool members_match, std::size_t& position);
  void push(const Frame& frame);

  bool memo_enabled() const { return memo_enabled_; }
  void count_steps(std::uint64_t steps);
  Memo& memo_of(std::size_t node);
  const Memo* existing_memo_of(std::size_t node) const;
  bool alternative_failed_before(std::size_t first, std::size_t position) const;
  void record_alternative_failure(std::size_t first, std::size_t position);
  Memo& repetition_memo(std::size_t repetition);
  std::size_t run_end(const Memo& memo, std::size_t position) const {
    std::size_t entry = memo.runs[position];
    return (entry & kFloorTag) != 0 ? position : entry;
  }
  void record_repetition_failure(std::size_t repetition, std::size_t start);

  Regexp& regexp_;
  const unsigned char* program_;
  std::size_t program_size_;
  const unsigned char* subject_;
  const MatchTuning& tuning_;
  MatchStatistics* statistics_;
  std::vector<Frame> stack_;

  std::uint64_t steps_ = 0;
  bool memo_enabled_ = false;
  std::size_t subject_length_ = 0;
  std::uint64_t memo_tables_ = 0;
  std::vector<std::int32_t> memo_index_;  // per program offset: index into memos_, or -1
  std::vector<Memo> memos_;
};

void Matcher::count_steps(std::uint64_t steps) {
  steps_ += steps;
  if (!memo_enabled_ && steps_ > tuning_.memo_free_steps) {
    memo_enabled_ = true;
    subject_length_ = std::strlen(reinterpret_cast<const char*>(subject_));
    memo_index_.assign(program_size_, -1);
  }
}

Memo& Matcher::memo_of(std::size_t node) {
  if (memo_index_[node] < 0) {
    memo_index_[node] = static_cast<std::int32_t>(memos_.size());
    memos_.emplace_back();
    ++memo_tables_;
  }
  return memos_[static_cast<std::size_t>(memo_index_[node])];
}

const Memo* Matcher::existing_memo_of(std::size_t node) const {
  std::int32_t index = memo_index_[node];
  return index < 0 ? nullptr : &memos_[static_cast<std::size_t>(index)];
}

bool Matcher::alternative_failed_before(std::size_t first, std::size_t position) const {
  if (!memo_enabled())
    return false;
  const Memo* memo = existing_memo_of(first);
  if (memo == nullptr || memo->failed.empty())
    return false;
  return (memo->failed[position / 64] >> (position % 64) & 1) != 0;
}

void Matcher::record_alternative_failure(std::size_t first, std::size_t position) {
  if (!memo_enabled())
    return;
  Memo& memo = memo_of(first);
  if (memo.failed.empty())
    memo.failed.assign(subject_length_ / 64 + 1, 0);
  memo.failed[position / 64] |= std::uint64_t{1} << (position % 64);
}

// The run table is filled in one pass from the end of the subject.
Memo& Matcher::repetition_memo(std::size_t repetition) {
  Memo& memo = memo_of(repetition);
  if (!memo.runs.empty())
    return memo;
  RepeatedNode repeated = decode_repeated(repetition);
  bool accepts[256] = {};
  if (repeated.valid) {
    for (unsigned c = 1; c < 256; ++c) {
      switch (repeated.opcode) {
      case NODE_ANY_CHAR:
        accepts[c] = true;
        break;
      case NODE_LITERAL:
        accepts[c] = c == repeated.literal;
        break;
      case NODE_IN_SET:
        accepts[c] = std::strchr(repeated.members, static_cast<int>(c)) != nullptr;
        break;
      default:
        accepts[c] = std::strchr(repeated.members, static_cast<int>(c)) == nullptr;
        break;
      }
    }
  }
  std::size_t length = subject_length_;
  memo.runs.resize(length + 1);
  memo.runs[length] = kFloorTag | (length + 1);
  for (std::size_t p = length; p-- > 0;) {
    if (accepts[subject_[p]])
      memo.runs[p] = run_end(memo, p + 1);
    else
      memo.runs[p] = kFloorTag | (p + 1);
  }
  count_steps(length);
  return memo;
}

void Matcher::record_repetition_failure(std::size_t repetition, std::size_t start) {
  if (!memo_enabled())
    return;
  Memo& memo = repetition_memo(repetition);
  std::size_t end = run_end(memo, start);
  std::size_t floor = memo.runs[end] & ~kFloorTag;
  if (start < floor)
    memo.runs[end] = kFloorTag | start;
}

const char* Matcher::operand_string(std::size_t node, std::size_t* length) const {
  std::size_t begin = node + kNodeHeaderSize;
  if (begin >= program_size_)
    return nullptr;
  const void* terminator = std::memchr(program_ + begin, 0, program_size_ - begin);
  if (terminator == nullptr)
    return nullptr;
  *length = static_cast<std::size_t>(static_cast<const unsigned char*>(terminator) -
                                     (program_ + begin));
  return reinterpret_cast<const char*>(program_ + begin);
}

RepeatedNode Matcher::decode_repeated(std::size_t repetition) {
  RepeatedNode repeated;
  std::size_t operand = repetition + kNodeHeaderSize;
  if (!is_node(operand)) {
    report_failure("internal foulup");
    return repeated;
  }
  repeated.opcode = program_[operand];
  std::size_t length = 0;
  switch (repeated.opcode) {
  case NODE_ANY_CHAR:
    repeated.valid = true;
    break;
  case NODE_LITERAL:
  case NODE_IN_SET:
  case NODE_NOT_IN_SET:
    repeated.members = operand_string(operand, &length);
    repeated.valid = repeated.members != nullptr;
    if (repeated.valid)
      repeated.literal = static_cast<unsigned char>(repeated.members[0]);
    break;
  default:
    break;
  }
  // A literal repeats its first character; the NUL never counts.
  if (repeated.opcode == NODE_LITERAL && repeated.literal == 0)
    repeated.valid = false;
  if (!repeated.valid)
    report_failure("internal foulup");
  return repeated;
}

std::size_t Matcher::count_repeats(const RepeatedNode& repeated, std::size_t position) {
  const unsigned char* p = subject_ + position;
  if (repeated.valid) {
    switch (repeated.opcode) {
    case NODE_ANY_CHAR:
      while (*p != '\0')
        ++p;
      break;
    case NODE_LITERAL:
      while (*p == repeated.literal)
        ++p;
      break;
    case NODE_IN_SET:
      while (*p != '\0' && std::strchr(repeated.members, *p) != nullptr)
        ++p;
      break;
    default:
      while (*p != '\0' && std::strchr(repeated.members, *p) == nullptr)
        ++p;
      break;
    }
  }
  std::size_t count = static_cast<std::size_t>(p - (subject_ + position));
  count_steps(count);
  return count;
}

// When a literal follows a repetition, only positions where that literal can
// start are worth a try.
int Matcher::look_ahead_of(std::size_t next) const {
  if (!is_node(next) || program_[next] != NODE_LITERAL)
    return kNoLookAhead;
  std::size_t length = 0;
  const char* literal = operand_string(next, &length);
  return literal == nullptr ? kNoLookAhead : static_cast<unsigned char>(literal[0]);
}

// The highest position in [LOW, HIGH] where the look-ahead character
// stands, or kNoPosition.
std::size_t Matcher::highest_candidate(std::size_t high, std::size_t low, int look_ahead) {
  if (high == kNoPosition || high < low)
    return kNoPosition;
  if (look_ahead == kNoLookAhead)
    return high;
  for (std::size_t p = high + 1; p > low;) {
    --p;
    if (subject_[p] == look_ahead) {
      count_steps(high - p);
      return p;
    }
  }
  count_steps(high - low);
  return kNoPosition;
}

// Starts a greedy single-node repetition at POSITION: pushes its choice
// frame and moves POSITION to its longest continuation, or fails.
bool Matcher::enter_repetition(std::size_t node, std::size_t next, std::size_t& position) {
  std::size_t start = position;
  std::size_t minimum = program_[node] == NODE_ONE_OR_MORE ? 1 : 0;
  std::size_t high;
  if (memo_enabled()) {
    Memo& memo = repetition_memo(node);
    std::size_t end = run_end(memo, start);
    std::size_t floor = memo.runs[end] & ~kFloorTag;
    if (floor <= start)
      return false;
    // Continuations from floor + minimum up to the end already failed.
    high = floor + minimum - 1 < end ? floor + minimum - 1 : end;
  } else {
    RepeatedNode repeated = decode_repeated(node);
    high = start + count_repeats(repeated, start);
  }
  std::size_t candidate = highest_candidate(high, start + minimum, look_ahead_of(next));
  if (candidate == kNoPosition) {
    record_repetition_failure(node, start);
    return false;
  }
  push({start, candidate, static_cast<std::uint32_t>(node), FrameKind::kRepetition});
  position = candidate;
  return true;
}

bool Matcher::resume_repetition(Frame& frame, std::size_t& node, std::size_t& position) {
  std::size_t minimum = program_[frame.node] == NODE_ONE_OR_MORE ? 1 : 0;
  std::size_t next = next_of(frame.node);
  std::size_t low = frame.position + minimum;
  if (frame.extra <= low)
    return false;
  std::size_t candidate = highest_candidate(frame.extra - 1, low, look_ahead_of(next));
  if (candidate == kNoPosition)
    return false;
  frame.extra = candidate;
  position = candidate;
  node = next;
  return true;
}

bool Matcher::match_literal(std::size_t node, std::size_t& position) {
  std::size_t length = 0;
  const char* literal = operand_string(node, &length);
  if (literal == nullptr) {
    report_failure("memory corruption");
    return false;
  }
  if (static_cast<unsigned char>(literal[0]) != subject_[position])
    return false;
  if (length > 1 &&
      std::strncmp(literal, reinterpret_cast<const char*>(subject_ + position), length) != 0)
    return false;
  position += length;
  return true;
}

bool Matcher::match_set(std::size_t node, bool members_match, std::size_t& position) {
  std::size_t length = 0;
  const char* members = operand_string(node, &length);
  if (members == nullptr) {
    report_failure("memory corruption");
    return false;
  }
  unsigned char c = subject_[position];
  if (c == '\0' || (std::strchr(members, c) != nullptr) != members_match)
    return false;
  ++position;
  return true;
}

void Matcher::push(const Frame& frame) {
  stack_.push_back(frame);
  if (statistics_ != nullptr && stack_.size() > statistics_->deepest_stack)
    statistics_->deepest_stack = stack_.size();
}

// Follows the program from NODE at POSITION until the end node (true) or a
// failure (false), pushing a frame at every choice and group boundary.
bool Matcher::run_forward(std::size_t& node, std::size_t& position) {
  for (;;) {
    count_steps(1);
    if (!is_node(node)) {
      report_failure("corrupted pointers");
      return false;
    }
    unsigned char opcode = program_[node];
    std::size_t next = next_of(node);
    switch (opcode) {
    case NODE_END:
      return true;
    case NODE_LINE_START:
      if (position != 0)
        return false;
      break;
    case NODE_LINE_END:
      if (subject_[position] != '\0')
        return false;
      break;
    case NODE_ANY_CHAR:
      if (subject_[position] == '\0')
        return false;
      ++position;
      break;
    case NODE_LITERAL:
      if (!match_literal(node, position))
        return false;
      break;
    case NODE_IN_SET:
    case NODE_NOT_IN_SET:
      if (!match_set(node, opcode == NODE_IN_SET, position))
        return false;
      break;
    case NODE_EMPTY:
    case NODE_LOOP_BACK:
      break;
    case NODE_ALTERNATIVE:
      // A single alternative is no choice: go straight on into it.
      if (is_node(next) && program_[next] == NODE_ALTERNATIVE) {
        if (alternative_failed_before(node, position))
          return false;
        push({position, node, static_cast<std::uint32_t>(node), FrameKind::kAlternative});
      }
      next = node + kNodeHeaderSize;
      break;
    case NODE_ZERO_OR_MORE:
    case NODE_ONE_OR_MORE:
      if (!enter_repetition(node, next, position))
        return false;
      break;
    default:
      if (is_group_open(opcode)) {
        push({position, std::size_t{opcode} - NODE_GROUP_OPEN, static_cast<std::uint32_t>(node),
              FrameKind::kGroupOpen});
      } else if (is_group_close(opcode)) {
        push({position, std::size_t{opcode} - NODE_GROUP_CLOSE, static_cast<std::uint32_t>(node),
              FrameKind::kGroupClose});
      } else {
        report_failure("memory corruption");
        return false;
      }
      break;
    }
    node = next;
  }
}

// Unwinds to the most recent choice that has an untried option and sets
// NODE and POSITION to it; false when no choice is left.
bool Matcher::backtrack(std::size_t& node, std::size_t& position) {
  while (!stack_.empty()) {
    Frame& frame = stack_.back();
    switch (frame.kind) {
    case FrameKind::kGroupOpen:
    case FrameKind::kGroupClose:
      break;
    case FrameKind::kAlternative: {
      std::size_t following = next_of(frame.node);
      if (is_node(following) && program_[following] == NODE_ALTERNATIVE) {
        frame.node = static_cast<std::uint32_t>(following);
        position = frame.position;
        node = following + kNodeHeaderSize;
        return true;
      }
      record_alternative_failure(frame.extra, frame.position);
      break;
    }
    case FrameKind::kRepetition:
      if (resume_repetition(frame, node, position))
        return true;
      record_repetition_failure(frame.node, frame.position);
      break;
    }
    stack_.pop_back();
  }
  return false;
}

// The group boundaries on the successful path, deepest first: each entry is
// only set while still empty, so the last pass through a repeated group
// wins.
void Matcher::record_group_positions() {
  const char* subject = reinterpret_cast<const char*>(subject_);
  for (auto frame = stack_.rbegin(); frame != stack_.rend(); ++frame) {
    if (frame->kind == FrameKind::kGroupOpen) {
      if (regexp_.group_start[frame->extra] == nullptr)
        regexp_.group_start[frame->extra] = subject + frame->position;
    } else if (frame->kind == FrameKind::kGroupClose) {
      if (regexp_.group_end[frame->extra] == nullptr)
        regexp_.group_end[frame->extra] = subject + frame->position;
    }
  }
}

bool Matcher::try_match_at(std::size_t start) {
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
      const char* subject = reinterpret_cast<const char*>(subject_);
      regexp_.group_start[0] = subject + start;
      regexp_.group_end[0] = subject + position;
      return true;
    }
    if (!backtrack(node, position))
      return false;
  }
}

bool contains_required_literal(const Regexp& regexp, const char* subject) {
  const char* literal = regexp.required_literal;
  std::size_t length = regexp.required_length > 0 ? static_cast<std::size_t>(regexp.required_length) : 0;
  for (const char* p = std::strchr(subject, literal[0]); p != nullptr;
       p = std::strchr(p + 1, literal[0])) {
    if (std::strncmp(p, literal, length) == 0)
      return true;
    if (*p == '\0')
      break;
  }
  return false;
}

}  // namespace

int execute_regexp_tuned(Regexp* regexp, const char* subject, const MatchTuning& tuning,
                         MatchStatistics* statistics) {
  if (regexp == nullptr || subject == nullptr) {
    report_failure("NULL parameter");
    return 0;
  }
  const std::vector<unsigned char>& program = regexp->program;
  if (program.empty() || program[0] != kRegexpMarker ||
      program.size() > std::numeric_limits<std::uint32_t>::max()) {
    report_failure("corrupted program");
    return 0;
  }
  if (regexp->required_literal != nullptr && !contains_required_literal(*regexp, subject))
    return 0;

  Matcher matcher(*regexp, subject, tuning, statistics);
  if (regexp->anchored != 0)
    return matcher.try_match_at(0) ? 1 : 0;
  if (regexp->first_char != 0) {
    for (const char* p = std::strchr(subject, regexp->first_char); p != nullptr;
         p = std::strchr(p + 1, regexp->first_char)) {
      if (matcher.try_match_at(static_cast<std::size_t>(p - subject)))
        return 1;
    }
    return 0;
  }
  for (std::size_t start = 0;; ++start) {
    if (matcher.try_match_at(start))
      return 1;
    if (subject[start] == '\0')
      return 0;
  }
}

int execute_regexp(Regexp* regexp, const char* subject) {
  return execute_regexp_tuned(regexp, subject, MatchTuning{}, nullptr);
}
