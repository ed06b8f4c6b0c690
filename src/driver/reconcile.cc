// Reconciliation of file lines with version lines.
//
// A version takes a file when the version text ends with a tail of the file
// path that begins at one of the path's backslashes.
//
// First the files and versions are paired one to one by their longest
// common tails, longest first, whatever the order of the lines: the longest
// tail that a free file and a free version share pairs them, unless two free
// files or two free versions share it (a tie). When that pairs every file
// and every version without a tie, it is the result. A commit holding
// a.c and sub\a.c is then paired the same way in either order of its lines.
// Whenever the search below succeeds, it finds this same pairing.
//
// Otherwise the search runs as it always has, and reports every problem:
// each file tries its tails from the longest to the shortest and, for each
// tail, the versions in table order; the first free version that ends with
// the tail takes the file, and every taken version met on the way is
// reported as ambiguous.
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
#include <vector>

#include "common/diagnostics.h"
#include "common/parallel.h"

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

  // Where TAIL's chain is kept, or kNoSlot when no version ends with it.
  static constexpr std::size_t kNoSlot = SIZE_MAX;
  std::size_t slot_of(std::string_view tail, std::uint64_t hash) const {
    if (tail.size() > longest_)
      return kNoSlot;
    std::size_t at = find_slot(tail, hash);
    return slots_[at].first == kNoLink ? kNoSlot : at;
  }
  std::size_t slot_count() const { return slots_.size(); }
  std::uint32_t first_in(std::size_t slot) const { return slots_[slot].first; }
  std::uint32_t tail_length(std::size_t slot) const { return slots_[slot].length; }

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

