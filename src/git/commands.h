// The two commands of trelvik-git.
#pragma once

namespace tvkgit {

// `trelvik-git run [--all]`: runs every check of .trelvik on the staged
// files (ALL: on every tracked file), each as its own gate run; returns the
// exit code of the first check that failed, 0 when none did, 1 on a fault.
int run_checks(bool all);

// `trelvik-git install [--force]`: writes the pre-commit hook; a hook that
// is not trelvik-git's is replaced only when FORCE is set.
int install_hook(bool force);

} // namespace tvkgit
