// The compiler's programs, hints and refusals. (What the programs match is
// checked end to end and by the regex fuzz target.)
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

Bytes program_bytes(const char *expression) {
  std::unique_ptr<Regexp> regexp = compile_regexp(expression);
  return regexp ? Bytes(regexp->program.begin(), regexp->program.end()) : Bytes{};
}

// Programs byte for byte: the marker, then nodes of an opcode, a big-endian
// offset to the next node (backwards for a loop-back) and for literals and
// classes a NUL-terminated operand.
TEST(CompileRegexp, WritesTheDocumentedPrograms) {
  // clang-format off
  const std::pair<const char *, Bytes> cases[] = {
    {"^ab*c$", {0x9C, 0x06, 0x00, 0x1B, 0x01, 0x00, 0x03, 0x08, 0x00, 0x05, 0x61, 0x00, 0x0A, 0x00, 0x08, 0x08,
                0x00, 0x00, 0x62, 0x00, 0x08, 0x00, 0x05, 0x63, 0x00, 0x02, 0x00, 0x03, 0x00, 0x00, 0x00}},
    {"(ab)*c", {0x9C, 0x06, 0x00, 0x23, 0x06, 0x00, 0x15, 0x15, 0x00, 0x03, 0x06, 0x00, 0x09, 0x08, 0x00, 0x06,
                0x61, 0x62, 0x00, 0x1F, 0x00, 0x03, 0x07, 0x00, 0x12, 0x06, 0x00, 0x03, 0x09, 0x00, 0x03, 0x08,
                0x00, 0x05, 0x63, 0x00, 0x00, 0x00, 0x00}},
    {"a|", {0x9C, 0x06, 0x00, 0x08, 0x08, 0x00, 0x0B, 0x61, 0x00, 0x06, 0x00, 0x06, 0x09, 0x00, 0x03, 0x00,
            0x00, 0x00}},
    {"[]-a]", {0x9C, 0x06, 0x00, 0x0C, 0x04, 0x00, 0x09, 0x5D, 0x5E, 0x5F, 0x60, 0x61, 0x00, 0x00, 0x00, 0x00}},
  };
  // clang-format on
  for (const auto &[text, bytes] : cases)
    EXPECT_EQ(program_bytes(text), bytes) << text;
}

// Ties between literals go to the later one; an optional group's own flags
// lead; literals inside groups are not on the chain.
TEST(CompileRegexp, Hints) {
  // clang-format off
  const struct { const char *text; unsigned char first_char, anchored; const char *required; } cases[] = {
    {"^ab*c$", 0, 1, nullptr}, {"(ab)*c", 0, 0, "c"}, {"x*abc*de", 0, 0, "de"}, {"x*abcd*de", 0, 0, "abc"},
    {"abc", 'a', 0, nullptr}, {"^abc", 0, 1, nullptr}, {"a|b", 0, 0, nullptr}, {"^a|b$", 0, 0, nullptr},
    {"a*", 0, 0, nullptr}, {"(x*)abc", 0, 0, "abc"}, {"x?(abcd)e", 0, 0, "e"}, {"\xe9t\xe9", 0xE9, 0, nullptr},
  };
  // clang-format on
  for (const auto &c : cases) {
    std::unique_ptr<Regexp> regexp = compile_regexp(c.text);
    EXPECT_NE(regexp, nullptr) << c.text;
    if (regexp == nullptr)
      continue;
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
  EXPECT_EQ(program_bytes(widest.c_str()).size(), 32641u);
  // clang-format off
  const struct { const char *message; std::string texts; } cases[] = { // "": accepted; texts by blanks
    {"too many ()", "(a)(b)(c)(d)(e)(f)(g)(h)(i)(j)"}, {"unmatched ()", "(a a)"},
    {"*+ operand could be empty", "^* (a|)* (b?)+"}, {"nested *?+", "a** (ab)??"},
    {"invalid [] range", "[z-a] [\xff-\xe0]"}, {"unmatched []", "[] [^] [a-"}, {"?+* follows nothing", "*a a|?"},
    {"trailing \\", "a\\"}, {"regexp too big", widest + "[\x01-\xff] " + std::string(1 << 20, 'a')},
    {"", "^? ()? (a+)* (((((((((a))))))))) ()()()()()()()()() a{1}]- \xff+"},
  };
  // clang-format on
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

} // namespace
