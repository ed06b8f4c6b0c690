// `trelvik-git run`: the checks of the work tree's .trelvik on what is
// staged (one git run lists it), read in place where the work tree provably
// holds it and else from the index; and `run --from-ref A --to-ref B`: the
// checks of B's .trelvik on what B changed since its merge base with A, as
// B holds it. Nothing in the work tree, the index or the stash is touched.
#include "git/checking.h"
#include "git/commands.h"
#include "git/commits.h"
#include "platform/platform.h"

namespace tvkgit {
namespace {

bool load_checks(const Repository &repository, CheckSet *set) {
  if (platform::path_kind(".trelvik") != platform::PathKind::File) {
    report("no .trelvik at the top of the work tree");
    return false;
  }
  Captured listing;
  return repository.git("config --file .trelvik --null --list", &listing) &&
         read_check_set(listing.out, ".trelvik", set);
}

// The git arguments that list the files of the commit (ALL: every tracked
// file): what the index holds that HEAD does not (added, copied, modified,
// or whose type changed; a rename as its new name; deletions left out),
// with one git run that looks at the index and HEAD only, never at the
// work tree.
std::string committed_listing(bool all) {
  return all ? "ls-files -s -z"
             : "--no-optional-locks diff --cached --raw -z --no-abbrev --no-renames "
               "--diff-filter=AMT --no-color --no-ext-diff";
}

std::vector<IndexFile> parse_committed(bool all, const std::string &listing) {
  return all ? parse_index_listing(listing) : parse_raw_diff(listing);
}

bool list_committed(const Repository &repository, bool all, std::vector<IndexFile> *files) {
  Captured listing;
  if (!repository.git(committed_listing(all), &listing))
    return false;
  *files = parse_committed(all, listing.out);
  return true;
}

} // namespace

int run_checks(bool all) {
  Repository repository;
  CheckSet set;
  Snapshot snapshot;
  if (!find_repository(&repository) || !enter_top(&repository))
    return 1;
  // The listing does not depend on the checks: git makes it while they are
  // read, and a fault in them is still told first.
  BackgroundGit listing(repository, committed_listing(all));
  Captured listed;
  if (!load_checks(repository, &set) || !listing.finish(&listed))
    return 1;
  snapshot.changed = parse_committed(all, listed.out);
  Output output;
  if (snapshot.changed.empty()) {
    output.line("no files to check");
    return 0;
  }
  if (set.has_context()) {
    if (all)
      snapshot.all = snapshot.changed;
    else if (!list_committed(repository, true, &snapshot.all))
      return 1;
  }
  return run_check_set(repository, set, snapshot, &output);
}

int run_range(const std::string &from, const std::string &to) {
  Repository repository;
  if (!find_repository(&repository, true) || !enter_top(&repository))
    return 1;
  std::string start, end;
  for (auto [revision, commit] : {std::pair{&from, &start}, std::pair{&to, &end}}) {
    if (!resolve_commit(repository, *revision, commit)) {
      report("no commit '" + *revision +
             "' in this repository (a shallow clone may need a deeper fetch)");
      return 1;
    }
  }
  std::optional<Captured> base = repository.quiet_git("merge-base " + start + " " + end);
  if (!base || base->exit_code != 0 || base->out.size() < 2) {
    report("no merge base of '" + from + "' and '" + to +
           "' in this repository (a shallow clone may need a deeper fetch)");
    return 1;
  }
  std::string merge_base = base->out.substr(0, base->out.find('\n'));
  std::vector<IndexFile> tree;
  std::vector<std::string> names;
  CheckSet set;
  bool missing = false;
  if (!tree_files(repository, end, &tree) || !names_between(repository, merge_base, end, &names))
    return 1;
  if (!commit_checks(repository, tree, &set, &missing)) {
    if (missing)
      report("no .trelvik in '" + to + "'");
    return 1;
  }
  Output output;
  output.line("checking what '" + to + "' changed since " + merge_base.substr(0, 12));
  Snapshot snapshot{files_named(tree, names), std::move(tree)};
  if (snapshot.changed.empty()) {
    output.line("no files to check");
    return 0;
  }
  return run_check_set(repository, set, snapshot, &output);
}

} // namespace tvkgit
