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
using regex_test::program_bytes;
using Messages = std::vector<std::string>;

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
std::vector<unsigned char> assemble(const std::vector<Node> &nodes) {
  std::vector<unsigned char> program = {kRegexpMarker};
  for (const Node &n : nodes) {
    int position = static_cast<int>(program.size());
    int offset = n.next == 0                  ? 0
                 : n.opcode == NODE_LOOP_BACK ? position - n.next
                                              : n.next - position;
    program.insert(program.end(), {n.opcode, static_cast<unsigned char>(offset >> 8),
                                   static_cast<unsigned char>(offset & 0xFF)});
    if (n.operand != nullptr)
      program.insert(program.end(), n.operand, n.operand + std::strlen(n.operand) + 1);
  }
  return program;
}

TEST(CompileRegexp, WritesTheDocumentedPrograms) {
  const unsigned char alt = NODE_ALTERNATIVE, lit = NODE_LITERAL, empty = NODE_EMPTY;
  const unsigned char open1 = NODE_GROUP_OPEN + 1, close1 = NODE_GROUP_CLOSE + 1;
  const struct {
    const char *text;
    std::vector<Node> nodes;
  } cases[] = {
      {"(ab)*c",
       {n(alt, 36), n(alt, 25), n(open1, 10), n(alt, 19), n(lit, 19, "ab"), n(close1, 22),
        n(NODE_LOOP_BACK, 4), n(alt, 28), n(empty, 31), n(lit, 36, "c"), n(NODE_END, 0)}},
      {"(a|b)+c",
       {n(alt, 43), n(open1, 7), n(alt, 15), n(lit, 23, "a"), n(alt, 23), n(lit, 23, "b"),
        n(close1, 26), n(alt, 32), n(NODE_LOOP_BACK, 4), n(alt, 35), n(empty, 38), n(lit, 43, "c"),
        n(NODE_END, 0)}},
      {"ab+c",
       {n(alt, 22), n(lit, 9, "a"), n(NODE_ONE_OR_MORE, 17), n(lit, 0, "b"), n(lit, 22, "c"),
        n(NODE_END, 0)}},
      {"a?", {n(alt, 18), n(alt, 12), n(lit, 15, "a"), n(alt, 15), n(empty, 18), n(NODE_END, 0)}},
      {"a|", {n(alt, 9), n(lit, 15, "a"), n(alt, 15), n(empty, 15), n(NODE_END, 0)}},
      {"", {n(alt, 7), n(empty, 7), n(NODE_END, 0)}},
      {"\\.x", {n(alt, 14), n(lit, 9, "."), n(lit, 14, "x"), n(NODE_END, 0)}},
  };
  for (const auto &c : cases) {
    std::unique_ptr<Regexp> regexp = compile_regexp(c.text);
    ASSERT_NE(regexp, nullptr) << c.text;
    EXPECT_EQ(program_bytes(*regexp), assemble(c.nodes)) << c.text;
  }
}

TEST(CompileRegexp, AnchoredExampleIsByteExact) {
  const std::vector<unsigned char> expected = {0x9C, 0x06, 0x00, 0x1B, 0x01, 0x00, 0x03, 0x08,
                                               0x00, 0x05, 0x61, 0x00, 0x0A, 0x00, 0x08, 0x08,
                                               0x00, 0x00, 0x62, 0x00, 0x08, 0x00, 0x05, 0x63,
                                               0x00, 0x02, 0x00, 0x03, 0x00, 0x00, 0x00};
  std::unique_ptr<Regexp> regexp = compile_regexp("^ab*c$");
  ASSERT_NE(regexp, nullptr);
  EXPECT_EQ(program_bytes(*regexp), expected);
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
    if (c.required == nullptr) {
      EXPECT_EQ(regexp->required_literal, nullptr) << c.text;
      EXPECT_EQ(regexp->required_length, 0) << c.text;
      continue;
    }
    ASSERT_NE(regexp->required_literal, nullptr) << c.text;
    EXPECT_STREQ(regexp->required_literal, c.required) << c.text;
    EXPECT_EQ(regexp->required_length, static_cast<int>(std::strlen(c.required))) << c.text;
    // The literal lives inside the program, not in the compiled text.
    const char *begin = reinterpret_cast<const char *>(regexp->program.data());
    EXPECT_GE(regexp->required_literal, begin);
    EXPECT_LT(regexp->required_literal, begin + regexp->program.size());
  }
}

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
    const unsigned char *class_node = regexp->program.data() + 4;
    EXPECT_EQ(class_node[0], c.opcode) << c.text;
    EXPECT_EQ(std::string(reinterpret_cast<const char *>(class_node + 3)), c.members) << c.text;
    EXPECT_EQ(regexp->program.size(), 1 + 3 + (3 + c.members.size() + 1) + 3) << c.text;
  }
}

