#include <gtest/gtest.h>

#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include "regex/program.h"
#include "regex/regexp.h"
#include "unit/regex/regex_test_support.h"

namespace {

using regex_test::HookCapture;
using Bytes = std::vector<unsigned char>;
using Messages = std::vector<std::string>;

Bytes program_bytes(const Regexp &regexp) {
  return {regexp.program.begin(), regexp.program.end()};
}

// One node of an expected program: opcode, position its next link leads to
// (0: none) and, for literals and classes, the operand text.
struct Node {
  unsigned char opcode;
  int next;
  const char *operand = nullptr;
};
Node n(unsigned char opcode, int next, const char *operand = nullptr) {
  return {opcode, next, operand};
}

// Lays the nodes out behind the marker: big-endian offsets, backwards for
// loop-back nodes, operands closed by a NUL.
Bytes assemble(const std::vector<Node> &nodes) {
  Bytes program = {kRegexpMarker};
  for (const Node &n : nodes) {
    int at = static_cast<int>(program.size());
    int offset = n.next == 0 ? 0 : n.opcode == NODE_LOOP_BACK ? at - n.next : n.next - at;
    program.insert(program.end(), {n.opcode, static_cast<unsigned char>(offset >> 8),
                                   static_cast<unsigned char>(offset & 0xFF)});
    if (n.operand != nullptr)
      program.insert(program.end(), n.operand, n.operand + std::strlen(n.operand) + 1);
  }
  return program;
}

TEST(CompileRegexp, WritesTheDocumentedPrograms) {
  const unsigned char alt = NODE_ALTERNATIVE, lit = NODE_LITERAL, empty = NODE_EMPTY,
                      end = NODE_END, back = NODE_LOOP_BACK;
  const unsigned char open1 = NODE_GROUP_OPEN + 1, close1 = NODE_GROUP_CLOSE + 1;
  const struct {
    const char *text;
    std::vector<Node> nodes;
  } cases[] = {
      {"(ab)*c",
       {n(alt, 36), n(alt, 25), n(open1, 10), n(alt, 19), n(lit, 19, "ab"), n(close1, 22),
        n(back, 4), n(alt, 28), n(empty, 31), n(lit, 36, "c"), n(end, 0)}},
      {"(a|b)+c",
       {n(alt, 43), n(open1, 7), n(alt, 15), n(lit, 23, "a"), n(alt, 23), n(lit, 23, "b"),
        n(close1, 26), n(alt, 32), n(back, 4), n(alt, 35), n(empty, 38), n(lit, 43, "c"),
        n(end, 0)}},
      {"ab+c",
       {n(alt, 22), n(lit, 9, "a"), n(NODE_ONE_OR_MORE, 17), n(lit, 0, "b"), n(lit, 22, "c"),
        n(end, 0)}},
      {"a?", {n(alt, 18), n(alt, 12), n(lit, 15, "a"), n(alt, 15), n(empty, 18), n(end, 0)}},
      {"a|", {n(alt, 9), n(lit, 15, "a"), n(alt, 15), n(empty, 15), n(end, 0)}},
      {"", {n(alt, 7), n(empty, 7), n(end, 0)}},
      {"\\.x", {n(alt, 14), n(lit, 9, "."), n(lit, 14, "x"), n(end, 0)}},
  };
  for (const auto &c : cases) {
    std::unique_ptr<Regexp> regexp = compile_regexp(c.text);
    ASSERT_NE(regexp, nullptr) << c.text;
    EXPECT_EQ(program_bytes(*regexp), assemble(c.nodes)) << c.text;
  }
  // One program byte for byte, independent of the assembler above.
  const Bytes anchored = {0x9C, 0x06, 0x00, 0x1B, 0x01, 0x00, 0x03, 0x08, 0x00, 0x05, 0x61,
                          0x00, 0x0A, 0x00, 0x08, 0x08, 0x00, 0x00, 0x62, 0x00, 0x08, 0x00,
                          0x05, 0x63, 0x00, 0x02, 0x00, 0x03, 0x00, 0x00, 0x00};
  EXPECT_EQ(program_bytes(*compile_regexp("^ab*c$")), anchored);
}

// "]" and "-" where they are taken literally, and ranges.
TEST(CompileRegexp, ClassMembers) {
  std::string high;
  for (int c = 0xE0; c <= 0xFF; ++c)
    high += static_cast<char>(c);
  const struct {
    const char *text;
    unsigned char opcode;
    std::string members;
  } cases[] = {
      {"[]a]", NODE_IN_SET, "]a"},        {"[-a]", NODE_IN_SET, "-a"},
      {"[a-]", NODE_IN_SET, "a-"},        {"[^]a]", NODE_NOT_IN_SET, "]a"},
      {"[--/]", NODE_IN_SET, "-./"},      {"[a-c-e]", NODE_IN_SET, "abcde"},
      {"[]-a]", NODE_IN_SET, "]^_`a"},    {"[^\\]", NODE_NOT_IN_SET, "\\"},
      {"[[^$.]", NODE_IN_SET, "[^$."},    {"[-]", NODE_IN_SET, "-"},
      {"[\xe0-\xff]", NODE_IN_SET, high},
  };
  for (const auto &c : cases) {
    std::unique_ptr<Regexp> regexp = compile_regexp(c.text);
    ASSERT_NE(regexp, nullptr) << c.text;
    int end = static_cast<int>(8 + c.members.size());
    EXPECT_EQ(
        program_bytes(*regexp),
        assemble({n(NODE_ALTERNATIVE, end), n(c.opcode, end, c.members.c_str()), n(NODE_END, 0)}))
        << c.text;
  }
}

// Ties between literals go to the later one; an optional group's own flags
// lead; literals inside groups are not on the chain.
TEST(CompileRegexp, Hints) {
  const struct {
    const char *text;
    unsigned char first_char, anchored;
    const char *required; // null: none
  } cases[] = {
      {"^ab*c$", 0, 1, nullptr},  {"(ab)*c", 0, 0, "c"},    {"x*abc*de", 0, 0, "de"},
      {"x*abcd*de", 0, 0, "abc"}, {"abc", 'a', 0, nullptr}, {"^abc", 0, 1, nullptr},
      {"a|b", 0, 0, nullptr},     {"^a|b$", 0, 0, nullptr}, {"a*", 0, 0, nullptr},
      {"(x*)abc", 0, 0, "abc"},   {"x?(abcd)e", 0, 0, "e"}, {"\xe9t\xe9", 0xE9, 0, nullptr},
  };
  for (const auto &c : cases) {
    std::unique_ptr<Regexp> regexp = compile_regexp(c.text);
    ASSERT_NE(regexp, nullptr) << c.text;
    EXPECT_EQ(regexp->first_char, c.first_char) << c.text;
    EXPECT_EQ(regexp->anchored, c.anchored) << c.text;
    const char *literal = regexp->required_literal;
    EXPECT_EQ(std::string(literal ? literal : "-"), c.required ? c.required : "-") << c.text;
    EXPECT_EQ(regexp->required_length, c.required ? static_cast<int>(std::strlen(c.required)) : 0)
        << c.text;
    // The literal lives inside the program, not in the compiled text.
    const char *begin = reinterpret_cast<const char *>(regexp->program.data());
    EXPECT_TRUE(!literal || (literal >= begin && literal < begin + regexp->program.size()));
  }
}

TEST(CompileRegexp, RefusalsReportOneMessage) {
  ASSERT_EQ(regexp_error_hook, nullptr); // silent without a hook
  EXPECT_EQ(compile_regexp("(x"), nullptr);
  // Each "[\x01-\xff]" takes 259 program bytes: 126 fit, 127 do not.
  std::string widest;
  for (int i = 0; i < 126; ++i)
    widest += "[\x01-\xff]";
  std::unique_ptr<Regexp> largest = compile_regexp(widest.c_str());
  ASSERT_NE(largest, nullptr);
  EXPECT_EQ(largest->program.size(), 32641u);
  const struct {
    const char *message; // "": accepted
    std::string texts;   // separated by blanks
  } cases[] = {
      {"too many ()", "(a)(b)(c)(d)(e)(f)(g)(h)(i)(j)"},
      {"unmatched ()", "(a a)"},
      {"*+ operand could be empty", "^* (a|)* (b?)+"},
      {"nested *?+", "a** (ab)??"},
      {"invalid [] range", "[z-a] [\xff-\xe0]"},
      {"unmatched []", "[] [^] [a-"},
      {"?+* follows nothing", "*a a|?"},
      {"trailing \\", "a\\"},
      {"regexp too big", widest + "[\x01-\xff] " + std::string(1 << 20, 'a')},
      {"", "^? ()? (a+)* (((((((((a))))))))) ()()()()()()()()() a{1}]- \xff+"},
  };
  for (const auto &c : cases) {
    std::istringstream texts(c.texts);
    for (std::string text; texts >> text;) {
      HookCapture hook;
      EXPECT_EQ(compile_regexp(text.c_str()) == nullptr, *c.message != '\0') << text;
      EXPECT_EQ(hook.received(), *c.message ? Messages{c.message} : Messages{}) << text;
    }
  }
  HookCapture hook;
  EXPECT_EQ(compile_regexp(nullptr), nullptr);
  EXPECT_EQ(hook.received(), Messages{"NULL argument"});
}

// The program's memory cannot be had: "out of space" and no record, but
// only once the text has parsed; the next compilation is unharmed.
TEST(CompileRegexp, OutOfSpace) {
  static int allocations;
  ProgramAllocator saved = g_allocate_program;
  g_allocate_program = [](std::size_t) -> void * {
    ++allocations;
    return nullptr;
  };
  for (const char *text : {"(x", "^ab*c$"}) {
    HookCapture hook;
    EXPECT_EQ(compile_regexp(text), nullptr) << text;
    EXPECT_EQ(hook.received(), Messages{*text == '(' ? "unmatched ()" : "out of space"});
    EXPECT_EQ(allocations, *text == '(' ? 0 : 1) << text;
  }
  g_allocate_program = saved;
  std::unique_ptr<Regexp> regexp = compile_regexp("^ab*c$");
  ASSERT_NE(regexp, nullptr);
  EXPECT_EQ(execute_regexp(regexp.get(), "abbc"), 1);
}

} // namespace
