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

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <string_view>
#include <thread>
#include <vector>

#include "driver/diagnostics.h"

namespace {

constexpr std::uint32_t kNoLink = UINT32_MAX;

// A tail of a path that begins with a backslash, with its hash.
struct Tail {
  std::size_t start;
  std::uint64_t hash;
};

// Lists the backslash tails of TEXT from the longest to the shortest. The
// hashes are built from the end of the text, so each costs one step and the
// hash of a tail depends only on its own bytes.
void list_tails(std::string_view text, std::vector<Tail> *tails) {
  tails->clear();
  std::uint64_t hash = 14695981039346656037u;
  for (std::size_t at = text.size(); at-- > 0;) {
    hash = (hash ^ static_cast<unsigned char>(text[at])) * 1099511628211u;
    if (text[at] == '\\')
      tails->push_back(Tail{at, hash});
  }
  std::reverse(tails->begin(), tails->end());
}

struct ChainLink {
  std::uint32_t version;
  std::uint32_t next = kNoLink;
};

// Every backslash tail of every version text, each with the versions that
// end with it chained in table order. An open-addressing table keeps the
// lookups of a large commit within a few cache lines.
class TailIndex {
public:
  explicit TailIndex(const VersionTable &versions) : versions_(versions) {
    std::size_t tail_count = 0;
    for (const VersionEntry &entry : versions)
      tail_count +=
          static_cast<std::size_t>(std::count(entry.version.begin(), entry.version.end(), '\\'));
    std::size_t capacity = 16;
    while (capacity < 2 * tail_count)
      capacity *= 2;
    slots_.resize(capacity);
    links_.reserve(tail_count);
    std::vector<Tail> tails;
    for (std::uint32_t i = 0; i < versions.size(); ++i) {
      std::string_view text = versions[i].version;
      longest_ = std::max(longest_, text.size());
      list_tails(text, &tails);
      for (const Tail &tail : tails)
        append(claim_slot(text.substr(tail.start), tail.hash), i);
    }
  }

  // The first link of the chain for TAIL, or kNoLink.
  std::uint32_t first_for(std::string_view tail, std::uint64_t hash) const {
    if (tail.size() > longest_)
      return kNoLink;
    return slots_[find_slot(tail, hash)].first;
  }

  const ChainLink &link(std::uint32_t index) const { return links_[index]; }

private:
  struct Slot {
    std::uint64_t hash = 0;
    std::uint32_t length = 0;
    std::uint32_t first = kNoLink; // kNoLink: the slot is free
    std::uint32_t last = kNoLink;
  };

  static std::size_t spread(std::uint64_t hash) {
    hash ^= hash >> 33;
    hash *= 0xff51afd7ed558ccdu;
    hash ^= hash >> 33;
    return static_cast<std::size_t>(hash);
  }

  // Every version in a chain ends with the chain's tail, so the first one
  // holds the text to compare with.
  bool holds(const Slot &slot, std::string_view tail, std::uint64_t hash) const {
    if (slot.hash != hash || slot.length != tail.size())
      return false;
    std::string_view text = versions_[links_[slot.first].version].version;
    return text.substr(text.size() - tail.size()) == tail;
  }

  // The position of TAIL's slot, or of the free slot where it would go.
  std::size_t find_slot(std::string_view tail, std::uint64_t hash) const {
    std::size_t mask = slots_.size() - 1;
    std::size_t at = spread(hash) & mask;
    while (slots_[at].first != kNoLink && !holds(slots_[at], tail, hash))
      at = (at + 1) & mask;
    return at;
  }

  Slot &claim_slot(std::string_view tail, std::uint64_t hash) {
    Slot &slot = slots_[find_slot(tail, hash)];
    slot.hash = hash;
    slot.length = static_cast<std::uint32_t>(tail.size());
    return slot;
  }

  void append(Slot &slot, std::uint32_t version) {
    auto index = static_cast<std::uint32_t>(links_.size());
    links_.push_back(ChainLink{version});
    if (slot.last == kNoLink)
      slot.first = index;
    else
      links_[slot.last].next = index;
    slot.last = index;
  }

