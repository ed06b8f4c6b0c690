// Reading the commit: an input that cannot be read to its end. (A commit
// whose status queries cannot be spread over threads is the reconciliation
// unit test's.)
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "e2e/harness.h"

namespace {

using e2e::text;

// A failed read ends the run before anything else, in both modes: nothing
// is created in TEMP and no "Exiting code" line is printed. "<folder>" in
// the arguments and the output stands for a folder, "<missing>" for a file
// in it that does not exist, "<listed>" for one that holds two versions.
struct Unreadable {
  const char *name;
  std::vector<std::string> args;
  bool stdin_is_folder;
  std::string out;
};

class Input : public testing::TestWithParam<Unreadable> {};

TEST_P(Input, EndsTheRunWithCodeOne) {
  e2e::ScratchFolder temp;
  e2e::ScratchFolder folder;
  const std::pair<std::string, std::string> marks[] = {
      {"<folder>", e2e::seen(folder.path())},
      {"<missing>", e2e::seen(folder.path()) + (e2e::is_wine() ? "\\" : "/") + "none"},
      {"<listed>", e2e::seen(folder.write("input.txt", "\\a.c\r\n\\b.h\r\n"))},
  };
  auto placed = [&](std::string text) {
    for (const auto &[mark, value] : marks) {
      if (std::size_t at = text.find(mark); at != std::string::npos)
        text.replace(at, mark.size(), value);
    }
    return text;
  };
  e2e::Invocation call{{}, "cmd\n", temp.path()};
  for (const std::string &arg : GetParam().args)
    call.args.push_back(placed(arg));
  call.stdin_folder = GetParam().stdin_is_folder ? folder.path() : "";
  e2e::Result result = e2e::run(call);
  EXPECT_EQ(result.out, text(placed(GetParam().out)));
  EXPECT_EQ(result.err, "");
  EXPECT_EQ(result.code, 1u);
  EXPECT_TRUE(temp.listing().empty());
}

// clang-format off
const Unreadable kUnreadable[] = {
  {"FileIsAFolder", {"-i", "<folder>"}, false, "ERROR: Failed to open input file '<folder>'\n"},
  {"FileIsAFolderVersionsOnly", {"-v", "-i", "<folder>"}, false, "ERROR: Failed to open input file '<folder>'\n"},
  {"MissingFile", {"-v", "-i", "<missing>"}, false, "ERROR: Failed to open input file '<missing>'\n"},
  {"StandardInputIsAFolder", {}, true, "ERROR: Failed to read standard input\n"},
  {"StandardInputIsAFolderVersionsOnly", {"-v", "**"}, true, "ERROR: Failed to read standard input\n"},
  // An input file that can be read is judged like standard input.
  {"FileReadLikeStandardInput", {"-v", "-i", "<listed>", "**/*.c"}, false, "'\\b.h' is not in the allow list\n"},
};
// clang-format on

INSTANTIATE_TEST_SUITE_P(, Input, testing::ValuesIn(kUnreadable), e2e::row_name<Unreadable>);

} // namespace
