#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "regex/regexp.h"
#include "unit/regex/regex_test_support.h"

namespace {

using regex_test::HookCapture;

// One node of an expected program: its opcode, the position its next link
// leads to (0: none) and its operand bytes without the closing NUL.
struct ExpectedNode {
  unsigned char opcode;
  int next;
  std::string operand = {};
  bool has_operand = false;
};

ExpectedNode node(unsigned char opcode, int next) {
  return {opcode, next};
}
ExpectedNode with_text(unsigned char opcode, int next, std::string text) {
  return {opcode, next, std::move(text), true};
}

// Lays the nodes out one after the other behind the marker, the way the
// program is read: big-endian offsets, backwards for loop-back nodes.
std::vector<unsigned char> assemble(const std::vector<ExpectedNode> &nodes) {
  std::vector<unsigned char> program = {kRegexpMarker};
  for (const ExpectedNode &n : nodes) {
    int position = static_cast<int>(program.size());
    int offset = n.next == 0                  ? 0
                 : n.opcode == NODE_LOOP_BACK ? position - n.next
                                              : n.next - position;
    program.push_back(n.opcode);
    program.push_back(static_cast<unsigned char>(offset >> 8));
    program.push_back(static_cast<unsigned char>(offset & 0xFF));
    if (n.has_operand) {
      program.insert(program.end(), n.operand.begin(), n.operand.end());
      program.push_back(0);
    }
  }
  return program;
}

struct ProgramCase {
  const char *text;
  std::vector<ExpectedNode> nodes;
};

TEST(CompileRegexp, WritesTheDocumentedPrograms) {
  const unsigned char open1 = NODE_GROUP_OPEN + 1;
  const unsigned char close1 = NODE_GROUP_CLOSE + 1;
  const ProgramCase cases[] = {
      {"(ab)*c",
       {node(NODE_ALTERNATIVE, 36), node(NODE_ALTERNATIVE, 25), node(open1, 10),
        node(NODE_ALTERNATIVE, 19), with_text(NODE_LITERAL, 19, "ab"), node(close1, 22),
        node(NODE_LOOP_BACK, 4), node(NODE_ALTERNATIVE, 28), node(NODE_EMPTY, 31),
        with_text(NODE_LITERAL, 36, "c"), node(NODE_END, 0)}},
      {"(a|b)+c",
       {node(NODE_ALTERNATIVE, 43), node(open1, 7), node(NODE_ALTERNATIVE, 15),
        with_text(NODE_LITERAL, 23, "a"), node(NODE_ALTERNATIVE, 23),
        with_text(NODE_LITERAL, 23, "b"), node(close1, 26), node(NODE_ALTERNATIVE, 32),
        node(NODE_LOOP_BACK, 4), node(NODE_ALTERNATIVE, 35), node(NODE_EMPTY, 38),
        with_text(NODE_LITERAL, 43, "c"), node(NODE_END, 0)}},
      {"abc*",
       {node(NODE_ALTERNATIVE, 18), with_text(NODE_LITERAL, 10, "ab"), node(NODE_ZERO_OR_MORE, 18),
        with_text(NODE_LITERAL, 0, "c"), node(NODE_END, 0)}},
      {"ab+c",
       {node(NODE_ALTERNATIVE, 22), with_text(NODE_LITERAL, 9, "a"), node(NODE_ONE_OR_MORE, 17),
        with_text(NODE_LITERAL, 0, "b"), with_text(NODE_LITERAL, 22, "c"), node(NODE_END, 0)}},
      {"a?",
       {node(NODE_ALTERNATIVE, 18), node(NODE_ALTERNATIVE, 12), with_text(NODE_LITERAL, 15, "a"),
        node(NODE_ALTERNATIVE, 15), node(NODE_EMPTY, 18), node(NODE_END, 0)}},
      {"a|",
       {node(NODE_ALTERNATIVE, 9), with_text(NODE_LITERAL, 15, "a"), node(NODE_ALTERNATIVE, 15),
        node(NODE_EMPTY, 15), node(NODE_END, 0)}},
      {"", {node(NODE_ALTERNATIVE, 7), node(NODE_EMPTY, 7), node(NODE_END, 0)}},
      {"\\.x",
       {node(NODE_ALTERNATIVE, 14), with_text(NODE_LITERAL, 9, "."),
        with_text(NODE_LITERAL, 14, "x"), node(NODE_END, 0)}},
  };
  for (const ProgramCase &c : cases) {
    std::unique_ptr<Regexp> regexp = compile_regexp(c.text);
    ASSERT_NE(regexp, nullptr) << c.text;
    EXPECT_EQ(regexp->program, assemble(c.nodes)) << c.text;
  }
}

TEST(CompileRegexp, AnchoredExampleIsByteExact) {
  const std::vector<unsigned char> expected = {0x9C, 0x06, 0x00, 0x1B, 0x01, 0x00, 0x03, 0x08,
                                               0x00, 0x05, 0x61, 0x00, 0x0A, 0x00, 0x08, 0x08,
                                               0x00, 0x00, 0x62, 0x00, 0x08, 0x00, 0x05, 0x63,
                                               0x00, 0x02, 0x00, 0x03, 0x00, 0x00, 0x00};
  std::unique_ptr<Regexp> regexp = compile_regexp("^ab*c$");
  ASSERT_NE(regexp, nullptr);
  EXPECT_EQ(regexp->program, expected);
}

struct HintCase {
  const char *text;
  std::size_t size;
  unsigned char first_char;
  unsigned char anchored;
  const char *required; // null: none
};

TEST(CompileRegexp, SizesAndHints) {
  const HintCase cases[] = {
      {"^ab*c$", 31, 0, 1, nullptr},
      {"(ab)*c", 39, 0, 0, "c"},
      {"(a|b)+c", 46, 0, 0, nullptr},
      {"x*abc*de", 35, 0, 0, "de"}, // ties go to the later literal
      {"x*abcd*de", 0, 0, 0, "abc"},
      {"", 10, 0, 0, nullptr},
      {"abc", 0, 'a', 0, nullptr},
      {"^abc", 0, 0, 1, nullptr},
      {"a|b", 0, 0, 0, nullptr},
      {"^a|b$", 0, 0, 0, nullptr},
      {"[a-z]", 37, 0, 0, nullptr},
      {"a*", 0, 0, 0, nullptr},    // leads with an optional piece but has no literal
      {"(x*)abc", 0, 0, 0, "abc"}, // the group's own flags lead
      {"x?(abcd)e", 0, 0, 0, "e"}, // literals inside groups are not on the chain
      {"^.*src\\\\.*[^\\]*\\.java$", 0, 0, 1, nullptr},
      {"\xe9t\xe9", 0, 0xE9, 0, nullptr},
  };
  for (const HintCase &c : cases) {
    std::unique_ptr<Regexp> regexp = compile_regexp(c.text);
    ASSERT_NE(regexp, nullptr) << c.text;
    if (c.size != 0) {
      EXPECT_EQ(regexp->program.size(), c.size) << c.text;
    }
    EXPECT_EQ(regexp->first_char, c.first_char) << c.text;
    EXPECT_EQ(regexp->anchored, c.anchored) << c.text;
    if (c.required == nullptr) {
      EXPECT_EQ(regexp->required_literal, nullptr) << c.text;
      EXPECT_EQ(regexp->required_length, 0) << c.text;
    } else {
      ASSERT_NE(regexp->required_literal, nullptr) << c.text;
      EXPECT_STREQ(regexp->required_literal, c.required) << c.text;
      EXPECT_EQ(regexp->required_length, static_cast<int>(std::strlen(c.required))) << c.text;
      // The literal lives inside the program, not in the compiled text.
      const char *begin = reinterpret_cast<const char *>(regexp->program.data());
      EXPECT_GE(regexp->required_literal, begin);
      EXPECT_LT(regexp->required_literal, begin + regexp->program.size());
    }
  }
}

struct ClassCase {
  const char *text;
  unsigned char opcode;
  std::string members;
};

TEST(CompileRegexp, ClassMembers) {
  std::string high;
  for (int c = 0xE0; c <= 0xFF; ++c)
    high += static_cast<char>(c);
  const ClassCase cases[] = {
      {"[]a]", NODE_IN_SET, "]a"},       {"[-a]", NODE_IN_SET, "-a"},
      {"[a-]", NODE_IN_SET, "a-"},       {"[^]a]", NODE_NOT_IN_SET, "]a"},
      {"[a-a]", NODE_IN_SET, "a"},       {"[--/]", NODE_IN_SET, "-./"},
      {"[a-c-e]", NODE_IN_SET, "abcde"}, {"[]-a]", NODE_IN_SET, "]^_`a"},
      {"[^\\]", NODE_NOT_IN_SET, "\\"},  {"[\\n]", NODE_IN_SET, "\\n"},
      {"[[^$.]", NODE_IN_SET, "[^$."},   {"[-]", NODE_IN_SET, "-"},
      {"[^-]", NODE_NOT_IN_SET, "-"},    {"[\xe0-\xff]", NODE_IN_SET, high},
  };
  for (const ClassCase &c : cases) {
    std::unique_ptr<Regexp> regexp = compile_regexp(c.text);
    ASSERT_NE(regexp, nullptr) << c.text;
    const unsigned char *class_node = regexp->program.data() + 4;
    EXPECT_EQ(class_node[0], c.opcode) << c.text;
    EXPECT_EQ(std::string(reinterpret_cast<const char *>(class_node + 3)), c.members) << c.text;
    EXPECT_EQ(regexp->program.size(), 1 + 3 + (3 + c.members.size() + 1) + 3) << c.text;
  }
}

// "[", byte 1, "-", byte 255, "]": 255 members, 259 program bytes.
std::string widest_classes(int count) {
  std::string text;
  for (int i = 0; i < count; ++i)
    text += "[\x01-\xff]";
  return text;
}

TEST(CompileRegexp, ProgramSizeLimit) {
  std::unique_ptr<Regexp> largest = compile_regexp(widest_classes(126).c_str());
  ASSERT_NE(largest, nullptr);
  EXPECT_EQ(largest->program.size(), 32641u);

  HookCapture hook;
  EXPECT_EQ(compile_regexp(widest_classes(127).c_str()), nullptr);
  EXPECT_EQ(hook.received(), std::vector<std::string>{"regexp too big"});
}

TEST(CompileRegexp, HugeTextIsRefusedWithoutOverflow) {
  HookCapture hook;
  std::string text(1 << 20, 'a');
  EXPECT_EQ(compile_regexp(text.c_str()), nullptr);
  EXPECT_EQ(hook.received(), std::vector<std::string>{"regexp too big"});
}

struct RefusalCase {
  std::string text;
  const char *message;
};

TEST(CompileRegexp, RefusalsReportOneMessage) {
  const RefusalCase cases[] = {
      {"(((((((((((a))))))))))", "too many ()"},
      {"(a)(b)(c)(d)(e)(f)(g)(h)(i)(j)", "too many ()"},
      {"(a", "unmatched ()"},
      {"a)", "unmatched ()"},
      {")", "unmatched ()"},
      {"(a|b", "unmatched ()"},
      {"^*", "*+ operand could be empty"},
      {"$+", "*+ operand could be empty"},
      {"()*", "*+ operand could be empty"},
      {"(a*)+", "*+ operand could be empty"},
      {"(a|)*", "*+ operand could be empty"},
      {"(b?)+", "*+ operand could be empty"},
      {"[^\\]*+", "nested *?+"},
      {"a**", "nested *?+"},
      {"a*?", "nested *?+"},
      {"a+*", "nested *?+"},
      {"(ab)??", "nested *?+"},
      {"[z-a]", "invalid [] range"},
      {"[\xff-\xe0]", "invalid [] range"},
      {"[abc", "unmatched []"},
      {"[]", "unmatched []"},
      {"[^]", "unmatched []"},
      {"[a-", "unmatched []"},
      {"*a", "?+* follows nothing"},
      {"(+a)", "?+* follows nothing"},
      {"a|?", "?+* follows nothing"},
      {"a\\", "trailing \\"},
      {"(a\\", "trailing \\"},
  };
  for (const RefusalCase &c : cases) {
    HookCapture hook;
    EXPECT_EQ(compile_regexp(c.text.c_str()), nullptr) << c.text;
    EXPECT_EQ(hook.received(), std::vector<std::string>{c.message}) << c.text;
  }
  HookCapture hook;
  EXPECT_EQ(compile_regexp(nullptr), nullptr);
  EXPECT_EQ(hook.received(), std::vector<std::string>{"NULL argument"});
}

TEST(CompileRegexp, AcceptsOptionalOverEmptyAndNineGroups) {
  const char *accepted[] = {
      "^?",     "()?",  "$?",  "(a+)*", "(a?b)+", "((((((((( a)))))))))", "()()()()()()()()()",
      "a{1}]-", "\\\\", "\\n", "\xff+"};
  HookCapture hook;
  for (const char *text : accepted)
    EXPECT_NE(compile_regexp(text), nullptr) << text;
  EXPECT_TRUE(hook.received().empty());
}

TEST(CompileRegexp, FailuresAreSilentWithoutHook) {
  ASSERT_EQ(regexp_error_hook, nullptr); // nothing installs one by default
  EXPECT_EQ(compile_regexp("(x"), nullptr);
  EXPECT_EQ(compile_regexp(nullptr), nullptr);
}

} // namespace
