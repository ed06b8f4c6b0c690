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
//   start which continuations it still has to try. Before the tables exist,
//   the latest failure of each repetition is kept the same way, which
//   already makes the common retry one position further left cheap.
//
// With the tables, each choice point is explored at most once per position,
// and each repetition tries each continuation position at most once per
// run, so a call takes at most on the order of (program size) x (subject
// length)^2 steps, and far fewer for the expressions Ant patterns become.
#include <algorithm>
#include <cstring>
#include <limits>
#include <memory>
#include <vector>

#include "regex/automaton.h"
#include "regex/match_tuning.h"
#include "regex/program.h"
#include "regex/regexp.h"

namespace {

using regex_program::is_group_close;
using regex_program::is_group_open;
using regex_program::kFirstNode;
using regex_program::kNodeHeaderSize;
using regex_program::kNoNode;

void report_failure(const char *message) {
  if (regexp_error_hook != nullptr)
    regexp_error_hook(message);
}

// The small helpers of the inner loop are marked always_inline so that
// unoptimised builds (the sanitizer runs) stay fast enough for the
// million-character tests; optimised builds inline them anyway.

enum class FrameKind : std::uint32_t {
  kGroupOpen,
  kGroupClose,
  kAlternative,
  kRepetition,
  // Lies under each repetition frame and keeps where the repeated node's
  // run ends, so that the failure can be remembered once the repetition
  // has tried everything.
  kRepetitionRun,
};

// Programs the matcher accepts leave the top three bits of a node offset
// for the frame kind.
constexpr std::size_t kLargestProgram = std::size_t{1} << 29;
constexpr int kKindShift = 29;
constexpr std::uint32_t kNodeMask = (std::uint32_t{1} << kKindShift) - 1;

// One pending choice, or one group boundary passed on the current path.
// POSITION is an offset into the subject, of the narrowest type that holds
// every offset of this subject.
template <typename Position> struct Frame {
  // Group: where it was passed. Alternative, repetition: the position the
  // choice was made at.
  Position position;
  // Group: its number. Alternative: the first node of its chain.
  // Repetition: the continuation position being tried. Repetition run: the
  // end of the run.
  Position extra;
  // The kind, and the node: the alternative being tried, the repetition
  // node, the group node.
  std::uint32_t kind_and_node;

  [[gnu::always_inline]] FrameKind kind() const {
    return static_cast<FrameKind>(kind_and_node >> kKindShift);
  }
  [[gnu::always_inline]] std::size_t node() const { return kind_and_node & kNodeMask; }
  [[gnu::always_inline]] void set_node(std::size_t node) {
    kind_and_node = (kind_and_node & ~kNodeMask) | static_cast<std::uint32_t>(node);
  }
};

template <typename Position>
[[gnu::always_inline]] inline Frame<Position> make_frame(FrameKind kind, std::size_t node,
                                                         std::size_t position, std::size_t extra) {
  return {static_cast<Position>(position), static_cast<Position>(extra),
          static_cast<std::uint32_t>(kind) << kKindShift | static_cast<std::uint32_t>(node)};
}

// The backtracking stack. It starts in a small block inside the matcher, so
// that short subjects allocate nothing, and grows by blocks of increasing
// size: a deep stack is never copied as it grows, and blocks stay allocated
// for reuse while the call lasts. Block 0 is the inner one; block B > 0 is
// added_[B - 1].
template <typename T> class BlockStack {
public:
  BlockStack() = default;
  BlockStack(const BlockStack &) = delete;
  BlockStack &operator=(const BlockStack &) = delete;

  [[gnu::always_inline]] bool empty() const { return size_ == 0; }
  std::size_t size() const { return size_; }
  [[gnu::always_inline]] T &back() { return items_[used_ - 1]; }
  void clear() {
    enter_block(0);
    size_ = 0;
  }
  [[gnu::always_inline]] void pop_back() {
    --size_;
    if (--used_ == 0 && current_ > 0) {
      enter_block(current_ - 1);
      used_ = capacity_;
    }
  }
  [[gnu::always_inline]] void push_back(const T &item) {
    if (used_ == capacity_) {
      if (current_ == added_.size())
        add_block();
      enter_block(current_ + 1);
    }
    items_[used_++] = item;
    ++size_;
  }
  // Calls VISIT on every item, from the top of the stack down.
  template <typename Visit> void visit_from_top(Visit visit) const {
    std::size_t used = used_;
    for (std::size_t block = current_ + 1; block-- > 0;) {
      const T *items = block == 0 ? first_block_ : added_[block - 1].items.get();
      for (std::size_t i = used; i-- > 0;)
        visit(items[i]);
      if (block > 1)
        used = added_[block - 2].capacity;
      else
        used = kFirstBlockSize;
    }
  }

private:
  static constexpr std::size_t kFirstBlockSize = 64;
  static constexpr std::size_t kLargestBlockSize = std::size_t{1} << 16;
  struct Block {
    std::unique_ptr<T[]> items;
    std::size_t capacity;
  };
  void enter_block(std::size_t block) {
    current_ = block;
    items_ = block == 0 ? first_block_ : added_[block - 1].items.get();
    capacity_ = block == 0 ? kFirstBlockSize : added_[block - 1].capacity;
    used_ = 0;
  }
  void add_block() {
    std::size_t previous = added_.empty() ? kFirstBlockSize : added_.back().capacity;
    std::size_t capacity = std::min(previous * 4, kLargestBlockSize);
    added_.push_back({std::make_unique_for_overwrite<T[]>(capacity), capacity});
  }

  T first_block_[kFirstBlockSize];
  std::vector<Block> added_;
  std::size_t current_ = 0;
  T *items_ = first_block_; // the current block
  std::size_t capacity_ = kFirstBlockSize;
  std::size_t used_ = 0; // items in the current block
  std::size_t size_ = 0;
};

constexpr std::size_t kNoPosition = std::numeric_limits<std::size_t>::max();
constexpr int kNoLookAhead = -1;

// The one-character node under a repetition, decoded once per use.
struct RepeatedNode {
  unsigned char opcode = 0;
  unsigned char literal = 0;
  const char *members = nullptr;
  bool valid = false;
};

// What the matcher knows about the program and the subject, independent of
// how positions are stored.
class MatcherBase {
public:
  MatcherBase(Regexp &regexp, const char *subject, std::size_t subject_length,
              const MatchTuning &tuning, MatchStatistics *statistics)
      : regexp_(regexp), program_(regexp.program.data()), program_size_(regexp.program.size()),
        subject_(reinterpret_cast<const unsigned char *>(subject)), subject_length_(subject_length),
        step_limit_(tuning.memo_free_steps),
        remember_latest_failures_(tuning.remember_latest_failures), statistics_(statistics) {}
  ~MatcherBase() {
    if (statistics_ != nullptr) {
      statistics_->steps += steps_;
      statistics_->memo_tables += memo_tables_;
    }
  }
  MatcherBase(const MatcherBase &) = delete;
  MatcherBase &operator=(const MatcherBase &) = delete;

protected:
  [[gnu::always_inline]] bool is_node(std::size_t node) const {
    return node != kNoNode && node + kNodeHeaderSize <= program_size_;
  }
  [[gnu::always_inline]] std::size_t next_of(std::size_t node) const {
    return regex_program::next_node(program_, program_size_, node);
  }
  // The NUL-terminated operand of NODE, or null when the program holds no
  // terminator behind it.
  const char *operand_string(std::size_t node) const;
  bool match_literal(std::size_t node, std::size_t &position) const;
  bool match_set(std::size_t node, bool members_match, std::size_t &position) const;
  RepeatedNode decode_repeated(std::size_t repetition) const;
  std::size_t count_repeats(const RepeatedNode &repeated, std::size_t position);
  void fill_acceptance(std::size_t repetition, bool accepts[256]) const;
  int look_ahead_of(std::size_t next) const;
  std::size_t highest_candidate(std::size_t high, std::size_t low, int look_ahead);
  [[gnu::always_inline]] void count_steps(std::uint64_t steps) {
    steps_ += steps;
    if (steps_ > step_limit_)
      enable_memo();
  }
  void enable_memo() {
    if (memo_enabled_)
      return;
    memo_enabled_ = true;
    step_limit_ = std::numeric_limits<std::uint64_t>::max();
    memo_index_.assign(program_size_, -1);
  }
  bool memo_enabled() const { return memo_enabled_; }
  // The memo slot of NODE, or -1.
  [[gnu::always_inline]] std::int32_t memo_slot(std::size_t node) const {
    return memo_index_[node];
  }
  std::int32_t claim_memo_slot(std::size_t node, std::size_t slot) {
    memo_index_[node] = static_cast<std::int32_t>(slot);
    ++memo_tables_;
    return memo_index_[node];
  }
  [[gnu::always_inline]] void note_stack_depth(std::size_t depth) {
    if (statistics_ != nullptr && depth > statistics_->deepest_stack)
      statistics_->deepest_stack = depth;
  }
  void note_attempt() {
    if (statistics_ != nullptr)
      ++statistics_->attempts;
  }

