// Fuzz target for the reconciliation of files with versions.
//
// The input is a list of lines separated by LF. The first byte of a line
// says what it is: an even byte a version, an odd one a file, whose kind
// (missing, a folder, or an ordinary file) comes from the next bits. The
// other bytes are path characters; bytes from 0xF0 up stand for common path
// pieces, so that shared tails, repeated texts and ambiguities are frequent.
//
// Oracle: the model of the unit tests, the one-to-one pairing by longest
// common tails written straight from its rule, with the plain quadratic
// search where that pairing does not pair everything. Both must print the
// same messages in the same order (at debug level 2, so the pairings are
// printed too), count the same errors and pair the same files. And wherever
// the plain search alone succeeds, the run must pair exactly as it did.
#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "common/settings.h"
#include "driver/reconcile.h"
#include "fuzz_support.h"
#include "unit/driver/plain_reconcile.h"

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

std::string path_text(const std::string &line) {
  std::string path;
  for (std::size_t at = 1; at < line.size(); ++at) {
    auto byte = static_cast<unsigned char>(line[at]);
    if (byte >= 0xF0)
      path += kPieces[byte - 0xF0];
    else if (byte == 0 || byte == '\r')
      path += '\\'; // input lines hold neither
    else
      path += static_cast<char>(byte);
  }
  return path;
}

PathKind kind_from(unsigned char first) {
  int kind = (first >> 1) % 8;
  return kind == 0 ? PathKind::Missing : kind == 1 ? PathKind::Directory : PathKind::File;
}

struct Commit {
  FileList files;
  std::vector<std::string> versions;
};

Commit commit_from(const std::string &text) {
  Commit commit;
  g_kinds.clear();
  std::size_t at = 0;
  while (at < text.size()) {
    std::size_t end = text.find('\n', at);
    if (end == std::string::npos)
      end = text.size();
    std::string line = text.substr(at, end - at);
    at = end + 1;
    if (line.empty())
      continue;
    auto first = static_cast<unsigned char>(line[0]);
    std::string path = path_text(line);
    if (first % 2 == 0) {
      commit.versions.push_back(path);
    } else {
      g_kinds.emplace(path, kind_from(first));
      commit.files.push_back(path);
    }
  }
  return commit;
}

struct Outcome {
  std::string printed;
  int errors = 0;
  std::vector<std::string> matches;
};

Outcome reconcile_with(void (*reconcile)(const FileList &, VersionTable &, PathKindQuery),
                       const Commit &commit) {
  VersionTable versions;
  for (const std::string &text : commit.versions)
    versions.push_back(VersionEntry{text, std::nullopt, std::nullopt, std::nullopt});
  g_settings.error_count = 0;
  g_settings.debug_level = 2;
  Outcome outcome;
  outcome.printed = fuzz::printed_by([&] { reconcile(commit.files, versions, kind_of); });
  outcome.errors = g_settings.error_count;
  g_settings.error_count = 0;
  g_settings.debug_level = 0;
  for (const VersionEntry &entry : versions)
    outcome.matches.push_back(entry.matched_file ? "=" + *entry.matched_file : "-");
  return outcome;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  Commit commit = commit_from(std::string(reinterpret_cast<const char *>(data), size));
  Outcome indexed = reconcile_with(reconcile_files_with, commit);
  Outcome model = reconcile_with(reconcile_test::model_reconcile_with, commit);
  if (indexed.printed != model.printed)
    fuzz::fail("printed\n%s\nexpected\n%s", fuzz::visible(indexed.printed).c_str(),
               fuzz::visible(model.printed).c_str());
  if (indexed.errors != model.errors)
    fuzz::fail("%d errors counted, expected %d", indexed.errors, model.errors);
  if (indexed.matches != model.matches)
    fuzz::fail("pairings differ");
  Outcome plain = reconcile_with(reconcile_test::plain_reconcile_with, commit);
  if (plain.errors == 0 && (plain.printed != indexed.printed || plain.matches != indexed.matches))
    fuzz::fail("a commit the search pairs without error is paired differently");
  return 0;
}
