// Compiler: turns an expression text into the node program of a Regexp.
//
// The same parser runs twice. The counting pass writes nothing and only adds
// up the program size; the record is then allocated at exactly that size and
// the writing pass fills it. All parser state lives in one Compiler object
// per pass, so compilations do not share anything.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>

#include "regex/program.h"
#include "regex/regexp.h"

RegexpErrorHook regexp_error_hook = nullptr;

bool ProgramBytes::allocate(std::size_t size) {
  bytes_.reset(static_cast<unsigned char *>(std::malloc(size)));
  if (bytes_ == nullptr) {
    size_ = 0;
    return false;
  }
  std::memset(bytes_.get(), 0, size);
  size_ = size;
  return true;
}

namespace {

using regex_program::kFirstNode;
using regex_program::kNodeHeaderSize;
using regex_program::kNoNode;
using regex_program::kProgramSizeLimit;

// What a parse step found out about the construct it parsed.
enum ParseFlags : unsigned {
  kNoFlags = 0,
  kNonEmpty = 1,          // never matches the empty string
  kSingleChar = 2,        // one node that always matches exactly one character
  kLeadsWithOptional = 4, // begins with a piece under "*" or "?"
};

// Every node handed out by the counting pass; nothing is written there.
constexpr std::size_t kSizeSink = static_cast<std::size_t>(-1);

constexpr char kMetacharacters[] = "^$.[()|?+*\\";
constexpr int kMaxGroups = kRegexpGroups - 1;

bool is_repetition_mark(unsigned char c) {
  return c == '*' || c == '+' || c == '?';
}

bool report_failure(const char *message) {
  if (regexp_error_hook != nullptr)
    regexp_error_hook(message);
  return false;
}

struct Parsed {
  std::size_t node = kNoNode;
  unsigned flags = kNoFlags;
};

class Compiler {
public:
  // Counting pass.
  explicit Compiler(const char *text) : parse_position_(as_bytes(text)) {}
  // Writing pass into PROGRAM, which has exactly the counted size.
  Compiler(const char *text, ProgramBytes &program)
      : parse_position_(as_bytes(text)), program_(&program) {
    emit_byte(kRegexpMarker);
  }

  bool parse_alternatives(bool parenthesised, Parsed &result);

  std::int64_t program_size() const { return program_size_; }
  // False when the writing pass ran out of its counted room, which would
  // mean that the two passes parsed differently.
  bool stayed_in_bounds() const { return !overflowed_; }

private:
  static const unsigned char *as_bytes(const char *text) {
    return reinterpret_cast<const unsigned char *>(text);
  }
  bool counting() const { return program_ == nullptr; }
  unsigned char current() const { return *parse_position_; }

  bool parse_sequence(Parsed &result);
  bool parse_piece(Parsed &result);
  bool parse_atom(Parsed &result);
  bool parse_class(Parsed &result);
  bool parse_literal_run(Parsed &result);
  void build_repetition(unsigned char mark, const Parsed &atom, Parsed &result);

  std::size_t emit_node(unsigned char opcode);
  void emit_byte(unsigned char byte);
  std::size_t insert_node(unsigned char opcode, std::size_t operand);
  void link_tail(std::size_t node, std::size_t target);
  void link_operand_tail(std::size_t node, std::size_t target);
  std::size_t next_node(std::size_t node) const;
  unsigned char opcode(std::size_t node) const { return (*program_)[node]; }

