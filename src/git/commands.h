// The commands of trelvik-git.
#pragma once

#include <string>

namespace tvkgit {

// `trelvik-git run [--all]`: runs every check of .trelvik on the staged
// files (ALL: on every tracked file), each as its own gate run; returns the
// exit code of the first check that failed, 0 when none did, 1 on a fault.
int run_checks(bool all);

// `trelvik-git run --from-ref FROM --to-ref TO`: runs every check of TO's
// .trelvik on what TO changed since its merge base with FROM.
int run_range(const std::string &from, const std::string &to);

// `trelvik-git pre-push REMOTE [URL]`, run by the pre-push hook: checks the
// commits of every pushed ref that REMOTE does not have yet.
int pre_push(const std::string &remote);

// `trelvik-git pre-receive`, run by a server's pre-receive hook: checks
// every pushed ref before the push is accepted.
int pre_receive();

// `trelvik-git install [--hook NAME] [--force]`: writes the hook NAME
// (pre-commit, pre-push or pre-receive); a hook that is not trelvik-git's
// is replaced only when FORCE is set.
int install_hook(const std::string &name, bool force);

} // namespace tvkgit
