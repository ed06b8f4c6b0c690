// Fuzz target for the reconciliation of files with versions.
//
// The input is a list of lines separated by LF. The first byte of a line
// says what it is: an even byte a version, an odd one a file, whose kind
// (missing, a folder, or an ordinary file) comes from the next bits. The
// other bytes are path characters; bytes from 0xF0 up stand for common path
// pieces, so that shared tails, repeated texts and ambiguities are frequent.
//
// Oracle: the pairing rules themselves. A version is only ever paired with
// an ordinary file one of whose backslash tails it ends with, no file line
// with two versions, and every pair is announced at debug level 2. A commit
// paired without error pairs every version and every ordinary file. And the
// order of the lines plays no part in a good commit: with its file lines
// and its version lines reversed, a commit paired without error both ways
// gets the same pairs. (Which errors a bad commit reports may depend on the
// order, as a search in list order finds them.)
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "common/commit.h"
#include "common/diagnostics.h"
#include "driver/reconcile.h"
#include "fuzz_support.h"

namespace {

using platform::PathKind;

// The kind of every file path of the current input; a path met twice keeps
// its first kind, as a file system would.
std::map<std::string, PathKind> g_kinds;

PathKind kind_of(const char *path) {
  auto found = g_kinds.find(path);
  return found == g_kinds.end() ? PathKind::Missing : found->second;
}

const char *const kPieces[16] = {"\\",  "\\a", "\\b",    "\\src", ".c",    "\\a.c", "W:", "\\\\",
                                 "x\\", "\\A", "\\a\\b", "\\b.c", "\\\\a", "b",     "",   "a"};

struct Commit {
  FileList files;
  std::vector<std::string> versions;
};

Commit commit_from(const std::string &text) {
  Commit commit;
  g_kinds.clear();
  for (std::size_t at = 0, end; at < text.size(); at = end + 1) {
    end = std::min(text.find('\n', at), text.size());
    if (end == at)
      continue;
    std::string path;
    for (std::size_t i = at + 1; i < end; ++i) {
      auto byte = static_cast<unsigned char>(text[i]);
      // Input lines hold neither a NUL nor a CR.
      path += byte >= 0xF0                ? kPieces[byte - 0xF0]
              : byte == 0 || byte == '\r' ? "\\"
                                          : text.substr(i, 1);
    }
    auto first = static_cast<unsigned char>(text[at]);
    if (first % 2 == 0) {
      commit.versions.push_back(path);
      continue;
    }
    int kind = (first >> 1) % 8;
    g_kinds.emplace(path, kind == 0   ? PathKind::Missing
                          : kind == 1 ? PathKind::Directory
                                      : PathKind::File);
    commit.files.push_back(path);
  }
  return commit;
}

struct Pairing {
  std::string printed;
  bool errors = false;
  std::vector<std::string> matches;
};

Pairing reconcile(const Commit &commit) {
  VersionTable versions;
  for (const std::string &text : commit.versions)
    versions.push_back(VersionEntry{text, std::nullopt, std::nullopt});
  set_debug_level(2);
  Pairing outcome;
  outcome.printed = fuzz::printed_by([&] {
    outcome.errors = reconcile_files(commit.files, versions, kind_of) == Outcome::Failed;
  });
  set_debug_level(0);
  for (const VersionEntry &entry : versions)
    outcome.matches.push_back(entry.matched_file ? "=" + *entry.matched_file : "-");
  return outcome;
}

// The pairs of a run as "version=file", sorted.
std::vector<std::string> pairs_of(const Commit &commit, const Pairing &outcome) {
  std::vector<std::string> pairs;
  for (std::size_t v = 0; v < commit.versions.size(); ++v)
    pairs.push_back(commit.versions[v] + outcome.matches[v]);
  std::sort(pairs.begin(), pairs.end());
  return pairs;
}

void check_pairs(const Commit &commit, const Pairing &outcome) {
  // Each file line pairs one version at most; a path may be listed twice.
  std::map<std::string, int> left;
  for (const std::string &file : commit.files)
    ++left[file];
  for (std::size_t v = 0; v < commit.versions.size(); ++v) {
    const std::string &version = commit.versions[v], &match = outcome.matches[v];
    if (match == "-") {
      if (!outcome.errors)
        fuzz::fail("version '%s' left unpaired without an error", fuzz::visible(version).c_str());
      continue;
    }
    std::string file = match.substr(1);
    bool tail = false;
    for (std::size_t at = file.find('\\'); at != std::string::npos && !tail;
         at = file.find('\\', at + 1))
      tail = version.ends_with(std::string_view(file).substr(at));
    // At debug level 2 every pair is announced.
    std::string announced = "version '" + version + "' matches file '" + file + "'\n";
    if (!tail || kind_of(file.c_str()) != PathKind::File || left[file]-- <= 0 ||
        outcome.printed.find(announced) == std::string::npos)
      fuzz::fail("version '%s' paired with '%s'", fuzz::visible(version).c_str(),
                 fuzz::visible(file).c_str());
  }
  for (const std::string &file : commit.files) {
    if (!outcome.errors && kind_of(file.c_str()) == PathKind::File && left[file] > 0)
      fuzz::fail("file '%s' left unpaired without an error", fuzz::visible(file).c_str());
  }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  Commit commit = commit_from(std::string(reinterpret_cast<const char *>(data), size));
  Pairing outcome = reconcile(commit);
  check_pairs(commit, outcome);
  Commit reversed = commit;
  std::reverse(reversed.files.begin(), reversed.files.end());
  std::reverse(reversed.versions.begin(), reversed.versions.end());
  Pairing backwards = reconcile(reversed);
  check_pairs(reversed, backwards);
  if (!outcome.errors && !backwards.errors &&
      pairs_of(commit, outcome) != pairs_of(reversed, backwards))
    fuzz::fail("the pairs change with the order of the lines");
  return 0;
}
