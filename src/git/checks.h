// The checks of a repository, as `.trelvik` at the top of its work tree
// declares them in git's configuration syntax:
//
//   [check "style"]
//       command = trelvik-stylecheck
//       include = **/*.java
//       exclude = **/test/**
//
// git itself reads the file (`git config --file .trelvik --null --list`);
// this part only turns that listing into checks.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace tvkgit {

struct Check {
  std::string name;
  std::string command; // the checker's command line, as the gate takes it
  std::vector<std::string> include;
  std::vector<std::string> exclude;
  bool ignore_case = false;  // -c
  bool strip = true;         // -s
  bool stderr_fails = false; // -e
  bool stdout_fails = false; // -o
  bool dump = false;         // -d
};

// Reads the NUL-separated listing (each entry "key\nvalue", or "key" alone
// for a key without a value) into CHECKS, in the order of their first key.
// Sections other than "check" are left alone. On a fault (a check without a
// name or a command, an unknown key, a value the gate cannot take) returns
// false with a one-line message in *ERROR.
bool parse_checks(std::string_view listing, std::vector<Check> *checks, std::string *error);

} // namespace tvkgit
