// Paths of the staging area: how a version text falls apart into names,
// the folder a staged path goes to, and the creation of that folder.
#pragma once

#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "common/outcome.h"

// The components of VERSION between backslashes and slashes, empty ones
// included ("\a\\b" gives "", "a", "", "b"). They view VERSION.
std::vector<std::string_view> version_components(std::string_view version);

// The parent folder of a staged path: the path cut at its last backslash,
// or "" when it has none.
std::string parent_folder(const std::string &path);

// True when VERSION has a ".." component (between backslashes or slashes, or
// at either end), so that its staged path would climb out of the staging
// folder.
bool leads_outside_staging_folder(std::string_view version);

// Makes sure PATH exists as a folder, creating missing ancestors first.
// Done when it exists afterwards (or something of that name already did);
// Failed, without a message, otherwise.
Outcome ensure_folder(const std::string &path);

// Makes the folders of the staging folder, asking the system once for
// each: it remembers the folders it made or found there, with their
// ancestors, and makes a new one level by level below the deepest of them.
// Only while nothing removes a folder there, and no file takes the name of
// one it remembers. Folders outside it go to ensure_folder each time.
class FolderMaker {
public:
  explicit FolderMaker(const std::string &staging_folder) : inside_(staging_folder + "\\") {
    ready_.insert(staging_folder);
  }

  // As ensure_folder.
  Outcome make(const std::string &folder);

private:
  std::string inside_; // the staging folder and a backslash
  std::unordered_set<std::string> ready_;
};
