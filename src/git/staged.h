// The files a commit holds, as git lists them, and the ones among them that
// the gate cannot be given.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace tvkgit {

// One file of the index: its repository path (slashes), its git mode, its
// object name, and whether git already knows that the work tree holds
// other content.
struct IndexFile {
  std::string path;
  std::string mode; // "100644", "100755", "120000" (link), "160000" (submodule)
  std::string object;
  bool differs = false;
};

// The NUL-terminated names of LISTING (`git ... -z --name-only`).
std::vector<std::string> split_names(std::string_view listing);

// The files of `git diff --raw -z --no-abbrev` output (without renames),
// each with the mode and object name of its new side.
std::vector<IndexFile> parse_raw_diff(std::string_view listing);

// The entries at stage 0 in `git ls-files -s -z` output.
std::vector<IndexFile> parse_index_listing(std::string_view listing);

// The entries of `git ls-tree -r -z` output: a commit's files, each marked
// as differing from the work tree, whose copy is never read for a commit.
std::vector<IndexFile> parse_tree_listing(std::string_view listing);

// What the gate can be handed of FILE, and why not.
enum class FileKind { Regular, Link, Submodule, Unusable };
FileKind kind_of(const IndexFile &file);

// The line that says why a file of KIND (not Regular) is not checked.
std::string skip_line(const IndexFile &file, FileKind kind);

} // namespace tvkgit
