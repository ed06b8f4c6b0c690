// Exactly the committed bytes and modes: where the gate reads each file of
// the index. A file is read in place only when the work tree provably holds
// its staged bytes and mode; every other one is written from its blob into
// the run's private folder, as the object itself, without the conversions
// (line ends, filters, encodings) that a checkout would apply.
#pragma once

#include <string>
#include <vector>

#include "git/folder.h"
#include "git/repository.h"
#include "git/staged.h"

namespace tvkgit {

// Whether the regular file at PATH (slashes) holds exactly the blob of FILE
// (its object name is the hash of those bytes) with the mode FILE has:
// executable for 100755, not for 100644.
bool holds_staged_content(const std::string &path, const IndexFile &file);

// Where the gate reads each of FILES (regular files, each path once), in
// the program's form for a file line: in place in the work tree, whose top
// is the current folder, or a copy of the blob made in FOLDER (created when the first copy
// is needed). One git run writes all the copies. False with one line
// printed when a copy cannot be made.
bool place_files(const Repository &repository, const std::vector<const IndexFile *> &files,
                 PrivateFolder *folder, std::vector<std::string> *sources);

} // namespace tvkgit