  const unsigned char *parse_position_;
  int next_group_ = 1;
  ProgramBytes *program_ = nullptr;
  std::size_t emit_position_ = 0;
  std::int64_t program_size_ = 1; // the marker
  bool overflowed_ = false;
};

void Compiler::emit_byte(unsigned char byte) {
  if (counting()) {
    ++program_size_;
    return;
  }
  if (emit_position_ >= program_->size()) {
    overflowed_ = true;
    return;
  }
  (*program_)[emit_position_++] = byte;
}

std::size_t Compiler::emit_node(unsigned char opcode) {
  if (counting()) {
    program_size_ += kNodeHeaderSize;
    return kSizeSink;
  }
  std::size_t node = emit_position_;
  emit_byte(opcode);
  emit_byte(0);
  emit_byte(0);
  return node;
}

// Moves the construct that starts at OPERAND three bytes on and puts a new
// node in its place, so that the construct becomes the new node's operand.
// Links inside the construct are relative and stay valid.
std::size_t Compiler::insert_node(unsigned char opcode, std::size_t operand) {
  if (counting()) {
    program_size_ += kNodeHeaderSize;
    return kSizeSink;
  }
  if (emit_position_ + kNodeHeaderSize > program_->size()) {
    overflowed_ = true;
    return operand;
  }
  unsigned char *bytes = program_->data();
  std::memmove(bytes + operand + kNodeHeaderSize, bytes + operand, emit_position_ - operand);
  bytes[operand] = opcode;
  bytes[operand + 1] = 0;
  bytes[operand + 2] = 0;
  emit_position_ += kNodeHeaderSize;
  return operand;
}

std::size_t Compiler::next_node(std::size_t node) const {
  if (node == kSizeSink || node == kNoNode)
    return kNoNode;
  return regex_program::next_node(program_->data(), program_->size(), node);
}

void Compiler::link_tail(std::size_t node, std::size_t target) {
  if (node == kSizeSink || node == kNoNode || overflowed_)
    return;
  std::size_t last = node;
  for (std::size_t next = next_node(last); next != kNoNode; next = next_node(last))
    last = next;
  std::size_t offset = opcode(last) == NODE_LOOP_BACK ? last - target : target - last;
  (*program_)[last + 1] = static_cast<unsigned char>(offset >> 8 & 0xFF);
  (*program_)[last + 2] = static_cast<unsigned char>(offset & 0xFF);
}

void Compiler::link_operand_tail(std::size_t node, std::size_t target) {
  if (node == kSizeSink || node == kNoNode || overflowed_ || opcode(node) != NODE_ALTERNATIVE)
    return;
  link_tail(node + kNodeHeaderSize, target);
}

// expression: sequences separated by "|", as a group when PARENTHESISED.
bool Compiler::parse_alternatives(bool parenthesised, Parsed &result) {
  unsigned flags = kNonEmpty;
  std::size_t head = kNoNode;
  int group = 0;
  if (parenthesised) {
    if (next_group_ > kMaxGroups)
      return report_failure("too many ()");
    group = next_group_++;
    head = emit_node(static_cast<unsigned char>(NODE_GROUP_OPEN + group));
  }

  bool first_alternative = true;
  do {
    if (!first_alternative)
      ++parse_position_; // the "|"
    Parsed alternative;
    if (!parse_sequence(alternative))
      return false;
    if (first_alternative && !parenthesised)
      head = alternative.node;
    else
      link_tail(head, alternative.node);
    if ((alternative.flags & kNonEmpty) == 0)
      flags &= ~kNonEmpty;
    flags |= alternative.flags & kLeadsWithOptional;
    first_alternative = false;
  } while (current() == '|');

  unsigned char closer_opcode = parenthesised ? static_cast<unsigned char>(NODE_GROUP_CLOSE + group)
                                              : static_cast<unsigned char>(NODE_END);
  std::size_t closer = emit_node(closer_opcode);
  link_tail(head, closer);
  // The last node of every alternative continues at the closer.
  for (std::size_t node = head; node != kNoNode; node = next_node(node))
    link_operand_tail(node, closer);

  if (parenthesised) {
    if (current() != ')')
      return report_failure("unmatched ()");
    ++parse_position_;
  } else if (current() != '\0') {
    return report_failure(current() == ')' ? "unmatched ()" : "junk on end");
  }
  result.node = head;
  result.flags = flags;
  return true;
}

// sequence: pieces up to the end of the text, "|" or ")". The alternative
// node it starts with has the first piece as its operand.
bool Compiler::parse_sequence(Parsed &result) {
  unsigned flags = kNoFlags;
  std::size_t node = emit_node(NODE_ALTERNATIVE);
  std::size_t previous = kNoNode;
  bool first_piece = true;
  while (current() != '\0' && current() != '|' && current() != ')') {
    Parsed piece;
    if (!parse_piece(piece))
      return false;
    flags |= piece.flags & kNonEmpty;
    if (first_piece)
      flags |= piece.flags & kLeadsWithOptional;
    else
      link_tail(previous, piece.node);
    previous = piece.node;
    first_piece = false;
  }
  if (first_piece)
    emit_node(NODE_EMPTY);
  result.node = node;
  result.flags = flags;
  return true;
}

// piece: an atom with at most one repetition mark.
bool Compiler::parse_piece(Parsed &result) {
  Parsed atom;
  if (!parse_atom(atom))
    return false;
  unsigned char mark = current();
  if (!is_repetition_mark(mark)) {
    result = atom;
    return true;
  }
  // A repeated construct that could match nothing would loop for ever.
  if ((atom.flags & kNonEmpty) == 0 && mark != '?')
    return report_failure("*+ operand could be empty");
  build_repetition(mark, atom, result);
  ++parse_position_;
  if (is_repetition_mark(current()))
    return report_failure("nested *?+");
  return true;
}

void Compiler::build_repetition(unsigned char mark, const Parsed &atom, Parsed &result) {
  bool single = (atom.flags & kSingleChar) != 0;
  if (mark == '*' && single) {
    result.node = insert_node(NODE_ZERO_OR_MORE, atom.node);
    result.flags = kLeadsWithOptional;
  } else if (mark == '*') {
    // A1 [atom -> back to A1] -> A2 [E] -> E: another pass first, then leave.
    std::size_t loop = insert_node(NODE_ALTERNATIVE, atom.node);
    link_operand_tail(loop, emit_node(NODE_LOOP_BACK));
    link_operand_tail(loop, loop);
    link_tail(loop, emit_node(NODE_ALTERNATIVE));
    link_tail(loop, emit_node(NODE_EMPTY));
    result.node = loop;
    result.flags = kLeadsWithOptional;
  } else if (mark == '+' && single) {
    result.node = insert_node(NODE_ONE_OR_MORE, atom.node);
    result.flags = kNonEmpty;
  } else if (mark == '+') {
    // atom -> A1 [back to atom] -> A2 [E] -> E.
    std::size_t again = emit_node(NODE_ALTERNATIVE);
    link_tail(atom.node, again);
    std::size_t back = emit_node(NODE_LOOP_BACK);
    link_tail(back, atom.node);
    link_tail(again, emit_node(NODE_ALTERNATIVE));
    link_tail(atom.node, emit_node(NODE_EMPTY));
    result.node = atom.node;
    result.flags = kNonEmpty;
  } else {
    // "?": A1 [atom -> E] -> A2 [E] -> E, the atom first.
    std::size_t with_atom = insert_node(NODE_ALTERNATIVE, atom.node);
    link_tail(with_atom, emit_node(NODE_ALTERNATIVE));
    std::size_t empty = emit_node(NODE_EMPTY);
    link_tail(with_atom, empty);
    link_operand_tail(with_atom, empty);
    result.node = with_atom;
    result.flags = kLeadsWithOptional;
  }
}

bool Compiler::parse_atom(Parsed &result) {
  unsigned char c = current();
  switch (c) {
  case '^':
    ++parse_position_;
    result = {emit_node(NODE_LINE_START), kNoFlags};
    return true;
  case '$':
    ++parse_position_;
    result = {emit_node(NODE_LINE_END), kNoFlags};
    return true;
  case '.':
    ++parse_position_;
    result = {emit_node(NODE_ANY_CHAR), kNonEmpty | kSingleChar};
    return true;
  case '[':
    ++parse_position_;
    return parse_class(result);
  case '(': {
    ++parse_position_;
    Parsed group;
    if (!parse_alternatives(true, group))
      return false;
    result = {group.node, group.flags & (kNonEmpty | kLeadsWithOptional)};
    return true;
  }
  case '\0':
  case '|':
  case ')':
    return report_failure("internal urp");
  case '?':
  case '+':
  case '*':
    return report_failure("?+* follows nothing");
  case '\\':
    ++parse_position_;
    if (current() == '\0')
      return report_failure("trailing \\");
    result = {emit_node(NODE_LITERAL), kNonEmpty | kSingleChar};
    emit_byte(current());
    emit_byte(0);
    ++parse_position_;
    return true;
  default:
    return parse_literal_run(result);
  }
}

// A bracket class; the "[" has been consumed. There is no escape inside.
bool Compiler::parse_class(Parsed &result) {
  unsigned char opcode = NODE_IN_SET;
  if (current() == '^') {
    opcode = NODE_NOT_IN_SET;
    ++parse_position_;
  }
  std::size_t node = emit_node(opcode);
  if (current() == ']' || current() == '-')
    emit_byte(*parse_position_++);
  while (current() != '\0' && current() != ']') {
    if (current() != '-') {
      emit_byte(*parse_position_++);
      continue;
    }
    ++parse_position_;
    if (current() == ']' || current() == '\0') {
      emit_byte('-');
      continue;
    }
    // A range starts at the member written just before the "-".
    unsigned first = parse_position_[-2];
    unsigned last = current();
    if (first > last)
      return report_failure("invalid [] range");
    for (unsigned member = first + 1; member <= last; ++member)
      emit_byte(static_cast<unsigned char>(member));
    ++parse_position_;
  }
  emit_byte(0);
  if (current() != ']')
    return report_failure("unmatched []");
  ++parse_position_;
  result = {node, kNonEmpty | kSingleChar};
  return true;
}

// The characters up to the next metacharacter, as one literal node. When a
// repetition mark follows, the last character is left for a piece of its
// own so that the mark applies to it alone.
bool Compiler::parse_literal_run(Parsed &result) {
  const char *run = reinterpret_cast<const char *>(parse_position_);
  std::size_t length = std::strcspn(run, kMetacharacters);
  if (length == 0)
    return report_failure("internal disaster");
  if (length > 1 && is_repetition_mark(static_cast<unsigned char>(run[length])))
    --length;
  result = {emit_node(NODE_LITERAL), kNonEmpty};
  if (length == 1)
    result.flags |= kSingleChar;
  for (std::size_t i = 0; i < length; ++i)
    emit_byte(*parse_position_++);
  emit_byte(0);
  return true;
}

// The hints that let the matcher skip hopeless start positions. They are
// only sound for an expression with a single top-level alternative.
void compute_hints(Regexp &regexp, unsigned top_flags) {
  regexp.first_char = 0;
  regexp.anchored = 0;
  regexp.required_literal = nullptr;
  regexp.required_length = 0;
  const unsigned char *program = regexp.program.data();
  std::size_t size = regexp.program.size();
  std::size_t after_top = regex_program::next_node(program, size, kFirstNode);
  if (after_top == kNoNode || program[after_top] != NODE_END)
    return;
  std::size_t first = kFirstNode + kNodeHeaderSize;
  if (program[first] == NODE_LITERAL)
    regexp.first_char = program[first + kNodeHeaderSize];
  else if (program[first] == NODE_LINE_START)
    regexp.anchored = 1;
  if ((top_flags & kLeadsWithOptional) == 0)
    return;
  // The longest literal on the top-level chain; ties go to the later one.
  std::size_t best_length = 0;
  for (std::size_t node = first; node != kNoNode;
       node = regex_program::next_node(program, size, node)) {
    if (program[node] != NODE_LITERAL)
      continue;
    const char *literal = reinterpret_cast<const char *>(program + node + kNodeHeaderSize);
    std::size_t length = std::strlen(literal);
    if (length >= best_length) {
      best_length = length;
      regexp.required_literal = literal;
      regexp.required_length = static_cast<std::int32_t>(length);
    }
  }
}

} // namespace

std::unique_ptr<Regexp> compile_regexp(const char *text) {
  if (text == nullptr) {
    report_failure("NULL argument");
    return nullptr;
  }
  Compiler counter(text);
  Parsed ignored;
  if (!counter.parse_alternatives(false, ignored))
    return nullptr;
  if (counter.program_size() >= static_cast<std::int64_t>(kProgramSizeLimit)) {
    report_failure("regexp too big");
    return nullptr;
  }

  std::unique_ptr<Regexp> regexp(new (std::nothrow) Regexp{});
  if (regexp == nullptr ||
      !regexp->program.allocate(static_cast<std::size_t>(counter.program_size()))) {
    report_failure("out of space");
    return nullptr;
  }

  Compiler writer(text, regexp->program);
  Parsed top;
  if (!writer.parse_alternatives(false, top))
    return nullptr;
  if (!writer.stayed_in_bounds()) {
    report_failure("internal disaster");
    return nullptr;
  }
  compute_hints(*regexp, top.flags);
  return regexp;
}