  // A single-node repetition decoded once per call, with its latest failed
  // start and the end of that start's run. Kept for a few nodes at once
  // even before any table exists: the greedy search usually retries a
  // repetition one position before its last failure, and this settles such
  // a retry without counting the run again.
  struct Repetition {
    std::size_t node = kNoNode;
    std::size_t next = kNoNode;
    std::size_t minimum = 0;
    int look_ahead = kNoLookAhead;
    RepeatedNode repeated;
    std::size_t failed_start = kNoPosition;
    std::size_t failed_end = 0;
  };
  // The entry of NODE, decoded on first use. Up to kRepetitionSlots nodes
  // get an entry each; beyond that, nodes share entries and may evict one
  // another's failures, which only costs speed.
  [[gnu::always_inline]] Repetition &repetition(std::size_t node) {
    Repetition &home = repetitions_[node % kRepetitionSlots];
    return home.node == node ? home : find_repetition(node);
  }
  Repetition &find_repetition(std::size_t node) {
    std::size_t home = node % kRepetitionSlots;
    for (std::size_t probe = 0; probe < kRepetitionSlots; ++probe) {
      Repetition &slot = repetitions_[(home + probe) % kRepetitionSlots];
      if (slot.node == node)
        return slot;
      if (slot.node == kNoNode)
        return decode_into(slot, node);
    }
    return decode_into(repetitions_[home], node);
  }
  Repetition &decode_into(Repetition &slot, std::size_t node) {
    slot.node = node;
    slot.next = next_of(node);
    slot.minimum = program_[node] == NODE_ONE_OR_MORE ? 1 : 0;
    slot.look_ahead = look_ahead_of(slot.next);
    slot.repeated = decode_repeated(node);
    slot.failed_start = kNoPosition;
    return slot;
  }
  std::size_t count_repeats_before(const RepeatedNode &repeated, std::size_t position,
                                   std::size_t limit);