  const VersionTable &versions_;
  std::vector<Slot> slots_;
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
bool offer_tail(const TailIndex &index, std::string_view tail, std::uint64_t hash,
                const std::string &file, VersionTable &versions) {
  for (std::uint32_t at = index.first_for(tail, hash); at != kNoLink; at = index.link(at).next) {
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
bool match_file(const TailIndex &index, const std::string &file, VersionTable &versions,
                std::vector<Tail> *tails) {
  std::string_view path = file;
  list_tails(path, tails);
  for (const Tail &tail : *tails) {
    if (offer_tail(index, path.substr(tail.start), tail.hash, file, versions))
      return true;
  }
  return false;
}

// One slice of the status queries, for a helper thread or the caller.
struct KindSlice {
  const FileList *files = nullptr;
  PathKindQuery path_kind = nullptr;
  std::vector<platform::PathKind> *kinds = nullptr;
  std::size_t begin = 0;
  std::size_t end = 0;
  platform::Handle thread = platform::kInvalidHandle; // its helper, if one started
};

std::uint32_t query_slice(void *context) {
  const KindSlice &slice = *static_cast<const KindSlice *>(context);
  for (std::size_t i = slice.begin; i < slice.end; ++i)
    (*slice.kinds)[i] = slice.path_kind((*slice.files)[i].c_str());
  return 0;
}

// The kind of every file, in list order. A status query is a system call
// that mostly waits on the file system, so a large commit spreads them over
// a few threads; each thread fills its own slice, and nothing is printed
// here, so the messages keep their order. A helper that cannot be started
// (a container's memory or process limit) leaves its slice to the caller.
std::vector<platform::PathKind> query_kinds(const FileList &files, PathKindQuery path_kind,
                                            ThreadStarter start_thread) {
  constexpr std::size_t kFilesPerThread = 4096;
  constexpr unsigned kMostThreads = 8;
  std::vector<platform::PathKind> kinds(files.size());
  unsigned threads = std::min({std::max(1u, std::thread::hardware_concurrency()), kMostThreads,
                               static_cast<unsigned>(files.size() / kFilesPerThread + 1)});
  std::size_t per_slice = (files.size() + threads - 1) / threads;
  std::vector<KindSlice> slices(threads);
  for (unsigned t = 0; t < threads; ++t) {
    KindSlice &slice = slices[t];
    slice = KindSlice{&files, path_kind, &kinds, std::min(files.size(), t * per_slice),
                      std::min(files.size(), (t + 1) * per_slice)};
    if (t > 0 && start_thread(query_slice, &slice, &slice.thread) != 0)
      slice.thread = platform::kInvalidHandle;
  }
  for (KindSlice &slice : slices) {
    if (slice.thread == platform::kInvalidHandle)
      query_slice(&slice);
  }
  for (KindSlice &slice : slices) {
    if (slice.thread != platform::kInvalidHandle) {
      platform::wait_thread(slice.thread);
      platform::close_thread(slice.thread);
    }
  }
  return kinds;
}

// False (after its warning) for a path that names no ordinary file.
bool is_checkable_file(const std::string &file, platform::PathKind kind) {
  switch (kind) {
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

void reconcile_files_with(const FileList &files, VersionTable &versions, PathKindQuery path_kind,
                          ThreadStarter start_thread) {
  TailIndex index(versions);
  std::vector<platform::PathKind> kinds = query_kinds(files, path_kind, start_thread);
  std::vector<Tail> tails;
  for (std::size_t i = 0; i < files.size(); ++i) {
    const std::string &file = files[i];
    if (!is_checkable_file(file, kinds[i]))
      continue;
    if (!match_file(index, file, versions, &tails))
      log_error("ERROR: file '%s' does not match any version\n", file.c_str());
  }
  for (const VersionEntry &entry : versions) {
    if (!entry.matched_file)
      log_error("ERROR: version '%s' does not match any file\n", entry.version.c_str());
  }
}

void reconcile_files_with(const FileList &files, VersionTable &versions, PathKindQuery path_kind) {
  reconcile_files_with(files, versions, path_kind, platform::start_thread);
}

void reconcile_files(const FileList &files, VersionTable &versions) {
  reconcile_files_with(files, versions, platform::path_kind);
}
