// A deliberately plain recursive interpreter of the node program, written
// straight from the matching rules, for comparing results and group
// positions with the real matcher on small inputs. It recurses once per
// choice and takes exponential time on some expressions: tests keep the
// subjects short, and a caller with arbitrary inputs gives it a step budget,
// beyond which it gives up and says so.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <limits>
#include <string_view>

#include "regex/regexp.h"

namespace regex_test {

struct ReferenceResult {
  int matched = 0;
  const char *group_start[kRegexpGroups] = {};
  const char *group_end[kRegexpGroups] = {};
  int attempts = 0;
  bool gave_up = false; // the step budget ran out; the answer means nothing
};

class ReferenceMatcher {
public:
  ReferenceMatcher(const Regexp &regexp, const char *subject,
                   std::uint64_t step_budget = std::numeric_limits<std::uint64_t>::max())
      : program_(regexp.program.data()), regexp_(regexp), subject_(subject),
        steps_left_(step_budget) {}

  ReferenceResult run() {
    if (regexp_.required_literal != nullptr &&
        std::string_view(subject_).find(std::string_view(
            regexp_.required_literal, static_cast<std::size_t>(regexp_.required_length))) ==
            std::string_view::npos)
      return result_;
    if (regexp_.anchored) {
      result_.matched = try_at(subject_);
    } else if (regexp_.first_char != 0) {
      for (const char *p = std::strchr(subject_, regexp_.first_char);
           p != nullptr && !result_.matched && !result_.gave_up;
           p = std::strchr(p + 1, regexp_.first_char))
        result_.matched = try_at(p);
    } else {
      const char *p = subject_;
      while (!(result_.matched = try_at(p)) && !result_.gave_up && *p != '\0')
        ++p;
    }
    return result_;
  }

private:
  int try_at(const char *position) {
    ++result_.attempts;
    for (int i = 0; i < kRegexpGroups; ++i)
      result_.group_start[i] = result_.group_end[i] = nullptr;
    input_ = position;
    if (!match(1) || result_.gave_up)
      return 0;
    result_.group_start[0] = position;
    result_.group_end[0] = input_;
    return 1;
  }

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
    if (c == '\0')
      return false;
    switch (opcode(node)) {
    case NODE_ANY_CHAR:
      return true;
    case NODE_LITERAL:
      return c == *operand(node);
    case NODE_IN_SET:
      return std::strchr(operand(node), c) != nullptr;
    case NODE_NOT_IN_SET:
      return std::strchr(operand(node), c) == nullptr;
    }
    return false;
  }

  int match(int node) {
    while (node != 0) {
      if (steps_left_-- == 0) {
        result_.gave_up = true;
        steps_left_ = 0;
      }
      if (result_.gave_up)
        return 0;
      int following = next(node);
      int code = opcode(node);
      switch (code) {
      case NODE_END:
        return 1;
      case NODE_LINE_START:
        if (input_ != subject_)
          return 0;
        break;
      case NODE_LINE_END:
        if (*input_ != '\0')
          return 0;
        break;
      case NODE_ANY_CHAR:
      case NODE_IN_SET:
      case NODE_NOT_IN_SET:
        if (!accepts(node, *input_))
          return 0;
        ++input_;
        break;
      case NODE_LITERAL: {
        std::size_t length = std::strlen(operand(node));
        if (*operand(node) != *input_ || std::strncmp(operand(node), input_, length) != 0)
          return 0;
        input_ += length;
        break;
      }
      case NODE_EMPTY:
      case NODE_LOOP_BACK:
        break;
      case NODE_ALTERNATIVE:
        if (opcode(following) != NODE_ALTERNATIVE) {
          following = node + 3;
          break;
        }
        for (; node != 0 && opcode(node) == NODE_ALTERNATIVE; node = next(node)) {
          const char *saved = input_;
          if (match(node + 3))
            return 1;
          input_ = saved;
        }
        return 0;
      case NODE_ZERO_OR_MORE:
      case NODE_ONE_OR_MORE: {
        bool has_look_ahead = opcode(following) == NODE_LITERAL;
        const char *start = input_;
        std::ptrdiff_t count = 0;
        while (accepts(node + 3, start[count]))
          ++count;
        for (; count >= (code == NODE_ONE_OR_MORE ? 1 : 0); --count) {
          input_ = start + count;
          if ((!has_look_ahead || *input_ == *operand(following)) && match(following))
            return 1;
        }
        return 0;
      }
      default: {
        bool opens = code > NODE_GROUP_OPEN && code < NODE_GROUP_OPEN + 10;
        bool closes = code > NODE_GROUP_CLOSE && code < NODE_GROUP_CLOSE + 10;
        if (!opens && !closes)
          return 0;
        const char *saved = input_;
        if (!match(following))
          return 0;
        const char *&slot = opens ? result_.group_start[code - NODE_GROUP_OPEN]
                                  : result_.group_end[code - NODE_GROUP_CLOSE];
        if (slot == nullptr)
          slot = saved;
        return 1;
      }
      }
      node = following;
    }
    return 0;
  }

  const unsigned char *program_;
  const Regexp &regexp_;
  const char *subject_;
  const char *input_ = nullptr;
  std::uint64_t steps_left_;
  ReferenceResult result_;
};

} // namespace regex_test
