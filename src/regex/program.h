// Reading and writing the node program shared by the compiler and the
// matcher. A node is an opcode byte, a two-byte next offset (high byte
// first, 0 for "no next node") and an optional operand; loop-back nodes are
// the only ones whose next node lies before them.
#pragma once

#include <cstddef>

#include "regex/regexp.h"

namespace regex_program {

constexpr std::size_t kNodeHeaderSize = 3;
// Offset 0 holds the marker, so no node ever starts there.
constexpr std::size_t kNoNode = 0;
// The node every program starts with: the first alternative of the whole
// expression.
constexpr std::size_t kFirstNode = 1;
// Every program is smaller than this, so each link fits its 16 bits.
constexpr std::size_t kProgramSizeLimit = 32767;

[[gnu::always_inline]] inline unsigned link_offset(const unsigned char *node) {
  return static_cast<unsigned>(node[1]) << 8 | node[2];
}

inline bool is_group_open(unsigned char opcode) {
  return opcode > NODE_GROUP_OPEN && opcode < NODE_GROUP_OPEN + kRegexpGroups;
}

inline bool is_group_close(unsigned char opcode) {
  return opcode > NODE_GROUP_CLOSE && opcode < NODE_GROUP_CLOSE + kRegexpGroups;
}

// Where the next link of the node at NODE leads: kNoNode when the offset is
// 0, or when the link leaves the SIZE bytes of the program (a damaged
// program; the compiler never writes one).
[[gnu::always_inline]] inline std::size_t next_node(const unsigned char *program, std::size_t size,
                                                    std::size_t node) {
  unsigned offset = link_offset(program + node);
  if (offset == 0)
    return kNoNode;
  std::size_t target;
  if (program[node] == NODE_LOOP_BACK) {
    if (offset >= node)
      return kNoNode;
    target = node - offset;
  } else {
    target = node + offset;
  }
  return target + kNodeHeaderSize <= size ? target : kNoNode;
}

} // namespace regex_program
