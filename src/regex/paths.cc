// Building the paths of paths.h from a node program: a depth-first search
// over the links that consume nothing, from every place a path can go on.
#include "regex/paths.h"

#include <algorithm>
#include <cstring>
#include <unordered_map>

#include "regex/program.h"

namespace regex_paths {

namespace {

using regex_program::kFirstNode;
using regex_program::kNodeHeaderSize;
using regex_program::kNoNode;

// Follow sets can grow with the square of the program (a long alternation
// under a repetition): past this many entries in all, the automaton is not
// built and the backtracking search decides alone.
constexpr std::size_t kFollowBudget = std::size_t{1} << 20;

// What the position of a set of paths allows: "^" passes only at the
// subject's start, "$" only at its end.
struct Context {
  bool at_start = false;
  bool at_end = false;
};

class PathBuilder {
public:
  explicit PathBuilder(const ProgramBytes &program)
      : program_(program.data()), size_(program.size()), visited_(program.size(), 0),
        on_route_(program.size(), 0) {}

  bool build(PathProgram &out);

private:
  enum Tag : std::uint64_t { kCharacterTag, kLoopTag, kFirstPassTag, kLineEndTag };

  bool is_node(std::size_t node) const {
    return node != kNoNode && node + kNodeHeaderSize <= size_;
  }
  std::size_t next_of(std::size_t node) const {
    return regex_program::next_node(program_, size_, node);
  }
  const unsigned char *operand(std::size_t node) const;
  bool operand_bytes(std::size_t node, bool for_repetition, std::bitset<256> &accepted,
                     std::size_t &literal_length) const;
  std::uint32_t add_path(std::uint64_t key, PathKind kind, const std::bitset<256> &accepted,
                         Continuation after);
  bool add_literal_paths(std::size_t node, std::vector<std::uint32_t> &out);
  bool add_repetition_path(std::size_t node, Tag tag, std::vector<std::uint32_t> &out);
  bool push_next(std::size_t node);
  bool expand_node(std::size_t node, Context context, std::vector<std::uint32_t> &out);
  bool expand(std::size_t start, Context context, std::vector<std::uint32_t> &out);
  bool closure(Continuation from, Context context, std::vector<std::uint32_t> &out);