TEST(CompileRegexp, ProgramSizeLimit) {
  // Each "[\x01-\xff]" takes 259 program bytes.
  std::string widest;
  for (int i = 0; i < 126; ++i)
    widest += "[\x01-\xff]";
  std::unique_ptr<Regexp> largest = compile_regexp(widest.c_str());
  ASSERT_NE(largest, nullptr);
  EXPECT_EQ(largest->program.size(), 32641u);

  for (const std::string &text : {widest + "[\x01-\xff]", std::string(1 << 20, 'a')}) {
    HookCapture hook;
    EXPECT_EQ(compile_regexp(text.c_str()), nullptr);
    EXPECT_EQ(hook.received(), Messages{"regexp too big"});
  }
}

TEST(CompileRegexp, RefusalsReportOneMessage) {
  ASSERT_EQ(regexp_error_hook, nullptr); // silent without a hook
  EXPECT_EQ(compile_regexp("(x"), nullptr);
  const struct {
    const char *message;
    const char *texts; // separated by blanks
  } cases[] = {
      {"too many ()", "(a)(b)(c)(d)(e)(f)(g)(h)(i)(j)"},
      {"unmatched ()", "(a a)"},
      {"*+ operand could be empty", "^* (a|)* (b?)+"},
      {"nested *?+", "a** (ab)??"},
      {"invalid [] range", "[z-a] [\xff-\xe0]"},
      {"unmatched []", "[] [^] [a-"},
      {"?+* follows nothing", "*a a|?"},
      {"trailing \\", "a\\"},
  };
  for (const auto &c : cases) {
    std::istringstream texts(c.texts);
    for (std::string text; texts >> text;) {
      HookCapture hook;
      EXPECT_EQ(compile_regexp(text.c_str()), nullptr) << text;
      EXPECT_EQ(hook.received(), Messages{c.message}) << text;
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
  const struct {
    const char *text;
    const char *message;
    int allocations;
  } cases[] = {{"^ab*c$", "out of space", 1}, {"(x", "unmatched ()", 0}};
  for (const auto &c : cases) {
    ProgramAllocator saved = g_allocate_program;
    g_allocate_program = [](std::size_t) -> void * {
      ++allocations;
      return nullptr;
    };
    allocations = 0;
    {
      HookCapture hook;
      EXPECT_EQ(compile_regexp(c.text), nullptr) << c.text;
      EXPECT_EQ(hook.received(), Messages{c.message}) << c.text;
    }
    g_allocate_program = saved;
    EXPECT_EQ(allocations, c.allocations) << c.text;
  }
  std::unique_ptr<Regexp> regexp = compile_regexp("^ab*c$");
  ASSERT_NE(regexp, nullptr);
  EXPECT_EQ(program_bytes(*regexp).size(), 31u);
  EXPECT_EQ(execute_regexp(regexp.get(), "abbc"), 1);
}

TEST(CompileRegexp, AcceptsOptionalOverEmptyAndNineGroups) {
  HookCapture hook;
  for (const char *text :
       {"^?", "()?", "(a+)*", "((((((((( a)))))))))", "()()()()()()()()()", "a{1}]-", "\xff+"})
    EXPECT_NE(compile_regexp(text), nullptr) << text;
  EXPECT_TRUE(hook.received().empty());
}

} // namespace
