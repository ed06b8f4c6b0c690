#include "staging/bulk.h"

#include <atomic>
#include <cstdint>
#include <string_view>
#include <unordered_set>

#include "common/parallel.h"
#include "staging/paths.h"

namespace {

constexpr std::size_t kDeletionsPerThread = 512;
constexpr std::size_t kNoFailure = SIZE_MAX;

// The number of copies whose folders could all be made, in list order,
// asking the system only when a copy goes to another folder than the one
// before it.
std::size_t make_folders(const std::vector<AheadCopy> &copies) {
  std::string ready_folder;
  for (std::size_t i = 0; i < copies.size(); ++i) {
    std::string parent = parent_folder(*copies[i].entry->staged_path);
    if (parent == ready_folder)
      continue;
    if (ensure_folder(parent) == Outcome::Failed)
      return i;
    ready_folder = parent;
  }
  return copies.size();
}

// A version text in a form in which two texts that may name the same file
// or folder are equal: the components without empty and "." ones, without
// the trailing dots and blanks Windows ignores, in lower case. It may make
// names equal that are not (that only costs the copies ahead), never the
// other way round for what this program writes.
std::vector<std::string> name_key(std::string_view version) {
  std::vector<std::string> components;
  for (std::string_view part : version_components(version)) {
    std::string component(part);
    while (!component.empty() && (component.back() == '.' || component.back() == ' '))
      component.pop_back();
    for (char &c : component)
      c = (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
    if (!component.empty())
      components.push_back(std::move(component));
  }
  return components;
}

} // namespace

bool copies_may_clash(const std::vector<AheadCopy> &copies) {
  std::unordered_set<std::string> folders;
  std::vector<std::string> files;
  files.reserve(copies.size());
  for (const AheadCopy &copy : copies) {
    std::string path;
    for (const std::string &component : name_key(copy.entry->version)) {
      if (!path.empty())
        folders.insert(path);
      path += '\\';
      path += component;
    }
    files.push_back(std::move(path));
  }
  for (const std::string &file : files) {
    if (folders.count(file) != 0)
      return true;
  }
  return false;
}

namespace {

// Makes the copies [BEGIN, END) of COPIES, stopping at a failure before
// them (FIRST_FAILURE, shared by every slice) or an interruption.
void copy_slice(std::vector<AheadCopy> &copies, std::atomic<std::size_t> &first_failure,
                std::size_t begin, std::size_t end) {
  for (std::size_t i = begin; i < end && i < first_failure.load(); ++i) {
    if ((i - begin) % kCopiesPerInterruptionCheck == 0 && platform::interruption() != 0)
      return;
    AheadCopy &copy = copies[i];
    const VersionEntry &entry = *copy.entry;
    const char *source = entry.matched_file ? entry.matched_file->c_str() : "";
    copy.outcome = platform::copy_file(source, entry.staged_path->c_str(), &copy.identity);
    copy.tried = true;
    if (copy.outcome.ok())
      continue;
    std::size_t seen = first_failure.load();
    while (i < seen && !first_failure.compare_exchange_weak(seen, i)) {
    }
  }
}

} // namespace

void copy_ahead(std::vector<AheadCopy> *copies, const platform::ThreadStarter &start_thread) {
  std::atomic<std::size_t> first_failure{kNoFailure};
  for_each_slice(
      make_folders(*copies), kCopiesPerThread,
      [&](std::size_t begin, std::size_t end) { copy_slice(*copies, first_failure, begin, end); },
      start_thread);
}

void delete_copies(const std::string &base, const std::vector<platform::CreatedFile> &files,
                   const platform::ThreadStarter &start_thread) {
  auto delete_slice = [&](std::size_t begin, std::size_t end) {
    std::vector<platform::CreatedFile> slice(files.begin() + static_cast<std::ptrdiff_t>(begin),
                                             files.begin() + static_cast<std::ptrdiff_t>(end));
    platform::delete_created_files(base, slice);
  };
  for_each_slice(files.size(), kDeletionsPerThread, delete_slice, start_thread);
}
