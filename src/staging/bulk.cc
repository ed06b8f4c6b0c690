#include "staging/bulk.h"

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <string_view>
#include <unordered_set>

#include "common/parallel.h"
#include "staging/paths.h"

namespace {

constexpr std::size_t kDeletionsPerThread = 512;

// The key that sorts FOLDER in folder order: its separators below every
// other character, so that comparing keys compares component by component
// and a folder comes right before those below it (no name holds a NUL).
std::string folder_key(std::string_view folder) {
  std::string key(folder);
  for (char &c : key)
    c = c == '\\' || c == '/' ? '\0' : c;
  return key;
}

// The positions 0 to COUNT - 1 in the folder order of FOLDER_OF(position):
// those of one folder together, in their order, the folders in the order of
// their paths.
template <typename FolderOf>
std::vector<std::size_t> folder_order(std::size_t count, const FolderOf &folder_of) {
  std::vector<std::pair<std::string, std::size_t>> keys;
  keys.reserve(count);
  for (std::size_t i = 0; i < count; ++i)
    keys.emplace_back(folder_key(folder_of(i)), i);
  std::sort(keys.begin(), keys.end());
  std::vector<std::size_t> order;
  order.reserve(count);
  for (const auto &key : keys)
    order.push_back(key.second);
  return order;
}

// The number of copies, in list order, whose folders could all be made
// (those of later copies may have been made too); the folders are made in
// ORDER. Nothing else writes in the staging folder before the checker
// runs, and these copies do not clash with these folders.
std::size_t make_folders(const std::string &staging_folder, const std::vector<AheadCopy> &copies,
                         const std::vector<std::size_t> &order) {
  FolderMaker folders(staging_folder);
  std::size_t made = copies.size();
  for (std::size_t i : order) {
    if (i < made && folders.make(parent_folder(*copies[i].entry->staged_path)) == Outcome::Failed)
      made = i;
  }
  return made;
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

// Makes the copies at positions [BEGIN, END) of ORDER, each unless it
// comes after a failure in list order (FIRST_FAILURE, shared by every
// slice, starting at the first copy whose folder is missing); none once
// the run is interrupted.
void copy_slice(std::vector<AheadCopy> &copies, const std::vector<std::size_t> &order,
                std::atomic<std::size_t> &first_failure, std::size_t begin, std::size_t end) {
  for (std::size_t k = begin; k < end; ++k) {
    if ((k - begin) % kCopiesPerInterruptionCheck == 0 && platform::interruption() != 0)
      return;
    std::size_t i = order[k];
    if (i >= first_failure.load())
      continue;
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

void copy_ahead(const std::string &staging_folder, std::vector<AheadCopy> *copies,
                const platform::ThreadStarter &start_thread) {
  // Made folder by folder, the copies of a folder go one after another, as
  // a file system lays out best, whatever order the commit was listed in.
  std::vector<std::size_t> order = folder_order(copies->size(), [copies](std::size_t i) {
    return parent_folder(*(*copies)[i].entry->staged_path);
  });
  std::atomic<std::size_t> first_failure{make_folders(staging_folder, *copies, order)};
  for_each_slice(
      order.size(), kCopiesPerThread,
      [&](std::size_t begin, std::size_t end) {
        copy_slice(*copies, order, first_failure, begin, end);
      },
      start_thread);
}

void delete_copies(const std::string &base, const std::vector<platform::CreatedFile> &files,
                   const platform::ThreadStarter &start_thread) {
  // In folder order the deletions reach each folder once, and can remove
  // it as soon as they leave it: a commit listed in no particular order
  // would otherwise open the folders again for nearly every file. The
  // order of deletions is not seen.
  std::vector<std::size_t> order = folder_order(files.size(), [&files](std::size_t i) {
    std::string_view relative = files[i].relative;
    std::size_t cut = relative.find_last_of("\\/");
    return cut == std::string_view::npos ? std::string_view() : relative.substr(0, cut);
  });
  std::vector<platform::CreatedFile> ordered;
  ordered.reserve(files.size());
  for (std::size_t i : order)
    ordered.push_back(files[i]);
  auto delete_slice = [&](std::size_t begin, std::size_t end) {
    std::vector<platform::CreatedFile> slice(ordered.begin() + static_cast<std::ptrdiff_t>(begin),
                                             ordered.begin() + static_cast<std::ptrdiff_t>(end));
    platform::delete_created_files(base, slice, true);
  };
  for_each_slice(files.size(), kDeletionsPerThread, delete_slice, start_thread);
}
