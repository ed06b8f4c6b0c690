// The paths through a node program that the automaton follows at once.
//
// A path is followed from where it starts until it waits: at a node that
// consumes one character (a one-character node, one character of a
// literal, a repetition's operand), at a "$" that can only be passed at the
// end of the subject, or at the end node, which means a match. Each place a
// path can wait is one Path here, numbered; the paths a character leads on
// to are its follow set.
#pragma once

#include <bitset>
#include <cstdint>
#include <vector>

#include "regex/regexp.h"

namespace regex_paths {

enum class PathKind : std::uint8_t { kMatched, kCharacter, kLineEnd };

// Where a path goes on once it has passed the place it waits at, or where a
// set of paths starts.
struct Continuation {
  enum class Kind : std::uint8_t {
    kNode,       // the node at VALUE
    kAfterNode,  // the node that the next link of the node at VALUE leads to
    kPath,       // exactly the path VALUE (the next character of a literal)
    kRepetition, // the repetition node at VALUE: once more, or what follows it
  };
  Kind kind = Kind::kNode;
  std::uint32_t value = 0;
};

struct Path {
  PathKind kind = PathKind::kMatched;
  std::bitset<256> accepted; // the bytes a character path consumes; never NUL
  Continuation after;
  std::vector<std::uint32_t> follow; // character path: the paths after it, sorted
  bool matches_at_end = false;       // "$" path: the rest matches at the subject's end
};

// Path 0 is the end node.
constexpr std::uint32_t kMatchedPath = 0;

struct PathProgram {
  std::vector<Path> paths;
  std::vector<std::uint32_t> start_at_subject_start; // a match attempt at position 0
  std::vector<std::uint32_t> start_elsewhere;        // at any later position
  bool start_matches_empty_subject = false;          // an attempt on the empty subject
  bool start_matches_at_end = false;                 // an attempt at the NUL of a longer one
};

inline bool contains_matched(const std::vector<std::uint32_t> &paths) {
  return !paths.empty() && paths.front() == kMatchedPath;
}

// Turns the node program into paths and their follow sets. Refuses
// (false) every program the compiler would not have written in the places
// a path can reach: broken links, unknown opcodes, operands without a
// terminator, and loops that consume nothing.
bool build_paths(const ProgramBytes &program, PathProgram &out);

} // namespace regex_paths
