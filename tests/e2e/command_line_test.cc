// The command line as the trigger passes it: options, their messages, the
// usage text, and pattern compilation.
#include <gtest/gtest.h>

#include "e2e/harness.h"

namespace {

using e2e::text;

const char kUsage[] = "Trelvik version 0.05\n"
                      "Usage:\ttrelvik [-o] [-e] [-s] [-d] [-w] [-i <input_file>] [-c] [-b] "
                      "[<pattern> [<pattern> ...]] "
                      "[[-x] <pattern>[<pattern> ...]]\n"
                      "  -h  --help\tprint this message and exit\n"
                      "  -o  --stdout\tanything printed on standard output is an error\n"
                      "  -e  --stderr\tanything printed on standard error is an error\n"
                      "  -s  --strip\tstrip temporary path from any messages\n"
                      "  -d  --dump\tcopy all output to a log file in the TEMP folder\n"
                      "  -w  --workdir-cwd\tstart the checker in the temporary folder\n"
                      "  -i  --input\ttake input from a file instead of stdin\n"
                      "  -x  --exclude\tany subsequent patterns will be excluded\n"
                      "  -c  --case-insensitive\ttreat filenames case-insensitively\n"
                      "  -v  --versions\tversion check only - use patterns to allow/deny process\n"
                      "  -b  --debug\tprint debug message - more -b's increase the debug level\n"
                      "Patterns are Ant syntax e.g. **/src/**/*.java\n";

struct Case {
  const char *name;
  std::vector<std::string> args;
  std::string out;
  std::uint32_t code;
};

// Each run gets its own TEMP, as its working folder too, and an empty
// input; -v keeps the runs that go on past the options away from the disk.
void check(const Case &c) {
  e2e::ScratchFolder temp;
  e2e::Result result = e2e::run({c.args, "", temp.path(), temp.path()});
  EXPECT_EQ(result.out + "|" + result.err, text(c.out) + "|");
  EXPECT_EQ(result.code, c.code);
  EXPECT_EQ(temp.listing(), std::vector<std::string>{}) << "nothing on disk";
}

// clang-format off
const Case kCases[] = {
  {"Help", {"-h"}, kUsage, 1},
  {"LongHelp", {"--help"}, kUsage, 1},
  {"HelpEndsTheParsing", {"-b", "-o", "-h", "-e"}, std::string("debug level is now 1\nstdout will be treated as an error\n") + kUsage, 1},
  {"InputWithoutName", {"-i"}, "ERROR: -i/--input requires a filename\n", 1},
  {"LongInputWithoutName", {"-b", "--input"}, "debug level is now 1\nERROR: -i/--input requires a filename\n", 1},
  {"UnrecognisedOptions", {"-bb", "--Help", "", "-", "-v"}, "WARNING: Unrecognised option '-bb'\nWARNING: Unrecognised option '--Help'\n"
   "WARNING: Unrecognised option ''\nWARNING: Unrecognised option '-'\n", 0},
  // Every option at level 2.
  {"EveryOptionAtLevelTwo", {"-b", "-b", "-o", "-e", "-s", "-d", "-x", "-x", "-c", "-v", "--stdout", "--stderr", "--strip", "--dump",
    "--exclude", "--case-insensitive", "--versions", "--debug"},
   "debug level is now 1\ndebug level is now 2\nstdout will be treated as an error\n"
   "stderr will be treated as an error\nstrip temp path is on\ndump is on\nexclude set\n"
   "exclude set\ncase-insensitive is on\nversions check only mode is on\n"
   "stdout will be treated as an error\nstderr will be treated as an error\n"
   "strip temp path is on\ndump is on\nexclude set\ncase-insensitive is on\n"
   "versions check only mode is on\ndebug level is now 3\nexit code is 0\n", 0},
  {"WorkdirCwd", {"-b", "-w", "--workdir-cwd", "-v"}, "debug level is now 1\nchecker starts in the temp folder\n"
   "checker starts in the temp folder\nversions check only mode is on\nexit code is 0\n", 0},
  // Messages need a -b before them; -i takes the next argument whatever it is.
  {"MessagesNeedABefore", {"-o", "-b", "-v"}, "debug level is now 1\nversions check only mode is on\nexit code is 0\n", 0},
  {"InputTakesTheNextArgument", {"-i", "-o", "-b", "-v"},
   "debug level is now 1\nversions check only mode is on\nERROR: Failed to open input file '-o'\n", 1},
  {"InputFileMissing", {"-b", "--input", "none", "-v"}, "debug level is now 1\ninput from file is on\nversions check only mode is on\n"
   "ERROR: Failed to open input file 'none'\n", 1},
  // An invalid pattern stops the parsing, even before help.
  {"InvalidPatternBeforeHelp", {"(x", "-h"}, "Invalid pattern '(x'\n", 1},
  {"InvalidPatternShown", {"-b", "+x", "-h"}, "debug level is now 1\nPattern '+x' compiles to '^+x$'\nInvalid pattern '+x'\n", 1},
  {"RepeatedRepetition", {"-b", "*+"}, "debug level is now 1\nPattern '*+' compiles to '^[^\\]*+$'\nInvalid pattern '*+'\n", 1},
  // The case flag and exclude mode apply to later patterns.
  {"CaseAndExcludeApplyLater", {"-b", "a.c", "-x", "-c", "b.c", "-v"},
   "debug level is now 1\nPattern 'a.c' compiles to '^a\\.c$'\nexclude set\n"
   "case-insensitive is on\nPattern 'b.c' compiles to '^[bB]\\.[cC]$'\n"
   "versions check only mode is on\nexit code is 0\n", 0},
};

// Patterns and their expressions; "-c " in front asks for ignoring case.
const Case kPatterns[] = {
  {"SrcJava", {"**/src/**/*.java"}, "^.*src\\\\.*[^\\]*\\.java$", 0},
  {"SrcJavaIgnoringCase", {"-c **/src/**/*.java"}, "^.*[sS][rR][cC]\\\\.*[^\\]*\\.[jJ][aA][vV][aA]$", 0},
  {"AnyJava", {"**/*.java"}, "^.*[^\\]*\\.java$", 0}, {"TestFolder", {"**/test/**"}, "^.*test\\\\.*$", 0},
  {"LeadingSeparator", {"/src/*.c"}, "^\\\\src\\\\[^\\]*\\.c$", 0}, {"TrailingStars", {"src/**"}, "^src\\\\.*$", 0},
  {"BackslashAfterStars", {"**\\lib"}, "^.*lib$", 0}, {"Backslash", {"x\\y"}, "^x\\\\y$", 0},
  {"StarsInside", {"a**b"}, "^a.*b$", 0}, {"ThreeStars", {"***"}, "^.*[^\\]*$", 0},
  {"QuestionMark", {"?.h"}, "^.\\.h$", 0}, {"Plus", {"a+"}, "^a+$", 0}, {"Star", {"*"}, "^[^\\]*$", 0},
  {"Bar", {"a|b"}, "^a|b$", 0}, {"BracketIgnoringCase", {"-c [ab]"}, "^[[aA][bB]]$", 0},
  {"StarsAndSeparator", {"**/"}, "^.*$", 0},
};
// clang-format on

class Options : public testing::TestWithParam<Case> {};

TEST_P(Options, AndTheirMessages) {
  check(GetParam());
}

INSTANTIATE_TEST_SUITE_P(, Options, testing::ValuesIn(kCases), e2e::row_name<Case>);

// A row of kPatterns: the pattern, and the expression it compiles to.
class Patterns : public testing::TestWithParam<Case> {};

TEST_P(Patterns, CompileToAnchoredExpressions) {
  const std::string &given = GetParam().args[0];
  bool folded = given.starts_with("-c ");
  std::string pattern = folded ? given.substr(3) : given;
  std::vector<std::string> args = {"-b"};
  std::string out = "debug level is now 1\n";
  if (folded) {
    args.push_back("-c");
    out += "case-insensitive is on\n";
  }
  args.insert(args.end(), {pattern, "-v"});
  out += "Pattern '" + pattern + "' compiles to '" + GetParam().out + "'\n";
  check({"", args, out + "versions check only mode is on\nexit code is 0\n", 0});
}

INSTANTIATE_TEST_SUITE_P(, Patterns, testing::ValuesIn(kPatterns), e2e::row_name<Case>);

// A folder full of files must not turn a wildcard pattern into file names.
TEST(CommandLine, WildcardsReachTheParserUnexpanded) {
  e2e::ScratchFolder folder;
  folder.write("a.java", "");
  folder.write("src/b.java", "");
  e2e::Result result =
      e2e::run({{"-b", "*", "**/src/**/*.java", "-v"}, "", folder.path(), folder.path()});
  EXPECT_EQ(result.out, text("debug level is now 1\n"
                             "Pattern '*' compiles to '^[^\\]*$'\n"
                             "Pattern '**/src/**/*.java' compiles to '^.*src\\\\.*[^\\]*\\.java$'\n"
                             "versions check only mode is on\nexit code is 0\n"));
  EXPECT_EQ(result.code, 0u);
}

} // namespace
