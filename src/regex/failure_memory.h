// The matcher's memory of failed continuations.
//
// Whether the rest of the program matches from node N at position P
// depends only on N and P (there are no back-references, and group
// positions are only written after the whole program has matched), so a
// choice point that failed once at a position fails there again and need
// not be explored twice. Alternative chains keep one bit per position.
// Single-node repetitions keep their memory per run of characters that the
// repeated node accepts: every start inside one run ends the run at the
// same place, so the continuations tried from one start are a suffix of
// those tried from any earlier start in the same run. Remembering the
// earliest failed start of each run therefore settles every later start in
// that run at once, and tells an earlier start which continuations it still
// has to try.
//
// The tables cost memory and a pass over the subject each, so a call only
// starts keeping them once it has taken more than a few steps.
#pragma once

#include <cstddef>
#include <cstdint>
#include <limits>
#include <memory>
#include <vector>

namespace regex_match {

// Counts the steps of one call, and from the step limit on says which
// program nodes have a failure table.
class FailureIndex {
public:
  FailureIndex(std::size_t program_size, std::uint64_t free_steps)
      : program_size_(program_size), step_limit_(free_steps) {}

  [[gnu::always_inline]] void count_steps(std::uint64_t steps) {
    steps_ += steps;
    if (steps_ > step_limit_)
      enable();
  }
  [[gnu::always_inline]] void count_step() {
    if (++steps_ > step_limit_)
      enable();
  }
  std::uint64_t steps() const { return steps_; }
  std::uint64_t tables() const { return tables_; }

  bool enabled() const { return enabled_; }
  // The table of NODE, or -1.
  [[gnu::always_inline]] std::int32_t slot(std::size_t node) const { return slots_[node]; }
  std::int32_t claim(std::size_t node, std::size_t slot) {
    slots_[node] = static_cast<std::int32_t>(slot);
    ++tables_;
    return slots_[node];
  }

private:
  void enable() {
    if (enabled_)
      return;
    enabled_ = true;
    step_limit_ = std::numeric_limits<std::uint64_t>::max();
    slots_.assign(program_size_, -1);
  }

  std::size_t program_size_;
  std::uint64_t steps_ = 0;
  // Tables are kept once steps_ passes this.
  std::uint64_t step_limit_;
  bool enabled_ = false;
  std::uint64_t tables_ = 0;
  std::vector<std::int32_t> slots_; // per program offset: its table, or -1
};

// What a choice-point node has been seen to fail at, allocated on first use.
// POSITION is the matcher's type for subject offsets.
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

// The tables of one call, found through its FailureIndex.
template <typename Position> class FailureMemory {
public:
  explicit FailureMemory(FailureIndex &index) : index_(index) {}

  bool enabled() const { return index_.enabled(); }

  bool alternative_failed_before(std::size_t first, std::size_t position) const {
    if (!index_.enabled())
      return false;
    std::int32_t slot = index_.slot(first);
    if (slot < 0)
      return false;
    const std::vector<std::uint64_t> &failed = memos_[static_cast<std::size_t>(slot)].failed;
    return !failed.empty() && (failed[position / 64] >> (position % 64) & 1) != 0;
  }

  void record_alternative_failure(std::size_t first, std::size_t position,
                                  std::size_t subject_length) {
    if (!index_.enabled())
      return;
    std::vector<std::uint64_t> &failed = memo_of(first).failed;
    if (failed.empty())
      failed.assign(subject_length / 64 + 1, 0);
    failed[position / 64] |= std::uint64_t{1} << (position % 64);
  }

  // The run table of the repetition at NODE over SUBJECT, made on first
  // use in one pass from the subject's end. FILL_ACCEPTANCE(accepts) sets
  // the 256 entries of the bytes the repeated node accepts; it is only
  // called when the table is made.
  template <typename Fill>
  Memo<Position> &repetition_memo(std::size_t node, const unsigned char *subject,
                                  std::size_t length, Fill fill_acceptance) {
    Memo<Position> &memo = memo_of(node);
    if (memo.runs != nullptr)
      return memo;
    bool accepts[256];
    fill_acceptance(accepts);
    memo.runs = std::make_unique_for_overwrite<Position[]>(length + 1);
    Position *runs = memo.runs.get();
    const Position tag = Memo<Position>::kFloorTag;
    runs[length] = static_cast<Position>(tag | (length + 1));
    std::size_t end = length;
    for (std::size_t p = length; p-- > 0;) {
      if (accepts[subject[p]]) {
        runs[p] = static_cast<Position>(end);
      } else {
        runs[p] = static_cast<Position>(tag | (p + 1));
        end = p;
      }
    }
    index_.count_steps(length);
    return memo;
  }

private:
  Memo<Position> &memo_of(std::size_t node) {
    std::int32_t slot = index_.slot(node);
    if (slot < 0) {
      slot = index_.claim(node, memos_.size());
      memos_.emplace_back();
    }
    return memos_[static_cast<std::size_t>(slot)];
  }

  FailureIndex &index_;
  std::vector<Memo<Position>> memos_;
};

} // namespace regex_match
