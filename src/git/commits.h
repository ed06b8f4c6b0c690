// Snapshots of commits rather than of the index: a commit's files as its
// objects hold them, the names a range of commits changed, and the checks
// a commit's own .trelvik declares. Nothing here reads a work tree or an
// index, so it works in a bare repository and inside a push's quarantine.
#pragma once

#include <string>
#include <vector>

#include "git/checking.h"
#include "git/repository.h"
#include "git/staged.h"

namespace tvkgit {

// The full object name of the commit REVISION names (an annotated tag is
// followed to its commit); false when there is none. Prints nothing.
bool resolve_commit(const Repository &repository, const std::string &revision, std::string *commit);

// Every file of COMMIT's tree; false with one line printed on a fault.
bool tree_files(const Repository &repository, const std::string &commit,
                std::vector<IndexFile> *files);

// The names changed from BASE to TARGET (added, modified or whose type
// changed; a rename counts as its new name, deletions not at all).
bool names_between(const Repository &repository, const std::string &base, const std::string &target,
                   std::vector<std::string> *names);

// The names that the commits of `git log RANGE` changed, in the same way.
bool names_of_commits(const Repository &repository, const std::string &range,
                      std::vector<std::string> *names);

// The files of TREE named in NAMES, in the tree's order: what a range
// changed, as its last commit holds it.
std::vector<IndexFile> files_named(const std::vector<IndexFile> &tree,
                                   const std::vector<std::string> &names);

// The checks of the .trelvik in TREE; false with *MISSING set when the tree
// holds none, false with a line printed when it cannot be read.
bool commit_checks(const Repository &repository, const std::vector<IndexFile> &tree, CheckSet *set,
                   bool *missing);

} // namespace tvkgit
