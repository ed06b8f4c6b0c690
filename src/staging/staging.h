// The per-run staging folder under TEMP and its one owner: it creates the
// folder, copies the selected files to their version paths, names the
// folder to the checker in WORKDIR, and removes what it made.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "common/commit.h"
#include "common/outcome.h"
#include "patterns/patterns.h"
#include "platform/platform.h"

class FolderMaker;

// What the staging loop did: Done, or Failed after the message of the
// version it stopped at, or Interrupted; and the number of copies made.
struct [[nodiscard]] StagingResult {
  Outcome outcome = Outcome::Done;
  int copied = 0;
};

// The staging folder of one run. It records every copy made into it and,
// when it is removed or goes away, deletes those copies (each only while it
// is still the file the copy made, never through a link) and removes the
// folder tree wherever it is empty. However the run ends, by an error, an
// early exit or an interruption, nothing the run made stays behind; what
// the checker wrote there does.
class StagingFolder {
public:
  StagingFolder() = default;
  StagingFolder(const StagingFolder &) = delete;
  StagingFolder &operator=(const StagingFolder &) = delete;
  ~StagingFolder() { remove(); }

  // Creates "<TEMP>\tvk<pid>.tmp" or, when that name is taken (a folder an
  // earlier run with the same process id left, or anything else), the first
  // free one of "tvk<pid>-1.tmp" to "tvk<pid>-100.tmp". What exists is
  // never entered, reused or deleted. Failed, without a message, when TEMP
  // is unknown, the path would not fit the staging-folder field, or no
  // folder can be made.
  Outcome create();

  // The folder's path, without a trailing backslash; empty before create.
  const std::string &path() const { return path_; }

  // Copies the file of every selected version to its staged path and
  // records each copy. A selected version whose text leads outside the
  // staging folder is refused. The first failure stops the loop; an
  // interruption stops it quietly.
  StagingResult stage_files(VersionTable &versions, const PatternList &include,
                            const PatternList &exclude);

  // Puts WORKDIR, naming the folder, into the environment.
  void set_workdir() const;

  // Deletes the recorded copies and removes the folder tree wherever it is
  // empty. Afterwards the object holds nothing, so a second call does
  // nothing.
  void remove();

private:
  // A copy of the run: its path below the folder that holds the staging
  // folder (a version text that does not begin with a backslash puts its
  // copy beside the staging folder, not in it).
  struct Copy {
    std::string relative;
    platform::FileIdentity identity;
  };

  Outcome copy_one(VersionEntry &entry, FolderMaker *folders);
  void record_copy(const std::string &staged_path, const platform::FileIdentity &identity);
  // Deletes the copies recorded from the FROM-th on and forgets them.
  void delete_copies_from(std::size_t from);
  // The folder that holds the staging folder, with its backslash.
  std::string base() const { return path_.substr(0, path_.rfind('\\') + 1); }

  std::string path_;
  std::vector<Copy> copies_;
};
