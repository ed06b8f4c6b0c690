// Reconciliation of file lines with version lines.
//
// A version takes a file when the version text ends with a tail of the file
// path that begins at one of the path's backslashes. Each file tries its
// tails from the longest to the shortest and, for each tail, the versions in
// table order; the first free version that ends with the tail takes the
// file, and every taken version met on the way is reported as ambiguous.
//
// Trying every version for every tail would be quadratic in the size of the
// commit. Instead every tail of every version text that begins with a
// backslash is indexed, with the versions that end with it chained in table
// order; a file's tail then leads straight to the versions that end with it,
// and walking that chain visits exactly the versions, in exactly the order,
// that the full scan would have accepted or reported.
#include "driver/reconcile.h"

#include <cstdint>
#include <cstdio>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "driver/diagnostics.h"

namespace {

constexpr std::uint32_t kNoLink = UINT32_MAX;

// The versions ending with one tail, in table order.
struct TailChain {
  std::uint32_t first = kNoLink;
  std::uint32_t last = kNoLink;
};

struct ChainLink {
  std::uint32_t version;
  std::uint32_t next = kNoLink;
};

class TailIndex {
public:
  explicit TailIndex(const VersionTable &versions) {
    for (std::uint32_t i = 0; i < versions.size(); ++i)
      add_version(versions[i].version, i);
  }

  // The first link of the chain for TAIL, or kNoLink.
  std::uint32_t first_for(std::string_view tail) const {
    if (tail.size() > longest_)
      return kNoLink;
    auto found = chains_.find(tail);
    return found == chains_.end() ? kNoLink : found->second.first;
  }

  const ChainLink &link(std::uint32_t index) const { return links_[index]; }

private:
  void add_version(std::string_view text, std::uint32_t version) {
    if (text.size() > longest_)
      longest_ = text.size();
    for (std::size_t at = text.find('\\'); at != std::string_view::npos;
         at = text.find('\\', at + 1))
      append(chains_[text.substr(at)], version);
  }

  void append(TailChain &chain, std::uint32_t version) {
    auto index = static_cast<std::uint32_t>(links_.size());
    links_.push_back(ChainLink{version});
    if (chain.last == kNoLink)
      chain.first = index;
    else
      links_[chain.last].next = index;
    chain.last = index;
  }

  std::unordered_map<std::string_view, TailChain> chains_;
  std::vector<ChainLink> links_;
  std::size_t longest_ = 0;
};

void report_ambiguity(const VersionEntry &entry, std::string_view tail) {
  // A tail runs to the end of its file path, so it is NUL-terminated.
  std::printf("ERROR: Version '%s' has multiple matches:\n\t%s\t%s", entry.version.c_str(),
              entry.matched_file->c_str(), tail.data());
  ++g_settings.error_count;
}

// Walks the versions ending with TAIL; reports the taken ones met before the
// first free one, which takes the file. False when no free one is found.
bool offer_tail(const TailIndex &index, std::string_view tail, const std::string &file,
                VersionTable &versions) {
  for (std::uint32_t at = index.first_for(tail); at != kNoLink; at = index.link(at).next) {
    VersionEntry &entry = versions[index.link(at).version];
    if (entry.matched_file) {
      report_ambiguity(entry, tail);
      continue;
    }
    entry.matched_file = file;
    log_debug2("version '%s' matches file '%s'", entry.version.c_str(), file.c_str());
    return true;
  }
  return false;
}

// Offers the file's backslash tails from the longest to the shortest.
bool match_file(const TailIndex &index, const std::string &file, VersionTable &versions) {
  std::string_view path = file;
  for (std::size_t at = path.find('\\'); at != std::string_view::npos;
       at = path.find('\\', at + 1)) {
    if (offer_tail(index, path.substr(at), file, versions))
      return true;
  }
  return false;
}

// False (after its warning) for a path that names no ordinary file.
bool is_checkable_file(const std::string &file, PathKindQuery path_kind) {
  switch (path_kind(file.c_str())) {
  case platform::PathKind::Missing:
    std::printf("WARNING: Skipping non-existant file '%s'\n", file.c_str());
    return false;
  case platform::PathKind::Directory:
    std::printf("WARNING: Skipping directory '%s'\n", file.c_str());
    return false;
  case platform::PathKind::File:
    break;
  }
  return true;
}

} // namespace

void reconcile_files_with(const FileList &files, VersionTable &versions, PathKindQuery path_kind) {
  TailIndex index(versions);
  for (const std::string &file : files) {
    if (!is_checkable_file(file, path_kind))
      continue;
    if (!match_file(index, file, versions))
      log_error("ERROR: file '%s' does not match any version\n", file.c_str());
  }
  for (const VersionEntry &entry : versions) {
    if (!entry.matched_file)
      log_error("ERROR: version '%s' does not match any file\n", entry.version.c_str());
  }
}

void reconcile_files(const FileList &files, VersionTable &versions) {
  reconcile_files_with(files, versions, platform::path_kind);
}
