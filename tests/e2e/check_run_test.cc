// Whole check runs: staging, the checker with WORKDIR, relayed output,
// cleanup, and the exit code, with what each kind of end leaves in TEMP.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "e2e/harness.h"

namespace {

using e2e::text;
using e2e::without_pid;

struct CommittedFile {
  std::string relative; // below the workspace
  std::string version;
  std::string content;
};

class CheckRun : public ::testing::Test {
protected:
  // The protocol for committing FILES, checked by the fake checker with STEPS.
  std::string commit(const std::vector<CommittedFile> &files,
                     const std::vector<std::string> &steps) {
    std::string input = "clientpath: ws\n" + e2e::checker(steps) + "\n";
    for (const CommittedFile &file : files) {
      std::string path = workspace_.write(file.relative, file.content);
      input += "ws\\\\" + e2e::backslashed(path) + "\n" + file.version + "\n";
    }
    return input;
  }

  e2e::Result run(std::vector<std::string> args, const std::string &input) {
    return e2e::run({std::move(args), input, temp_.path(), {}, ""});
  }

  // The staging folder as the program names it, with the pid replaced.
  std::string staging_folder() const { return e2e::seen(temp_.path()) + "\\tvk<pid>.tmp"; }
  std::string workdir() const {
    return e2e::is_wine() ? staging_folder() : temp_.path() + "/tvk<pid>.tmp";
  }
  std::vector<std::string> temp_listing() const {
    std::vector<std::string> entries;
    for (const std::string &entry : temp_.listing())
      entries.push_back(without_pid(entry));
    return entries;
  }

