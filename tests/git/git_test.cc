// trelvik-git end to end: each case makes a real repository in a scratch
// folder, commits a .trelvik whose check lists every file the gate staged
// with its content (and fails on one that holds "BAD"), prepares the case
// and runs it. Unless a case commits, the work tree, the index and the
// stash list must be byte-identical afterwards, and TEMP must be empty.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <sys/wait.h>
#include <vector>

namespace {

struct Shell {
  std::string out;
  int code = -1;
};

class Scratch {
public:
  Scratch() {
    char name[] = "/tmp/tvkgit-test-XXXXXX";
    root_ = mkdtemp(name);
    std::filesystem::create_directories(root_ + "/tmp");
    std::ofstream(root_ + "/check.sh")
        << ("cd \"$WORKDIR\" || exit 9\n"
            "find . -type f | sort | while read -r f; do printf '%s: %s\\n' "
            "\"${f#./}\" \"$(cat \"$f\")\"; "
            "done\n! grep -rq BAD .\n");
    Shell made = sh("git init -q && printf '[check \"list\"]\\n\\tcommand = sh " + root_ +
                    "/check.sh\\n' >.trelvik && git add .trelvik && git commit -qm init");
    EXPECT_EQ(made.code, 0) << made.out;
  }
  ~Scratch() { std::filesystem::remove_all(root_); }

