// The run: what is staged (one git run), which files each check takes, the
// staged content of those files (read in place where the work tree
// provably holds it, else written from the index by one more git run),
// then one gate run per check and batch. Nothing in the work tree, the
// index or the stash is touched.
#include <algorithm>
#include <cstdio>
#include <map>
#include <set>

#include "git/checks.h"
#include "git/commands.h"
#include "git/folder.h"
#include "git/protocol.h"
#include "git/repository.h"
#include "git/snapshot.h"
#include "git/staged.h"

namespace tvkgit {
namespace {

// The longest checker command line a batch of {files} makes: well below
// what Linux takes for one argument (128 KiB) and for all (ARG_MAX).
constexpr std::size_t kCommandLimit = 100000;

bool load_checks(const Repository &repository, std::vector<Check> *checks,
                 std::vector<Selector> *selectors) {
  if (platform::path_kind(".trelvik") != platform::PathKind::File) {
    report("no .trelvik at the top of the work tree");
    return false;
  }
  Captured listing;
  if (!repository.git("config --file .trelvik --null --list", &listing))
    return false;
  std::string error;
  if (!parse_checks(listing.out, checks, &error)) {
    report(".trelvik: " + error);
    return false;
  }
  selectors->resize(checks->size());
  for (std::size_t i = 0; i < checks->size(); ++i) {
    if (!(*selectors)[i].compile((*checks)[i], &error)) {
      report(".trelvik: " + error);
      return false;
    }
  }
  return true;
}

// The files of the commit (ALL: every tracked file). One git run lists
// what is staged and whether the work tree differs from it: status without
// its optional index write, without untracked files and without looking
// into the work trees of submodules. Renames are not looked for: the new
// name is listed all the same, and the search would compare every deleted
// file with every added one.
bool list_committed(const Repository &repository, bool all, std::vector<IndexFile> *files) {
  Captured listing;
  if (!repository.git(all ? "ls-files -s -z"
                          : "--no-optional-locks status --porcelain=v2 -z --untracked-files=no "
                            "--ignore-submodules=dirty --no-renames",
                      &listing))
    return false;
  *files = all ? parse_index_listing(listing.out) : parse_status(listing.out);
  return true;
}

// What each check takes: indexes into the run's list of distinct files.
struct CheckFiles {
  std::vector<std::size_t> checked;
  std::vector<std::size_t> context;
};

// Sorts the files of the commit (and of the index, for context) into what
// each check takes. Prints each line about a file that is skipped once;
// false, with a line for each, when a file that a check takes cannot be
// handed to the gate.
class Planner {
public:
  bool plan(const std::vector<Selector> &selectors, const std::vector<IndexFile> &committed,
            const std::vector<IndexFile> &index, std::vector<CheckFiles> *plans) {
    for (const Selector &selector : selectors) {
      CheckFiles check;
      for (const IndexFile &file : committed) {
        if (selector.selects(file.path))
          take(file, &check.checked);
      }
      if (!check.checked.empty() && selector.has_context()) {
        for (const IndexFile &file : index) {
          if (selector.wants_as_context(file.path) && !selector.selects(file.path))
            take(file, &check.context);
        }
      }
      plans->push_back(std::move(check));
    }
    return blocked_ == 0;
  }

  const std::vector<const IndexFile *> &files() const { return files_; }

private:
  void take(const IndexFile &file, std::vector<std::size_t> *into) {
    FileKind kind = kind_of(file);
    if (kind == FileKind::Regular) {
      auto [found, added] = positions_.try_emplace(file.path, files_.size());
      if (added)
        files_.push_back(&file);
      into->push_back(found->second);
    } else if (said_.insert(file.path).second) {
      if (kind == FileKind::Unusable) {
        report(skip_line(file, kind));
        ++blocked_;
      } else {
        std::printf("trelvik-git: %s\n", skip_line(file, kind).c_str());
      }
    }
  }