  e2e::ScratchFolder temp_;
  e2e::ScratchFolder workspace_;
};

const std::vector<CommittedFile> kOneFile = {{"src/A.java", "\\project\\src\\A.java", "class A"}};

TEST_F(CheckRun, ExitCodesFromTheCheckerAndItsOutput) {
  struct Case {
    const char *name;
    std::vector<std::string> args;
    std::vector<std::string> steps;
    std::string out;
    std::string err;
    std::uint32_t code;
  } cases[] = {
      {"checker code wins over -o and -e",
       {"-o", "-e"},
       {"out:o\\n", "err:e\\n", "exit:7"},
       "o\n",
       "e\n",
       7},
      {"5 before 6", {"-o", "-e"}, {"out:o\\n", "err:e\\n"}, "o\nExiting code 5\n", "e\n", 5},
      {"-o ignores standard error", {"-o"}, {"err:e\\n"}, "", "e\n", 0},
      {"-e ignores standard output", {"-e"}, {"out:o\\n"}, "o\n", "", 0},
      {"6", {"--stdout"}, {"out:o\\n"}, "o\nExiting code 6\n", "", 6},
      {"silent checker", {"-o", "-e"}, {}, "", "", 0},
      {"output without -o or -e", {}, {"out:o\\n", "err:e\\n"}, "o\n", "e\n", 0},
  };
  for (const Case &c : cases) {
    e2e::Result result = run(c.args, commit(kOneFile, c.steps));
    EXPECT_EQ(result.out, text(c.out)) << c.name;
    EXPECT_EQ(result.err, text(c.err)) << c.name;
    EXPECT_EQ(result.code, c.code) << c.name;
    EXPECT_EQ(temp_listing(), std::vector<std::string>{}) << c.name;
  }
}

// A trigger written in C starts the gate with its runtime's spawn call, which
// hands the gate a table of inherited handles. The checker must still write
// into the gate's pipes, whichever way the gate was started.
TEST_F(CheckRun, TheCheckerWritesIntoThePipesHoweverTheGateWasStarted) {
  for (bool create_process : {false, true}) {
    e2e::Invocation invocation;
    invocation.args = {"-e"};
    invocation.input = commit(kOneFile, {"out:o\\n", "err:e\\n"});
    invocation.temp = temp_.path();
    invocation.create_process = create_process;
    e2e::Result result = e2e::run(invocation);
    EXPECT_EQ(result.out, text("o\nExiting code 5\n")) << create_process;
    EXPECT_EQ(result.err, text("e\n")) << create_process;
    EXPECT_EQ(result.code, 5u) << create_process;
  }
}

// A write of zero bytes is not the end of the checker's output.
TEST_F(CheckRun, AnEmptyWriteDoesNotEndTheOutput) {
  e2e::Result result =
      run({"-o"}, commit(kOneFile, {"out:before\\n", "empty-write", "sleep:100", "out:after\\n"}));
  EXPECT_EQ(result.out, text("before\nafter\nExiting code 6\n"));
  EXPECT_EQ(result.code, 6u);
}

TEST_F(CheckRun, ExitCodesOfEveryWidth) {
  e2e::Result result = run({}, commit(kOneFile, {"exit:70000"}));
  // Windows hands the whole 32-bit code on; POSIX keeps the low 8 bits.
  EXPECT_EQ(result.code, e2e::is_wine() ? 70000u : 70000u % 256);
  EXPECT_EQ(result.out, "");
}

TEST_F(CheckRun, TheCheckerSeesTheStagedFilesAtTheirVersionPaths) {
  std::vector<CommittedFile> files = {
      {"src/A.java", "\\project\\src\\A.java", "class A"},
      {"src/test/T.java", "\\project\\test\\T.java", "class T {}"},
      {"lib/x.c", "\\project\\lib\\x.c", "int x;\n"},
  };
  e2e::Result result =
      run({"**/*.java", "**/*.c", "-x", "**/test/**"}, commit(files, {"list", "env:WORKDIR"}));
  EXPECT_EQ(without_pid(result.out),
            text("Skipping '\\project\\test\\T.java'\nproject/lib/x.c 7\nproject/src/A.java 7\n"
                 "WORKDIR=" +
                 workdir() + "\n"));
  EXPECT_EQ(result.code, 0u);
  EXPECT_EQ(temp_listing(), std::vector<std::string>{});
}

TEST_F(CheckRun, ACheckerThatCannotStart) {
  std::string input = "missing-checker-program --flag\nws\\\\" +
                      e2e::backslashed(workspace_.write("a.c", "x")) + "\n\\a.c\n";
  e2e::Result result = run({"-e"}, input);
  EXPECT_EQ(result.out, text("ERROR: Execute - Couldn't create process, missing-checker-program "
                             "--flag\nERROR: Failed to start 'missing-checker-program --flag'\n"
                             "Exiting code 4\n"));
  EXPECT_EQ(result.code, 4u);
  EXPECT_EQ(temp_listing(), std::vector<std::string>{}) << "the staged copy is removed";
}

TEST_F(CheckRun, WhatTheCheckerWritesStays) {
  e2e::Result result = run({}, commit(kOneFile, {"touch:made/by/checker.txt"}));
  EXPECT_EQ(result.code, 0u);
  EXPECT_EQ(temp_listing(), (std::vector<std::string>{"tvk<pid>.tmp/", "tvk<pid>.tmp/made/",
                                                      "tvk<pid>.tmp/made/by/",
                                                      "tvk<pid>.tmp/made/by/checker.txt"}));
}

TEST_F(CheckRun, NothingSelected) {
  e2e::Result result = run({"**/*.c"}, commit(kOneFile, {"out:never\\n"}));
  EXPECT_EQ(result.out, text("Skipping '\\project\\src\\A.java'\n"
                             "No files to check - exiting code 0\n"));
  EXPECT_EQ(result.code, 0u);
  EXPECT_EQ(temp_listing(), std::vector<std::string>{});
}

TEST_F(CheckRun, DumpLogWithoutStripStaysEmpty) {
  e2e::Result result = run({"-d"}, commit(kOneFile, {"out:hello\\n"}));
  EXPECT_EQ(without_pid(result.out),
            text("writing log to '" + e2e::seen(temp_.path()) + "\\tvk<pid>.log'\nhello\n"));
  EXPECT_EQ(result.code, 0u);
  ASSERT_EQ(temp_listing(), std::vector<std::string>{"tvk<pid>.log"});
  EXPECT_EQ(std::filesystem::file_size(temp_.path() + "/" + temp_.listing()[0]), 0u);
}

TEST_F(CheckRun, StripAndDump) {
  // The checker names the staged file by its full path, in the form the
  // system gives it.
  std::string separator = e2e::is_wine() ? "\\\\" : "/";
  e2e::Result result =
      run({"-s", "-d", "-o"}, commit(kOneFile, {"workdir:" + separator + "project" + separator +
                                                    "src" + separator + "A.java:1: bad\\n",
                                                "err:plain\\n"}));
  std::string line = e2e::is_wine() ? "project\\src\\A.java:1: bad" : "project/src/A.java:1: bad";
  EXPECT_EQ(without_pid(result.out), text("writing log to '" + e2e::seen(temp_.path()) +
                                          "\\tvk<pid>.log'\n" + line + "\nExiting code 6\n"));
  EXPECT_EQ(result.err, text("plain\n"));
  EXPECT_EQ(result.code, 6u);
  ASSERT_EQ(temp_listing(), std::vector<std::string>{"tvk<pid>.log"});
  std::ifstream log(temp_.path() + "/" + temp_.listing()[0], std::ios::binary);
  std::stringstream content;
  content << log.rdbuf();
  std::string logged = content.str();
  std::string first = text(line + "\n"), second = text("plain\n");
  EXPECT_TRUE(logged == first + second || logged == second + first) << logged;
}

TEST_F(CheckRun, CountsAreTakenBeforeStripping) {
  std::string separator = e2e::is_wine() ? "\\\\" : "/";
  e2e::Result result = run({"-s", "-o"}, commit(kOneFile, {"workdir:" + separator + "\\n"}));
  EXPECT_EQ(result.out, text("\nExiting code 6\n"));
  EXPECT_EQ(result.code, 6u);
}

TEST_F(CheckRun, BackgroundProcessesAndStandardInput) {
  e2e::Result result = run({}, commit(kOneFile, {"stdin", "background:300", "out:first\\n"}));
  EXPECT_EQ(result.out, text("stdin:0\nfirst\nlate\n"));
  EXPECT_EQ(result.code, 0u);
}

// The example checker through the gate, as the README shows it.
TEST_F(CheckRun, TheExampleStyleChecker) {
  std::string input = "\"" + e2e::seen(e2e::stylecheck_path()) + "\"\n";
  std::string file = workspace_.write("x.c", "int a;\n\tint b; \n");
  input += "ws\\\\" + e2e::backslashed(file) + "\n\\project\\x.c\n";
  e2e::Result result = run({"-s", "-e", "**/*.c"}, input);
  std::string path = e2e::is_wine() ? "project\\x.c" : "project/x.c";
  EXPECT_EQ(result.err, text(path + ":2: tab character\n" + path + ":2: trailing blank\n"));
  EXPECT_EQ(result.out, text("trelvik-stylecheck: 1 files checked, 2 faults\n"));
  EXPECT_EQ(result.code, 1u);
}

} // namespace
