// The checks of a repository, as `.trelvik` at the top of its work tree
// declares them in git's configuration syntax:
//
//   [check "style"]
//       command = clang-format --dry-run -Werror {files}
//       include = **/*.c
//       exclude = **/test/**
//       context = .clang-format
//
// git itself reads the file (`git config --file .trelvik --null --list`);
// this part turns that listing into checks and says which files each one
// takes.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "patterns/patterns.h"

namespace tvkgit {

struct Check {
  std::string name;
  std::string command; // the checker's command line, as the gate takes it
  std::vector<std::string> include;
  std::vector<std::string> exclude;
  std::vector<std::string> context; // staged beside the checked files
  bool ignore_case = false;
  bool strip = true;         // -s
  bool stderr_fails = false; // -e
  bool stdout_fails = false; // -o
  bool dump = false;         // -d
};

// How the checks run, from the section [trelvik]:
//
//   [trelvik]
//       parallel = true          the checks run at once
//       staging = /var/tmp/lint  where the copies go instead of the default
struct Settings {
  bool parallel = false;
  std::string staging;
};

// Reads the NUL-separated listing (each entry "key\nvalue", or "key" alone
// for a key without a value) into CHECKS, in the order of their first key,
// and SETTINGS. On a fault (an unknown section or key, a check without a
// name or a command, a value the gate cannot take, a command whose double
// quotes do not pair up) returns false with a one-line message in *ERROR.
bool parse_checks(std::string_view listing, std::vector<Check> *checks, Settings *settings,
                  std::string *error);

// A check's patterns, compiled, applied to repository paths (slashes, no
// leading one) the way the gate applies them to version paths: `*.c` is a
// `.c` file at the top, `**/*.c` one anywhere, and a leading `/` changes
// nothing.
class Selector {
public:
  // False with *ERROR naming the pattern that does not compile.
  bool compile(const Check &check, std::string *error);

  // Whether the check runs on PATH: it matches an include pattern (or
  // there is none) and no exclude pattern.
  bool selects(std::string_view path) const;
  // Whether PATH is staged beside the checked files for the check.
  bool wants_as_context(std::string_view path) const;
  bool has_context() const { return !context_.empty(); }

private:
  PatternList include_;
  PatternList exclude_;
  PatternList context_;
};

} // namespace tvkgit
