// trelvik-git end to end: each case makes a real repository in a scratch
// folder, commits a .trelvik whose check lists every file the gate staged
// with its content (and fails on one that holds "BAD"), prepares the case
// and runs it. Unless a case commits, the work tree, the index and the
// stash list must be byte-identical afterwards, and TEMP must be empty.
// Every case is a test of its own; the real checkers (shellcheck, flake8,
// clang-format, cppcheck, yamllint) must be on PATH.
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
    // The listing check: every staged file with its content, from the
    // folder it starts in.
    std::ofstream(root_ + "/check.sh")
        << "find . -type f | sort | while read -r f; do printf '%s: %s\\n' \"${f#./}\" "
           "\"$(cat \"$f\")\"; done\n! grep -rq BAD .\n";
    // The arguments check: each argument in brackets; fails on a file
    // that holds BAD.
    std::ofstream(root_ + "/args.sh")
        << "#!/bin/sh\nprintf '[%s]\\n' \"$@\"\n! grep -q BAD -- \"$@\"\n";
    Shell made = sh("git init -q && printf '[check \"list\"]\\n\\tcommand = sh " + root_ +
                    "/check.sh\\n' >.trelvik && git add .trelvik && git commit -qm init");
    EXPECT_EQ(made.code, 0) << made.out;
  }
  ~Scratch() { std::filesystem::remove_all(root_); }

  // Runs SCRIPT with sh in the repository, both output streams captured;
  // $T is the scratch folder, where check.sh lies.
  Shell sh(const std::string &script) const {
    const char *bin = std::getenv("TRELVIK_GIT_TEST_BIN");
    std::string command = "cd " + root_ + " && mkdir -p r && cd r && export T=" + root_ +
                          " PATH=" + std::string(bin ? bin : ".") + ":$PATH TEMP=" + root_ +
                          "/tmp HOME=" + root_ +
                          " EXAMPLE='" TRELVIK_GIT_EXAMPLE "'"
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
    return sh("find . -path ./.git -prune -o \\( -type f -o -type l \\) -print0 | LC_ALL=C sort -z "
              "| "
              "xargs -0 sha1sum; sha1sum .git/index; git stash list")
        .out;
  }
  // TEMP is empty, and nothing was made beside it ("tmp" + a name).
  bool temp_empty() const {
    for (const auto &entry : std::filesystem::directory_iterator(root_)) {
      std::string name = entry.path().filename().string();
      if (name != "tmp" && name.rfind("tmp", 0) == 0)
        return false;
    }
    return std::filesystem::is_empty(root_ + "/tmp");
  }

private:
  std::string root_;
};

struct Case {
  const char *name;  // the test's name
  std::string setup; // in the repository after its first commit
  std::string run;   // its exit status is the case's
  int code;
  std::vector<std::string> want; // in the output, in this order
  std::vector<std::string> reject = {};
  bool untouched = true;
};

// A shell command that writes TEXT as .trelvik ($T and $PWD expanded).
std::string trelvik(const std::string &text) {
  return "cat >.trelvik <<EOF\n" + text + "EOF\n";
}

const char *const kFakeGit = "mkdir ../only; ln -s \"$(command -v git)\" ../only/git; "
                             "ln -s \"$(command -v trelvik-git)\" ../only/trelvik-git";

// Files for the real checkers, committed with their configuration; the
// checks are the sample .trelvik's ($EXAMPLE).
const char *const kToolFiles = R"(mkdir -p src legacy vendor
printf 'disable=SC2086\n' >.shellcheckrc
printf '[flake8]\nper-file-ignores =\n    legacy/*.py: F401\n' >setup.cfg
printf 'BasedOnStyle: LLVM\nIndentWidth: 8\nAllowShortFunctionsOnASingleLine: None\n' >.clang-format
printf 'extends: relaxed\nignore: |\n  vendor/\n' >.yamllint
printf '#define N 4\n' >src/size.h
printf 'int f(void) {\n        return 0;\n}\n' >src/ok.c
printf 'import os\n' >legacy/old.py
printf 'a:   [1,2]\n' >vendor/v.yml
git add -A && git commit -qm tools
)";

std::string with_tools(const std::string &then) {
  return std::string(kToolFiles) + "cp \"$EXAMPLE\" .trelvik && " + then;
}