  std::map<std::string, std::size_t> positions_;
  std::vector<const IndexFile *> files_;
  std::set<std::string> said_; // files not staged, once told why
  int blocked_ = 0;
};

// Runs CHECK once per batch of its files; the exit code of the first batch
// that failed, 0 when none did, none when the gate cannot be started.
std::optional<std::uint32_t> run_check(const Check &check, const CheckFiles &plan,
                                       const std::vector<StagedFile> &staged) {
  std::vector<std::string> names;
  for (std::size_t i : plan.checked)
    names.push_back(staged[i].path);
  std::vector<Batch> batches = batch_commands(check.command, names, kCommandLimit);
  std::uint32_t first_failure = 0;
  std::size_t next = 0;
  for (std::size_t b = 0; b < batches.size(); ++b) {
    if (batches.size() == 1)
      std::printf("trelvik-git: check '%s'\n", check.name.c_str());
    else
      std::printf("trelvik-git: check '%s', batch %zu of %zu\n", check.name.c_str(), b + 1,
                  batches.size());
    std::vector<StagedFile> files;
    for (std::size_t i = 0; i < batches[b].count; ++i)
      files.push_back(staged[plan.checked[next + i]]);
    next += batches[b].count;
    for (std::size_t i : plan.context)
      files.push_back(staged[i]);
    std::optional<std::uint32_t> code =
        relay(gate_command_line(check), protocol_text(batches[b].command, files));
    if (!code)
      return std::nullopt;
    if (first_failure == 0)
      first_failure = *code;
  }
  return first_failure;
}

int run_each(const std::vector<Check> &checks, const std::vector<CheckFiles> &plans,
             const std::vector<StagedFile> &staged) {
  std::uint32_t first_failure = 0;
  for (std::size_t i = 0; i < checks.size(); ++i) {
    const Check &check = checks[i];
    if (plans[i].checked.empty()) {
      std::printf("trelvik-git: check '%s': no files to check\n", check.name.c_str());
      continue;
    }
    std::optional<std::uint32_t> code = run_check(check, plans[i], staged);
    if (!code) {
      report("trelvik cannot be started: it must be on PATH");
      return 1;
    }
    if (*code != 0) {
      std::printf("trelvik-git: check '%s' failed with exit code %u\n", check.name.c_str(), *code);
      if (first_failure == 0)
        first_failure = *code;
    }
  }
  // An exit status keeps 8 bits: a failure must not come out as 0.
  return first_failure != 0 && (first_failure & 0xFF) == 0 ? 1
                                                           : static_cast<int>(first_failure & 0xFF);
}

} // namespace

int run_checks(bool all) {
  Repository repository;
  std::vector<Check> checks;
  std::vector<Selector> selectors;
  std::vector<IndexFile> committed;
  if (!find_repository(&repository) || !enter_top(&repository) ||
      !load_checks(repository, &checks, &selectors) || !list_committed(repository, all, &committed))
    return 1;
  if (committed.empty()) {
    std::printf("trelvik-git: no files to check\n");
    return 0;
  }
  std::vector<IndexFile> index;
  bool context = std::any_of(selectors.begin(), selectors.end(),
                             [](const Selector &s) { return s.has_context(); });
  if (context && !all && !list_committed(repository, true, &index))
    return 1;
  Planner planner;
  std::vector<CheckFiles> plans;
  if (!planner.plan(selectors, committed, all ? committed : index, &plans))
    return 1;
  const std::vector<const IndexFile *> &files = planner.files();
  PrivateFolder folder;
  std::vector<std::string> sources;
  if (!place_files(repository, files, &folder, &sources))
    return 1;
  std::vector<StagedFile> staged;
  for (std::size_t i = 0; i < files.size(); ++i)
    staged.push_back({sources[i], files[i]->path});
  return run_each(checks, plans, staged);
}

} // namespace tvkgit
