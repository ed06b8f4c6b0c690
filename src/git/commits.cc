#include "git/commits.h"

#include <algorithm>
#include <set>

#include "git/protocol.h"

namespace tvkgit {

bool resolve_commit(const Repository &repository, const std::string &revision,
                    std::string *commit) {
  std::optional<Captured> found =
      repository.quiet_git("rev-parse --verify --quiet " + quote_argument(revision + "^{commit}"));
  if (!found || found->exit_code != 0 || found->out.size() < 2)
    return false;
  *commit = found->out.substr(0, found->out.find('\n'));
  return true;
}

bool tree_files(const Repository &repository, const std::string &commit,
                std::vector<IndexFile> *files) {
  Captured listing;
  if (!repository.git("ls-tree -r -z --full-tree " + commit, &listing))
    return false;
  *files = parse_tree_listing(listing.out);
  return true;
}

bool names_between(const Repository &repository, const std::string &base, const std::string &target,
                   std::vector<std::string> *names) {
  Captured listing;
  if (!repository.git("diff-tree -r -z --no-renames --name-only --diff-filter=AMT " + base + " " +
                          target,
                      &listing))
    return false;
  *names = split_names(listing.out);
  return true;
}

bool names_of_commits(const Repository &repository, const std::string &range,
                      std::vector<std::string> *names) {
  Captured listing;
  if (!repository.git("log -z --format= --name-only --no-renames --diff-filter=AMT " + range,
                      &listing))
    return false;
  *names = split_names(listing.out);
  return true;
}

std::vector<IndexFile> files_named(const std::vector<IndexFile> &tree,
                                   const std::vector<std::string> &names) {
  std::set<std::string> wanted(names.begin(), names.end());
  std::vector<IndexFile> files;
  for (const IndexFile &file : tree) {
    if (wanted.count(file.path) != 0)
      files.push_back(file);
  }
  return files;
}

bool commit_checks(const Repository &repository, const std::vector<IndexFile> &tree, CheckSet *set,
                   bool *missing) {
  auto found = std::find_if(tree.begin(), tree.end(), [](const IndexFile &file) {
    return file.path == ".trelvik" && kind_of(file) == FileKind::Regular;
  });
  *missing = found == tree.end();
  if (*missing)
    return false;
  Captured listing;
  return repository.git("config --blob " + found->object + " --null --list", &listing) &&
         read_check_set(listing.out, ".trelvik", set);
}

} // namespace tvkgit