// A bare server with trelvik-git's pre-receive hook, the repository's
// first commit pushed to its main branch; git commits with "commit NAME".
const char *const kServer =
    "git init -q --bare ../srv.git && git remote add origin ../srv.git && git push -q origin "
    "HEAD:main 2>/dev/null && (cd ../srv.git && trelvik-git install --hook pre-receive) "
    ">/dev/null; "
    "commit() { git add -A && git commit -qm \"$1\"; }; ";

// Pushes ARGUMENTS, then prints "pushed=<exit code>" and the commits the
// server's main branch holds; exits with the push's code.
std::string push(const std::string &arguments) {
  return "git push " + arguments +
         " 2>&1; c=$?; echo pushed=$c; echo main=$(git -C ../srv.git "
         "rev-list --count main); exit $c";
}

// clang-format off
const Case kCases[] = {
  {"PartlyStagedStagedBytes", "echo ok >a.c; git add a.c; echo BAD >a.c",
   "trelvik-git run", 0, {"check 'list'", "a.c: ok"}, {"BAD"}},
  {"EveryFileOwnPath",
   "mkdir a sub; for f in a/x.c x.c b.c sub/b.c; do echo $f >$f; done; git add .",
   "trelvik-git run", 0, {"a/x.c: a/x.c", "b.c: b.c", "sub/b.c: sub/b.c", "x.c: x.c"}, {"multiple", "ERROR"}},
  {"DeletedAndRenamed",
   "echo g >gone.c; echo o >old.c; git add .; git commit -qm c; git rm -q gone.c; git mv old.c new.c",
   "trelvik-git run", 0, {"new.c: o"}, {"gone.c", "old.c"}},
  {"LinkBecameFile", "ln -s x t.c; git add t.c; git commit -qm l; rm t.c; echo BAD >t.c; git add t.c",
   "trelvik-git run", 1, {"t.c: BAD"}},
  {"AllChecksEveryTrackedFileAsStaged", "echo BAD >a.c; git add a.c; git commit -qm c; echo ok >a.c",
   "trelvik-git run && trelvik-git run --all", 1, {"no files to check", "a.c: BAD"}},
  {"FirstFailingCheckGivesTheCode",
   trelvik("[check \"one\"]\ncommand = sh -c \\\\\"exit 4\\\\\"\n[check \"two\"]\ncommand = sh -c \\\\\"exit 3\\\\\"\n") +
   "echo x >a.c; git add a.c",
   "trelvik-git run", 4, {"'one' failed with exit code 4", "'two' failed with exit code 3"}},
  {"LinksAndSubmodulesSkipped",
   "ln -s x \"$(printf 'l \\001')\"; echo ok >a.c; git add .; git update-index --add --cacheinfo 160000,$(git rev-parse HEAD),mod",
   "trelvik-git run", 0, {"skipping symbolic link 'l \\x01'", "skipping submodule 'mod'", "a.c: ok"}},
  // An index entry whose object is not in the repository: nothing runs.
  {"MissingObject", "git update-index --add --info-only --cacheinfo 100644,$(echo gone | git hash-object --stdin),a.c",
   "trelvik-git run", 1, {"trelvik-git: git could not hand over an object: "}, {"check 'list'"}},
  {"UnusableNameSelectedBlocks",
   "echo 1 >'a\\b.c'; echo 2 >\"$(printf 'n\\nl.c')\"; echo 3 >ok.c; git add .",
   "trelvik-git run", 1, {"'a\\\\b.c' cannot be checked", "'n\\nl.c' cannot be checked"}, {"ok.c:"}},
  {"UnusableNameNoCheckSelects",
   trelvik("[check \"c\"]\ncommand = sh $T/check.sh\ninclude = **/*.c\n") + "echo 1 >'a\\b.txt'; echo ok >b.c; git add .",
   "trelvik-git run", 0, {"b.c: ok"}, {"cannot be checked"}},
  // Inside .git, outside the repository, or outside the work tree that
  // GIT_WORK_TREE names.
  {"NotInAWorkTree", "mkdir ../elsewhere",
   "(cd .git && trelvik-git run); (GIT_WORK_TREE=$PWD/../elsewhere trelvik-git run); cd .. && trelvik-git run", 1,
   {"trelvik-git: not inside a git work tree\n", "trelvik-git: not inside a git work tree\n",
    "trelvik-git: not inside a git work tree\n"}},
  // Each mistake in .trelvik is refused with a line that names it, and nothing runs.
  {"MistakesInTrelvik", "echo a >a.c; git add a.c", R"(for t in '[check "x"]\ninclude = *.c\n' \
     '[check "x"]\ncommand = true\nexlude = *.c\n' '[chek "lint"]\ncommand = true\n' \
     '[trelvik]\nsteging = x\n[check "c"]\ncommand = true\n' '[check "x"]\ncommand = true\ninclude = a(b\n' \
     '[check "x"\ncommand = true\n' '[check "x"]\ncommand = true\nexclude = -x\n' \
     '[check "x"]\ncommand = true\ninclude =\n'; do printf "$t" >.trelvik; trelvik-git run; echo code=$?; done
     git rm -qf .trelvik; trelvik-git run)", 1,
   {"trelvik-git: .trelvik: check 'x' has no command\ncode=1", "check 'x': unknown key 'exlude'\ncode=1",
    "trelvik-git: .trelvik: unknown section 'chek': ", "trelvik-git: .trelvik: [trelvik]: unknown key 'steging'\ncode=1",
    "check 'x': invalid pattern 'a(b'\ncode=1", "'git config --file .trelvik --null --list' failed with exit code ",
    "check 'x': the gate cannot take the pattern '-x'", "check 'x': the gate cannot take the pattern ''",
    "trelvik-git: no .trelvik at the top of the work tree\n"}, {"check 'x'\n"}, false},
  // git ends the value at the unquoted ';', leaving sh -c "cd $WORKDIR.
  {"SemicolonStartsAComment",
   trelvik("[check \"x\"]\ncommand = sh -c \\\\\"cd \\$WORKDIR; ! grep -rq BAD .\\\\\"\n") + "echo BAD >a.c; git add a.c",
   "trelvik-git run", 1, {"check 'x': the double quotes of its command do not pair up: git read 'sh -c \"cd $WORKDIR'",
    "';' and '#' outside double quotes start a comment"}},
  {"UsageForAnUnknownCommand", "", "trelvik-git -h >../h; echo help=$?; head -1 ../h; trelvik-git frob; trelvik-git run --all --all; trelvik-git install --hook; "
   "trelvik-git run --from-ref a --to-ref b c; trelvik-git run --from-ref a --from-ref b", 1,
   {"help=0\nusage: trelvik-git run [--all]", "usage: trelvik-git run [--all]", "usage: trelvik-git run [--all]",
    "usage: trelvik-git run [--all]", "usage: trelvik-git run [--all]", "usage: trelvik-git run [--all]"}},
  {"GitOrTrelvikNotFound", std::string(kFakeGit) + "; echo a >a.c; git add a.c; mkdir ../nogit; "
   "ln -s \"$(command -v trelvik-git)\" ../nogit/trelvik-git",
   "PATH=$PWD/../nogit trelvik-git run; echo code=$?; PATH=$PWD/../only trelvik-git run", 1,
   {"trelvik-git: git cannot be started: it must be on PATH\ncode=1\n",
    "trelvik-git: trelvik cannot be started: it must be on PATH\n"}},
  // Options reach the gate; an empty boolean is false, as git reads one;
  // arguments may follow a quoted one.
  {"OptionsReachTheGate",
   trelvik("[check \"c\"]\ncommand = \"sh -c \\\\\"echo \\$WORKDIR; echo x >&2\\\\\" sh\"\nstrip = no\nstderr-fails\n"
           "dump =\n") +
   "echo 1 >a.c; git add .",
   "trelvik-git run", 5, {"/tvk", "Exiting code 5"}},
  // Patterns are relative to the top of the work tree.
  {"PatternsFromTheTop",
   trelvik("[check \"top\"]\ncommand = sh $T/check.sh\ninclude = *.C\nignore-case\n"
           "[check \"below\"]\ncommand = sh $T/check.sh\ninclude = src/**/*.h\nexclude = **/test/**\n"
           "[check \"anchored\"]\ncommand = sh $T/check.sh\ninclude = /setup.cfg\n") +
   "mkdir -p sub src/x src/test; for f in a.c sub/b.c src/c.h src/x/d.h src/test/e.h setup.cfg sub/setup.cfg; "
   "do echo $f >$f; done; git add .",
   "trelvik-git run", 0,
   {"check 'top'", "a.c: a.c\ntrelvik-git: check 'below'\nsrc/c.h: src/c.h\nsrc/x/d.h: src/x/d.h\n",
    "check 'anchored'\nsetup.cfg: setup.cfg\n"}, {"sub/b.c:", "e.h:", "sub/setup.cfg:"}},
  {"NothingSelectedIsQuiet",
   trelvik("[check \"h\"]\ncommand = false\ninclude = **/*.h\n") +
   "for i in $(seq 300); do echo $i >f$i.c; done; git add .",
   "trelvik-git run", 0, {"trelvik-git: check 'h': no files to check\n"}, {"Skipping", "f1.c", "No files"}},
  // {files}: every name one argument, exactly as it is.
  {"FilesExactly",
   trelvik("[check \"a\"]\ncommand = sh $T/args.sh {files}\n") +
   "echo 1 >'a b.c'; echo 2 >'q\"uote.c'; echo 3 >./-d.c; echo 4 >\"$(printf '\\303\\274')\"; "
   "echo 5 >\"it's \\$x.c\"; git add .",
   "trelvik-git run", 0, {"[-d.c]\n[.trelvik]\n[a b.c]\n[it's $x.c]\n[q\"uote.c]\n[\xc3\xbc]\n"}},
  // Thousands of long paths: several batches, each file once, the context
  // with every batch, and a fault in the last batch (file-999.c sorts last)
  // blocks.
  // A context file that the check's include pattern names too, but that
  // the commit leaves alone, is still staged.
  {"ContextNamedByInclude", trelvik("[check \"c\"]\ncommand = sh $T/check.sh\ncontext = cfg\n") +
   "echo c >cfg; git add cfg; git commit -qm c; echo ok >a.c; git add a.c",
   "trelvik-git run", 0, {"a.c: ok\ncfg: c\n"}},
  {"FilesInBatches",
   trelvik("[check \"b\"]\ncommand = sh $T/batch.sh {files}\ninclude = **/*.c\ncontext = ctx.cfg\n") +
   "printf 'test -f ctx.cfg || exit 7\\necho BATCH $#\\nfor f; do echo \"F $f\"; done\\n! grep -q BAD \"$@\"\\n' "
   ">../batch.sh; d=$(printf 'folder-with-a-rather-long-name-%s/' 1 2); mkdir -p $d; echo c >ctx.cfg; "
   "for i in $(seq 3000); do echo $i >${d}file-$i.c; done; echo BAD >${d}file-999.c; git add .",
   "trelvik-git run >../o; c=$?; grep -c '^F ' ../o; grep -c '^F .*ctx.cfg' ../o; grep '^F ' ../o | sort -u | wc -l; "
   "grep -c '^BATCH' ../o; grep 'batch 3 of 3' ../o; exit $c", 1, {"3000\n0\n3000\n3\n", "batch 3 of 3"}},
  // Repository-local script: the program is found from the top of the work tree.
  {"RepositoryScript",
   trelvik(std::string("[check \"s\"]\ncommand = tools/args.sh {files}\ninclude = **/*.c\n")) +
   "mkdir -p tools s; cp $T/args.sh tools; chmod +x tools/args.sh; echo ok >s/a.c; git add .",
   "cd s && trelvik-git run", 0, {"[s/a.c]"}},
  // What the checker sees is the staged bytes and mode, whatever git's
  // view of the work tree.
  // A private folder left by an earlier run of the same process id.
  {"TakenPrivateFolderName", "echo ok >a.c; git add a.c; echo BAD >a.c",
   "sh -c 'mkdir $TEMP/tvkgit$$.tmp; echo $$ >../pid; exec trelvik-git run'; c=$?; "
   "rmdir $TEMP/tvkgit$(cat ../pid).tmp; exit $c", 0,
   {"a.c: ok"}},
  {"AssumeUnchanged", "echo BAD >a.c; git add a.c; echo ok >a.c; git update-index --assume-unchanged a.c",
   "trelvik-git run", 1, {"a.c: BAD"}},
  {"LineEndsConvertedByAttributes",
   "printf '*.txt text eol=crlf\\n' >.gitattributes; printf 'ok\\n' >a.txt; git add .; git commit -qm t; "
   "rm a.txt; git checkout a.txt; printf 'ok\\n' >b.txt; git add b.txt; printf 'ok\\r\\n' >b.txt",
   "grep -c $(printf '\\r') a.txt && trelvik-git run --all", 0, {"1\n", "a.txt: ok\nb.txt: ok\n"}, {"\r"}},
  {"ModeWithoutFileMode",
   trelvik("[check \"x\"]\ncommand = sh -c \\\\\"ls -l *.sh | cut -c1-4\\\\\"\n") +
   "git config core.fileMode false; echo a >x.sh; echo b >n.sh; chmod +x n.sh; git add .; "
   "git update-index --chmod=+x x.sh --chmod=-x n.sh",
   "trelvik-git run", 0, {"-rw-\n-rwx\n"}},
  {"SparseCheckout",
   "mkdir in out; echo ok >in/a.c; echo ok >out/b.c; git add .; git commit -qm s; git sparse-checkout set in; "
   "git update-index --cacheinfo 100644,$(echo BAD | git hash-object -w --stdin),out/b.c",
   "trelvik-git run; echo code=$?; trelvik-git run --all", 1, {"out/b.c: BAD", "code=1", "in/a.c: ok", "out/b.c: BAD"},
   {"does not match", "non-existant"}},
  // The check greps what is committed, not an untracked file.
  {"ConflictMarkersInTheCommitOnly",
   trelvik("[check \"m\"]\ncommand = sh -c \\\\\"! grep -rn '^<<<<<<< ' .\\\\\"\n") +
   "printf '<<<<<<< HEAD\\n' >notes.txt; echo ok >a.c; git add a.c",
   "trelvik-git run && printf '<<<<<<< x\\n' >b.c && git add b.c && trelvik-git run", 1,
   {"check 'm'\ntrelvik-git: check 'm'\n./b.c:1:<<<<<<< x"}, {"notes.txt"}, false},
  // The real checkers, finding their configuration through context and
  // judging the staged bytes of a partly staged file.
  {"ToolsPassAGoodCommit",
   with_tools("printf '#!/bin/sh\\necho $1\\n' >src/a.sh; printf 'x = 1\\n' >src/a.py; "
              "printf '#include \"size.h\"\\nint g(void) {\\n        int a[N];\\n        a[0] = 1;\\n"
              "        return a[0];\\n}\\n' >src/m.c; printf 'a: 1\\n' >a.yml; git add .; git commit -qm g"),
   "trelvik-git run --all", 0, {"check 'shellcheck'", "check 'yamllint'"}, {"failed", "tvk"}},
  {"ShellcheckBlocks", with_tools("printf '#!/bin/sh\\necho $(ls)\\n' >src/a.sh; git add .; "
                                   "printf '#!/bin/sh\\necho ok\\n' >src/a.sh"),
   "trelvik-git run", 1, {"In src/a.sh line 2:", "SC2046", "check 'shellcheck' failed"}, {"tvk"}},
  {"Flake8Blocks", with_tools("printf 'import sys\\n' >src/b.py; printf 'import re\\n' >legacy/new.py; git add ."),
   "trelvik-git run", 1, {"src/b.py:1:1: F401", "check 'flake8' failed"}, {"legacy", "tvk"}},
  {"ClangFormatBlocks", with_tools("printf 'int f(void) {\\n  return 0;\\n}\\n' >src/ok.c; git add .; "
                                    "printf 'int f(void) {\\n        return 1;\\n}\\n' >src/ok.c"),
   "trelvik-git run", 1, {"src/ok.c:", "code should be clang-formatted", "check 'clang-format' failed"}, {"tvk"}},
  {"CppcheckSeesCommittedHeaders",
   with_tools("printf '#include \"size.h\"\\nint g(void) {\\n        int a[N];\\n        a[N] = 0;\\n"
              "        return a[0];\\n}\\n' >src/m.c; git add ."),
   "trelvik-git run", 1, {"src/m.c:4:", "arrayIndexOutOfBounds", "check 'cppcheck' failed"}, {"tvk"}},
  {"YamllintBlocks", with_tools("printf 'a: [1,2]\\nb: 1\\nb: 2\\n' >c.yml; git add ."),
   "trelvik-git run", 1, {"c.yml", "key-duplicates", "check 'yamllint' failed"}, {"vendor", "tvk"}},
  // [trelvik] parallel: whole outputs in file order, the first failing
  // check's code in file order, a check that fails fast cuts no other.
  {"ParallelChecks",
   trelvik("[trelvik]\nparallel = yes\n[check \"slow\"]\ncommand = \"sh -c \\\\\"echo s1; sleep 1; echo s2\\\\\"\"\n"
           "[check \"fast\"]\ncommand = \"sh -c \\\\\"echo f; exit 3\\\\\"\"\n"
           "[check \"late\"]\ncommand = \"sh -c \\\\\"sleep 0.5; echo l; exit 4\\\\\"\"\n"
           "[check \"none\"]\ncommand = true\ninclude = *.h\n") + "echo a >a.c; git add a.c",
   "trelvik-git run", 3,
   {"trelvik-git: check 'slow'\ns1\ns2\ntrelvik-git: check 'fast'\nf\n"
    "trelvik-git: check 'fast' failed with exit code 3\ntrelvik-git: check 'late'\nl\n"
    "trelvik-git: check 'late' failed with exit code 4\ntrelvik-git: check 'none': no files to check\n"}},
  // Where the copies go: the folder [trelvik] staging names, else a private
  // folder in memory (XDG_RUNTIME_DIR, not when others may enter it) before
  // a TEMP on a disk.
  {"StagingPlaces",
   trelvik("[check \"t\"]\ncommand = sh -c \\\\\"echo \\$TEMP\\\\\"\n") +
   "echo a >a.c; git add a.c; x=$(mktemp -d /dev/shm/tvkgit-xdg.XXXXXX); mkdir ../stage; echo $x >../xdg",
   "x=$(cat ../xdg); XDG_RUNTIME_DIR=$x trelvik-git run; echo staged=$(ls -A $x); chmod 755 $x; "
   "echo open=$(XDG_RUNTIME_DIR=$x trelvik-git run | grep -c $x); rmdir $x; "
   "printf '[trelvik]\\nstaging = %s\\n' \"$PWD/../stage\" >>.trelvik; trelvik-git run; ls -A ../stage; "
   "git config -f .trelvik trelvik.staging a.c; trelvik-git run", 1,
   {"/dev/shm/tvkgit-xdg.", "staged=\nopen=0\n", "/../stage\n", "staging: 'a.c' is not a folder\n"}, {}, false},
  // On the server: pre-receive judges what each pushed ref brings.
  {"PushGood", std::string(kServer) + "echo ok >a.c; commit a", push("origin HEAD:main"), 0,
   {"remote: trelvik-git: refs/heads/main: checks from .trelvik of ", "remote: a.c: ok", "pushed=0", "main=2"},
   {"rejected"}},
  {"PushBadRejectedWithRefAndCheckFirst", std::string(kServer) + "echo BAD >a.c; commit a; echo ok >b.c; commit b",
   push("file://$PWD/../srv.git HEAD:main"), 1,
   {"remote: trelvik-git: push rejected: refs/heads/main: check 'list' failed",
    "remote: trelvik-git: refs/heads/main: checks from", "a.c: BAD", "pushed=1", "main=1"}},
  {"PushNewBranchOnlyItsOwnCommits",
   "echo BAD >old.c; git add old.c; git commit -qm old; " + std::string(kServer) + "echo ok >a.c; commit a",
   push("origin HEAD:refs/heads/topic"), 0, {"a.c: ok", "pushed=0"}, {"old.c"}},
  {"PushForcedUpdate", std::string(kServer) + "echo ok >a.c; commit a; git push -q origin HEAD:main 2>/dev/null; "
   "git reset -q --hard HEAD~; echo BAD >a.c; commit b",
   push("-f origin HEAD:main"), 1, {"push rejected: refs/heads/main", "a.c: BAD", "pushed=1", "main=2"}},
  {"PushDeletedBranchAndTags",
   std::string(kServer) + "echo BAD >a.c; commit a; git push -q origin HEAD~:refs/heads/gone 2>/dev/null; "
   "git tag -a -m t good HEAD~; git tag bad HEAD",
   "git push origin :gone good 2>&1; echo pushed=$?; git push origin bad 2>&1; echo pushed=$?", 0,
   {"refs/tags/good: checks from", "no files to check", "pushed=0", "push rejected: refs/tags/bad", "pushed=1"}},
  {"PushSeveralRefsRejectedWhole", std::string(kServer) + "echo ok >a.c; commit a; git branch good; echo BAD >b.c; commit b",
   push("origin HEAD:refs/heads/a-bad good:refs/heads/z-good") + "; ", 1,
   {"push rejected: refs/heads/a-bad: check 'list' failed", "pushed=1"}},
  // A pushed .trelvik cannot switch off the server's own checks.
  {"PushCannotDisableServerChecks",
   std::string(kServer) + "cp .trelvik ../checks; git -C ../srv.git config trelvik.checks \"$PWD/../checks\"; "
   "printf '[check \"list\"]\\ncommand = true\\n' >.trelvik; echo BAD >a.c; commit a",
   push("origin HEAD:main"), 1, {"checks from /", "/checks (trelvik.checks)", "a.c: BAD", "pushed=1"}},
  {"PushWithoutAnyChecks", std::string(kServer) + "git rm -q .trelvik; echo BAD >a.c; commit a",
   push("origin HEAD:main"), 0, {"refs/heads/main: nothing checked", "pushed=0"}},
  // A server with a work tree: the pushed objects are checked, not the files there.
  {"PushToAServerWithAWorkTree",
   "git clone -q . ../srv && (cd ../srv && echo BAD >a.c && git config receive.denyCurrentBranch ignore && "
   "trelvik-git install --hook pre-receive >/dev/null); echo ok >a.c; git add a.c; git commit -qm a",
   "git push ../srv HEAD:master 2>&1; echo pushed=$?; echo ok >../srv/a.c; echo BAD >a.c; git commit -qam b; "
   "git push ../srv HEAD:master 2>&1", 1, {"a.c: ok", "pushed=0", "push rejected", "a.c: BAD"}, {}, false},
  // Before a push, on the client.
  {"PrePushBlocks", "git init -q --bare ../srv.git; git remote add origin ../srv.git; trelvik-git install --hook pre-push; "
   "echo BAD >a.c; git add a.c; git commit -qm a",
   "git push origin HEAD:main 2>&1; echo pushed=$?; git -C ../srv.git rev-parse -q --verify main || exit 7", 7,
   {"trelvik-git: refs/heads/main: checks from .trelvik", "a.c: BAD", "pushed=1"}},
  // The remote's own commit is known when the push names a path, not a remote.
  {"PrePushOnlyWhatTheRemoteLacks",
   "git init -q --bare ../srv.git; git remote add origin ../srv.git; echo BAD >old.c; git add old.c; git commit -qm o; "
   "git push -q ../srv.git HEAD:main; trelvik-git install --hook pre-push; echo ok >a.c; git add a.c; git commit -qm a",
   "git push ../srv.git HEAD:main 2>&1 && git fetch -q origin && git push origin HEAD:refs/heads/new 2>&1", 0,
   {"a.c: ok", "no files to check"}, {"old.c"}},
  {"PrePushFromABareRepository", "echo BAD >a.c; git add a.c; git commit -qm a; git clone -q --bare . ../b.git; "
   "git init -q --bare ../srv.git; cd ../b.git && trelvik-git install --hook pre-push",
   "cd ../b.git && git push ../srv.git HEAD:main 2>&1; echo pushed=$?", 0, {"a.c: BAD", "pushed=1"}},
  // In CI, over a range of commits.
  {"RangeInAClone", "echo BAD >a.c; git add a.c; git commit -qm a; echo ok >b.c; git add b.c; git commit -qm b; "
   "git clone -q --no-local . ../c1; git clone -q --depth 1 --no-local . ../c2",
   "cd ../c1 && trelvik-git run --from-ref HEAD~ --to-ref HEAD; echo range=$?; trelvik-git run --from-ref HEAD~2 --to-ref HEAD; "
   "echo range=$?; cd ../c2 && trelvik-git run --from-ref HEAD~ --to-ref HEAD", 1,
   {"trelvik-git: checking what 'HEAD' changed since ", "b.c: ok", "range=0", "a.c: BAD", "range=1", "trelvik-git: no commit 'HEAD~' in this repository"}},
  {"RangeInABareRepository", "echo BAD >a.c; git add a.c; git commit -qm a; git clone -q --bare . ../b.git",
   "cd ../b.git && trelvik-git run --from-ref HEAD --to-ref HEAD && trelvik-git run --from-ref HEAD~ --to-ref HEAD", 1,
   {"no files to check", "a.c: BAD"}},
  {"HookBlocksABadCommitAndLetsAGoodOneThrough", "trelvik-git install && trelvik-git install && echo BAD >a.c && git add a.c",
   "git commit -qm c; echo code=$?; echo ok >a.c; git commit -qam c; c=$?; echo commits=$(git rev-list --count HEAD); exit $c",
   0, {"a.c: BAD", "code=1", "a.c: ok", "commits=2"}, {}, false},
  {"AnotherToolsHookStaysUnlessForced", "printf '#!/bin/sh\\nexit 0\\n' >.git/hooks/pre-commit",
   "trelvik-git install; cat .git/hooks/pre-commit; trelvik-git install --force && cat .git/hooks/pre-commit", 0,
   {"is a hook of another tool; --force replaces it", "exit 0", "installed .git/hooks/pre-commit",
    "exec trelvik-git run"}},
  {"HooksPathHonoured", "git config core.hooksPath hooks",
   "mkdir s && cd s && trelvik-git install && test -x ../hooks/pre-commit && touch f && git config core.hooksPath f/h; "
   "trelvik-git install", 1, {"installed ../hooks/pre-commit", "cannot create the hooks folder '"}, {}, false},
};
// clang-format on

