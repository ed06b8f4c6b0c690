// Reading the commit: an input that cannot be read to its end, and a commit
// too large for the machine's limits to spread its status queries.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "e2e/harness.h"

namespace {

using e2e::text;

// A failed read ends the run before anything else, in both modes: nothing
// is created in TEMP and no "Exiting code" line is printed. (And an input
// file that can be read is judged like standard input.)
TEST(Input, FromAFileOrStandardInputAndWhenNeitherCanBeRead) {
  e2e::ScratchFolder temp;
  e2e::ScratchFolder folder;
  const std::string file_error =
      "ERROR: Failed to open input file '" + e2e::seen(folder.path()) + "'\n";
  const std::string stdin_error = "ERROR: Failed to read standard input\n";
  const std::string missing = e2e::seen(folder.path()) + (e2e::is_wine() ? "\\" : "/") + "none";
  const std::string listed = e2e::seen(folder.write("input.txt", "\\a.c\r\n\\b.h\r\n"));
  const struct {
    std::vector<std::string> args;
    bool stdin_is_folder;
    std::string out;
  } cases[] = {
      {{"-i", e2e::seen(folder.path())}, false, file_error},
      {{"-v", "-i", e2e::seen(folder.path())}, false, file_error},
      {{"-v", "-i", missing}, false, "ERROR: Failed to open input file '" + missing + "'\n"},
      {{}, true, stdin_error},
      {{"-v", "**"}, true, stdin_error},
      {{"-v", "-i", listed, "**/*.c"}, false, "'\\b.h' is not in the allow list\n"},
  };
  for (const auto &c : cases) {
    e2e::Invocation call{c.args, "cmd\n", temp.path()};
    call.stdin_folder = c.stdin_is_folder ? folder.path() : "";
    e2e::Result result = e2e::run(call);
    EXPECT_EQ(result.out, text(c.out)) << c.out;
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(result.code, 1u) << c.out;
    EXPECT_TRUE(temp.listing().empty()) << c.out;
  }
}

// Enough files for a helper thread, in an address space too small for its
// stack: the status queries must still be made, by the calling thread. The
// limit leaves the run itself about 2 MB to spare.
TEST(Input, ALargeCommitPassesWhereNoThreadCanStart) {
#ifdef __SANITIZE_ADDRESS__
  GTEST_SKIP() << "a sanitizer's shadow memory alone is larger than the limit";
#endif
  if (e2e::is_wine())
    GTEST_SKIP() << "the limit is sized for the native build";
  e2e::ScratchFolder temp;
  e2e::ScratchFolder workspace;
  std::string input = "cmd\n";
  for (int i = 0; i < 9000; ++i) {
    std::string name = "src/f" + std::to_string(i) + ".c";
    workspace.write(name, "x");
    input += "ws\\\\src\\f" + std::to_string(i) + ".c\n\\p\\src\\f" + std::to_string(i) + ".c\n";
  }
  e2e::Invocation call{{"-x", "**"}, input, temp.path(), workspace.path()};
  call.address_space_limit = 12000 * 1024;
  e2e::Result result = e2e::run(call);
  EXPECT_EQ(result.err, "");
  EXPECT_EQ(result.code, 0u);
  EXPECT_TRUE(result.out.ends_with("Skipping '\\p\\src\\f8999.c'\n"
                                   "No files to check - exiting code 0\n"))
      << result.out.substr(0, 500);
}

} // namespace
