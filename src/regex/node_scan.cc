// Decoding repetitions and counting the characters they accept.
#include "regex/node_scan.h"

#include <algorithm>

namespace regex_match {

using regex_program::kNodeHeaderSize;
using regex_program::kNoNode;

RepeatedNode NodeScanner::decode_repeated(std::size_t repetition) const {
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

std::size_t NodeScanner::count_repeats(const RepeatedNode &repeated, std::size_t position) {
  const unsigned char *p = subject_ + position;
  const unsigned char *stop = subject_ + subject_length_;
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
  steps_.count_steps(count);
  return count;
}

void NodeScanner::fill_acceptance(std::size_t repetition, bool accepts[256]) const {
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
int NodeScanner::look_ahead_of(std::size_t next) const {
  if (!is_node(next) || program_[next] != NODE_LITERAL)
    return kNoLookAhead;
  const char *literal = operand_string(next);
  return literal == nullptr ? kNoLookAhead : static_cast<unsigned char>(literal[0]);
}

Repetition &NodeScanner::find_repetition(std::size_t node) {
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

Repetition &NodeScanner::decode_into(Repetition &slot, std::size_t node) {
  slot.node = node;
  slot.next = next_of(node);
  slot.minimum = program_[node] == NODE_ONE_OR_MORE ? 1 : 0;
  slot.look_ahead = look_ahead_of(slot.next);
  slot.repeated = decode_repeated(node);
  return slot;
}

} // namespace regex_match
