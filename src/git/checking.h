// The core of every trelvik-git run, whatever it checks (what is staged, a
// range of commits, a push): which files each check takes, where the gate
// reads them, and one gate run per check and batch.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "git/checks.h"
#include "git/process.h"
#include "git/repository.h"
#include "git/staged.h"

namespace tvkgit {

struct CheckSet {
  Settings settings;
  std::vector<Check> checks;
  std::vector<Selector> selectors;

  bool has_context() const;
};

// Reads the checks of a `git config --null --list` LISTING into SET; false,
// with one line printed naming SOURCE (".trelvik", a path), on a fault.
bool read_check_set(std::string_view listing, const std::string &source, CheckSet *set);

// What one run checks: the changed files, and every file of the same
// snapshot (the index, or a commit's tree) for the checks' context.
struct Snapshot {
  std::vector<IndexFile> changed;
  std::vector<IndexFile> all;
};

// Runs every check of SET on SNAPSHOT, writing to OUTPUT: the exit code of
// the first check that failed (8 bits, never 0 for a failure), 0 when none
// did, 1 on a fault (a name that cannot be checked, a copy that cannot be
// made, no gate). *FAILED (when given) names the first check that failed.
int run_check_set(const Repository &repository, const CheckSet &set, const Snapshot &snapshot,
                  Output *output, std::string *failed = nullptr);

} // namespace tvkgit
