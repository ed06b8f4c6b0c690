// Pairs every committed file with exactly one version path by backslash
// suffix.
#pragma once

#include "common/commit.h"
#include "common/outcome.h"
#include "platform/platform.h"

// The file-status query: platform::path_kind in a real run, anything that
// answers the same way where the pairing is exercised without files.
using PathKindQuery = platform::PathKind (*)(const char *path);

// Sets the matched file of the versions. Failed when a file or a version
// could not be paired or a version was claimed twice; every problem has
// been reported by then. The status queries go through PATH_KIND, spread
// over helpers started with START_THREAD (a stand-in can refuse them, as a
// machine at its thread limit would).
Outcome reconcile_files(const FileList &files, VersionTable &versions,
                        PathKindQuery path_kind = platform::path_kind,
                        const platform::ThreadStarter &start_thread = platform::start_thread);
