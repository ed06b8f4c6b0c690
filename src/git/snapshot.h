// Exactly the committed bytes and modes: where the gate reads each file of
// the index. A file is read in place only when the work tree provably holds
// its staged bytes and mode; every other one is written from its blob into
// the run's private folder, as the object itself, without the conversions
// (line ends, filters, encodings) that a checkout would apply.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "git/folder.h"
#include "git/repository.h"
#include "git/staged.h"

namespace tvkgit {

// Where the gate will read each of FILES (regular files, each path once):
// IN_PLACE[i] when the work tree provably holds it. *BYTES is what staging
// them takes, about: their sizes in the work tree (a missing one counts a
// mebibyte), twice for those written from the index first.
void examine_files(const std::vector<const IndexFile *> &files, std::vector<char> *in_place,
                   std::uint64_t *bytes);

// Appends to *SOURCES the gate's file line for each of FILES, in the program's form: in place
// in the work tree, whose top is the current folder, or a copy of the blob
// made in FOLDER (created when the first copy is needed). One git run
// writes all the copies. False with one line printed when a copy cannot be
// made.
bool place_files(const Repository &repository, const std::vector<const IndexFile *> &files,
                 const std::vector<char> &in_place, PrivateFolder *folder,
                 std::vector<std::string> *sources);

} // namespace tvkgit
