// The checks on a push: `trelvik-git pre-push` before it leaves (git's
// pre-push hook), and `trelvik-git pre-receive` on the server before it is
// accepted. Both judge each pushed ref by what its commits changed, as the
// pushed commit holds it, from the objects alone: on the server they are
// only visible through the quarantine that git's environment names.
#include <cstdio>

#include "git/checking.h"
#include "git/commands.h"
#include "git/commits.h"
#include "git/protocol.h"
#include "platform/platform.h"

namespace tvkgit {
namespace {

// The lines git writes to the hook's standard input, split at blanks.
std::vector<std::vector<std::string>> read_ref_lines() {
  std::string text;
  char buffer[4096];
  for (std::size_t got; (got = std::fread(buffer, 1, sizeof buffer, stdin)) > 0;)
    text.append(buffer, got);
  std::vector<std::vector<std::string>> lines;
  for (std::size_t start = 0; start < text.size();) {
    std::size_t end = text.find('\n', start);
    if (end == std::string::npos)
      end = text.size();
    std::vector<std::string> words;
    for (std::size_t at = start; at < end;) {
      std::size_t blank = text.find(' ', at);
      if (blank == std::string::npos || blank > end)
        blank = end;
      words.push_back(text.substr(at, blank - at));
      at = blank + 1;
    }
    if (!words.empty() && !words[0].empty())
      lines.push_back(std::move(words));
    start = end + 1;
  }
  return lines;
}

bool is_zero(const std::string &object) {
  return object.find_first_not_of('0') == std::string::npos;
}

// A ref's commits, judged: the first line names the ref and whose checks
// run (SERVER_CHECKS, or else the commit's own .trelvik). The exit code of
// the first check that failed, 0 when none did or nothing was checked.
int judge_ref(const Repository &repository, const std::string &ref, const std::string &commit,
              const std::vector<std::string> &names, bool server_side,
              const CheckSet *server_checks, const std::string &server_source, Output *output,
              std::string *failed) {
  Snapshot snapshot;
  if (!tree_files(repository, commit, &snapshot.all))
    return 1;
  CheckSet own;
  const CheckSet *set = server_checks;
  std::string source = server_source;
  if (set == nullptr) {
    bool missing = false;
    if (!commit_checks(repository, snapshot.all, &own, &missing)) {
      if (!missing)
        return 1;
      output->line(ref + ": nothing checked: no checks configured and no .trelvik in " +
                   commit.substr(0, 12));
      return 0;
    }
    // On a server a pushed .trelvik does not choose where the server
    // writes: its staging setting is for the committer's machine.
    if (server_side)
      own.settings.staging.clear();
    set = &own;
    source = ".trelvik of " + commit.substr(0, 12);
  }
  output->line(ref + ": checks from " + source);
  snapshot.changed = files_named(snapshot.all, names);
  if (snapshot.changed.empty()) {
    output->line("no files to check");
    return 0;
  }
  return run_check_set(repository, *set, snapshot, output, failed);
}

} // namespace

int pre_push(const std::string &remote) {
  Repository repository;
  if (!find_repository(&repository, true) || !enter_top(&repository))
    return 1;
  Output output;
  int first_failure = 0;
  for (const std::vector<std::string> &line : read_ref_lines()) {
    if (platform::interruption() != 0)
      break;
    if (line.size() != 4 || is_zero(line[1]))
      continue; // a deletion: nothing to check
    std::string commit, known;
    if (!resolve_commit(repository, line[1], &commit))
      continue; // not a commit: nothing to check
    // What the remote does not have yet: not reachable from its ref, when
    // this repository knows that commit, nor from any of its refs here.
    std::string range = commit + " --not " + quote_argument("--remotes=" + remote);
    if (!is_zero(line[3]) && resolve_commit(repository, line[3], &known))
      range += " " + known;
    std::vector<std::string> names;
    if (!names_of_commits(repository, range, &names))
      return 1;
    int code = judge_ref(repository, line[2], commit, names, false, nullptr, "", &output, nullptr);
    if (first_failure == 0)
      first_failure = code;
  }
  return first_failure;
}

int pre_receive() {
  Repository repository;
  if (!find_repository(&repository, true))
    return 1;
  // The server's own checks, when it names them: a pusher must not be able
  // to switch them off with a new .trelvik.
  CheckSet server;
  std::string server_source;
  std::optional<Captured> configured = repository.quiet_git("config --get trelvik.checks");
  bool has_server_checks = configured && configured->exit_code == 0;
  if (has_server_checks) {
    std::string path = configured->out.substr(0, configured->out.find('\n'));
    Captured listing;
    if (!repository.git("config --file " + quote_argument(path) + " --null --list", &listing) ||
        !read_check_set(listing.out, path, &server))
      return 1;
    server_source = path + " (trelvik.checks)";
  }
  Output output(true);
  int first_failure = 0;
  std::string failed_ref, failed_check;
  for (const std::vector<std::string> &line : read_ref_lines()) {
    if (platform::interruption() != 0)
      break;
    std::string commit;
    if (line.size() != 3 || is_zero(line[1]) || !resolve_commit(repository, line[1], &commit))
      continue; // a deletion, or no commit: nothing to check
    std::vector<std::string> names;
    // A new ref brings the commits that no ref reaches yet; an update, what
    // changed from the old commit to the new one.
    if (!(is_zero(line[0]) ? names_of_commits(repository, commit + " --not --all", &names)
                           : names_between(repository, line[0], commit, &names)))
      return 1;
    std::string check;
    int code = judge_ref(repository, line[2], commit, names, true,
                         has_server_checks ? &server : nullptr, server_source, &output, &check);
    if (first_failure == 0 && code != 0) {
      first_failure = code;
      failed_ref = line[2];
      failed_check = check;
    }
  }
  if (first_failure != 0) {
    std::string summary = "trelvik-git: push rejected: " + failed_ref +
                          (failed_check.empty() ? "" : ": check '" + failed_check + "' failed") +
                          "\n";
    platform::relay_output(stdout, summary.data(), summary.size());
  }
  output.release();
  return first_failure;
}

} // namespace tvkgit
