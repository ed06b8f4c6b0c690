// The work tree trelvik-git runs in, and git run from its top.
#pragma once

#include <optional>
#include <string>

#include "git/process.h"
#include "platform/platform.h"

namespace tvkgit {

// Prints "trelvik-git: MESSAGE" as one line on standard error.
void report(const std::string &message);

struct Repository {
  // The top of the work tree relative to the current folder: empty, or
  // "../" as often as needed (slashes, with the trailing one).
  std::string top;

  // Runs `git ARGUMENTS` at the top of the work tree and collects its
  // output. False, with git's messages and one line of ours printed, when
  // git cannot be started or fails.
  bool git(const std::string &arguments, Captured *result) const;

  // Runs `git ARGUMENTS` and hands back what it did, failure or not;
  // none (with one line printed) when git cannot be started.
  std::optional<Captured> quiet_git(const std::string &arguments) const;

  // The same with INPUT on git's standard input and its standard output
  // handed to TAKE as it comes (RESULT->out stays empty).
  bool stream(const std::string &arguments, std::string_view input, const OutputTaker &take,
              Captured *result) const;
};

// `git ARGUMENTS` run at the top of the work tree on a thread of its own,
// while the caller goes on with other work; its output collected.
class BackgroundGit {
public:
  BackgroundGit(const Repository &repository, std::string arguments);
  BackgroundGit(const BackgroundGit &) = delete;
  BackgroundGit &operator=(const BackgroundGit &) = delete;

  // Waits for it; then as Repository::git. Not calling it drops what git
  // said (the destructor waits).
  bool finish(Captured *result);

private:
  static std::uint32_t work(void *raw);

  std::string top_;
  std::string arguments_;
  std::optional<std::uint32_t> code_;
  Captured result_;
  platform::Thread thread_; // last: joined before the rest goes
};

// Finds the work tree around the current folder; false with one line
// printed when there is none or git cannot be run. With ANY_REPOSITORY a
// bare repository (or the inside of .git) is taken too, with no top.
bool find_repository(Repository *repository, bool any_repository = false);

// Makes the top of the work tree the current folder, where the checks run
// as git runs its hooks; false with one line printed when that fails.
bool enter_top(Repository *repository);

} // namespace tvkgit
