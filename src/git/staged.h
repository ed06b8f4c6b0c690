// The files a commit holds, as git lists them, and the ones among them that
// the gate cannot be given.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace tvkgit {

// One file of the index: its repository path (slashes), its git mode, and
// whether the work tree holds other content than the index.
struct IndexFile {
  std::string path;
  std::string mode; // "100644", "100755", "120000" (link), "160000" (submodule)
  bool differs = false;
};

// The NUL-terminated names of LISTING (`git ... -z --name-only`).
std::vector<std::string> split_names(std::string_view listing);

// The files whose staged content is new (added, copied, modified, renamed,
// or whose type changed; deleted ones are left out) in
// `git status --porcelain=v2 -z` output, each with its index mode and
// whether the work tree differs from it.
std::vector<IndexFile> parse_status(std::string_view listing);

// The entries at stage 0 in `git ls-files -s -z` output.
std::vector<IndexFile> parse_index_listing(std::string_view listing);

struct Selection {
  std::vector<IndexFile> files;      // regular files, for the gate
  std::vector<std::string> skipped;  // one line each: links and submodules
  std::vector<std::string> unusable; // one line each: names the protocol cannot carry
};

// Sorts FILES into what the gate checks, what is skipped and what blocks
// the commit: a backslash or a line end in a name cannot be written as a
// file line and a version line.
Selection select_files(const std::vector<IndexFile> &files);

} // namespace tvkgit
