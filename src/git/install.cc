// Installing a hook where git looks for it (core.hooksPath when set),
// never over a hook of another tool unless told to.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <iterator>

#include "git/commands.h"
#include "git/folder.h"
#include "git/repository.h"
#include "platform/platform.h"

namespace tvkgit {
namespace {

// The hooks trelvik-git writes, and what each runs.
struct Hook {
  const char *name;
  const char *command;
};

constexpr Hook kHooks[] = {
    {"pre-commit", "exec trelvik-git run"},
    {"pre-push", "exec trelvik-git pre-push \"$@\""},
    {"pre-receive", "exec trelvik-git pre-receive"},
};

// The line that marks a hook as trelvik-git's, whichever it is.
constexpr const char *kMarker = "# trelvik-git ";

std::string hook_text(const Hook &hook) {
  return std::string("#!/bin/sh\n") + kMarker + hook.name +
         " hook: runs the checks of trelvik-git.\n# \"trelvik-git install --hook " + hook.name +
         "\" rewrites this file.\n" + hook.command + "\n";
}

// The folder git takes its hooks from, as seen from the current folder.
bool hooks_folder(const Repository &repository, std::string *folder) {
  Captured found;
  if (!repository.git("rev-parse --git-path hooks", &found))
    return false;
  *folder = found.out;
  if (!folder->empty() && folder->back() == '\n')
    folder->pop_back();
  if (folder->empty() || folder->find_first_of("\\\r\n") != std::string::npos) {
    report("the hooks folder '" + *folder + "' cannot be used");
    return false;
  }
  if ((*folder)[0] != '/')
    *folder = repository.top + *folder;
  return true;
}

bool is_ours(const std::string &hook) {
  FILE *stream = platform::open_file(hook.c_str(), "r");
  if (stream == nullptr)
    return false;
  char head[256] = {};
  std::size_t got = std::fread(head, 1, sizeof head - 1, stream);
  std::fclose(stream);
  head[got] = '\0';
  return std::strstr(head, kMarker) != nullptr;
}

// False with one line printed when HOOK may not be written.
bool may_write(const std::string &hook, bool force) {
  switch (platform::path_kind(hook.c_str())) {
  case platform::PathKind::Missing:
    return true;
  case platform::PathKind::Directory:
    report("'" + hook + "' is a folder");
    return false;
  case platform::PathKind::File:
    break;
  }
  // Writing through a link would change a file elsewhere, perhaps shared.
  if (!platform::file_identity(hook.c_str())) {
    report("'" + hook + "' is a symbolic link; remove it to install the hook");
    return false;
  }
  if (force || is_ours(hook))
    return true;
  report("'" + hook + "' is a hook of another tool; --force replaces it");
  return false;
}

} // namespace

int install_hook(const std::string &name, bool force) {
  const Hook *hook = std::find_if(std::begin(kHooks), std::end(kHooks),
                                  [&](const Hook &h) { return name == h.name; });
  if (hook == std::end(kHooks)) {
    report("no hook '" + name + "': pre-commit, pre-push or pre-receive");
    return 1;
  }
  Repository repository;
  std::string folder;
  // A server's pre-receive hook goes into a bare repository as well.
  if (!find_repository(&repository, true) || !hooks_folder(repository, &folder))
    return 1;
  if (platform::path_kind(folder.c_str()) == platform::PathKind::Missing &&
      !platform::make_folder(folder.c_str()).ok()) {
    report("cannot create the hooks folder '" + folder + "'");
    return 1;
  }
  std::string path = folder + "/" + hook->name;
  if (!may_write(path, force))
    return 1;
  if (!write_whole_file(path, "w", hook_text(*hook)) ||
      !platform::make_executable(path.c_str()).ok()) {
    report("cannot write '" + path + "'");
    return 1;
  }
  std::printf("trelvik-git: installed %s\n", path.c_str());
  return 0;
}

} // namespace tvkgit
