// What the input names: the committed files and the version table.
#pragma once

#include <optional>
#include <string>
#include <vector>

// One version line of the input.
struct VersionEntry {
  std::string version;
  std::optional<std::string> matched_file; // set by reconciliation
  std::optional<std::string> staged_path;  // set by the staging loop
};

using VersionTable = std::vector<VersionEntry>;
using FileList = std::vector<std::string>;
