// The run: one listing of what is staged and whether the work tree differs,
// one export of the index for the files where it does, then one gate run
// per check. Nothing in the work tree, the index or the stash is touched.
#include <algorithm>
#include <cstdio>
#include <set>

#include "git/checks.h"
#include "git/commands.h"
#include "git/folder.h"
#include "git/protocol.h"
#include "git/repository.h"
#include "git/staged.h"

namespace tvkgit {
namespace {

// Keeps one checkout-index command line well below the system's limits.
constexpr std::size_t kExportLineLimit = 64 * 1024;

bool load_checks(const Repository &repository, std::vector<Check> *checks) {
  if (platform::path_kind((repository.top + ".trelvik").c_str()) != platform::PathKind::File) {
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
  return true;
}

// Marks the FILES the work tree holds otherwise, as diff-files names them.
// It compares without refreshing the index: a file whose only change is its
// time stamp is then read from the index, which holds the same bytes.
bool mark_differing(const Repository &repository, std::vector<IndexFile> *files) {
  Captured changed;
  if (!repository.git("diff-files -z --name-only", &changed))
    return false;
  std::vector<std::string> names = split_names(changed.out);
  std::set<std::string> differing(names.begin(), names.end());
  for (IndexFile &file : *files)
    file.differs = differing.count(file.path) != 0;
  return true;
}

// The files to check, with the lines about those skipped printed; false
// when a name blocks the commit. One git run lists what is staged and
// whether the work tree differs from it: status without its optional index
// write (git diff would refresh the index), without untracked files and
// without looking into the work trees of submodules. Renames are not looked for: the new
// name is listed all the same, and the search would compare every deleted
// file with every added one.
bool list_files(const Repository &repository, bool all, std::vector<IndexFile> *files) {
  Captured listing;
  if (!repository.git(all ? "ls-files -s -z"
                          : "--no-optional-locks status --porcelain=v2 -z --untracked-files=no "
                            "--ignore-submodules=dirty --no-renames",
                      &listing))
    return false;
  std::vector<IndexFile> listed =
      all ? parse_index_listing(listing.out) : parse_status(listing.out);
  if (all && !listed.empty() && !mark_differing(repository, &listed))
    return false;
  Selection selection = select_files(listed);
  for (const std::string &line : selection.skipped)
    std::printf("trelvik-git: %s\n", line.c_str());
  for (const std::string &line : selection.unusable)
    report(line);
  *files = std::move(selection.files);
  return selection.unusable.empty();
}

// Copies the staged content of PATHS into FOLDER/index/ with as few
// checkout-index runs as the command-line limit allows.
bool export_index(const Repository &repository, const std::vector<std::string> &paths,
                  PrivateFolder *folder) {
  if (!platform::make_folder((folder->path() + "/index").c_str()).ok()) {
    report("cannot create a folder in '" + folder->path() + "'");
    return false;
  }
  std::string start =
      "checkout-index " + quote_argument("--prefix=" + folder->path() + "/index/") + " --";
  for (std::size_t next = 0; next < paths.size();) {
    std::string arguments = start;
    std::size_t first = next;
    while (next < paths.size() && (next == first || arguments.size() < kExportLineLimit))
      arguments += " " + quote_argument(paths[next++]);
    Captured result;
    bool done = repository.git(arguments, &result);
    for (std::size_t i = first; i < next; ++i)
      folder->record("index/" + paths[i]);
    if (!done)
      return false;
  }
  return true;
}

// Where the gate reads each file: in place when the work tree holds what
// is staged, else from the index's copy in FOLDER.
bool stage_files(const Repository &repository, const std::vector<IndexFile> &files,
                 PrivateFolder *folder, std::vector<StagedFile> *staged) {
  std::string in_place = repository.top;
  std::string copies = folder->path() + "/index/";
  for (std::string *form : {&in_place, &copies})
    std::replace(form->begin(), form->end(), '/', '\\');
  std::vector<std::string> exported;
  for (const IndexFile &file : files) {
    if (file.differs)
      exported.push_back(file.path);
    staged->push_back({source_path(file.differs ? copies : in_place, file.path), file.path});
  }
  return exported.empty() || export_index(repository, exported, folder);
}

int run_each(const std::vector<Check> &checks, const std::vector<StagedFile> &staged,
             PrivateFolder *folder) {
  std::uint32_t first_failure = 0;
  for (std::size_t i = 0; i < checks.size(); ++i) {
    const Check &check = checks[i];
    std::string input = "input-" + std::to_string(i) + ".txt";
    if (!folder->write_file(input, protocol_text(check.command, staged))) {
      report("cannot write the gate's input in '" + folder->path() + "'");
      return 1;
    }
    std::printf("trelvik-git: check '%s'\n", check.name.c_str());
    std::optional<std::uint32_t> code =
        relay(gate_command_line(check, folder->path() + "/" + input));
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
  std::vector<IndexFile> files;
  if (!find_repository(&repository) || !load_checks(repository, &checks) ||
      !list_files(repository, all, &files))
    return 1;
  if (files.empty()) {
    std::printf("trelvik-git: no files to check\n");
    return 0;
  }
  PrivateFolder folder;
  std::string error;
  if (!folder.create(&error)) {
    report(error);
    return 1;
  }
  std::vector<StagedFile> staged;
  if (!stage_files(repository, files, &folder, &staged))
    return 1;
  return run_each(checks, staged, &folder);
}

} // namespace tvkgit
