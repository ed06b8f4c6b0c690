// A deliberately plain recursive interpreter of the node program, written
// straight from the matching rules, for comparing results and group
// positions with the real matcher on small inputs. It recurses once per
// choice and takes exponential time on some expressions: tests keep the
// subjects short.
#pragma once

#include <cstring>

#include "regex/regexp.h"

namespace regex_test {

struct ReferenceResult {
  int matched = 0;
  const char *group_start[kRegexpGroups] = {};
  const char *group_end[kRegexpGroups] = {};
  int attempts = 0;
};

class ReferenceMatcher {
public:
  ReferenceMatcher(const Regexp &regexp, const char *subject)
      : program_(regexp.program.data()), regexp_(regexp), subject_(subject) {}

  ReferenceResult run() {
    if (regexp_.required_literal != nullptr && !contains_literal())
      return result_;
    if (regexp_.anchored) {
      result_.matched = try_at(subject_);
    } else if (regexp_.first_char != 0) {
      for (const char *p = std::strchr(subject_, regexp_.first_char);
           p != nullptr && !result_.matched; p = std::strchr(p + 1, regexp_.first_char))
        result_.matched = try_at(p);
    } else {
      const char *p = subject_;
      while (!(result_.matched = try_at(p)) && *p != '\0')
        ++p;
    }
    return result_;
  }

private:
  bool contains_literal() const {
    const char *literal = regexp_.required_literal;
    for (const char *p = std::strchr(subject_, literal[0]); p != nullptr;
         p = std::strchr(p + 1, literal[0]))
      if (std::strncmp(p, literal, static_cast<std::size_t>(regexp_.required_length)) == 0)
        return true;
    return false;
  }

  int try_at(const char *position) {
    ++result_.attempts;
    for (int i = 0; i < kRegexpGroups; ++i)
      result_.group_start[i] = result_.group_end[i] = nullptr;
    input_ = position;
    if (!match(1))
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

  int count_repeats(int node) {
    const char *scan = input_;
    const char *op = operand(node);
    switch (opcode(node)) {
    case NODE_ANY_CHAR:
      scan += std::strlen(scan);
      break;
    case NODE_LITERAL:
      while (*scan == *op)
        ++scan;
      break;
    case NODE_IN_SET:
      while (*scan != '\0' && std::strchr(op, *scan) != nullptr)
        ++scan;
      break;
    case NODE_NOT_IN_SET:
      while (*scan != '\0' && std::strchr(op, *scan) == nullptr)
        ++scan;
      break;
    }
    int count = static_cast<int>(scan - input_);
    input_ = scan;
    return count;
  }

  int match(int node) {
    while (node != 0) {
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
        if (*input_ == '\0')
          return 0;
        ++input_;
        break;
      case NODE_LITERAL: {
        const char *literal = operand(node);
        if (*literal != *input_)
          return 0;
        std::size_t length = std::strlen(literal);
        if (length > 1 && std::strncmp(literal, input_, length) != 0)
          return 0;
        input_ += length;
        break;
      }
      case NODE_IN_SET:
      case NODE_NOT_IN_SET:
        if (*input_ == '\0' ||
            (std::strchr(operand(node), *input_) != nullptr) != (code == NODE_IN_SET))
          return 0;
        ++input_;
        break;
      case NODE_EMPTY:
      case NODE_LOOP_BACK:
        break;
      case NODE_ALTERNATIVE:
        if (opcode(following) != NODE_ALTERNATIVE) {
          following = node + 3;
        } else {
          do {
            const char *saved = input_;
            if (match(node + 3))
              return 1;
            input_ = saved;
            node = next(node);
          } while (node != 0 && opcode(node) == NODE_ALTERNATIVE);
          return 0;
        }
        break;
      case NODE_ZERO_OR_MORE:
      case NODE_ONE_OR_MORE: {
        char look_ahead = opcode(following) == NODE_LITERAL ? *operand(following) : '\0';
        bool has_look_ahead = opcode(following) == NODE_LITERAL;
        int minimum = code == NODE_ZERO_OR_MORE ? 0 : 1;
        const char *start = input_;
        int count = count_repeats(node + 3);
        while (count >= minimum) {
          if (!has_look_ahead || *input_ == look_ahead)
            if (match(following))
              return 1;
          --count;
          input_ = start + count;
        }
        return 0;
      }
      default:
        if (code > NODE_GROUP_OPEN && code < NODE_GROUP_OPEN + 10) {
          const char *saved = input_;
          if (!match(following))
            return 0;
          if (result_.group_start[code - NODE_GROUP_OPEN] == nullptr)
            result_.group_start[code - NODE_GROUP_OPEN] = saved;
          return 1;
        }
        if (code > NODE_GROUP_CLOSE && code < NODE_GROUP_CLOSE + 10) {
          const char *saved = input_;
          if (!match(following))
            return 0;
          if (result_.group_end[code - NODE_GROUP_CLOSE] == nullptr)
            result_.group_end[code - NODE_GROUP_CLOSE] = saved;
          return 1;
        }
        return 0;
      }
      node = following;
    }
    return 0;
  }

  const unsigned char *program_;
  const Regexp &regexp_;
  const char *subject_;
  const char *input_ = nullptr;
  ReferenceResult result_;
};

} // namespace regex_test