  Regexp &regexp_;
  const unsigned char *program_;
  std::size_t program_size_;
  const unsigned char *subject_;
  std::size_t subject_length_;
  std::uint64_t steps_ = 0;
  // Remembering failures starts when steps_ passes this.
  std::uint64_t step_limit_;
  bool remember_latest_failures_;

private:
  MatchStatistics *statistics_;
  std::uint64_t memo_tables_ = 0;
  bool memo_enabled_ = false;
  std::vector<std::int32_t> memo_index_; // per program offset: its memo slot, or -1
  static constexpr std::size_t kRepetitionSlots = 16;
  Repetition repetitions_[kRepetitionSlots];
};

const char *MatcherBase::operand_string(std::size_t node) const {
  std::size_t begin = node + kNodeHeaderSize;
  if (begin >= program_size_)
    return nullptr;
  // A program that ends in a NUL byte, as every compiled one does, holds a
  // terminator behind every operand.
  if (program_[program_size_ - 1] != 0 &&
      std::memchr(program_ + begin, 0, program_size_ - begin) == nullptr)
    return nullptr;
  return reinterpret_cast<const char *>(program_ + begin);
}

bool MatcherBase::match_literal(std::size_t node, std::size_t &position) const {
  const char *operand = operand_string(node);
  if (operand == nullptr) {
    report_failure("memory corruption");
    return false;
  }
  const unsigned char *literal = reinterpret_cast<const unsigned char *>(operand);
  const unsigned char *text = subject_ + position;
  if (literal[0] != text[0])
    return false;
  // Stops at the subject's NUL at the latest: a byte is only read once the
  // one before it has compared equal, and the literal holds no NUL. (An
  // empty operand, found only in a damaged program, matches nothing but
  // the end of the subject, and advances by nothing.)
  std::size_t length = literal[0] == 0 ? 0 : 1;
  for (; length > 0 && literal[length] != 0; ++length) {
    if (literal[length] != text[length])
      return false;
  }
  position += length;
  return true;
}

bool MatcherBase::match_set(std::size_t node, bool members_match, std::size_t &position) const {
  const char *members = operand_string(node);
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

RepeatedNode MatcherBase::decode_repeated(std::size_t repetition) const {
  RepeatedNode repeated;
  std::size_t operand = repetition + kNodeHeaderSize;
  if (is_node(operand)) {
    repeated.opcode = program_[operand];
    switch (repeated.opcode) {
    case NODE_ANY_CHAR:
      repeated.valid = true;
      break;
    case NODE_LITERAL:
    case NODE_IN_SET:
    case NODE_NOT_IN_SET:
      repeated.members = operand_string(operand);
      if (repeated.members != nullptr) {
        repeated.literal = static_cast<unsigned char>(repeated.members[0]);
        // A literal repeats its first character; the NUL never counts.
        repeated.valid = repeated.opcode != NODE_LITERAL || repeated.literal != 0;
      }
      break;
    default:
      break;
    }
  }
  if (!repeated.valid)
    report_failure("internal foulup");
  return repeated;
}

std::size_t MatcherBase::count_repeats(const RepeatedNode &repeated, std::size_t position) {
  if (repeated.valid && repeated.opcode == NODE_ANY_CHAR) {
    count_steps(subject_length_ - position);
    return subject_length_ - position;
  }
  return count_repeats_before(repeated, position, subject_length_);
}

// Counts like count_repeats, but stops at LIMIT.
std::size_t MatcherBase::count_repeats_before(const RepeatedNode &repeated, std::size_t position,
                                              std::size_t limit) {
  const unsigned char *p = subject_ + position;
  const unsigned char *stop = subject_ + limit;
  if (repeated.valid) {
    bool single_member =
        repeated.members != nullptr && repeated.members[0] != '\0' && repeated.members[1] == '\0';
    switch (repeated.opcode) {
    case NODE_ANY_CHAR:
      p = stop;
      break;
    case NODE_LITERAL:
      while (p != stop && *p == repeated.literal)
        ++p;
      break;
    case NODE_IN_SET:
      if (single_member) {
        while (p != stop && *p == repeated.literal)
          ++p;
      } else {
        while (p != stop && *p != '\0' && std::strchr(repeated.members, *p) != nullptr)
          ++p;
      }
      break;
    default:
      if (single_member) {
        while (p != stop && *p != '\0' && *p != repeated.literal)
          ++p;
      } else {
        while (p != stop && *p != '\0' && std::strchr(repeated.members, *p) == nullptr)
          ++p;
      }
      break;
    }
  }
  std::size_t count = static_cast<std::size_t>(p - (subject_ + position));
  count_steps(count);
  return count;
}

// Which bytes the node under REPETITION accepts; never the NUL.
void MatcherBase::fill_acceptance(std::size_t repetition, bool accepts[256]) const {
  RepeatedNode repeated = decode_repeated(repetition);
  bool everything =
      repeated.valid && (repeated.opcode == NODE_ANY_CHAR || repeated.opcode == NODE_NOT_IN_SET);
  std::fill(accepts, accepts + 256, everything);
  if (repeated.valid && repeated.opcode == NODE_LITERAL)
    accepts[repeated.literal] = true;
  if (repeated.valid && (repeated.opcode == NODE_IN_SET || repeated.opcode == NODE_NOT_IN_SET)) {
    for (const char *member = repeated.members; *member != '\0'; ++member)
      accepts[static_cast<unsigned char>(*member)] = repeated.opcode == NODE_IN_SET;
  }
  accepts[0] = false;
}

// When a literal follows a repetition, only positions where that literal can
// start are worth a try.
int MatcherBase::look_ahead_of(std::size_t next) const {
  if (!is_node(next) || program_[next] != NODE_LITERAL)
    return kNoLookAhead;
  const char *literal = operand_string(next);
  return literal == nullptr ? kNoLookAhead : static_cast<unsigned char>(literal[0]);
}

// The highest position in [LOW, HIGH] where the look-ahead character
// stands, or kNoPosition.
std::size_t MatcherBase::highest_candidate(std::size_t high, std::size_t low, int look_ahead) {
  if (high < low)
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

// What a choice-point node has been seen to fail at, allocated on first use.
template <typename Position> struct Memo {
  // Marks a run-table entry that holds the earliest failed start of the run
  // ending there, rather than the end of the run that starts there.
  static constexpr Position kFloorTag = Position{1} << (std::numeric_limits<Position>::digits - 1);

  // Alternative chains: one bit per position.
  std::vector<std::uint64_t> failed;
  // Single-node repetitions, one entry per position P (the NUL included):
  // where the operand accepts the byte at P, the end of the run that
  // contains P; elsewhere P ends a run, and the entry is kFloorTag plus the
  // earliest start in that run known to fail (P + 1 when none is). Empty
  // until the table is filled.
  std::unique_ptr<Position[]> runs;

  [[gnu::always_inline]] std::size_t run_end(std::size_t position) const {
    Position entry = runs[position];
    return (entry & kFloorTag) != 0 ? position : entry;
  }
  [[gnu::always_inline]] std::size_t floor(std::size_t end) const { return runs[end] & ~kFloorTag; }
  [[gnu::always_inline]] void lower_floor(std::size_t end, std::size_t start) {
    if (start < floor(end))
      runs[end] = static_cast<Position>(kFloorTag | start);
  }
};

template <typename Position> class Matcher : public MatcherBase {
public:
  using MatcherBase::MatcherBase;

  bool try_match_at(std::size_t start);

private:
  bool run_forward(std::size_t &node, std::size_t &position);
  bool backtrack(std::size_t &node, std::size_t &position);
  void record_group_positions();
  [[gnu::always_inline]] void push(FrameKind kind, std::size_t node, std::size_t position,
                                   std::size_t extra) {
    stack_.push_back(make_frame<Position>(kind, node, position, extra));
    note_stack_depth(stack_.size());
  }

  bool enter_repetition(std::size_t node, std::size_t &position);
  bool resume_repetition(Frame<Position> &frame, std::size_t &node, std::size_t &position);

  Memo<Position> &memo_of(std::size_t node);
  bool alternative_failed_before(std::size_t first, std::size_t position) const;
  void record_alternative_failure(std::size_t first, std::size_t position);
  Memo<Position> &repetition_memo(std::size_t repetition);
  void record_repetition_failure(std::size_t repetition, std::size_t start, std::size_t end);

  BlockStack<Frame<Position>> stack_;
  std::vector<Memo<Position>> memos_;
};

template <typename Position> Memo<Position> &Matcher<Position>::memo_of(std::size_t node) {
  std::int32_t slot = memo_slot(node);
  if (slot < 0) {
    slot = claim_memo_slot(node, memos_.size());
    memos_.emplace_back();
  }
  return memos_[static_cast<std::size_t>(slot)];
}

template <typename Position>
bool Matcher<Position>::alternative_failed_before(std::size_t first, std::size_t position) const {
  if (!memo_enabled())
    return false;
  std::int32_t slot = memo_slot(first);
  if (slot < 0)
    return false;
  const std::vector<std::uint64_t> &failed = memos_[static_cast<std::size_t>(slot)].failed;
  return !failed.empty() && (failed[position / 64] >> (position % 64) & 1) != 0;
}

template <typename Position>
void Matcher<Position>::record_alternative_failure(std::size_t first, std::size_t position) {
  if (!memo_enabled())
    return;
  std::vector<std::uint64_t> &failed = memo_of(first).failed;
  if (failed.empty())
    failed.assign(subject_length_ / 64 + 1, 0);
  failed[position / 64] |= std::uint64_t{1} << (position % 64);
}

// The run table is filled in one pass from the end of the subject.
template <typename Position>
Memo<Position> &Matcher<Position>::repetition_memo(std::size_t repetition) {
  Memo<Position> &memo = memo_of(repetition);
  if (memo.runs != nullptr)
    return memo;
  bool accepts[256];
  fill_acceptance(repetition, accepts);
  std::size_t length = subject_length_;
  memo.runs = std::make_unique_for_overwrite<Position[]>(length + 1);
  Position *runs = memo.runs.get();
  const Position tag = Memo<Position>::kFloorTag;
  runs[length] = static_cast<Position>(tag | (length + 1));
  std::size_t end = length;
  for (std::size_t p = length; p-- > 0;) {
    if (accepts[subject_[p]]) {
      runs[p] = static_cast<Position>(end);
    } else {
      runs[p] = static_cast<Position>(tag | (p + 1));
      end = p;
    }
  }
  count_steps(length);
  return memo;
}

template <typename Position>
void Matcher<Position>::record_repetition_failure(std::size_t repetition, std::size_t start,
                                                  std::size_t end) {
  if (remember_latest_failures_) {
    Repetition &known = this->repetition(repetition);
    known.failed_start = start;
    known.failed_end = end;
  }
  if (memo_enabled())
    repetition_memo(repetition).lower_floor(end, start);
}

// Starts a greedy single-node repetition at POSITION: pushes its choice
// frame and moves POSITION to its longest continuation, or fails.
template <typename Position>
bool Matcher<Position>::enter_repetition(std::size_t node, std::size_t &position) {
  std::size_t start = position;
  const Repetition &known = repetition(node);
  std::size_t minimum = known.minimum;
  // Every start inside one run ends it at the same place and tries a
  // suffix of the continuations of any earlier start in the run. So a
  // failed start settles the later starts of its run, and leaves an
  // earlier start only the continuations below its own.
  std::size_t end;
  std::size_t failed_start = kNoPosition;
  if (memo_enabled()) {
    const Memo<Position> &memo = repetition_memo(node);
    end = memo.run_end(start);
    failed_start = memo.floor(end);
  } else if (known.failed_start == kNoPosition) {
    end = start + count_repeats(known.repeated, start);
  } else if (known.failed_start < start) {
    if (start <= known.failed_end)
      return false;
    end = start + count_repeats(known.repeated, start);
  } else {
    end = start + count_repeats_before(known.repeated, start, known.failed_start);
    if (end == known.failed_start) {
      end = known.failed_end;
      failed_start = known.failed_start;
    }
  }
  if (failed_start <= start)
    return false;
  std::size_t high = end;
  if (failed_start != kNoPosition)
    high = std::min(failed_start + minimum - 1, end);
  std::size_t candidate = highest_candidate(high, start + minimum, known.look_ahead);
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
  const Repetition &known = repetition(frame.node());
  std::size_t low = std::size_t{frame.position} + known.minimum;
  std::size_t tried = frame.extra;
  if (tried <= low)
    return false;
  std::size_t candidate = highest_candidate(tried - 1, low, known.look_ahead);
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
  for (;;) {
    if (++steps_ > step_limit_)
      enable_memo();
    if (node == kNoNode || node + kNodeHeaderSize > program_size_) {
      report_failure("corrupted pointers");
      return false;
    }
    // The next link, decoded here rather than through next_of: this loop is
    // where the matcher spends its time.
    const unsigned char *at = program_ + node;
    unsigned char opcode = at[0];
    std::size_t offset = static_cast<std::size_t>(at[1]) << 8 | at[2];
    std::size_t next = node + offset;
    if (offset == 0)
      next = kNoNode;
    else if (opcode == NODE_LOOP_BACK)
      next = offset < node ? node - offset : kNoNode;
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
      if (next + kNodeHeaderSize <= program_size_ && program_[next] == NODE_ALTERNATIVE) {
        if (alternative_failed_before(node, position))
          return false;
        push(FrameKind::kAlternative, node, position, node);
      }
      next = node + kNodeHeaderSize;
      break;
    case NODE_ZERO_OR_MORE:
    case NODE_ONE_OR_MORE:
      if (!enter_repetition(node, position))
        return false;
      break;
    default:
      if (is_group_open(opcode)) {
        push(FrameKind::kGroupOpen, node, position, std::size_t{opcode} - NODE_GROUP_OPEN);
      } else if (is_group_close(opcode)) {
        push(FrameKind::kGroupClose, node, position, std::size_t{opcode} - NODE_GROUP_CLOSE);
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
template <typename Position>
bool Matcher<Position>::backtrack(std::size_t &node, std::size_t &position) {
  while (!stack_.empty()) {
    Frame<Position> &frame = stack_.back();
    switch (frame.kind()) {
    case FrameKind::kGroupOpen:
    case FrameKind::kGroupClose:
      break;
    case FrameKind::kAlternative: {
      std::size_t following = next_of(frame.node());
      if (is_node(following) && program_[following] == NODE_ALTERNATIVE) {
        frame.set_node(following);
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
  const char *subject = reinterpret_cast<const char *>(subject_);
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
  note_attempt();
  stack_.clear();
  std::size_t node = kFirstNode;
  std::size_t position = start;
  for (;;) {
    if (run_forward(node, position)) {
      record_group_positions();
      const char *subject = reinterpret_cast<const char *>(subject_);
      regexp_.group_start[0] = subject + start;
      regexp_.group_end[0] = subject + position;
      return true;
    }
    if (!backtrack(node, position))
      return false;
  }
}

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

// Subjects shorter than this keep their offsets in 32 bits, with the top
// bit free for the run tables' tag.
constexpr std::size_t kNarrowSubjectLimit = (std::size_t{1} << 31) - 2;

// Tries the start positions the hints allow, leftmost first.
template <typename Position>
int search(Matcher<Position> &matcher, const Regexp &regexp, const char *subject) {
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

namespace {

// The checks every call starts with; true when the call is refused (after
// reporting why) or the required literal is missing, so that no start
// position is tried.
bool settled_without_attempt(const Regexp *regexp, const char *subject) {
  if (regexp == nullptr || subject == nullptr) {
    report_failure("NULL parameter");
    return true;
  }
  const ProgramBytes &program = regexp->program;
  if (program.empty() || program[0] != kRegexpMarker || program.size() > kLargestProgram) {
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

  std::size_t length = std::strlen(subject);
  if (length < kNarrowSubjectLimit && !tuning.wide_positions) {
    Matcher<std::uint32_t> matcher(*regexp, subject, length, tuning, statistics);
    return search(matcher, *regexp, subject);
  }
  Matcher<std::uint64_t> matcher(*regexp, subject, length, tuning, statistics);
  return search(matcher, *regexp, subject);
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
