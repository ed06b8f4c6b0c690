// Versions-only mode (-v): the input is judged against the allow and deny
// lists, nothing touches the disk, and the verdict is the exit code.
#include <gtest/gtest.h>

#include "e2e/harness.h"

namespace {

using e2e::text;

struct Case {
  const char *name;
  std::vector<std::string> args;
  std::string input;
  std::string out;
  std::uint32_t code;
};

const char kMixed[] = "\\src\\A.java\n\\src\\b.c\n\\test\\T.java\n\\test\\x.c\n";

// clang-format off
const Case kCases[] = {
  // No pattern allows everything.
  {"NoPatternAllowsEverything", {"-b", "-v"}, "\\a.c\n\\b.c\n",
   "debug level is now 1\nversions check only mode is on\n'\\a.c' is allowed\n'\\b.c' is allowed\nexit code is 0\n", 0},
  {"AllowAndDeny", {"-v", "**/*.java", "-x", "**/test/**"}, kMixed,
   "'\\src\\b.c' is not in the allow list\n'\\test\\T.java' is in the deny list\n"
   "'\\test\\x.c' is not in the allow list\n", 1},
  {"AllowAndDenyLogged", {"-v", "**/*.java", "-x", "**/test/**", "-b"}, kMixed,
   "debug level is now 1\n'\\src\\A.java' is allowed\n'\\src\\b.c' is not in the allow list\n"
   "'\\test\\T.java' is in the deny list\n'\\test\\x.c' is not in the allow list\nexit code is 1\n", 1},
  {"DenyOnly", {"-v", "-x", "**/*.c"}, "\\a.c\n\\a.h\nb.c\n", "'\\a.c' is in the deny list\n'b.c' is in the deny list\n", 1},
  {"ExcludeWithoutPattern", {"-v", "-x"}, "\\a.c\n", "", 0}, // exclude mode without a pattern denies nothing
  {"SeveralIncludes", {"-v", "**/*.c", "*.h"}, "\\x\\a.c\nb.h\n", "", 0},
  // A single star stays inside one folder.
  {"SingleStarStaysInAFolder", {"-v", "*.h"}, "\\b.h\nx\\b.h\n", "'\\b.h' is not in the allow list\n'x\\b.h' is not in the allow list\n", 1},
  // Letter case counts without -c; -c makes later patterns ignore it.
  {"CaseCounts", {"-v", "**/*.JAVA"}, "\\a.java\n", "'\\a.java' is not in the allow list\n", 1},
  {"CaseIgnored", {"-v", "-c", "**/*.JAVA"}, "\\a.java\n\\B.Java\n", "", 0},
  // A slash in a version is no separator; a top-level bar splits the
  // anchors; a dollar inside a pattern matches nothing.
  {"SlashInAVersion", {"-v", "a/b"}, "a/b\na\\b\n", "'a/b' is not in the allow list\n", 1},
  {"TopLevelBar", {"-v", "a|b"}, "ax\nxb\nxa\n", "'xa' is not in the allow list\n", 1},
  {"DollarInside", {"-v", "a$b"}, "a$b\n", "'a$b' is not in the allow list\n", 1},
  {"NoVersions", {"-b", "-v"}, "", "debug level is now 1\nversions check only mode is on\nexit code is 0\n", 0},
  // No checker command in versions-only mode.
  {"NoHeaderAndNoChecker", {"-b", "-b", "-v"}, "echo: hi\nc:\\ws\\\\src\\a.c\n  \\src\\a.c \r\n",
   "debug level is now 1\ndebug level is now 2\nversions check only mode is on\n"
   "line[0] = version 'echo: hi'\nline[1] = file 'src\\a.c'\nline[2] = version '\\src\\a.c '\n"
   "'echo: hi' is allowed\n'\\src\\a.c ' is allowed\nexit code is 0\n", 0},
  // Hostile version texts: very long lines under patterns that backtrack.
  {"LongLinesUnderBacktrackingPatterns", {"-v", "(a|b)*", "**/**/**/x", "-x", "**/a/**/b/**/c/**/d"},
   std::string(200000, 'a') + "\n" + std::string(100000, 'b') + "x\n", "", 0},
};
// clang-format on

class VersionsOnly : public testing::TestWithParam<Case> {};

TEST_P(VersionsOnly, VerdictsAndExitCodes) {
  const Case &c = GetParam();
  e2e::ScratchFolder temp;
  e2e::Result result = e2e::run({c.args, c.input, temp.path(), temp.path()});
  EXPECT_EQ(result.out + "|" + result.err, text(c.out) + "|");
  EXPECT_EQ(result.code, c.code);
  EXPECT_EQ(temp.listing(), std::vector<std::string>{}) << "nothing on disk";
}

INSTANTIATE_TEST_SUITE_P(, VersionsOnly, testing::ValuesIn(kCases), e2e::row_name<Case>);

} // namespace