// Walks the versions ending with TAIL; reports the taken ones met before the
// first free one, which takes the file, and then sets *AMBIGUOUS. False when
// no free one is found.
bool offer_tail(const TailIndex &index, std::string_view tail, std::uint64_t hash,
                const std::string &file, VersionTable &versions, bool *ambiguous) {
  for (std::uint32_t at = index.first_for(tail, hash); at != kNoLink; at = index.link(at).next) {
    VersionEntry &entry = versions[index.link(at).version];
    if (entry.matched_file) {
      // A tail runs to the end of its file path, so it is NUL-terminated.
      std::printf("ERROR: Version '%s' has multiple matches:\n\t%s\t%s", entry.version.c_str(),
                  entry.matched_file->c_str(), tail.data());
      *ambiguous = true;
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
                std::vector<Tail> *tails, bool *ambiguous) {
  std::string_view path = file;
  list_tails(path, tails);
  for (const Tail &tail : *tails) {
    if (offer_tail(index, path.substr(tail.start), tail.hash, file, versions, ambiguous))
      return true;
  }
  return false;
}

// The pairing of files with versions by their longest common tails (see
// the top of the file). Every tail shared by a file and a version has a slot
// in the version index. Each free file waits in the slot of its longest
// tail not yet looked at, and the slots are taken from the longest tail to
// the shortest; a file moves to its next shared tail only when a slot held
// no free version for it, so most files cost the lookups of their longest
// shared tail alone.
class OneToOnePairing {
public:
  OneToOnePairing(const TailIndex &index, const FileList &files,
                  const std::vector<platform::PathKind> &kinds, std::size_t version_count)
      : index_(index), files_(files), file_first_(index.slot_count(), kNoLink),
        tail_number_(files.size(), 0), version_of_file_(files.size(), kNoLink),
        version_taken_(version_count, false) {
    for (std::uint32_t i = 0; i < files.size(); ++i) {
      if (kinds[i] != platform::PathKind::File)
        continue;
      ++files_to_pair_;
      wait_at_tail(i, 0);
    }
  }

  // True when every file to pair and every version were paired without a
  // tie; the pairing is then in version_of_file().
  bool pair_all() {
    std::size_t paired = 0;
    // A file that moves goes to a shorter tail, whose slots come later.
    for (std::size_t length = waiting_.size(); length-- > 0;) {
      for (std::size_t slot : waiting_[length]) {
        std::uint32_t first_file = file_first_[slot];
        bool several_files = file_links_[first_file].next != kNoLink;
        std::uint32_t version = kNoLink;
        int free_versions = free_versions_in(slot, &version);
        if (free_versions == 0) {
          for (std::uint32_t at = first_file; at != kNoLink; at = file_links_[at].next)
            wait_at_tail(file_links_[at].file, tail_number_[file_links_[at].file] + 1);
          continue;
        }
        if (several_files || free_versions > 1)
          return false;
        std::uint32_t file = file_links_[first_file].file;
        version_of_file_[file] = version;
        version_taken_[version] = true;
        ++paired;
      }
    }
    return paired == files_to_pair_ && paired == version_taken_.size();
  }

  // The version paired with each file, kNoLink for a file not paired.
  const std::vector<std::uint32_t> &version_of_file() const { return version_of_file_; }

private:
  // Puts FILE in the slot of its longest tail, from its tail number FROM on
  // (0 is the longest), that some version ends with; a file with none left
  // stays unpaired.
  void wait_at_tail(std::uint32_t file, std::uint32_t from) {
    std::string_view path = files_[file];
    list_tails(path, &tails_);
    for (std::uint32_t number = from; number < tails_.size(); ++number) {
      std::size_t slot = index_.slot_of(path.substr(tails_[number].start), tails_[number].hash);
      if (slot == TailIndex::kNoSlot)
        continue;
      tail_number_[file] = number;
      if (file_first_[slot] == kNoLink) {
        std::size_t length = index_.tail_length(slot);
        if (waiting_.size() <= length)
          waiting_.resize(length + 1);
        waiting_[length].push_back(slot);
      }
      file_links_.push_back(FileLink{file, file_first_[slot]});
      file_first_[slot] = static_cast<std::uint32_t>(file_links_.size() - 1);
      return;
    }
  }

  // How many free versions (0, 1, or 2 for more) end with the slot's tail;
  // *VERSION is the first one.
  int free_versions_in(std::size_t slot, std::uint32_t *version) const {
    int found = 0;
    for (std::uint32_t at = index_.first_in(slot); at != kNoLink && found < 2;
         at = index_.link(at).next) {
      if (version_taken_[index_.link(at).version])
        continue;
      if (found++ == 0)
        *version = index_.link(at).version;
    }
    return found;
  }

  struct FileLink {
    std::uint32_t file;
    std::uint32_t next;
  };

  const TailIndex &index_;
  const FileList &files_;
  std::vector<std::uint32_t> file_first_; // per slot: the first waiting file
  std::vector<FileLink> file_links_;
  std::vector<std::vector<std::size_t>> waiting_; // per tail length: slots with files
  std::vector<std::uint32_t> tail_number_;        // per file: the tail it waits at
  std::vector<std::uint32_t> version_of_file_;
  std::vector<bool> version_taken_;
  std::size_t files_to_pair_ = 0;
  std::vector<Tail> tails_;
};

// The kind of every file, in list order. A status query is a system call
// that mostly waits on the file system, so a large commit spreads them over
// a few threads; each thread fills its own slice, and nothing is printed
// here, so the messages keep their order.
std::vector<platform::PathKind> query_kinds(const FileList &files, PathKindQuery path_kind,
                                            const platform::ThreadStarter &start_thread) {
  constexpr std::size_t kFilesPerThread = 4096;
  std::vector<platform::PathKind> kinds(files.size());
  auto query = [&](std::size_t begin, std::size_t end) {
    for (std::size_t i = begin; i < end; ++i)
      kinds[i] = path_kind(files[i].c_str());
  };
  for_each_slice(files.size(), kFilesPerThread, query, start_thread);
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

Outcome reconcile_files(const FileList &files, VersionTable &versions, PathKindQuery path_kind,
                        const platform::ThreadStarter &start_thread) {
  TailIndex index(versions);
  std::vector<platform::PathKind> kinds = query_kinds(files, path_kind, start_thread);
  // The pairing is worked out before anything is printed, so that the
  // messages keep their order: the files' in list order, then the versions'.
  OneToOnePairing pairing(index, files, kinds, versions.size());
  if (pairing.pair_all()) {
    for (std::size_t i = 0; i < files.size(); ++i) {
      if (!is_checkable_file(files[i], kinds[i]))
        continue;
      VersionEntry &entry = versions[pairing.version_of_file()[i]];
      entry.matched_file = files[i];
      log_debug2("version '%s' matches file '%s'", entry.version.c_str(), files[i].c_str());
    }
    return Outcome::Done;
  }
  bool problems = false; // an ambiguity, a file or a version left unpaired
  std::vector<Tail> tails;
  for (std::size_t i = 0; i < files.size(); ++i) {
    const std::string &file = files[i];
    if (!is_checkable_file(file, kinds[i]))
      continue;
    if (!match_file(index, file, versions, &tails, &problems)) {
      log_error("ERROR: file '%s' does not match any version\n", file.c_str());
      problems = true;
    }
  }
  for (const VersionEntry &entry : versions) {
    if (!entry.matched_file) {
      log_error("ERROR: version '%s' does not match any file\n", entry.version.c_str());
      problems = true;
    }
  }
  return problems ? Outcome::Failed : Outcome::Done;
}
