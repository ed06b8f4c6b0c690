// A deliberately plain recursive interpreter of the node program, written
// straight from the matching rules, for comparing results and group
// positions with the real matcher on small inputs. It ignores the
// compiler's hints and tries every start position, so a wrong hint shows
// too. It recurses once per choice and takes exponential time on some
// expressions, so a caller with arbitrary inputs gives it a step budget,
// beyond which it gives up and says so.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <limits>

#include "regex/regexp.h"

namespace regex_test {

struct ReferenceResult {
  int matched = 0;
  const char *group_start[kRegexpGroups] = {};
  const char *group_end[kRegexpGroups] = {};
  bool gave_up = false; // the step budget ran out; the answer means nothing
};

class ReferenceMatcher {
public:
  ReferenceMatcher(const Regexp &regexp, const char *subject,
                   std::uint64_t step_budget = std::numeric_limits<std::uint64_t>::max())
      : program_(regexp.program.data()), subject_(subject), steps_left_(step_budget) {}

  // The leftmost match, the terminating NUL included as a start.
  ReferenceResult run() {
    for (const char *start = subject_; !result_.gave_up; ++start) {
      for (int g = 0; g < kRegexpGroups; ++g)
        result_.group_start[g] = result_.group_end[g] = nullptr;
      input_ = start;
      if (match(1) && !result_.gave_up) {
        result_.matched = 1;
        result_.group_start[0] = start;
        result_.group_end[0] = input_;
        break;
      }
      if (*start == '\0')
        break;
    }
    return result_;
  }

private:
  int opcode(int node) const { return program_[node]; }
  int next(int node) const {
    int offset = program_[node + 1] << 8 | program_[node + 2];
    if (offset == 0)
      return 0;
    return opcode(node) == NODE_LOOP_BACK ? node - offset : node + offset;
  }
  const char *operand(int node) const {
    return reinterpret_cast<const char *>(program_ + node + 3);
  }

  // Whether the one-character node NODE accepts C (never the NUL).
  bool accepts(int node, char c) const {
    switch (opcode(node)) {
    case NODE_ANY_CHAR:
      return c != '\0';
    case NODE_LITERAL:
      return c != '\0' && c == *operand(node);
    case NODE_IN_SET:
      return c != '\0' && std::strchr(operand(node), c) != nullptr;
    case NODE_NOT_IN_SET:
      return c != '\0' && std::strchr(operand(node), c) == nullptr;
    }
    return false;
  }

  // Whether the node at NODE, neither a choice nor a group, lets the path
  // on; moves past what it consumes.
  bool pass(int node) {
    switch (opcode(node)) {
    case NODE_LINE_START:
      return input_ == subject_;
    case NODE_LINE_END:
      return *input_ == '\0';
    case NODE_EMPTY:
    case NODE_LOOP_BACK:
    case NODE_ALTERNATIVE:
      return true;
    case NODE_LITERAL: {
      std::size_t length = std::strlen(operand(node));
      if (std::strncmp(operand(node), input_, length) != 0)
        return false;
      input_ += length;
      return true;
    }
    }
    if (!accepts(node, *input_))
      return false;
    ++input_;
    return true;
  }

  int match(int node) {
    while (node != 0) {
      if (steps_left_-- == 0) {
        result_.gave_up = true;
        steps_left_ = 0;
      }
      int code = opcode(node);
      if (result_.gave_up)
        return 0;
      if (code == NODE_END)
        return 1;
      // A lone alternative is simply entered.
      if (code == NODE_ALTERNATIVE && opcode(next(node)) == NODE_ALTERNATIVE)
        return match_alternatives(node);
      if (code == NODE_ZERO_OR_MORE || code == NODE_ONE_OR_MORE)
        return match_repetition(node, code == NODE_ONE_OR_MORE ? 1 : 0);
      if (code >= NODE_GROUP_OPEN)
        return match_group(node, code);
      if (!pass(node))
        return 0;
      node = code == NODE_ALTERNATIVE ? node + 3 : next(node);
    }
    return 0;
  }

  int match_alternatives(int node) {
    for (; node != 0 && opcode(node) == NODE_ALTERNATIVE; node = next(node)) {
      const char *saved = input_;
      if (match(node + 3))
        return 1;
      input_ = saved;
    }
    return 0;
  }

  // Greedy: the longest run first, shortened one character at a time.
  int match_repetition(int node, std::ptrdiff_t minimum) {
    const char *start = input_;
    std::ptrdiff_t count = 0;
    while (accepts(node + 3, start[count]))
      ++count;
    for (; count >= minimum; --count) {
      input_ = start + count;
      if (match(next(node)))
        return 1;
    }
    return 0;
  }

  // A group boundary is set once the rest has matched: the last pass wins.
  int match_group(int node, int code) {
    bool opens = code > NODE_GROUP_OPEN && code < NODE_GROUP_OPEN + kRegexpGroups;
    bool closes = code > NODE_GROUP_CLOSE && code < NODE_GROUP_CLOSE + kRegexpGroups;
    if (!opens && !closes)
      return 0;
    const char *saved = input_;
    if (!match(next(node)))
      return 0;
    const char *&slot = opens ? result_.group_start[code - NODE_GROUP_OPEN]
                              : result_.group_end[code - NODE_GROUP_CLOSE];
    if (slot == nullptr)
      slot = saved;
    return 1;
  }

  const unsigned char *program_;
  const char *subject_;
  const char *input_ = nullptr;
  std::uint64_t steps_left_;
  ReferenceResult result_;
};

} // namespace regex_test
