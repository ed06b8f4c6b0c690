// Reading the commit: an input that cannot be read to its end.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "e2e/harness.h"

namespace {

using e2e::text;

// A failed read ends the run before anything else, in both modes: nothing
// is created in TEMP and no "Exiting code" line is printed.
TEST(Input, AnInputThatCannotBeReadIsAnError) {
  e2e::ScratchFolder temp;
  e2e::ScratchFolder folder;
  const std::string file_error =
      "ERROR: Failed to open input file '" + e2e::seen(folder.path()) + "'\n";
  const std::string stdin_error = "ERROR: Failed to read standard input\n";
  const struct {
    std::vector<std::string> args;
    bool stdin_is_folder;
    std::string out;
  } cases[] = {
      {{"-i", e2e::seen(folder.path())}, false, file_error},
      {{"-v", "-i", e2e::seen(folder.path())}, false, file_error},
      {{}, true, stdin_error},
      {{"-v", "**"}, true, stdin_error},
  };
  for (const auto &c : cases) {
    e2e::Conditions conditions;
    if (c.stdin_is_folder)
      conditions.stdin_folder = folder.path();
    e2e::Result result = e2e::run({c.args, "cmd\n", temp.path(), {}, ""}, conditions);
    EXPECT_EQ(result.out, text(c.out)) << c.out;
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(result.code, 1u) << c.out;
    EXPECT_TRUE(temp.listing().empty()) << c.out;
  }
}

} // namespace
