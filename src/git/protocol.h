// What trelvik-git hands the gate: its command line and its input.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "common/quote.h"
#include "git/checks.h"

namespace tvkgit {

// One argument quoted for the gate's split (common/quote.h).
using ::quote_argument;

// The gate's command line for CHECK, its input on standard input: the
// checker starts in the staging folder (-w), with the check's options.
// trelvik-git selects the files itself, so no pattern goes to the gate.
std::string gate_command_line(const Check &check);

// The word of a command that stands for the checked files.
inline constexpr std::string_view kFilesMark = "{files}";

// One run of a check: its command line and how many of the names it takes.
struct Batch {
  std::string command;
  std::size_t count = 0;
};

// COMMAND with every "{files}" replaced by NAMES, each one argument quoted
// for the gate's split, in order: one batch of names per command line, as
// few as keep each within LIMIT characters (a name too long for that makes
// a batch of its own). COMMAND alone, taking every name, when it holds no
// "{files}".
std::vector<Batch> batch_commands(const std::string &command, const std::vector<std::string> &names,
                                  std::size_t limit);

// One file for the gate: where its staged content is read and its
// repository path.
struct StagedFile {
  std::string source; // the program's form, backslashes
  std::string path;   // repository path, slashes
};

// SOURCE for a file read at FOLDER (the program's form, empty or ending in
// a backslash) under its repository path. A "." folder comes between the
// two: no version line holds one, so no tail of the file line that reaches
// into FOLDER can pair with a version.
std::string source_path(const std::string &folder, const std::string &path);

// The gate's input for COMMAND and FILES: the checker command line, then a
// file line for every file and its version line, the repository path in
// backslash form. The version lines go shortest first: the gate gives a
// file the first free version that ends with the file's longest matching
// tail, which is then always the file's own path, never a longer path that
// ends with it (`a.c` and `sub/a.c` in one commit).
std::string protocol_text(const std::string &command, const std::vector<StagedFile> &files);

} // namespace tvkgit
