// A small backtracking regular-expression engine: the compiler turns an
// expression text into a byte-coded node program, the matcher runs it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>

// Node opcodes. The program layout (marker, opcodes, big-endian next offsets)
// is part of the engine's contract and covered by tests byte for byte.
enum : unsigned char {
  NODE_END = 0,
  NODE_LINE_START = 1,
  NODE_LINE_END = 2,
  NODE_ANY_CHAR = 3,
  NODE_IN_SET = 4,
  NODE_NOT_IN_SET = 5,
  NODE_ALTERNATIVE = 6,
  NODE_LOOP_BACK = 7,
  NODE_LITERAL = 8,
  NODE_EMPTY = 9,
  NODE_ZERO_OR_MORE = 10,
  NODE_ONE_OR_MORE = 11,
  NODE_GROUP_OPEN = 20,  // + group number 1..9
  NODE_GROUP_CLOSE = 30, // + group number 1..9
};

constexpr unsigned char kRegexpMarker = 0x9C;
constexpr int kRegexpGroups = 10;

// The bytes of a node program: one block, allocated once at its final size
// and never grown, so that running out of memory is a result the compiler
// reports rather than an exception.
class ProgramBytes {
public:
  ProgramBytes() = default;
  // Stays in the Regexp it was made for: required_literal points into it.
  ProgramBytes(const ProgramBytes &) = delete;
  ProgramBytes &operator=(const ProgramBytes &) = delete;

  // Replaces the bytes with SIZE zero bytes; false, and empty, when the
  // memory cannot be had.
  bool allocate(std::size_t size);
  // Keeps only the first SIZE bytes (at most size()); for tests that cut a
  // program short.
  void truncate(std::size_t size) {
    if (size < size_)
      size_ = size;
  }

  unsigned char *data() { return bytes_.get(); }
  const unsigned char *data() const { return bytes_.get(); }
  std::size_t size() const { return size_; }
  bool empty() const { return size_ == 0; }
  unsigned char &operator[](std::size_t index) { return bytes_.get()[index]; }
  unsigned char operator[](std::size_t index) const { return bytes_.get()[index]; }
  unsigned char *begin() { return data(); }
  unsigned char *end() { return data() + size_; }
  const unsigned char *begin() const { return data(); }
  const unsigned char *end() const { return data() + size_; }

private:
  struct Release {
    void operator()(unsigned char *bytes) const { std::free(bytes); }
  };
  std::unique_ptr<unsigned char, Release> bytes_;
  std::size_t size_ = 0;
};

// The matcher's cache of automaton states for one expression (see
// automaton.h); made on the first match, never part of the program.
struct RegexpAutomaton;
struct RegexpAutomatonDeleter {
  void operator()(RegexpAutomaton *automaton) const;
};

// A compiled expression, made by compile_regexp. It is handled through the
// unique_ptr it comes in: required_literal points into this record's own
// program, so a copy would still point into the original.
struct Regexp {
  // Element 0 is the whole match, n the text of group n; null when unset
  // (and before the first match).
  const char *group_start[kRegexpGroups];
  const char *group_end[kRegexpGroups];
  unsigned char first_char; // every match begins with it; 0: no hint
  unsigned char anchored;   // 1: a match can only begin at the subject start
  // A literal every match contains (points into program), or null.
  const char *required_literal;
  std::int32_t required_length;
  // The node program, marker included.
  ProgramBytes program;
  // Owned by the matcher; rebuilt when the program or the hints above have
  // changed since it was made.
  std::unique_ptr<RegexpAutomaton, RegexpAutomatonDeleter> automaton;
};

// Receives the failure messages of the compiler and the matcher. Null by
// default, so the program's own callers see only the null or 0 results.
using RegexpErrorHook = void (*)(const char *message);
extern RegexpErrorHook regexp_error_hook;

// Compiles TEXT; null when the text is refused. Compilations share no
// state, so several may run at once.
std::unique_ptr<Regexp> compile_regexp(const char *text);

// 1 when REGEXP matches somewhere in SUBJECT, else 0 (also when refused).
// Rewrites the group arrays of REGEXP and its automaton cache, so one
// expression must not be matched by two threads at once; different
// expressions may.
int execute_regexp(Regexp *regexp, const char *subject);

// The result of execute_regexp, for callers that only need the answer:
// the group positions are not worked out, and the group arrays are left in
// no particular state. The same failure messages reach the hook.
int regexp_matches(Regexp *regexp, const char *subject);
