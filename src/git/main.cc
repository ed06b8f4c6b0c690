// trelvik-git: the gate as a git hook that checks exactly what is
// committed, without touching the work tree: before a commit, before a
// push, on the server that receives one, and over a range of commits in CI.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "git/commands.h"
#include "platform/platform.h"

namespace {

constexpr const char *kUsage =
    "usage: trelvik-git run [--all]        run the checks of .trelvik on the staged files\n"
    "                                      (--all: on every tracked file)\n"
    "       trelvik-git run --from-ref A --to-ref B\n"
    "                                      run the checks of B's .trelvik on what B\n"
    "                                      changed since its merge base with A\n"
    "       trelvik-git install [--hook NAME] [--force]\n"
    "                                      install the hook NAME: pre-commit (the\n"
    "                                      default), pre-push or pre-receive (--force:\n"
    "                                      over a hook of another tool)\n"
    "       trelvik-git pre-push REMOTE [URL]\n"
    "       trelvik-git pre-receive        what the pre-push and pre-receive hooks run\n";

int usage_error() {
  std::fputs(kUsage, stderr);
  return 1;
}

int run(const std::vector<std::string> &options) {
  if (options.empty())
    return tvkgit::run_checks(false);
  if (options.size() == 1 && options[0] == "--all")
    return tvkgit::run_checks(true);
  std::string from, to;
  for (std::size_t i = 0; i + 1 < options.size(); i += 2) {
    std::string *value = options[i] == "--from-ref" ? &from
                         : options[i] == "--to-ref" ? &to
                                                    : nullptr;
    if (value == nullptr || !value->empty() || options[i + 1].empty())
      return usage_error();
    *value = options[i + 1];
  }
  if (options.size() != 4 || from.empty() || to.empty())
    return usage_error();
  return tvkgit::run_range(from, to);
}

int install(const std::vector<std::string> &options) {
  std::string hook = "pre-commit";
  bool force = false;
  for (std::size_t i = 0; i < options.size(); ++i) {
    if (options[i] == "--force")
      force = true;
    else if (options[i] == "--hook" && i + 1 < options.size())
      hook = options[++i];
    else
      return usage_error();
  }
  return tvkgit::install_hook(hook, force);
}

int run_command(const std::string &command, const std::vector<std::string> &options) {
  if (command == "run")
    return run(options);
  if (command == "install")
    return install(options);
  if (command == "pre-push" && (options.size() == 1 || options.size() == 2))
    return tvkgit::pre_push(options[0]);
  if (command == "pre-receive" && options.empty())
    return tvkgit::pre_receive();
  return usage_error();
}

} // namespace

int main(int argc, char **argv) {
  platform::init_process();
  std::string command = argc > 1 ? argv[1] : "";
  std::vector<std::string> options(argv + (argc > 1 ? 2 : 1), argv + argc);
  if (command == "-h" || command == "--help") {
    std::fputs(kUsage, stdout);
    return 0;
  }
  // Ctrl-C, a kill or a closed terminal is passed on to the git or gate
  // run under way; once it has ended and what the run made is removed, the
  // program ends by the same interruption, as git does.
  platform::hold_interrupts();
  int code = run_command(command, options);
  if (int interruption = platform::interruption())
    platform::end_interrupted(interruption);
  return code;
}