  const unsigned char *program_;
  std::size_t size_;
  std::vector<Path> *paths_ = nullptr;
  std::unordered_map<std::uint64_t, std::uint32_t> path_ids_;
  // Per program offset: the closure that last reached it, and whether it
  // is on the current route of that closure's search.
  std::vector<std::uint32_t> visited_;
  std::vector<std::uint8_t> on_route_;
  std::uint32_t generation_ = 0;
  struct Visit {
    std::size_t node;
    bool leaving;
  };
  std::vector<Visit> pending_;
};

const unsigned char *PathBuilder::operand(std::size_t node) const {
  std::size_t begin = node + kNodeHeaderSize;
  if (begin >= size_ || std::memchr(program_ + begin, 0, size_ - begin) == nullptr)
    return nullptr;
  return program_ + begin;
}

// The bytes the one-character node at NODE consumes. A repeated literal
// repeats its first character; a literal outside a repetition reports its
// length instead, one path per character.
bool PathBuilder::operand_bytes(std::size_t node, bool for_repetition, std::bitset<256> &accepted,
                                std::size_t &literal_length) const {
  literal_length = 0;
  accepted.reset();
  unsigned char opcode = program_[node];
  if (opcode == NODE_ANY_CHAR) {
    accepted.set();
  } else if (opcode == NODE_LITERAL || opcode == NODE_IN_SET || opcode == NODE_NOT_IN_SET) {
    const unsigned char *members = operand(node);
    if (members == nullptr)
      return false;
    if (opcode == NODE_LITERAL) {
      if (members[0] == 0)
        return false;
      literal_length = for_repetition ? 1 : std::strlen(reinterpret_cast<const char *>(members));
      accepted.set(members[0]);
    } else {
      for (const unsigned char *m = members; *m != 0; ++m)
        accepted.set(*m);
      if (opcode == NODE_NOT_IN_SET)
        accepted.flip();
    }
  } else {
    return false;
  }
  accepted.reset(0);
  return true;
}

std::uint32_t PathBuilder::add_path(std::uint64_t key, PathKind kind,
                                    const std::bitset<256> &accepted, Continuation after) {
  auto [it, added] = path_ids_.try_emplace(key, static_cast<std::uint32_t>(paths_->size()));
  if (added) {
    Path path;
    path.kind = kind;
    path.accepted = accepted;
    path.after = after;
    paths_->push_back(std::move(path));
  }
  return it->second;
}

bool PathBuilder::add_literal_paths(std::size_t node, std::vector<std::uint32_t> &out) {
  std::bitset<256> first;
  std::size_t length = 0;
  if (!operand_bytes(node, false, first, length))
    return false;
  const unsigned char *text = operand(node);
  // Built from the last character back, so that each one knows its successor.
  Continuation after{Continuation::Kind::kAfterNode, static_cast<std::uint32_t>(node)};
  std::uint32_t id = 0;
  for (std::size_t k = length; k-- > 0;) {
    std::bitset<256> accepted;
    accepted.set(text[k]);
    id = add_path(std::uint64_t{node} << 20 | std::uint64_t{k} << 2 | kCharacterTag,
                  PathKind::kCharacter, accepted, after);
    after = {Continuation::Kind::kPath, id};
  }
  out.push_back(id);
  return true;
}

bool PathBuilder::add_repetition_path(std::size_t node, Tag tag, std::vector<std::uint32_t> &out) {
  std::size_t operand_node = node + kNodeHeaderSize;
  std::bitset<256> accepted;
  std::size_t length = 0;
  if (!is_node(operand_node) || !operand_bytes(operand_node, true, accepted, length))
    return false;
  out.push_back(add_path(std::uint64_t{node} << 20 | tag, PathKind::kCharacter, accepted,
                         {Continuation::Kind::kRepetition, static_cast<std::uint32_t>(node)}));
  return true;
}

bool PathBuilder::push_next(std::size_t node) {
  std::size_t next = next_of(node);
  if (next == kNoNode)
    return false;
  pending_.push_back({next, false});
  return true;
}

// Adds the paths that NODE itself stands for and queues the nodes a path
// reaches from it without consuming a character.
bool PathBuilder::expand_node(std::size_t node, Context context, std::vector<std::uint32_t> &out) {
  unsigned char opcode = program_[node];
  switch (opcode) {
  case NODE_END:
    out.push_back(kMatchedPath);
    return true;
  case NODE_LINE_START:
    return !context.at_start || push_next(node);
  case NODE_LINE_END:
    if (context.at_end)
      return push_next(node);
    out.push_back(add_path(std::uint64_t{node} << 20 | kLineEndTag, PathKind::kLineEnd, {},
                           {Continuation::Kind::kAfterNode, static_cast<std::uint32_t>(node)}));
    return true;
  case NODE_ANY_CHAR:
  case NODE_IN_SET:
  case NODE_NOT_IN_SET: {
    std::bitset<256> accepted;
    std::size_t length = 0;
    if (!operand_bytes(node, false, accepted, length))
      return false;
    out.push_back(add_path(std::uint64_t{node} << 20 | kCharacterTag, PathKind::kCharacter,
                           accepted,
                           {Continuation::Kind::kAfterNode, static_cast<std::uint32_t>(node)}));
    return true;
  }
  case NODE_LITERAL:
    return add_literal_paths(node, out);
  case NODE_EMPTY:
  case NODE_LOOP_BACK:
    return push_next(node);
  case NODE_ALTERNATIVE:
    // Every alternative of the chain; a lone one is simply entered.
    pending_.push_back({node + kNodeHeaderSize, false});
    for (std::size_t next = next_of(node); next != kNoNode && program_[next] == NODE_ALTERNATIVE;
         next = next_of(next))
      pending_.push_back({next + kNodeHeaderSize, false});
    return true;
  case NODE_ZERO_OR_MORE:
    return add_repetition_path(node, kLoopTag, out) && push_next(node);
  case NODE_ONE_OR_MORE:
    return add_repetition_path(node, kFirstPassTag, out);
  default:
    if (regex_program::is_group_open(opcode) || regex_program::is_group_close(opcode))
      return push_next(node);
    return false;
  }
}

// Depth-first over the links that consume nothing, from START. Meeting a
// node again while it is still on the current route is a loop that consumes
// nothing, which only a damaged program has.
bool PathBuilder::expand(std::size_t start, Context context, std::vector<std::uint32_t> &out) {
  pending_.clear();
  pending_.push_back({start, false});
  while (!pending_.empty()) {
    Visit visit = pending_.back();
    pending_.pop_back();
    if (visit.leaving) {
      on_route_[visit.node] = 0;
      continue;
    }
    if (!is_node(visit.node))
      return false;
    if (visited_[visit.node] == generation_) {
      if (on_route_[visit.node] != 0)
        return false;
      continue;
    }
    visited_[visit.node] = generation_;
    on_route_[visit.node] = 1;
    pending_.push_back({visit.node, true});
    if (!expand_node(visit.node, context, out))
      return false;
  }
  return true;
}

bool PathBuilder::closure(Continuation from, Context context, std::vector<std::uint32_t> &out) {
  out.clear();
  ++generation_;
  bool complete = true;
  switch (from.kind) {
  case Continuation::Kind::kNode:
    complete = expand(from.value, context, out);
    break;
  case Continuation::Kind::kAfterNode: {
    std::size_t next = next_of(from.value);
    complete = next != kNoNode && expand(next, context, out);
    break;
  }
  case Continuation::Kind::kPath:
    out.push_back(from.value);
    break;
  case Continuation::Kind::kRepetition: {
    std::size_t next = next_of(from.value);
    complete = add_repetition_path(from.value, kLoopTag, out) && next != kNoNode &&
               expand(next, context, out);
    break;
  }
  }
  std::sort(out.begin(), out.end());
  out.erase(std::unique(out.begin(), out.end()), out.end());
  return complete;
}

bool PathBuilder::build(PathProgram &out) {
  paths_ = &out.paths;
  out.paths.assign(1, Path{});
  Continuation start{Continuation::Kind::kNode, static_cast<std::uint32_t>(kFirstNode)};
  std::vector<std::uint32_t> at_end;
  if (!closure(start, {true, false}, out.start_at_subject_start) ||
      !closure(start, {false, false}, out.start_elsewhere))
    return false;
  if (!closure(start, {true, true}, at_end))
    return false;
  out.start_matches_empty_subject = contains_matched(at_end);
  if (!closure(start, {false, true}, at_end))
    return false;
  out.start_matches_at_end = contains_matched(at_end);
  // New paths are appended while the list is walked.
  std::vector<std::uint32_t> paths;
  std::size_t follow_entries = 0;
  for (std::size_t id = 1; id < out.paths.size(); ++id) {
    Continuation after = out.paths[id].after;
    if (out.paths[id].kind == PathKind::kCharacter) {
      if (!closure(after, {false, false}, paths))
        return false;
      follow_entries += paths.size();
      if (follow_entries > kFollowBudget)
        return false;
      out.paths[id].follow = paths;
    } else {
      if (!closure(after, {false, true}, paths))
        return false;
      out.paths[id].matches_at_end = contains_matched(paths);
    }
  }
  return true;
}

} // namespace

bool build_paths(const ProgramBytes &program, PathProgram &out) {
  return PathBuilder(program).build(out);
}

} // namespace regex_paths
