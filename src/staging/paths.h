// Paths of the staging area: how a version text falls apart into names,
// the folder a staged path goes to, and the creation of that folder.
#pragma once

#include <string>
#include <string_view>
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
