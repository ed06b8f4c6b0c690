// The files a commit holds, as git lists them, and the ones among them that
// the gate cannot be given.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace tvkgit {

// One file of the index: its repository path (slashes) and its git mode.
struct IndexFile {
  std::string path;
  std::string mode; // "100644", "100755", "120000" (link), "160000" (submodule)
};

// The NUL-terminated names of LISTING (`git ... -z --name-only`).
std::vector<std::string> split_names(std::string_view listing);

// The new side of each change in `git diff --cached --raw -z` output.
std::vector<IndexFile> parse_raw_diff(std::string_view listing);

// The entries at stage 0 in `git ls-files -s -z` output.
std::vector<IndexFile> parse_index_listing(std::string_view listing);

struct Selection {
  std::vector<std::string> paths;    // regular files, for the gate
  std::vector<std::string> skipped;  // one line each: links and submodules
  std::vector<std::string> unusable; // one line each: names the protocol cannot carry
};

// Sorts FILES into what the gate checks, what is skipped and what blocks
// the commit: a backslash or a line end in a name cannot be written as a
// file line and a version line.
Selection select_files(const std::vector<IndexFile> &files);

} // namespace tvkgit
