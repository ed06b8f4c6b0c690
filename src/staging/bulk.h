// The copies and deletions of a large commit, on a few threads.
//
// The staging loop goes through the versions one by one and prints what it
// always printed; for a commit with many copies, the copies are made ahead
// of it in parallel and the loop only takes their results. Where a copy
// made ahead failed, the loop deletes the ones made ahead from there on and
// goes on one by one, so that every outcome and message is the one the
// plain loop gives, whatever the threads did.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "common/commit.h"
#include "platform/platform.h"

// Copies made ahead below this count are not worth a thread.
constexpr std::size_t kCopiesPerThread = 256;

// The copy loops ask whether the run was interrupted before every this
// many copies: each question is a system call, and 32 copies take about a
// millisecond.
constexpr std::size_t kCopiesPerInterruptionCheck = 32;

// One copy made ahead of the loop.
struct AheadCopy {
  VersionEntry *entry = nullptr; // staged_path and matched_file set
  bool tried = false;
  platform::Status outcome;        // of the copy, when tried
  platform::FileIdentity identity; // of the copy, when made
};

// True when a file of COPIES may stand where the folder of another one goes
// ("\a" and "\A\b.c"). Making every folder first would then change what the
// copies do, so such a commit is copied one by one.
bool copies_may_clash(const std::vector<AheadCopy> &copies);

// Creates the folders of COPIES in STAGING_FOLDER, which holds nothing
// else yet, and then makes the copies on a few threads,
// both folder by folder. A folder that cannot be made ends the list at the
// first copy that needs it (no copy from there on is tried); once a copy
// fails, no copy after it in the list is started, nor any once the run is
// interrupted. The caller records the copies made.
void copy_ahead(const std::string &staging_folder, std::vector<AheadCopy> *copies,
                const platform::ThreadStarter &start_thread = platform::start_thread);

// Deletes FILES below BASE, folder by folder, and each folder they leave
// empty, spread over a few threads for a large commit.
void delete_copies(const std::string &base, const std::vector<platform::CreatedFile> &files,
                   const platform::ThreadStarter &start_thread = platform::start_thread);
