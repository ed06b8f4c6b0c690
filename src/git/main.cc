// trelvik-git: the gate as a git pre-commit hook that checks exactly what is
// staged, without touching the work tree.
#include <cstdio>
#include <cstring>

#include "git/commands.h"
#include "platform/platform.h"

namespace {

constexpr const char *kUsage =
    "usage: trelvik-git run [--all]      run the checks of .trelvik on the staged files\n"
    "                                    (--all: on every tracked file)\n"
    "       trelvik-git install [--force] install the pre-commit hook (--force: over\n"
    "                                    a hook of another tool)\n";

} // namespace

int main(int argc, char **argv) {
  platform::init_process();
  const char *command = argc > 1 ? argv[1] : "";
  const char *option = argc > 2 ? argv[2] : nullptr;
  bool help = std::strcmp(command, "-h") == 0 || std::strcmp(command, "--help") == 0;
  if (help) {
    std::fputs(kUsage, stdout);
    return 0;
  }
  if (argc <= 3 && std::strcmp(command, "run") == 0 &&
      (option == nullptr || std::strcmp(option, "--all") == 0))
    return tvkgit::run_checks(option != nullptr);
  if (argc <= 3 && std::strcmp(command, "install") == 0 &&
      (option == nullptr || std::strcmp(option, "--force") == 0))
    return tvkgit::install_hook(option != nullptr);
  std::fputs(kUsage, stderr);
  return 1;
}