void PrintTo(const Case &c, std::ostream *os) {
  *os << c.name;
}

class TrelvikGit : public testing::TestWithParam<Case> {};

TEST_P(TrelvikGit, Runs) {
  const Case &c = GetParam();
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

// Ctrl-C in a terminal (SIGINT to the process group) and a kill of
// trelvik-git alone, while a check runs, with trelvik-git run directly and
// through git commit: the run ends by the signal, nothing of it is left
// running and TEMP is empty; a partly staged file makes the private folder.
struct Interruption {
  const char *name;
  const char *command;
  const char *kill; // $pg is the run's process group
  const char *code;
};

class TrelvikGitInterrupted : public testing::TestWithParam<Interruption> {};

TEST_P(TrelvikGitInterrupted, CleansUpAndEndsByTheSignal) {
  const Interruption &row = GetParam();
  Scratch scratch;
  Shell ran = scratch.sh(
      trelvik("[check \"slow\"]\ncommand = \"sh -c \\\\\"touch $T/ready; exec sleep 30\\\\\"\"\n") +
      // A command started in the background gets SIGINT ignored; env gives
      // it back its default, as a terminal's foreground job has it.
      "echo a >a.c; git add a.c; echo b >a.c; trelvik-git install >/dev/null; await() { i=0; while "
      "! eval \"$1\"; do [ $i -ge 300 ] && return 1; sleep 0.1; i=$((i+1)); done; }; setsid env "
      "--default-signal=INT,QUIT " +
      row.command + " >../out 2>&1 & pg=$!; await '[ -e ../ready ]'; " + row.kill +
      "; { wait $pg; } 2>/dev/null; echo code=$?; await '! pgrep -g $pg >/dev/null' || "
      "echo left; echo commits=$(git rev-list --count HEAD)");
  EXPECT_EQ(ran.out, std::string("code=") + row.code + "\ncommits=1\n");
  EXPECT_TRUE(scratch.temp_empty());
}

void PrintTo(const Interruption &row, std::ostream *os) {
  *os << row.name;
}

const Interruption kInterruptions[] = {
    {"SigintToTheGroup", "trelvik-git run", "kill -INT -$pg", "130"},
    {"SigtermToTrelvikGit", "trelvik-git run", "kill -TERM $(pgrep -g $pg -x trelvik-git)", "143"},
    {"SigintToGitCommit", "git commit -qm c", "kill -INT -$pg", "130"},
    {"SigtermToTheHook", "git commit -qm c", "kill -TERM $(pgrep -g $pg -x trelvik-git)", "1"},
};

INSTANTIATE_TEST_SUITE_P(, TrelvikGitInterrupted, testing::ValuesIn(kInterruptions),
                         [](const testing::TestParamInfo<Interruption> &info) {
                           return info.param.name;
                         });

INSTANTIATE_TEST_SUITE_P(Cases, TrelvikGit, testing::ValuesIn(kCases),
                         [](const testing::TestParamInfo<Case> &info) { return info.param.name; });

} // namespace
