#include "git/checking.h"

#include <algorithm>
#include <map>
#include <set>

#include "git/folder.h"
#include "git/protocol.h"
#include "git/snapshot.h"

namespace tvkgit {
namespace {

// The longest checker command line a batch of {files} makes: well below
// what Linux takes for one argument (128 KiB) and for all (ARG_MAX).
constexpr std::size_t kCommandLimit = 100000;

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
  explicit Planner(Output *output) : output_(output) {}

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
        output_->write(stderr, "trelvik-git: " + skip_line(file, kind) + "\n");
        ++blocked_;
      } else {
        output_->line(skip_line(file, kind));
      }
    }
  }

  Output *output_;
  std::map<std::string, std::size_t> positions_;
  std::vector<const IndexFile *> files_;
  std::set<std::string> said_; // files not staged, once told why
  int blocked_ = 0;
};

// Runs CHECK once per batch of its files; the exit code of the first batch
// that failed, 0 when none did, none when the gate cannot be started.
std::optional<std::uint32_t> run_check(const Check &check, const CheckFiles &plan,
                                       const std::vector<StagedFile> &staged, Output *output) {
  std::vector<std::string> names;
  for (std::size_t i : plan.checked)
    names.push_back(staged[i].path);
  std::vector<Batch> batches = batch_commands(check.command, names, kCommandLimit);
  std::uint32_t first_failure = 0;
  std::size_t next = 0;
  for (std::size_t b = 0; b < batches.size(); ++b) {
    if (batches.size() == 1)
      output->line("check '" + check.name + "'");
    else
      output->line("check '" + check.name + "', batch " + std::to_string(b + 1) + " of " +
                   std::to_string(batches.size()));
    std::vector<StagedFile> files;
    for (std::size_t i = 0; i < batches[b].count; ++i)
      files.push_back(staged[plan.checked[next + i]]);
    next += batches[b].count;
    for (std::size_t i : plan.context)
      files.push_back(staged[i]);
    std::optional<std::uint32_t> code =
        relay(gate_command_line(check), protocol_text(batches[b].command, files), output);
    if (!code)
      return std::nullopt;
    if (first_failure == 0)
      first_failure = *code;
  }
  return first_failure;
}

int run_each(const std::vector<Check> &checks, const std::vector<CheckFiles> &plans,
             const std::vector<StagedFile> &staged, Output *output, std::string *failed) {
  std::uint32_t first_failure = 0;
  for (std::size_t i = 0; i < checks.size(); ++i) {
    const Check &check = checks[i];
    if (plans[i].checked.empty()) {
      output->line("check '" + check.name + "': no files to check");
      continue;
    }
    std::optional<std::uint32_t> code = run_check(check, plans[i], staged, output);
    if (!code) {
      report("trelvik cannot be started: it must be on PATH");
      return 1;
    }
    if (*code != 0) {
      output->line("check '" + check.name + "' failed with exit code " + std::to_string(*code));
      if (first_failure == 0 && failed != nullptr)
        *failed = check.name;
      if (first_failure == 0)
        first_failure = *code;
    }
  }
  // An exit status keeps 8 bits: a failure must not come out as 0.
  return first_failure != 0 && (first_failure & 0xFF) == 0 ? 1
                                                           : static_cast<int>(first_failure & 0xFF);
}

} // namespace

bool CheckSet::has_context() const {
  return std::any_of(selectors.begin(), selectors.end(),
                     [](const Selector &s) { return s.has_context(); });
}

bool read_check_set(std::string_view listing, const std::string &source, CheckSet *set) {
  std::string error;
  if (!parse_checks(listing, &set->checks, &error)) {
    report(source + ": " + error);
    return false;
  }
  set->selectors.clear();
  set->selectors.resize(set->checks.size());
  for (std::size_t i = 0; i < set->checks.size(); ++i) {
    if (!set->selectors[i].compile(set->checks[i], &error)) {
      report(source + ": " + error);
      return false;
    }
  }
  return true;
}

int run_check_set(const Repository &repository, const CheckSet &set, const Snapshot &snapshot,
                  Output *output, std::string *failed) {
  Planner planner(output);
  std::vector<CheckFiles> plans;
  if (!planner.plan(set.selectors, snapshot.changed, snapshot.all, &plans))
    return 1;
  const std::vector<const IndexFile *> &files = planner.files();
  PrivateFolder folder;
  std::vector<std::string> sources;
  if (!place_files(repository, files, &folder, &sources))
    return 1;
  std::vector<StagedFile> staged;
  for (std::size_t i = 0; i < files.size(); ++i)
    staged.push_back({sources[i], files[i]->path});
  return run_each(set.checks, plans, staged, output, failed);
}

} // namespace tvkgit