  // Runs SCRIPT with sh in the repository, both output streams captured.
  Shell sh(const std::string &script) const {
    const char *bin = std::getenv("TRELVIK_GIT_TEST_BIN");
    std::string command = "cd " + root_ +
                          " && mkdir -p r && cd r && export PATH=" + std::string(bin ? bin : ".") +
                          ":$PATH TEMP=" + root_ + "/tmp HOME=" + root_ +
                          " GIT_CONFIG_NOSYSTEM=1 GIT_AUTHOR_NAME=t GIT_AUTHOR_EMAIL=t@t "
                          "GIT_COMMITTER_NAME=t GIT_COMMITTER_EMAIL=t@t && (:;" +
                          script + ") 2>&1";
    Shell result;
    FILE *pipe = popen(command.c_str(), "r");
    char buffer[4096];
    for (std::size_t got; (got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;)
      result.out.append(buffer, got);
    int status = pclose(pipe);
    result.code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
  }

  // The work tree, the index and the stash list, as checksums.
  std::string snapshot() const {
    return sh("find . -path ./.git -prune -o \\( -type f -o -type l \\) -print | LC_ALL=C sort | "
              "while read -r f; do sha1sum \"$f\"; done; sha1sum .git/index; git stash list")
        .out;
  }
  bool temp_empty() const { return std::filesystem::is_empty(root_ + "/tmp"); }

private:
  std::string root_;
};

struct Case {
  const char *name;
  std::string setup; // in the repository after its first commit
  std::string run;   // its exit status is the case's
  int code;
  std::vector<std::string> want; // in the output, in this order
  std::vector<std::string> reject;
  bool untouched = true;
};

// A .trelvik of two checks whose commands end with exit codes FIRST and 3.
std::string two_checks(const char *first) {
  return std::string("printf '[check \"one\"]\\ncommand = sh -c \\\\\"exit ") + first +
         "\\\\\"\\n[check \"two\"]\\ncommand = sh -c \\\\\"exit 3\\\\\"\\n' >.trelvik; echo x "
         ">a.c; "
         "git add a.c";
}

const char *const kFakeGit = "mkdir ../only; ln -s \"$(command -v git)\" ../only/git; "
                             "ln -s \"$(command -v trelvik-git)\" ../only/trelvik-git";

// clang-format off
const std::vector<Case> kCases = {
  {"partly staged: the staged bytes, not the work tree's", "echo ok >a.c; git add a.c; echo BAD >a.c",
   "trelvik-git run", 0, {"check 'list'", "a.c: ok"}, {"BAD"}},
  {"partly staged, the other way round", "echo BAD >a.c; git add a.c; echo ok >a.c",
   "trelvik-git run", 1, {"a.c: BAD", "check 'list' failed with exit code 1"}, {}},
  {"every file pairs with its own path, in both orders",
   "mkdir a sub; for f in a/x.c x.c b.c sub/b.c; do echo $f >$f; done; git add .",
   "trelvik-git run", 0, {"a/x.c: a/x.c", "b.c: b.c", "sub/b.c: sub/b.c", "x.c: x.c"}, {"multiple", "ERROR"}},
  {"deleted and renamed files",
   "echo g >gone.c; echo o >old.c; git add .; git commit -qm c; git rm -q gone.c; git mv old.c new.c",
   "trelvik-git run", 0, {"new.c: o"}, {"gone.c", "old.c"}},
  {"a link that became a file is checked", "ln -s x t.c; git add t.c; git commit -qm l; rm t.c; echo BAD >t.c; git add t.c",
   "trelvik-git run", 1, {"t.c: BAD"}, {}},
  {"names with blanks, non-ASCII bytes and a leading dash",
   "echo 1 >'with blank.c'; echo 2 >\"$(printf '\\303\\274.c')\"; echo 3 >./-dash.c; git add .",
   "trelvik-git run", 0, {"-dash.c: 3", "with blank.c: 1", "\xc3\xbc.c: 2"}, {}},
  {"run from a sub-folder", "mkdir -p s/t; echo ok >s/t/a.c; git add s",
   "cd s/t && trelvik-git run", 0, {"s/t/a.c: ok"}, {}},
  {"--all checks every tracked file, as staged", "echo BAD >a.c; git add a.c; git commit -qm c; echo ok >a.c",
   "trelvik-git run && trelvik-git run --all", 1, {"no files to check", "a.c: BAD"}, {}},
  {"two checks, the second failing", two_checks("0"),
   "trelvik-git run", 3, {"check 'one'", "check 'two' failed with exit code 3"}, {"'one' failed"}},
  {"two checks failing: the first one's exit code", two_checks("4"),
   "trelvik-git run", 4, {"'one' failed with exit code 4", "'two' failed with exit code 3"}, {}},
  {"links and submodules are skipped, saying so",
   "ln -s x link.c; echo ok >a.c; git add .; git update-index --add --cacheinfo 160000,$(git rev-parse HEAD),mod",
   "trelvik-git run", 0, {"skipping symbolic link 'link.c'", "skipping submodule 'mod'", "a.c: ok"}, {}},
  {"a backslash or a line end in a name blocks the commit",
   "echo 1 >'a\\b.c'; echo 2 >\"$(printf 'n\\nl.c')\"; echo 3 >ok.c; git add .",
   "trelvik-git run", 1, {"'a\\\\b.c' cannot be checked", "'n\\nl.c' cannot be checked"}, {"ok.c:"}},
  {"not inside a work tree: in .git, outside any repository", "",
   "(cd .git && trelvik-git run); cd .. && trelvik-git run", 1,
   {"trelvik-git: not inside a git work tree\n", "trelvik-git: not inside a git work tree\n"}, {}},
  {"no .trelvik", "git rm -q .trelvik; echo a >a.c; git add a.c",
   "trelvik-git run", 1, {"trelvik-git: no .trelvik at the top of the work tree\n"}, {}},
  {"a check without a command", "printf '[check \"x\"]\\ninclude = *.c\\n' >.trelvik",
   "trelvik-git run", 1, {"trelvik-git: .trelvik: check 'x' has no command\n"}, {}},
  {"an unknown key", "printf '[check \"x\"]\\ncommand = true\\nexlude = *.c\\n' >.trelvik",
   "trelvik-git run", 1, {"check 'x': unknown key 'exlude'"}, {}},
  {"trelvik not found", std::string(kFakeGit) + "; echo a >a.c; git add a.c",
   "PATH=$PWD/../only trelvik-git run", 1, {"trelvik-git: trelvik cannot be started: it must be on PATH\n"}, {}},
  {"patterns and options reach the gate",
   "printf '[check \"c\"]\\ncommand = sh ../check.sh\\ninclude = **/*.C\\nexclude = **/test/**\\n"
   "ignore-case\\nstrip = no\\n' >.trelvik; mkdir test; echo 1 >a.c; echo 2 >test/b.c; echo 3 >c.h; git add .",
   "trelvik-git run", 0, {"a.c: 1"}, {"b.c:", "c.h:"}},
  {"the hook blocks a failing commit", "trelvik-git install; echo BAD >a.c; git add a.c",
   "git commit -qm c; c=$?; echo commits=$(git rev-list --count HEAD); exit $c", 1,
   {"a.c: BAD", "commits=1"}, {}, false},
  {"the hook lets a passing commit through, installed twice",
   "trelvik-git install; trelvik-git install; echo ok >a.c; git add a.c",
   "git commit -qm c; c=$?; echo commits=$(git rev-list --count HEAD); exit $c", 0,
   {"a.c: ok", "commits=2"}, {}, false},
  {"another tool's hook stays unless forced", "printf '#!/bin/sh\\nexit 0\\n' >.git/hooks/pre-commit",
   "trelvik-git install; cat .git/hooks/pre-commit; trelvik-git install --force && cat .git/hooks/pre-commit", 0,
   {"is a hook of another tool; --force replaces it", "exit 0", "installed .git/hooks/pre-commit",
    "exec trelvik-git run"}, {}},
  // Unless a check says otherwise, the staging folder is stripped from what it prints.
  {"strip by default", "printf '[check \"p\"]\\ncommand = sh -c \\\\\"echo $WORKDIR/x\\\\\"\\n' >.trelvik; echo a >a.c; git add .",
   "trelvik-git run", 0, {"check 'p'", "\nx\n"}, {"tvk"}},
  {"core.hooksPath is honoured", "git config core.hooksPath hooks",
   "mkdir s && cd s && trelvik-git install && test -x ../hooks/pre-commit", 0,
   {"installed ../hooks/pre-commit"}, {}, false},
};
// clang-format on

TEST(TrelvikGit, Cases) {
  for (const Case &c : kCases) {
    SCOPED_TRACE(c.name);
    Scratch scratch;
    Shell prepared = scratch.sh(c.setup);
    ASSERT_EQ(prepared.code, 0) << prepared.out;
    std::string before = scratch.snapshot();
    Shell ran = scratch.sh(c.run);
    EXPECT_EQ(ran.code, c.code) << ran.out;
    std::size_t at = 0;
    for (const std::string &want : c.want) {
      std::size_t found = ran.out.find(want, at);
      EXPECT_NE(found, std::string::npos) << "wanted \"" << want << "\" in:\n" << ran.out;
      at = found == std::string::npos ? at : found + want.size();
    }
    for (const std::string &reject : c.reject)
      EXPECT_EQ(ran.out.find(reject), std::string::npos) << reject << " in:\n" << ran.out;
    if (c.untouched) {
      EXPECT_EQ(scratch.snapshot(), before);
    }
    EXPECT_TRUE(scratch.temp_empty());
  }
}

} // namespace
