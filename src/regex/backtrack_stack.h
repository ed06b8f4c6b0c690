// The matcher's backtracking stack: pending choices and the group
// boundaries passed on the current path, in frames kept on the heap so that
// a long subject cannot exhaust the machine stack.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace regex_match {

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

} // namespace regex_match
