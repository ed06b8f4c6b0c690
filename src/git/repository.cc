#include "git/repository.h"

#include <cstdio>
#include <cstdlib>
#include <utility>

#include "git/protocol.h"
#include "platform/platform.h"

namespace tvkgit {

void report(const std::string &message) {
  std::fprintf(stderr, "trelvik-git: %s\n", message.c_str());
}

namespace {

std::string git_command(const std::string &top, const std::string &arguments) {
  std::string command = "git";
  if (!top.empty())
    command += " -C " + quote_argument(top);
  return command + " " + arguments;
}

// Runs git with INPUT, handing its output to TAKE, or collecting it in
// *RESULT when there is none; its exit code, none when it cannot be started.
std::optional<std::uint32_t> start_git(const std::string &top, const std::string &arguments,
                                       std::string_view input, const OutputTaker *take,
                                       Captured *result) {
  OutputTaker collect = [result](std::string_view bytes) { result->out.append(bytes); };
  return stream(git_command(top, arguments), input, take != nullptr ? *take : collect,
                &result->err);
}

// What a git run did; none, with one line printed, when git could not be
// started.
std::optional<Captured> ran_git(std::optional<std::uint32_t> code, Captured result) {
  if (!code) {
    report("git cannot be started: it must be on PATH");
    return std::nullopt;
  }
  result.exit_code = *code;
  return result;
}

std::optional<Captured> run_git(const std::string &top, const std::string &arguments,
                                std::string_view input = {}, const OutputTaker *take = nullptr) {
  Captured result;
  std::optional<std::uint32_t> code = start_git(top, arguments, input, take, &result);
  return ran_git(code, std::move(result));
}

// True when git ran and succeeded; otherwise prints why not.
bool succeeded(const std::string &arguments, const std::optional<Captured> &result) {
  if (!result)
    return false;
  if (result->exit_code == 0)
    return true;
  std::fputs(result->err.c_str(), stderr);
  report("'git " + arguments + "' failed with exit code " + std::to_string(result->exit_code));
  return false;
}

} // namespace

bool Repository::git(const std::string &arguments, Captured *result) const {
  std::optional<Captured> ran = run_git(top, arguments);
  if (ran)
    *result = *ran;
  return succeeded(arguments, ran);
}

std::optional<Captured> Repository::quiet_git(const std::string &arguments) const {
  return run_git(top, arguments);
}

bool Repository::stream(const std::string &arguments, std::string_view input,
                        const OutputTaker &take, Captured *result) const {
  std::optional<Captured> ran = run_git(top, arguments, input, &take);
  if (ran)
    *result = *ran;
  return succeeded(arguments, ran);
}

BackgroundGit::BackgroundGit(const Repository &repository, std::string arguments)
    : top_(repository.top), arguments_(std::move(arguments)) {
  if (!platform::start_thread(work, this, &thread_).ok())
    work(this); // no thread to spare: git runs now
}

std::uint32_t BackgroundGit::work(void *raw) {
  auto *self = static_cast<BackgroundGit *>(raw);
  self->code_ = start_git(self->top_, self->arguments_, {}, nullptr, &self->result_);
  return 0;
}

bool BackgroundGit::finish(Captured *result) {
  thread_.join();
  std::optional<Captured> ran = ran_git(code_, std::move(result_));
  if (ran)
    *result = *ran;
  return succeeded(arguments_, ran);
}

bool find_repository(Repository *repository, bool any_repository) {
  // git starts its hooks at the top of the work tree, where .git is, and
  // with GIT_DIR and GIT_WORK_TREE unset finds the repository there first:
  // a run of git spared on every commit.
  if (std::getenv("GIT_DIR") == nullptr && std::getenv("GIT_WORK_TREE") == nullptr &&
      platform::path_kind(".git") != platform::PathKind::Missing) {
    repository->top.clear();
    return true;
  }
  // Outside a work tree (in a bare repository, or inside .git) git answers
  // "false" and no path.
  std::optional<Captured> found = run_git("", "rev-parse --is-inside-work-tree --show-cdup");
  if (!found)
    return false;
  const std::string answer = "true\n";
  if (any_repository && found->exit_code == 0 && found->out == "false\n") {
    repository->top.clear();
    return true;
  }
  if (found->exit_code != 0 || found->out.compare(0, answer.size(), answer) != 0) {
    report(any_repository ? "not inside a git repository" : "not inside a git work tree");
    return false;
  }
  std::string top = found->out.substr(answer.size());
  if (!top.empty() && top.back() == '\n')
    top.pop_back();
  if (top.find_first_of("\\\r\n") != std::string::npos) {
    report("the path to the top of the work tree holds a backslash or a line end");
    return false;
  }
  repository->top = top;
  return true;
}

} // namespace tvkgit

namespace tvkgit {

bool enter_top(Repository *repository) {
  if (repository->top.empty())
    return true;
  if (!platform::change_folder(repository->top.c_str()).ok()) {
    report("cannot enter the top of the work tree '" + repository->top + "'");
    return false;
  }
  repository->top.clear();
  return true;
}

} // namespace tvkgit
