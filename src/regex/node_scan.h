// What the matcher reads: the nodes of the program, and the subject as the
// one-character nodes and repetitions see it. Every character counted or
// skipped is a step of the call's FailureIndex.
//
// The small helpers of the inner loop are marked always_inline so that
// unoptimised builds (the sanitizer runs) stay fast enough for the
// million-character tests; optimised builds inline them anyway.
#pragma once

#include <cstddef>
#include <cstring>
#include <limits>

#include "regex/failure_memory.h"
#include "regex/program.h"
#include "regex/regexp.h"

namespace regex_match {

constexpr std::size_t kNoPosition = std::numeric_limits<std::size_t>::max();
constexpr int kNoLookAhead = -1;

inline void report_failure(const char *message) {
  if (regexp_error_hook != nullptr)
    regexp_error_hook(message);
}

// The one-character node under a repetition, decoded once per use.
struct RepeatedNode {
  unsigned char opcode = 0;
  unsigned char literal = 0;
  const char *members = nullptr;
  bool valid = false;
};

// A single-node repetition decoded once per call.
struct Repetition {
  std::size_t node = regex_program::kNoNode;
  std::size_t next = regex_program::kNoNode;
  std::size_t minimum = 0;
  int look_ahead = kNoLookAhead;
  RepeatedNode repeated;
};

class NodeScanner {
public:
  NodeScanner(const ProgramBytes &program, const char *subject, std::size_t subject_length,
              FailureIndex &steps)
      : program_(program.data()), program_size_(program.size()),
        subject_(reinterpret_cast<const unsigned char *>(subject)), subject_length_(subject_length),
        steps_(steps) {}
  NodeScanner(const NodeScanner &) = delete;
  NodeScanner &operator=(const NodeScanner &) = delete;

  const unsigned char *program() const { return program_; }
  std::size_t program_size() const { return program_size_; }
  const unsigned char *subject() const { return subject_; }
  std::size_t subject_length() const { return subject_length_; }

  [[gnu::always_inline]] bool is_node(std::size_t node) const {
    return node != regex_program::kNoNode && node + regex_program::kNodeHeaderSize <= program_size_;
  }
  [[gnu::always_inline]] std::size_t next_of(std::size_t node) const {
    return regex_program::next_node(program_, program_size_, node);
  }
  // The NUL-terminated operand of NODE, or null when the program holds no
  // terminator behind it.
  const char *operand_string(std::size_t node) const;
  bool match_literal(std::size_t node, std::size_t &position) const;
  bool match_set(std::size_t node, bool members_match, std::size_t &position) const;

  // How many characters from POSITION on the repeated node accepts.
  std::size_t count_repeats(const RepeatedNode &repeated, std::size_t position);
  // Which bytes the node under REPETITION accepts; never the NUL.
  void fill_acceptance(std::size_t repetition, bool accepts[256]) const;
  // The highest position in [LOW, HIGH] where the look-ahead character
  // stands, or kNoPosition.
  std::size_t highest_candidate(std::size_t high, std::size_t low, int look_ahead);

  // The entry of NODE, decoded on first use. Up to kRepetitionSlots nodes
  // get an entry each; beyond that, nodes share entries and may evict one
  // another, which only costs decoding again.
  [[gnu::always_inline]] Repetition &repetition(std::size_t node) {
    Repetition &home = repetitions_[node % kRepetitionSlots];
    return home.node == node ? home : find_repetition(node);
  }

private:
  RepeatedNode decode_repeated(std::size_t repetition) const;
  int look_ahead_of(std::size_t next) const;
  Repetition &find_repetition(std::size_t node);
  Repetition &decode_into(Repetition &slot, std::size_t node);

  const unsigned char *program_;
  std::size_t program_size_;
  const unsigned char *subject_;
  std::size_t subject_length_;
  FailureIndex &steps_;
  static constexpr std::size_t kRepetitionSlots = 16;
  Repetition repetitions_[kRepetitionSlots];
};

inline const char *NodeScanner::operand_string(std::size_t node) const {
  std::size_t begin = node + regex_program::kNodeHeaderSize;
  if (begin >= program_size_)
    return nullptr;
  // A program that ends in a NUL byte, as every compiled one does, holds a
  // terminator behind every operand.
  if (program_[program_size_ - 1] != 0 &&
      std::memchr(program_ + begin, 0, program_size_ - begin) == nullptr)
    return nullptr;
  return reinterpret_cast<const char *>(program_ + begin);
}

inline bool NodeScanner::match_literal(std::size_t node, std::size_t &position) const {
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

inline bool NodeScanner::match_set(std::size_t node, bool members_match,
                                   std::size_t &position) const {
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

inline std::size_t NodeScanner::highest_candidate(std::size_t high, std::size_t low,
                                                  int look_ahead) {
  if (high < low)
    return kNoPosition;
  if (look_ahead == kNoLookAhead)
    return high;
  for (std::size_t p = high + 1; p > low;) {
    --p;
    if (subject_[p] == look_ahead) {
      steps_.count_steps(high - p);
      return p;
    }
  }
  steps_.count_steps(high - low);
  return kNoPosition;
}

} // namespace regex_match
